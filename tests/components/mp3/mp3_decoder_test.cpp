// KivMP3Decoder through its interface: the scan's results on hand-made
// streams, files made by lame read and decoded like mpg123 does, seeking,
// the end of the stream, damaged, cut and mixed streams and Close while
// decoding.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/system/text.h"
#include "tests/components/mp3/mp3_test_support.h"
#include "tests/components/mp3format/test_support.h"

namespace kiv::test {
namespace {

namespace frames = kiv::mp3::test;
constexpr char kSource[] = "ZEMOR.MP3Decoder.1";

std::vector<unsigned char> Id3v2Header(std::uint32_t size) {
    return {'I', 'D', '3', 3, 0, 0, std::uint8_t(size >> 21 & 0x7F), std::uint8_t(size >> 14 & 0x7F),
            std::uint8_t(size >> 7 & 0x7F), std::uint8_t(size & 0x7F)};
}

class Mp3DecoderTest : public Mp3ComponentTest {
protected:
    void SetUp() override {
        Mp3ComponentTest::SetUp();
        dec_ = NewDecoder();
        ASSERT_TRUE(dec_);
    }
    struct Props {
        LONG duration = -1, bitrate = -1, position = -1;
        WAVEFORMATEX format{};
    };
    Props Properties() {
        Props p;
        EXPECT_EQ(dec_->get_Duration(&p.duration), S_OK);
        EXPECT_EQ(dec_->get_Bitrate(&p.bitrate), S_OK);
        EXPECT_EQ(dec_->get_Position(&p.position), S_OK);
        WAVEFORMATEX* f = nullptr;
        EXPECT_EQ(dec_->get_Format(&f), S_OK);
        if (f) p.format = *f;
        return p;
    }
    ComPtr<IKivAudioDecoder> dec_;
};

TEST_F(Mp3DecoderTest, RefusalsWithNothingOpen) {
    LONG v = 0;
    WAVEFORMATEX* f = nullptr;
    Bstr name;
    BYTE buf[16];
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        const char* text;
    } cases[] = {
        {"Position", [&] { return dec_->get_Position(&v); }, "Error accessing property: file is not open."},
        {"Format", [&] { return dec_->get_Format(&f); }, "Error accessing property: file is not open."},
        {"Bitrate", [&] { return dec_->get_Bitrate(&v); }, "Error accessing property: file is not open."},
        {"Duration", [&] { return dec_->get_Duration(&v); }, "Error accessing property: file is not open."},
        {"Filename", [&] { return dec_->get_Filename(name.put()); }, "Error accessing property: file is not open."},
        {"Seek", [&] { return dec_->Seek(3); }, "Seek error: file is not open."},
        {"Position put", [&] { return dec_->put_Position(3); }, "Seek error: file is not open."},
        {"Read", [&] { return dec_->Read(buf, 16, &v); }, "Read error: file is not open."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), DISP_E_EXCEPTION) << c.what;
        EXPECT_EQ(TakeError(), std::make_pair(std::string(kSource), std::string(c.text))) << c.what;
    }
    EXPECT_EQ(dec_->get_Duration(nullptr), E_POINTER);
    EXPECT_EQ(dec_->Read(buf, 16, nullptr), E_POINTER);
    EXPECT_EQ(dec_->OpenHandle(nullptr), E_NOTIMPL);
    EXPECT_EQ(dec_->Close(), S_OK);
}

TEST_F(Mp3DecoderTest, OpenFailuresLeaveNothingOpen) {
    WriteFileBytes(dir_ / "zeros100.mp3", std::vector<unsigned char>(100, 0));
    WriteFileBytes(dir_ / "zeros70000.mp3", std::vector<unsigned char>(70000, 0));
    struct Case {
        const char* file;
        HRESULT hr;
        const char* text;
    } cases[] = {
        {"zeros100.mp3", DISP_E_EXCEPTION, "Unexpected end of file."},
        {"zeros70000.mp3", DISP_E_EXCEPTION, "MP3 stream not found in file."},
        {"missing.mp3", HRESULT_FROM_WIN32(ENOENT), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpenDecoder(dec_.get(), dir_ / c.file), c.hr) << c.file;
        EXPECT_EQ(TakeError().second, c.text) << c.file;
        LONG v;
        EXPECT_EQ(dec_->get_Duration(&v), DISP_E_EXCEPTION) << c.file;
        TakeError();
    }
}

// Scan results on hand-made streams, including the cases where the usual
// arithmetic would divide by zero.
TEST_F(Mp3DecoderTest, DurationAndBitrateOfHandMadeStreams) {
    using frames::frameWord;
    const auto cbr128 = frameWord(3, 3, 9, 0, false, 0);  // MPEG-1 Layer III 128 kbit/s 44100 stereo
    std::vector<unsigned char> tagged = Id3v2Header(2000);
    tagged.resize(2010, 0);
    const auto body = frames::frames(cbr128, 417, 10000);
    tagged.insert(tagged.end(), body.begin(), body.end());

    auto vbr = frames::vbrFrame(cbr128, 417, 36, "Xing", 3, 1000, 1000 * 417, {});
    const auto rest = frames::frames(cbr128, 417, 999);
    vbr.insert(vbr.end(), rest.begin(), rest.end());

    auto noCount = frames::vbrFrame(cbr128, 417, 36, "Xing", 2, 0, 50 * 417, {});
    const auto fifty = frames::frames(cbr128, 417, 49);
    noCount.insert(noCount.end(), fifty.begin(), fifty.end());

    const auto freeFormat = frames::frames(frameWord(3, 3, 0, 0, false, 3), 300, 200);

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        LONG duration, bitrate;
        DWORD rate;
        WORD channels;
    } cases[] = {
        {"CBR behind a 2010-byte ID3v2 tag", tagged, 261, 128000, 44100, 2},
        {"VBR header, 1000 frames", vbr, 26, LONG(1000 * 417 * 8 / (1000 * 1152 / 44100.0)), 44100, 2},
        // Frames are counted when the header lacks the count: the 49 behind
        // the header frame, 1.28 s.
        {"VBR header without frame count", noCount, 1, LONG(50 * 417 * 8 / (49 * 1152 / 44100.0)), 44100, 2},
        // Free format: the frame length is measured between headers.
        {"free format mono", freeFormat, 5, LONG(300 * 8 * 44100 / 1152.0), 44100, 1},
    };
    for (const Case& c : cases) {
        const std::string path = dir_ / "hand.mp3";
        WriteFileBytes(path, c.bytes);
        ASSERT_EQ(OpenDecoder(dec_.get(), path), S_OK) << c.what;
        const Props p = Properties();
        EXPECT_EQ(p.duration, c.duration) << c.what;
        EXPECT_NEAR(p.bitrate, c.bitrate, 1) << c.what;
        EXPECT_EQ(p.position, 0);
        const WAVEFORMATEX want{1, c.channels, c.rate, c.rate * 2 * c.channels, WORD(2 * c.channels), 16, 0};
        EXPECT_EQ(std::memcmp(&p.format, &want, sizeof want), 0) << c.what;
        ASSERT_EQ(dec_->Close(), S_OK);
    }
}

// Files made by lame: properties, tags, and the PCM mpg123 gets from them.
class LameFilesTest : public Mp3DecoderTest {
protected:
    void SetUp() override {
        Mp3DecoderTest::SetUp();
        for (const char* tool : {"lame", "mpg123", "ffmpeg", "ffprobe"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        // 5.5 s, so that whole seconds do not sit at a boundary.
        WriteFileBytes(wav_, MakeWav(TonePcm(44100 * 11 / 2, 2, 44100, 16)));
    }
    std::string Lame(const std::string& name, std::vector<std::string> options) {
        std::vector<std::string> argv{"lame", "--silent"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(wav_);
        argv.push_back(dir_ / name);
        EXPECT_EQ(RunTool(argv).exitCode, 0) << name;
        return dir_ / name;
    }
    std::string Retag(const std::string& from, const std::string& name, int version) {
        const ToolResult r = RunTool({"ffmpeg", "-v", "error", "-y", "-i", from, "-c", "copy", "-map_metadata", "-1",
                                      "-metadata", "title=Grüße ☃ 日本", "-metadata", "artist=Ärger", "-metadata",
                                      "album=Zweite", "-metadata", "track=4", "-id3v2_version",
                                      std::to_string(version), "-write_id3v1", "0", dir_ / name});
        EXPECT_EQ(r.exitCode, 0) << name;
        return dir_ / name;
    }
    const std::string wav_ = dir_ / "tone.wav";
};

TEST_F(LameFilesTest, PropertiesTagsAndPcmMatchTheTools) {
    const std::string cbr = Lame("cbr.mp3", {"-b", "128", "--tt", "Plain", "--ta", "Band", "--tl", "Record", "--ty",
                                             "1999", "--tn", "3", "--tg", "Rock", "--tc", "Note", "--add-id3v2"});
    const std::string vbr = Lame("vbr.mp3", {"-V", "2"});
    const std::string padded = Lame("padded.mp3", {"-b", "192", "--tt", "Padded", "--id3v2-only", "--pad-id3v2-size",
                                                   "3000"});
    struct Case {
        std::string file;
        // Nominal for constant bitrate (lame writes an "Info" header, whose
        // byte count over the frames behind it comes out a little above);
        // 0 for VBR, compared with ffprobe.
        LONG bitrate;
        std::vector<std::pair<HRESULT (IAudioTag::*)(BSTR*), std::u16string>> tags;
    } cases[] = {
        {cbr,
         128000,
         {{&IAudioTag::get_Title, u"Plain"},
          {&IAudioTag::get_Artist, u"Band"},
          {&IAudioTag::get_Album, u"Record"},
          {&IAudioTag::get_Year, u"1999"},
          {&IAudioTag::get_TrackNo, u"3"},
          {&IAudioTag::get_Genre, u"Rock"},
          {&IAudioTag::get_Comment, u"Note"}}},
        {vbr, 0, {{&IAudioTag::get_Title, u""}}},
        {padded, 192000, {{&IAudioTag::get_Title, u"Padded"}}},
        {Retag(vbr, "v23.mp3", 3), 0,
         {{&IAudioTag::get_Title, u"Grüße ☃ 日本"}, {&IAudioTag::get_Artist, u"Ärger"}, {&IAudioTag::get_TrackNo, u"4"}}},
        {Retag(cbr, "v24.mp3", 4), 128000,
         {{&IAudioTag::get_Title, u"Grüße ☃ 日本"}, {&IAudioTag::get_Album, u"Zweite"}, {&IAudioTag::get_TrackNo, u"4"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto probe = FfProbe(c.file);
        ASSERT_TRUE(probe);
        ASSERT_EQ(OpenDecoder(dec_.get(), c.file), S_OK);
        const Props p = Properties();
        EXPECT_EQ(p.format.nSamplesPerSec, 44100u);
        EXPECT_EQ(p.format.nChannels, 2);
        EXPECT_EQ(p.format.wBitsPerSample, 16);
        EXPECT_EQ(p.duration, 5);
        if (c.bitrate) {
            EXPECT_NEAR(p.bitrate, c.bitrate, c.bitrate / 100);
        } else {
            EXPECT_NEAR(p.bitrate, probe->bitrate, probe->bitrate * 0.05);
        }
        for (const auto& [get, value] : c.tags) EXPECT_EQ(ToUtf8(GetTag(dec_.get(), get)), ToUtf8(value));

        const auto ours = ReadAll(dec_.get(), 10000);
        const auto theirs = Mpg123Pcm(c.file);
        ASSERT_TRUE(theirs);
        EXPECT_EQ(ours.size(), theirs->size());
        EXPECT_TRUE(ours.size() == theirs->size() && std::memcmp(ours.data(), theirs->data(), ours.size()) == 0)
            << "the same samples as mpg123";
        // The encoder's delay and padding, not more.
        EXPECT_NEAR(double(ours.size()) / 4, 44100 * 5.5, 3 * 1152);
        ASSERT_EQ(dec_->Close(), S_OK);
    }
}

TEST_F(LameFilesTest, SeekLandsOnTheFrameOfTheTime) {
    const std::string cbr = Lame("cbr.mp3", {"-b", "128"});
    const std::string vbr = Lame("vbr.mp3", {"-V", "2"});
    for (const std::string& file : {cbr, vbr}) {
        SCOPED_TRACE(file);
        ASSERT_EQ(OpenDecoder(dec_.get(), file), S_OK);
        const std::size_t total = ReadAll(dec_.get()).size();
        for (LONG second : {2, 4}) {
            ASSERT_EQ(dec_->Seek(second), S_OK);
            // The first read after the end starts a fresh decoding thread,
            // which takes the seek before it decodes anything.
            BYTE buf[4];
            LONG got = 0;
            ASSERT_EQ(dec_->Read(buf, 4, &got), S_OK);
            LONG position = -1;
            ASSERT_EQ(dec_->get_Position(&position), S_OK);
            EXPECT_EQ(position, second);
            const std::size_t rest = std::size_t(got) + ReadAll(dec_.get()).size();
            EXPECT_NEAR(double(total - rest) / 4, second * 44100.0, 2 * 1152) << second;
        }
        LONG got = -1;
        BYTE buf[4];
        EXPECT_EQ(dec_->Read(buf, 4, &got), S_OK);
        EXPECT_EQ(got, 0) << "a read after the end without a seek stays at the end";
        ASSERT_EQ(dec_->put_Position(0), S_OK);
        EXPECT_EQ(ReadAll(dec_.get()).size(), total) << "back to the start";
        ASSERT_EQ(dec_->Close(), S_OK);
    }
}

// Close while the thread waits on a full pipe returns (a hang would fail the
// test by its time-out), and the decoder is usable again afterwards.
TEST_F(LameFilesTest, CloseDuringDecodingReturns) {
    const std::string file = Lame("close.mp3", {"-b", "128"});
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(OpenDecoder(dec_.get(), file), S_OK);
        BYTE buf[100];
        LONG got = 0;
        ASSERT_EQ(dec_->Read(buf, 100, &got), S_OK);
        EXPECT_GT(got, 0);
        ASSERT_EQ(dec_->Close(), S_OK);
    }
    ASSERT_EQ(OpenDecoder(dec_.get(), file), S_OK);
    BYTE buf[100];
    LONG got = 0;
    ASSERT_EQ(dec_->Read(buf, 100, &got), S_OK);
    dec_.reset();  // released while decoding
    auto again = NewDecoder();
    ASSERT_EQ(OpenDecoder(again.get(), file), S_OK);
    EXPECT_GT(ReadAll(again.get()).size(), 44100u * 4 * 5);
}

// Damage made from lame's files: junk inside the stream is read over
// whatever its length (mpg123 with an unlimited resync limit gets the same)
// and accounted for, junk behind the last frame just ends the stream; a second stream of another format appended, or a file
// cut inside its first frames, fails the read with its reason rather than
// give mislabelled audio or pass for an empty stream.
TEST_F(LameFilesTest, DamageIsReadOverAndOtherFormatsOrCutFilesFail) {
    const auto a = ReadFileBytes(Lame("a.mp3", {"-b", "128", "-t"}));
    const auto b = ReadFileBytes(Lame("b.mp3", {"-b", "128", "-t"}));
    const auto withXing = ReadFileBytes(Lame("x.mp3", {"-b", "128"}));
    // The same tone at 22.05 kHz mono: another format.
    WriteFileBytes(dir_ / "mono.wav", MakeWav(TonePcm(22050 * 2, 1, 22050, 16), 1, 22050));
    ASSERT_EQ(RunTool({"lame", "--silent", "-b", "64", "-t", dir_ / "mono.wav", dir_ / "mono.mp3"}).exitCode, 0);
    const auto mono = ReadFileBytes(dir_ / "mono.mp3");
    const auto pcmA = Mpg123Pcm(dir_ / "a.mp3");
    ASSERT_TRUE(pcmA);
    auto joined = [&](std::size_t junk, const std::vector<unsigned char>& second) {
        std::vector<unsigned char> bytes = a;
        bytes.resize(bytes.size() + junk, 0);
        bytes.insert(bytes.end(), second.begin(), second.end());
        return bytes;
    };
    const std::string formatChange =
        "The stream changes from 44100 Hz stereo to 22050 Hz mono after 5 s; a change of format within a file is "
        "not supported.";
    const std::string cut = "Unexpected end of file: the MP3 stream holds no complete audio frame.";
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        double seconds;           // of audio delivered
        std::string error;        // of the Read that meets the end
        long junkKb;              // in the damage note; 0: no note
    } cases[] = {
        {"short junk", joined(3000, b), 11.0, "", 3},
        {"junk beyond the search window", joined(100000, b), 11.0, "", 98},
        {"whole stream", joined(0, b), 11.0, "", 0},
        {"junk behind the last frame", joined(100000, {}), 5.5, "", 0},
        {"another format appended", joined(0, mono), 5.5, formatChange, 0},
        {"cut inside the Xing frame", {withXing.begin(), withXing.begin() + 300}, 0, cut, 0},
        {"cut inside the first audio frame", {withXing.begin(), withXing.begin() + 700}, 0, cut, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(dir_ / "damaged.mp3", c.bytes);
        auto dec = NewDecoder();
        EventLog log(DIID_IKivAudioDecoderEvents);
        EventConnection conn;
        ASSERT_EQ(conn.Connect(dec.get(), DIID_IKivAudioDecoderEvents, log.sink.get()), S_OK);
        ASSERT_EQ(OpenDecoder(dec.get(), dir_ / "damaged.mp3"), S_OK);
        const DecodeOutcome out = DecodeToEnd(dec.get());
        EXPECT_NEAR(double(out.pcm.size()) / 4 / 44100, c.seconds, 0.2);
        EXPECT_EQ(out.error, c.error);
        long kb = 0;
        double seconds = 0;
        if (c.junkKb == 0) {
            EXPECT_EQ(out.damageNote, "");
        } else {
            // The bytes count from where the library gave up, a little
            // into the junk; the time is what they would hold at 128 kbit/s.
            ASSERT_EQ(std::sscanf(out.damageNote.c_str(), "Source damaged: %ld KB skipped (up to %lf s of audio).", &kb,
                                  &seconds),
                      2)
                << out.damageNote;
            EXPECT_NEAR(kb, c.junkKb, 2) << out.damageNote;
            EXPECT_NEAR(seconds, kb * 1024 * 8 / 128000.0, 0.2) << out.damageNote;
        }
        if (!c.error.empty()) {
            ASSERT_TRUE(PumpUntil([&] { return !log.events.empty(); }));
            EXPECT_EQ(ToUtf8(log.events[0].second), c.error) << "OnError says the same";
        }
        ASSERT_EQ(dec->Close(), S_OK);
        EXPECT_EQ(DamageNoteOf(dec.get()), out.damageNote) << "the account outlives Close";
    }
}

// A seek starts clean. The failure that ended the last run (here another
// format behind the first stream) is not reported by the reads after the
// seek until they meet it again, and no PCM decoded ahead for the old
// position comes out before the new position's.
TEST_F(LameFilesTest, SeekAfterAFailureOrMidStreamStartsClean) {
    std::vector<unsigned char> bytes = ReadFileBytes(Lame("a.mp3", {"-b", "128", "-t"}));
    WriteFileBytes(dir_ / "mono.wav", MakeWav(TonePcm(22050, 1, 22050, 16), 1, 22050));
    ASSERT_EQ(RunTool({"lame", "--silent", "-b", "64", "-t", dir_ / "mono.wav", dir_ / "mono.mp3"}).exitCode, 0);
    const auto mono = ReadFileBytes(dir_ / "mono.mp3");
    bytes.insert(bytes.end(), mono.begin(), mono.end());
    WriteFileBytes(dir_ / "mixed.mp3", bytes);
    auto dec = NewDecoder();
    EventLog log(DIID_IKivAudioDecoderEvents);
    EventConnection conn;
    ASSERT_EQ(conn.Connect(dec.get(), DIID_IKivAudioDecoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(OpenDecoder(dec.get(), dir_ / "mixed.mp3"), S_OK);
    const DecodeOutcome whole = DecodeToEnd(dec.get());
    ASSERT_FALSE(whole.error.empty());
    ASSERT_GT(whole.pcm.size(), 44100u * 4 * 5);
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnError); }));

    // Stop short of the end by less than the pipe holds, so that the thread
    // meets the failure while PCM is still waiting for the reader.
    log.events.clear();
    ASSERT_EQ(dec->Seek(0), S_OK);
    std::vector<BYTE> head(whole.pcm.size() - 2000);
    for (std::size_t at = 0; at < head.size();) {
        LONG got = 0;
        ASSERT_EQ(dec->Read(head.data() + at, LONG(std::min<std::size_t>(65536, head.size() - at)), &got), S_OK);
        ASSERT_GT(got, 0);
        at += std::size_t(got);
    }
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnError); })) << "the failure is pending";
    ASSERT_EQ(dec->Seek(0), S_OK);
    const DecodeOutcome again = DecodeToEnd(dec.get());
    EXPECT_EQ(again.pcm.size(), whole.pcm.size());
    EXPECT_TRUE(again.pcm == whole.pcm) << "from the start, as the first time";
    EXPECT_EQ(again.error, whole.error) << "and the failure where it is";

    // Mid-stream: the pipe is full of PCM of the old position.
    ASSERT_EQ(dec->Seek(0), S_OK);
    BYTE first[4];
    LONG got = 0;
    ASSERT_EQ(dec->Read(first, 4, &got), S_OK);
    ASSERT_EQ(dec->Seek(0), S_OK);
    EXPECT_TRUE(DecodeToEnd(dec.get()).pcm == whole.pcm);
}

}  // namespace
}  // namespace kiv::test
