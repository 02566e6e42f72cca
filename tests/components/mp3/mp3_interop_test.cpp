// Our MP3 files read by the field's tools: mpg123 decodes them to the same
// samples as our decoder, ffprobe finds the duration, format, bitrate mode
// and our ID3v2 tags, non-Latin text included.
#include <cstring>
#include <functional>

#include "platform/system/text.h"
#include "tests/components/mp3/mp3_test_support.h"

namespace kiv::test {
namespace {

class Mp3InteropTest : public Mp3ComponentTest {
protected:
    void SetUp() override {
        Mp3ComponentTest::SetUp();
        for (const char* tool : {"mpg123", "ffprobe"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
};

// The VBR header the library wrote into the first frame ("Xing" for a
// variable stream, "Info" for a constant one), or "" without one.
std::string VbrHeaderMagic(const std::vector<unsigned char>& file) {
    std::size_t at = 0;
    if (file.size() > 10 && std::memcmp(file.data(), "ID3", 3) == 0)
        at = 10 + (std::size_t(file[6]) << 21 | std::size_t(file[7]) << 14 | std::size_t(file[8]) << 7 | file[9]);
    const std::string head(file.begin() + long(std::min(at, file.size())),
                           file.begin() + long(std::min(at + 200, file.size())));
    for (const char* magic : {"Xing", "Info"})
        if (head.find(magic) != std::string::npos) return magic;
    return "";
}

TEST_F(Mp3InteropTest, OurFilesDecodeWithTheToolsAsDescribed) {
    struct Case {
        const char* name;
        int channels, rate, bits;
        std::function<HRESULT(IKivAudioEncoder*)> mode;
        const char* vbrHeader;
        long nominalBitrate;  // 0: variable
        bool tagged;
    } cases[] = {
        {"cbr128", 2, 44100, 16, [](auto* e) { return e->SetOutputFormatCBR(128000); }, "Info", 128000, true},
        {"abr160", 2, 44100, 16, [](auto* e) { return e->SetOutputFormatABR(160000); }, "Xing", 0, false},
        {"vbr-default", 2, 44100, 16, [](auto*) { return S_OK; }, "Xing", 0, true},
        // Halved to 32 kbit/s below 32000 Hz; a frame of that size is too
        // small for the library's header, so there is none.
        {"mono8-22050", 1, 22050, 8, [](auto* e) { return e->SetOutputFormatCBR(64000); }, "", 32000, true},
        {"cbr64-joint", 2, 48000, 16, [](auto* e) { return e->SetOutputFormatCBR(64000); }, "Info", 64000, false},
    };
    const std::u16string title = u"Grüße ☃ 日本";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto enc = NewEncoder();
        ASSERT_EQ(enc->SetInputFormat(c.channels, c.rate, c.bits), S_OK);
        ASSERT_EQ(c.mode(enc.get()), S_OK);
        if (c.tagged) {
            SetTag(enc.get(), &IAudioTag::put_Title, title);
            SetTag(enc.get(), &IAudioTag::put_Artist, u"Ondalo");
            SetTag(enc.get(), &IAudioTag::put_Genre, u"Techno");
            SetTag(enc.get(), &IAudioTag::put_TrackNo, u"5/12");
        }
        const double seconds = 3.5;
        const std::string path = dir_ / (std::string(c.name) + ".mp3");
        ASSERT_EQ(EncodeTo(enc.get(), path, TonePcm(int(c.rate * seconds), c.channels, c.rate, c.bits)), S_OK);

        auto probe = FfProbe(path);
        ASSERT_TRUE(probe);
        const int samplesPerFrame = c.rate >= 32000 ? 1152 : 576;
        // With a VBR header ffprobe trims the encoder's padding but leaves
        // part of the delay (it does the same with lame's own files);
        // without one it counts whole frames, the delay frames included.
        const double frame = double(samplesPerFrame) / c.rate;
        const double slack = *c.vbrHeader ? 2 * frame : 4 * frame;
        EXPECT_NEAR(probe->duration, seconds, slack);
        EXPECT_EQ(probe->sampleRate, c.rate);
        EXPECT_EQ(probe->channels, c.channels);
        const auto bytes = ReadFileBytes(path);
        EXPECT_EQ(VbrHeaderMagic(bytes), c.vbrHeader);
        // ffprobe counts the tag bytes in.
        if (c.nominalBitrate) {
            EXPECT_NEAR(probe->bitrate, c.nominalBitrate, c.nominalBitrate * 0.08);
        }
        if (c.tagged) {
            EXPECT_EQ(probe->tags["title"], ToUtf8(title));
            EXPECT_EQ(probe->tags["artist"], "Ondalo");
            EXPECT_EQ(probe->tags["genre"], "Techno");
            EXPECT_EQ(probe->tags["track"], "5/12");
        } else {
            EXPECT_TRUE(probe->tags.empty());
        }

        const auto theirs = Mpg123Pcm(path);
        ASSERT_TRUE(theirs);
        auto dec = NewDecoder();
        ASSERT_EQ(OpenDecoder(dec.get(), path), S_OK);
        LONG duration = 0, bitrate = 0;
        ASSERT_EQ(dec->get_Duration(&duration), S_OK);
        ASSERT_EQ(dec->get_Bitrate(&bitrate), S_OK);
        EXPECT_EQ(duration, 3);
        if (c.nominalBitrate && !*c.vbrHeader) {
            EXPECT_EQ(bitrate, c.nominalBitrate) << "from the frame header";
        } else if (c.nominalBitrate) {
            EXPECT_NEAR(bitrate, c.nominalBitrate, c.nominalBitrate / 100) << "from the header's byte count";
        } else {
            EXPECT_NEAR(bitrate, probe->bitrate, probe->bitrate * 0.1);
        }
        if (c.tagged) {
            EXPECT_EQ(GetTag(dec.get(), &IAudioTag::get_Title), title);
        }
        const auto ours = ReadAll(dec.get());
        EXPECT_EQ(ours.size(), theirs->size());
        EXPECT_TRUE(ours.size() == theirs->size() && std::memcmp(ours.data(), theirs->data(), ours.size()) == 0);
        const std::size_t input = std::size_t(c.rate * seconds) * c.channels * 2;
        EXPECT_GE(ours.size(), input) << "every sample written is in the stream";
        EXPECT_LT(ours.size(), input + std::size_t(3 * samplesPerFrame * c.channels * 2));
    }
}


// Gapless players take the encoder delay and padding off by the LAME tag
// in the Info frame. The source is a sox tone of an odd length; the
// reference is `lame -b N` of the same file; mpg123 (gapless by default)
// must give back exactly the source's samples from either file.
TEST_F(Mp3InteropTest, ConstantBitrateFilesDecodeGaplessToTheSourceLength) {
    for (const char* tool : {"sox", "lame", "mpg123"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    struct Case {
        const char* name;
        int channels, rate;
        LONG bitrate;
    } cases[] = {
        {"cbr320", 2, 44100, 320000},
        {"cbr128-48000", 2, 48000, 128000},
        {"cbr64-mono", 1, 44100, 64000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir_ / (std::string(c.name) + ".wav");
        const int frames = c.rate * 2 + 777;
        // The rate goes with the null input, so the length counts its samples.
        ASSERT_EQ(RunTool({"sox", "-r", std::to_string(c.rate), "-c", std::to_string(c.channels), "-n", "-b", "16",
                           wav, "synth", std::to_string(frames) + "s", "sine", "440"})
                      .exitCode,
                  0);
        const std::size_t sourceBytes = std::size_t(frames) * c.channels * 2;
        ASSERT_EQ(ReadFileBytes(wav).size(), 44 + sourceBytes);

        const std::string theirs = dir_ / (std::string(c.name) + "-lame.mp3");
        ASSERT_EQ(RunTool({"lame", "--quiet", "-b", std::to_string(c.bitrate / 1000), wav, theirs}).exitCode, 0);
        EXPECT_EQ(RunTool({"mpg123", "-q", "-s", theirs}).out.size(), sourceBytes) << "the reference is exact";

        auto enc = NewEncoder();
        ASSERT_EQ(enc->SetInputFormat(c.channels, c.rate, 16), S_OK);
        ASSERT_EQ(enc->SetOutputFormatCBR(c.bitrate), S_OK);
        SetTag(enc.get(), &IAudioTag::put_Title, u"Gapless");
        const std::string ours = dir_ / (std::string(c.name) + ".mp3");
        ASSERT_EQ(OpenEncoder(enc.get(), ours), S_OK);
        Bstr source(FromUtf8(wav));
        ASSERT_EQ(enc->EncodeFromWaveSync(source.get()), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        EXPECT_EQ(VbrHeaderMagic(ReadFileBytes(ours)), "Info");
        EXPECT_EQ(RunTool({"mpg123", "-q", "-s", ours}).out.size(), sourceBytes);
    }
}

// Tag text of any length reaches the file whole: long lyrics in the comment
// no longer cost the ID3v2 tag, so a non-Latin title longer than ID3v1's
// 30 characters survives. Read back by ffprobe and by our decoder.
TEST_F(Mp3InteropTest, LongTagTextKeepsTheWholeId3v2Tag) {
    std::u16string lyrics;
    while (lyrics.size() < 40000) lyrics += u"Ännchen von Tharau ist's, die mir gefällt. ♪\n";
    const std::u16string title = u"Длинное название песни, больше тридцати знаков";
    auto enc = NewEncoder();
    SetTag(enc.get(), &IAudioTag::put_Title, title);
    SetTag(enc.get(), &IAudioTag::put_Comment, lyrics);
    const std::string path = dir_ / "lyrics.mp3";
    ASSERT_EQ(EncodeTo(enc.get(), path, TonePcm(44100, 2, 44100, 16)), S_OK);

    auto probe = FfProbe(path);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->tags["title"], ToUtf8(title));
    auto dec = NewDecoder();
    ASSERT_EQ(OpenDecoder(dec.get(), path), S_OK);
    EXPECT_EQ(GetTag(dec.get(), &IAudioTag::get_Title), title);
    EXPECT_EQ(GetTag(dec.get(), &IAudioTag::get_Comment), lyrics);
    EXPECT_GE(ReadAll(dec.get()).size(), 44100u * 4) << "the audio is behind the tag";
}

}  // namespace
}  // namespace kiv::test
