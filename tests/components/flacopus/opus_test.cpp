// KivOpusEncoder and KivOpusDecoder against opus-tools.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>

#include "platform/system/text.h"
#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

class OpusTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivopus"});
        if (!HaveTool("opusenc") || !HaveTool("opusdec") || !HaveTool("opusinfo")) GTEST_SKIP() << "opus-tools missing";
    }
    ComPtr<IKivAudioDecoder> Open(const std::string& path) {
        auto dec = Create<IKivAudioDecoder>(kClassOpusDecoder.clsid, IID_IKivAudioDecoder);
        EXPECT_EQ(dec->Open(Bstr(FromUtf8(path)).get()), S_OK);
        return dec;
    }
    std::string Run(const std::string& command) {
        const ToolRun r = RunTool(command);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
        return r.output;
    }
};

// (A chunk of odd size is followed by a pad byte: the data is found by its
// chunk header, never counted from the end.)
std::vector<unsigned char> DataOf(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    const long size = WavDataSize(path);
    static constexpr unsigned char kData[] = {'d', 'a', 't', 'a'};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(kData), std::end(kData));
    if (size < 0 || bytes.end() - at < 8 + size) return {};
    return std::vector<unsigned char>(at + 8, at + 8 + size);
}

int MaxDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    int worst = 0;
    for (std::size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
        const int x = std::int16_t(a[i] | a[i + 1] << 8), y = std::int16_t(b[i] | b[i + 1] << 8);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

// The reference decoder's output, pre-skip and end trimming applied, is
// what ours gives: the same length, the samples within float rounding.
TEST_F(OpusTest, OpusencFilesDecodeLikeOpusdec) {
    struct Case {
        int rate, channels;
    } cases[] = {{48000, 2}, {44100, 2}, {16000, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " ch");
        WriteFileBytes(dir_ / "src.wav", MakeWav(SinePcm(std::size_t(c.rate) * 2 + 333, c.channels, c.rate, 16),
                                                 c.channels, c.rate, 16));
        Run("opusenc --quiet --bitrate 96 '" + (dir_ / "src.wav") + "' '" + (dir_ / "ref.opus") + "'");
        Run("opusdec --quiet --no-dither --rate 48000 '" + (dir_ / "ref.opus") + "' '" + (dir_ / "ref.wav") + "'");
        const auto reference = DataOf(dir_ / "ref.wav");
        auto dec = Open(dir_ / "ref.opus");
        WAVEFORMATEX* f = nullptr;
        ASSERT_EQ(dec->get_Format(&f), S_OK);
        EXPECT_EQ(f->nSamplesPerSec, 48000u);
        EXPECT_EQ(f->nChannels, c.channels);
        LONG seconds = 0;
        EXPECT_EQ(dec->get_Duration(&seconds), S_OK);
        EXPECT_EQ(seconds, 2);
        const auto ours = DecodeToEnd(dec.get()).pcm;
        ASSERT_EQ(ours.size(), reference.size());
        // Both round the library's float output to 16 bits.
        EXPECT_LE(MaxDifference(ours, reference), 1);
    }
}

// What goes in at 48 kHz comes out sample for sample as long, through our
// encoder and our decoder and through opusdec, in each output mode.
TEST_F(OpusTest, OurFilesKeepTheirExactLengthInEveryMode) {
    const std::size_t frames = 48000 + 4321;
    const auto pcm = SinePcm(frames, 2, 48000, 16);
    struct Case {
        const char* name;
        HRESULT (*set)(IKivAudioEncoder*);
        const char* info;
    } cases[] = {
        {"default", [](IKivAudioEncoder*) { return S_OK; }, nullptr},
        {"cbr", [](IKivAudioEncoder* e) { return e->SetOutputFormatCBR(64000); }, "hard-CBR"},
        {"abr", [](IKivAudioEncoder* e) { return e->SetOutputFormatABR(64000); }, nullptr},
        {"vbr", [](IKivAudioEncoder* e) { return e->SetOutputFormatVBR(0.3f); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto enc = Create<IKivAudioEncoder>(kClassOpusEncoder.clsid, IID_IKivAudioEncoder);
        ASSERT_EQ(c.set(enc.get()), S_OK);
        ASSERT_EQ(enc->SetInputFormat(2, 48000, 16), S_OK);
        const std::string file = dir_ / (std::string(c.name) + ".opus");
        ASSERT_EQ(enc->Open(Bstr(FromUtf8(file)).get()), S_OK);
        ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        const std::string info = Run("opusinfo '" + file + "'");
        if (c.info) {
            EXPECT_NE(info.find(c.info), std::string::npos) << info;
        }
        auto dec = Open(file);
        const auto ours = DecodeToEnd(dec.get()).pcm;
        EXPECT_EQ(ours.size(), pcm.size());
        Run("opusdec --quiet '" + file + "' '" + (dir_ / "back.wav") + "'");
        EXPECT_EQ(DataOf(dir_ / "back.wav").size(), pcm.size());
    }
}

// The named fields as a client sets them: a name again replaces its value,
// an empty value removes it, a name no format has a place for is refused.
// What is left is written as comments of those names and read back.
TEST_F(OpusTest, NamedFieldsAreSetWrittenAndReadBack) {
    auto enc = Create<IKivAudioEncoder>(kClassOpusEncoder.clsid, IID_IKivAudioEncoder);
    ComPtr<IKivTagFields> fields;
    ASSERT_EQ(enc->QueryInterface(IID_IKivTagFields, fields.put_void()), S_OK);
    auto set = [&](const char16_t* name, const char16_t* value) {
        return fields->SetField(Bstr(name).get(), Bstr(value).get());
    };
    EXPECT_EQ(set(u"musicbrainz_trackid", u"old"), S_OK);
    EXPECT_EQ(set(u"MUSICBRAINZ_ALBUMID", u"gone"), S_OK);
    EXPECT_EQ(set(u"MUSICBRAINZ_TRACKID", u"rec-1"), S_OK);
    EXPECT_EQ(set(u"MUSICBRAINZ_ALBUMID", u""), S_OK);
    EXPECT_EQ(set(u"MUSICBRAINZ_ALBUMID", u"rel-1"), S_OK);
    EXPECT_EQ(set(u"ENCODER", u"x"), E_INVALIDARG);
    EXPECT_EQ(set(u"", u"x"), E_INVALIDARG);
    const auto pcm = SinePcm(4800, 1, 48000, 16);
    ASSERT_EQ(enc->SetInputFormat(1, 48000, 16), S_OK);
    const std::string file = dir_ / "ids.opus";
    ASSERT_EQ(enc->Open(Bstr(FromUtf8(file)).get()), S_OK);
    ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    const std::string info = Run("opusinfo '" + file + "'");
    EXPECT_NE(info.find("MUSICBRAINZ_TRACKID=rec-1\n"), std::string::npos) << info;
    EXPECT_NE(info.find("MUSICBRAINZ_ALBUMID=rel-1\n"), std::string::npos) << info;
    EXPECT_EQ(info.find("=old"), std::string::npos) << info;

    auto dec = Open(file);
    ComPtr<IKivTagFields> read;
    ASSERT_EQ(dec->QueryInterface(IID_IKivTagFields, read.put_void()), S_OK);
    std::vector<TagField> got;
    LONG count = 0;
    ASSERT_EQ(read->get_FieldCount(&count), S_OK);
    for (LONG i = 0; i < count; ++i) {
        Bstr name, value;
        ASSERT_EQ(read->GetField(i, name.put(), value.put()), S_OK);
        got.push_back({std::u16string(name.view()), std::u16string(value.view())});
    }
    EXPECT_EQ(got, (std::vector<TagField>{{u"MUSICBRAINZ_ALBUMID", u"rel-1"}, {u"MUSICBRAINZ_TRACKID", u"rec-1"}}));
    Bstr name, value;
    EXPECT_EQ(read->GetField(count, name.put(), value.put()), E_INVALIDARG);
    ASSERT_EQ(read->ClearFields(), S_OK);
    ASSERT_EQ(read->get_FieldCount(&count), S_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(OpusTest, BitratesOutsideTheCodecsRangeAreRefused) {
    auto enc = Create<IKivAudioEncoder>(kClassOpusEncoder.clsid, IID_IKivAudioEncoder);
    for (LONG bad : {5999L, 510001L}) {
        EXPECT_EQ(enc->SetOutputFormatCBR(bad), DISP_E_EXCEPTION);
        EXPECT_EQ(TakeError().second, "Bitrate must be between 6000 and 510000 for Opus.");
        EXPECT_EQ(enc->SetOutputFormatABR(bad), DISP_E_EXCEPTION);
    }
    EXPECT_EQ(enc->SetOutputFormatVBR(-0.1f), DISP_E_EXCEPTION);
}

TEST_F(OpusTest, WhatIsNoOpusIsRefusedAtOpen) {
    if (!HaveTool("oggenc")) GTEST_SKIP() << "oggenc missing";
    WriteFileBytes(dir_ / "src.wav", MakeWav(SinePcm(4410, 2, 44100, 16)));
    Run("oggenc -Q -o '" + (dir_ / "vorbis.opus") + "' '" + (dir_ / "src.wav") + "'");
    WriteFileBytes(dir_ / "junk.opus", PatternBytes(2000));
    for (const char* name : {"vorbis.opus", "junk.opus"}) {
        auto dec = Create<IKivAudioDecoder>(kClassOpusDecoder.clsid, IID_IKivAudioDecoder);
        EXPECT_EQ(dec->Open(Bstr(FromUtf8(dir_ / name)).get()), DISP_E_EXCEPTION) << name;
        EXPECT_EQ(TakeError().second, "Cannot open: not an Opus file.");
    }
}

}  // namespace
}  // namespace kiv::test
