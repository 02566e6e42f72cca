#include <gtest/gtest.h>

#include <set>

#include "media_test_support.h"
#include "platform/media/header_attributes.h"

namespace kiv::media {
namespace {

using test::BuildProfile;

std::vector<WAVEFORMATEX> Formats(CodecInfo& ci, bool vbr, std::vector<DWORD>* bitrates = nullptr) {
    std::int32_t flag = vbr ? 1 : 0;
    EXPECT_EQ(ci.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_VBRENABLED", AttrType::Bool,
                                            reinterpret_cast<BYTE*>(&flag), 4),
              S_OK);
    DWORD count = 0;
    EXPECT_EQ(ci.GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &count), S_OK);
    std::vector<WAVEFORMATEX> out;
    for (DWORD i = 0; i < count; ++i) {
        std::unique_ptr<StreamConfig> sc;
        EXPECT_EQ(ci.GetCodecFormat(WMMEDIATYPE_Audio, 0, i, sc), S_OK);
        const MediaType& mt = sc->GetMediaType();
        WAVEFORMATEX w{};
        EXPECT_TRUE(mt.GetWaveFormat(w));
        EXPECT_EQ(mt.format.size(), 18u + w.cbSize);
        EXPECT_EQ(mt.subtype.Data1, 0x161u);
        out.push_back(w);
        if (bitrates) bitrates->push_back(sc->GetBitrate());
    }
    return out;
}

TEST(MediaCodecFormats, EveryRateAndLayoutHasConstantAndQualityFormats) {
    ProfileManager pm;
    CodecInfo& ci = pm.GetCodecInfo();
    DWORD codecs = 0;
    ASSERT_EQ(ci.GetCodecInfoCount(WMMEDIATYPE_Audio, &codecs), S_OK);
    ASSERT_EQ(codecs, 1u);

    std::vector<DWORD> bitrates;
    auto cbr = Formats(ci, false, &bitrates);
    std::set<std::pair<DWORD, WORD>> cbrLayouts;
    for (std::size_t i = 0; i < cbr.size(); ++i) {
        EXPECT_EQ(cbr[i].wFormatTag, 0x161);
        EXPECT_EQ(bitrates[i], cbr[i].nAvgBytesPerSec * 8);
        EXPECT_GE(bitrates[i], 24000u);
        EXPECT_GT(cbr[i].nBlockAlign, 0);
        cbrLayouts.emplace(DWORD{cbr[i].nSamplesPerSec}, WORD{cbr[i].nChannels});  // copies: the record is packed
    }

    auto vbr = Formats(ci, true, &bitrates);
    std::map<std::pair<DWORD, WORD>, std::set<int>> levels;
    for (const auto& w : vbr) {
        EXPECT_EQ(w.wFormatTag, 0x161);
        levels[{DWORD{w.nSamplesPerSec}, WORD{w.nChannels}}].insert(w.nAvgBytesPerSec & 0xFF);
    }
    for (DWORD rate : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u})
        for (WORD ch : {1, 2}) {
            EXPECT_TRUE(cbrLayouts.count(std::make_pair(rate, ch))) << rate << " Hz, " << ch << " channels";
            const std::set<int> all{10, 25, 50, 75, 90, 98};
            EXPECT_EQ(levels[std::make_pair(rate, ch)], all) << rate << " Hz, " << ch;
        }
}

TEST(MediaCodecFormats, EnumerationSettingIsCheckedAndKept) {
    ProfileManager pm;
    CodecInfo& ci = pm.GetCodecInfo();
    std::int32_t on = 1;
    auto* v = reinterpret_cast<BYTE*>(&on);
    EXPECT_EQ(ci.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_VBRENABLED", AttrType::Dword, v, 4), E_INVALIDARG);
    EXPECT_EQ(ci.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_NUMPASSES", AttrType::Bool, v, 4), E_INVALIDARG);
    EXPECT_EQ(ci.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 1, u"_VBRENABLED", AttrType::Bool, v, 4), E_INVALIDARG);
    EXPECT_EQ(ci.SetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_VBRENABLED", AttrType::Bool, v, 4), S_OK);
    std::int32_t back = 0;
    AttrType type{};
    DWORD len = 4;
    EXPECT_EQ(ci.GetCodecEnumerationSetting(WMMEDIATYPE_Audio, 0, u"_VBRENABLED", &type, reinterpret_cast<BYTE*>(&back), &len), S_OK);
    EXPECT_EQ(back, 1);
    // A second manager has its own setting.
    ProfileManager other;
    DWORD cbrCount = 0, vbrCount = 0;
    other.GetCodecInfo().GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &cbrCount);
    ci.GetCodecFormatCount(WMMEDIATYPE_Audio, 0, &vbrCount);
    EXPECT_NE(cbrCount, vbrCount);
}

// What the WMA encoder's profile builders find in the enumeration.
TEST(MediaCodecFormats, ProfileBuildersFindTheExpectedFormats) {
    struct Case {
        bool vbr;
        double value;
        WORD channels;
        DWORD rate;
        bool found;
        int expectLevelOrBitrate;
    } cases[] = {
        {false, 128000, 2, 44100, true, 128000},
        {false, 128100, 2, 44100, true, 128000},
        {false, 127700, 2, 44100, false, 0},
        {false, 32000, 1, 22050, true, 32000},
        {false, 20000, 1, 8000, false, 0},
        {true, 0.5, 2, 44100, true, 50},
        {true, 0.6, 2, 44100, true, 75},
        {true, 1.0, 2, 44100, true, 10},
        {true, 0.0, 1, 8000, true, 10},
        {true, 0.9, 1, 22050, true, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.vbr ? "quality " : "bitrate ") << c.value << ", " << c.channels
                                        << " ch, " << c.rate << " Hz");
        auto profile = BuildProfile(c.vbr, c.value, c.channels, c.rate);
        ASSERT_EQ(profile != nullptr, c.found);
        if (!profile) continue;
        std::unique_ptr<StreamConfig> s;
        ASSERT_EQ(profile->GetStream(0, s), S_OK);
        WAVEFORMATEX w{};
        ASSERT_TRUE(s->GetMediaType().GetWaveFormat(w));
        EXPECT_EQ(w.nChannels, c.channels);
        EXPECT_EQ(w.nSamplesPerSec, c.rate);
        const int got = c.vbr ? int(w.nAvgBytesPerSec & 0xFF) : int(w.nAvgBytesPerSec * 8);
        EXPECT_EQ(got, c.expectLevelOrBitrate);
    }
}

TEST(MediaAttributes, StringsNumbersAndBufferSizes) {
    HeaderAttributes a;
    auto title = test::WideBytes(u"Hello World");  // 11 characters and the zero
    ASSERT_EQ(a.SetAttribute(0, u"Title", AttrType::String, title.data(), static_cast<WORD>(title.size())), S_OK);
    DWORD track = 7;
    ASSERT_EQ(a.SetAttribute(0, u"WM/TrackNumber", AttrType::Dword, reinterpret_cast<BYTE*>(&track), 4), S_OK);
    EXPECT_EQ(a.SetAttribute(0, u"WM/TrackNumber", AttrType::Dword, reinterpret_cast<BYTE*>(&track), 2), E_INVALIDARG);
    EXPECT_EQ(a.SetAttribute(1, u"Title", AttrType::String, title.data(), 24), E_INVALIDARG);

    WORD stream = 0, length = 0;
    AttrType type{};
    ASSERT_EQ(a.GetAttributeByName(&stream, u"Title", &type, nullptr, &length), S_OK);
    EXPECT_EQ(type, AttrType::String);
    EXPECT_EQ(length, 24);
    std::vector<BYTE> buf(30, 0xEE);
    length = 23;
    EXPECT_EQ(a.GetAttributeByName(&stream, u"Title", &type, buf.data(), &length), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(length, 24);
    length = 30;
    ASSERT_EQ(a.GetAttributeByName(&stream, u"Title", &type, buf.data(), &length), S_OK);
    EXPECT_EQ(std::vector<BYTE>(buf.begin(), buf.begin() + 24), title);
    EXPECT_EQ(a.GetAttributeByName(&stream, u"Author", &type, nullptr, &length), ASF_E_NOTFOUND);

    std::u16string text;
    ASSERT_EQ(a.Entries().size(), 2u);
    EXPECT_TRUE(HeaderAttributes::AsText(a.Entries()[1], text));
    EXPECT_EQ(text, u"7");
}

}  // namespace
}  // namespace kiv::media
