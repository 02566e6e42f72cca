// The encoder library's configuration per output mode and input format, and
// the binding of the two run-time libraries.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "components/mp3/encoder_config.h"
#include "components/mp3/runtime_library.h"

namespace kiv::mp3 {
namespace {

using namespace lame_enc;

WAVEFORMATEX Pcm(WORD channels, DWORD rate) {
    return {WAVE_FORMAT_PCM, channels, rate, rate * channels * 2, WORD(channels * 2), 16, 0};
}

TEST(EncoderConfig, RecordPerCase) {
    struct Case {
        const char* what;
        OutputSetting setting;
        WAVEFORMATEX input;
        ConfigCase configCase;
        LONG nMode;
        DWORD dwBitrate;
        LONG nPreset;
        DWORD dwVbrAbr_bps;
        BOOL bWriteVBRHeader;
    } cases[] = {
        {"fresh instance: VBR 0.5", {}, Pcm(2, 44100), ConfigCase::variable, BE_MP3_MODE_STEREO, 0, LQP_STANDARD, 0, 1},
        {"VBR mono", {OutputMode::variableBitrate, 0, 0.9f}, Pcm(1, 22050), ConfigCase::variable, BE_MP3_MODE_MONO, 0,
         LQP_INSANE, 0, 1},
        {"ABR stereo 44100", {OutputMode::averageBitrate, 192000, 0}, Pcm(2, 44100), ConfigCase::average,
         BE_MP3_MODE_STEREO, 0, LQP_ABR, 192000, 1},
        {"CBR 128 stereo 44100", {OutputMode::constantBitrate, 128000, 0}, Pcm(2, 44100), ConfigCase::constant,
         BE_MP3_MODE_STEREO, 128, LQP_CBR, 0, 1},
        {"CBR 64 stereo 44100: plain, joint stereo", {OutputMode::constantBitrate, 64000, 0}, Pcm(2, 44100),
         ConfigCase::plain, BE_MP3_MODE_JSTEREO, 64, LQP_NORMAL_QUALITY, 0, 1},
        {"CBR 144 at 22050: halved", {OutputMode::constantBitrate, 144000, 0}, Pcm(2, 22050), ConfigCase::plain,
         BE_MP3_MODE_JSTEREO, 72, LQP_HIGH_QUALITY, 0, 1},
        {"CBR 320 mono 48000", {OutputMode::constantBitrate, 320000, 0}, Pcm(1, 48000), ConfigCase::plain,
         BE_MP3_MODE_MONO, 320, LQP_HIGH_QUALITY, 0, 1},
        {"CBR 192 stereo 32000 at the boundary", {OutputMode::constantBitrate, 192000, 0}, Pcm(2, 32000),
         ConfigCase::constant, BE_MP3_MODE_STEREO, 192, LQP_CBR, 0, 1},
        {"ABR 160 at 22050: plain, halved, joint", {OutputMode::averageBitrate, 160000, 0}, Pcm(2, 22050),
         ConfigCase::plain, BE_MP3_MODE_JSTEREO, 80, LQP_HIGH_QUALITY, 80000, 1},
        {"ABR 192 mono 44100: plain, stereo bits off", {OutputMode::averageBitrate, 192000, 0}, Pcm(1, 44100),
         ConfigCase::plain, BE_MP3_MODE_MONO, 192, LQP_HIGH_QUALITY, 192000, 1},
        {"ABR 128 mono: no ABR rate at 128", {OutputMode::averageBitrate, 128000, 0}, Pcm(1, 44100),
         ConfigCase::plain, BE_MP3_MODE_MONO, 128, LQP_NORMAL_QUALITY, 0, 1},
        {"CBR 224 stereo 16000: stereo above 160", {OutputMode::constantBitrate, 224000, 0}, Pcm(2, 16000),
         ConfigCase::plain, BE_MP3_MODE_STEREO, 112, LQP_HIGH_QUALITY, 0, 1},
    };
    for (const Case& c : cases) {
        const auto config = MakeEncoderConfig(c.setting, c.input, true);
        ASSERT_TRUE(config) << c.what;
        const BE_CONFIG& rec = config->record;
        const BE_CONFIG_LHV1& r = rec.format.LHV1;
        EXPECT_EQ(config->configCase, c.configCase) << c.what;
        EXPECT_EQ(rec.dwConfig, BE_CONFIG_LAME);
        EXPECT_EQ(r.dwStructVersion, 1u);
        EXPECT_EQ(r.dwStructSize, 331u);
        EXPECT_EQ(r.dwSampleRate, c.input.nSamplesPerSec) << c.what;
        EXPECT_EQ(r.dwMpegVersion, MPEG1);
        EXPECT_EQ(r.bOriginal, 1);
        EXPECT_EQ(r.nMode, c.nMode) << c.what;
        EXPECT_EQ(r.dwBitrate, c.dwBitrate) << c.what;
        EXPECT_EQ(r.nPreset, c.nPreset) << c.what;
        EXPECT_EQ(r.dwVbrAbr_bps, c.dwVbrAbr_bps) << c.what;
        EXPECT_EQ(r.bWriteVBRHeader, c.bWriteVBRHeader) << c.what;
        EXPECT_EQ(r.dwReSampleRate + r.dwMaxBitrate + r.bEnableVBR + r.nVBRQuality + r.nVbrMethod + r.bNoRes +
                      r.bStrictIso + r.nQuality + r.bCRC + r.bPrivate + r.bCopyright + r.dwPsyModel + r.dwEmphasis,
                  0u)
            << c.what << ": the fields not chosen stay 0";
    }
}

TEST(EncoderConfig, CallersHandleNeverGetsAVbrHeader) {
    for (OutputMode m : {OutputMode::variableBitrate, OutputMode::averageBitrate, OutputMode::constantBitrate}) {
        const auto config = MakeEncoderConfig({m, 64000, 0.5f}, Pcm(2, 44100), false);
        ASSERT_TRUE(config);
        EXPECT_EQ(config->record.format.LHV1.bWriteVBRHeader, 0);
    }
}

TEST(EncoderConfig, NearestVbrPresetTiesGoLower) {
    const std::pair<float, std::int32_t> cases[] = {{0.0f, LQP_MEDIUM},    {0.375f, LQP_MEDIUM},
                                                    {0.376f, LQP_STANDARD}, {0.625f, LQP_STANDARD},
                                                    {0.8f, LQP_EXTREME},   {0.83f, LQP_INSANE},
                                                    {1.0f, LQP_INSANE}};
    for (const auto& [q, preset] : cases) EXPECT_EQ(VbrPresetFor(q), preset) << q;
    EXPECT_FALSE(VbrPresetFor(std::nanf("")));
    EXPECT_FALSE(MakeEncoderConfig({OutputMode::variableBitrate, 0, std::nanf("")}, Pcm(2, 44100), true));
}

TEST(EncoderConfig, ConstantBitrateSetsFollowTheSampleRate) {
    struct Case {
        LONG bitrate;
        DWORD rate;
        bool allowed;
    } cases[] = {{32000, 32000, true},   {320000, 48000, true},  {144000, 44100, false}, {8000, 44100, false},
                 {144000, 22050, true},  {8000, 8000, true},     {192000, 24000, false}, {160000, 11025, true},
                 {128001, 44100, false}, {0, 44100, false}};
    for (const Case& c : cases) EXPECT_EQ(IsAllowedConstantBitrate(c.bitrate, c.rate), c.allowed) << c.bitrate << " at " << c.rate;
}

// By full path: this program is not the module, whose folder the bare
// names are looked up in.
TEST(RuntimeLibrary, BindingNamesItsReason) {
    const std::string lib = std::string(ONDALO_BUILD_DIR) + "/lib/";
    const std::string lamePath = lib + lame_enc::kLibraryFileName, mpglibPath = lib + mpglib::kLibraryFileName;
    LameEntryPoints lame;
    MpglibEntryPoints mpg;
    EXPECT_EQ(LoadLameLibrary("no-such-library.so", lame), BindStatus::notLoaded);
    // Each library lacks the other's entry points.
    EXPECT_EQ(LoadLameLibrary(mpglibPath.c_str(), lame), BindStatus::entryMissing);
    EXPECT_EQ(LoadMpglibLibrary(lamePath.c_str(), mpg), BindStatus::entryMissing);
    EXPECT_EQ(lame.initStream, nullptr) << "nothing is half bound";
    ASSERT_EQ(LoadLameLibrary(lamePath.c_str(), lame), BindStatus::bound);
    ASSERT_EQ(LoadMpglibLibrary(mpglibPath.c_str(), mpg), BindStatus::bound);
    BE_VERSION v{};
    lame.version(&v);
    EXPECT_GT(v.byMajorVersion + v.byMinorVersion, 0) << "the entry points are the library's";
}

}  // namespace
}  // namespace kiv::mp3
