#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "components/wma/profile_builder.h"

namespace kiv::wma {
namespace {

using namespace kiv::media;

WAVEFORMATEX Wfx(WORD tag, WORD channels, DWORD rate, DWORD avg, WORD align) {
    WAVEFORMATEX w{};
    w.wFormatTag = tag;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.nAvgBytesPerSec = avg;
    w.nBlockAlign = align;
    w.wBitsPerSample = 16;
    return w;
}

TEST(WmaConstantBitrateChoice, WithinTolerancePicksTheLargestBlockAndTheLaterOnTies) {
    const std::vector<WAVEFORMATEX> formats = {
        Wfx(0x161, 2, 44100, 16000, 2000),  // 0: 128000
        Wfx(0x161, 2, 44100, 16031, 3000),  // 1: 128248
        Wfx(0x161, 2, 44100, 16000, 3000),  // 2: 128000, same block as 1
        Wfx(0x161, 1, 44100, 16000, 9999),  // other channel count
        Wfx(0x160, 2, 44100, 16000, 9999),  // other codec
        Wfx(0x161, 2, 48000, 16000, 9999),  // other rate
    };
    struct Case {
        DWORD bitrate;
        std::optional<std::size_t> chosen;
    } cases[] = {
        {128000, 2},             // 0, 1 and 2 fit; 1 and 2 share the largest block, the later wins
        {127751, 2},             // 249 below 128000: 0 and 2 fit, 1 is 497 away
        {128497, 1},             // 249 above 128248 only
        {128250, 1},             // 250 from 128000 is one too many
        {127700, std::nullopt},  // 300 below: nothing fits
        {96000, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseConstantBitrateFormat(formats, c.bitrate, 2, 44100), c.chosen) << c.bitrate;
}

TEST(WmaQualityChoice, LowestLevelAboveTheQualityOrTheHighestWhenNoneIsThatHigh) {
    auto level = [](BYTE l, WORD ch = 2) { return Wfx(0x161, ch, 44100, 0x3000u | l, 4000); };
    const std::vector<WAVEFORMATEX> formats = {
        level(50), level(10), level(98), level(25), level(75), level(90),
        level(50),     // a second level 50: the first one found wins
        level(60, 1),  // mono: never for stereo input
    };
    struct Case {
        float quality;
        std::optional<std::size_t> chosen;
    } cases[] = {
        {0.5f, 0}, {0.6f, 4}, {0.0f, 1}, {0.25f, 3}, {0.26f, 0}, {0.9f, 5}, {0.97f, 2},
        {1.0f, 2},  // no level reaches 99: the highest, not the lowest
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseQualityFormat(formats, c.quality, 2, 44100), c.chosen) << c.quality;
    EXPECT_EQ(ChooseQualityFormat(formats, 0.5f, 2, 22050), std::nullopt) << "no format of that rate";
}

// The builders over the runtime's own enumeration.
struct Built {
    std::unique_ptr<Profile> profile;
    WAVEFORMATEX wfx{};
    DWORD bitrate = 0;
    MediaType type;
};

Built Inspect(std::unique_ptr<Profile> profile) {
    Built b;
    EXPECT_EQ(profile->GetName(), u"Custom profile");
    EXPECT_EQ(profile->GetVersion(), WMT_VER_9_0);
    EXPECT_EQ(profile->GetStreamCount(), 1u);
    std::unique_ptr<StreamConfig> stream;
    EXPECT_EQ(profile->GetStream(0, stream), S_OK);
    EXPECT_EQ(stream->GetStreamNumber(), 1);
    EXPECT_EQ(stream->GetStreamName(), u"Audio Stream");
    EXPECT_EQ(stream->GetConnectionName(), u"Audio");
    EXPECT_TRUE(stream->GetMediaType().GetWaveFormat(b.wfx));
    b.bitrate = stream->GetBitrate();
    b.type = stream->GetMediaType();
    b.profile = std::move(profile);
    return b;
}

TEST(WmaProfileBuilders, ConstantBitrateTakesTheMatchingCodecFormat) {
    struct Case {
        DWORD bitrate;
        WORD channels;
        DWORD rate;
    } cases[] = {{128000, 2, 44100}, {64000, 1, 22050}, {32000, 1, 8000}};
    for (const Case& c : cases) {
        std::unique_ptr<Profile> profile;
        ASSERT_EQ(BuildConstantBitrateProfile(c.bitrate, c.channels, c.rate, profile), S_OK) << c.bitrate;
        Built b = Inspect(std::move(profile));
        EXPECT_EQ(b.wfx.wFormatTag, 0x161);
        EXPECT_EQ(b.wfx.nChannels, c.channels);
        EXPECT_EQ(b.wfx.nSamplesPerSec, c.rate);
        EXPECT_LE(std::abs(std::int64_t{8} * b.wfx.nAvgBytesPerSec - std::int64_t{c.bitrate}), 249);
        EXPECT_EQ(b.bitrate, 8 * b.wfx.nAvgBytesPerSec);
        EXPECT_EQ(b.type.subtype, WMMEDIASUBTYPE_WMAudioV8) << "the PCM sub-type with the codec's tag";
        EXPECT_TRUE(b.type.fixedSizeSamples);
        EXPECT_FALSE(b.type.temporalCompression);
        EXPECT_EQ(b.type.sampleSize, b.wfx.nBlockAlign);
        EXPECT_EQ(b.type.format.size(), 18u + b.wfx.cbSize);
    }
}

TEST(WmaConstantBitrateChoice, TheNearestOfferedBitrateOfTheInputLowerOnTies) {
    const std::vector<WAVEFORMATEX> formats = {
        Wfx(0x161, 1, 22050, 6000, 100),    // 48000
        Wfx(0x161, 1, 22050, 10000, 100),   // 80000
        Wfx(0x161, 1, 22050, 8000, 100),    // 64000
        Wfx(0x161, 2, 22050, 40000, 100),   // 320000, stereo only
        Wfx(0x161, 1, 44100, 40000, 100),   // 320000 at another rate
    };
    struct Case {
        DWORD bitrate;
        std::optional<DWORD> nearest;
    } cases[] = {{320000, 80000}, {64000, 64000}, {56000, 48000}, {72000, 64000}, {1, 48000}};
    for (const Case& c : cases)
        EXPECT_EQ(NearestConstantBitrate(formats, c.bitrate, 1, 22050), c.nearest) << c.bitrate;
    EXPECT_EQ(NearestConstantBitrate(formats, 320000, 2, 8000), std::nullopt);
}

TEST(WmaProfileBuilders, AConstantBitrateTheInputLacksTakesTheNearestOffered) {
    struct Case {
        DWORD bitrate;
        WORD channels;
        DWORD rate;
        DWORD used;
    } cases[] = {{320000, 1, 22050, 80000}, {320000, 2, 8000, 64000}, {127700, 2, 44100, 128000},
                 {128000, 2, 44100, 128000}};
    for (const Case& c : cases) {
        std::unique_ptr<Profile> profile;
        DWORD used = 0;
        ASSERT_EQ(BuildConstantBitrateProfile(c.bitrate, c.channels, c.rate, profile, &used), S_OK) << c.bitrate;
        EXPECT_EQ(used, c.used) << c.bitrate;
        EXPECT_EQ(Inspect(std::move(profile)).bitrate, c.used) << c.bitrate;
    }
}

TEST(WmaProfileBuilders, NoMatchingFormatGivesTheRuntimesCode) {
    std::unique_ptr<Profile> profile;
    EXPECT_EQ(BuildConstantBitrateProfile(128000, 2, 44101, profile), MakeHResult(0xC00D0BC2));
    EXPECT_EQ(BuildQualityProfile(0.5f, 3, 44100, profile), MakeHResult(0xC00D0BC2));
    EXPECT_FALSE(profile);
}

TEST(WmaProfileBuilders, QualityTakesTheLevelFormatWithoutABitrate) {
    struct Case {
        float quality;
        WORD channels;
        DWORD rate;
        BYTE level;
    } cases[] = {{0.5f, 2, 44100, 50}, {0.6f, 2, 44100, 75}, {1.0f, 2, 44100, 98},
                 {0.0f, 1, 22050, 10}, {0.9f, 1, 48000, 90}};
    for (const Case& c : cases) {
        std::unique_ptr<Profile> profile;
        ASSERT_EQ(BuildQualityProfile(c.quality, c.channels, c.rate, profile), S_OK) << c.quality;
        Built b = Inspect(std::move(profile));
        EXPECT_EQ(b.wfx.nAvgBytesPerSec & 0xFF, c.level) << c.quality;
        EXPECT_EQ(b.wfx.nChannels, c.channels);
        EXPECT_EQ(b.wfx.nSamplesPerSec, c.rate);
        EXPECT_EQ(b.bitrate, 0u);
    }
}

}  // namespace
}  // namespace kiv::wma
