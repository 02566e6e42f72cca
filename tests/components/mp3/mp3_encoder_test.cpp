// KivMP3Encoder through its interface, as a client creates and drives it.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "platform/system/system_error.h"
#include "platform/system/text.h"
#include "tests/components/mp3/mp3_test_support.h"

namespace kiv::test {
namespace {

constexpr char kSource[] = "ZEMOR.MP3Encoder.1";

bool StartsWith(const std::vector<unsigned char>& b, const char* text) {
    const std::size_t n = std::strlen(text);
    return b.size() >= n && std::memcmp(b.data(), text, n) == 0;
}
bool EndsWithId3v1(const std::vector<unsigned char>& b) {
    return b.size() >= 128 && std::memcmp(b.data() + b.size() - 128, "TAG", 3) == 0;
}
bool IsFrameHeader(const unsigned char* p) { return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0; }

class Mp3EncoderTest : public Mp3ComponentTest {
protected:
    void SetUp() override {
        Mp3ComponentTest::SetUp();
        enc_ = NewEncoder();
        ASSERT_TRUE(enc_);
    }
    ComPtr<IKivAudioEncoder> enc_;
};

TEST_F(Mp3EncoderTest, OutputModeSettersCheckTheirRanges) {
    struct Case {
        const char* what;
        std::function<HRESULT(IKivAudioEncoder*)> call;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {"VBR above 1", [](auto* e) { return e->SetOutputFormatVBR(1.0001f); }, "fQuality must be between 0 and 1."},
        {"VBR below 0", [](auto* e) { return e->SetOutputFormatVBR(-0.1f); }, "fQuality must be between 0 and 1."},
        {"VBR not a number", [](auto* e) { return e->SetOutputFormatVBR(std::nanf("")); },
         "fQuality must be between 0 and 1."},
        {"VBR 0", [](auto* e) { return e->SetOutputFormatVBR(0.0f); }, nullptr},
        {"VBR 1", [](auto* e) { return e->SetOutputFormatVBR(1.0f); }, nullptr},
        {"ABR 79999", [](auto* e) { return e->SetOutputFormatABR(79999); },
         "Bitrate must be between 80000 and 320000 in ABR mode."},
        {"ABR 320001", [](auto* e) { return e->SetOutputFormatABR(320001); },
         "Bitrate must be between 80000 and 320000 in ABR mode."},
        {"ABR 80000", [](auto* e) { return e->SetOutputFormatABR(80000); }, nullptr},
        {"ABR 320000", [](auto* e) { return e->SetOutputFormatABR(320000); }, nullptr},
        {"CBR 144000 at 44100", [](auto* e) { return e->SetOutputFormatCBR(144000); },
         "Wrong bitrate specified for this input format."},
        {"CBR 320000 at 44100", [](auto* e) { return e->SetOutputFormatCBR(320000); }, nullptr},
        {"CBR 192000 at 22050",
         [](auto* e) {
             e->SetInputFormat(2, 22050, 16);
             return e->SetOutputFormatCBR(192000);
         },
         "Wrong bitrate specified for this input format."},
        {"CBR 144000 at 22050", [](auto* e) { return e->SetOutputFormatCBR(144000); }, nullptr},
        {"CBR 8000 at 22050", [](auto* e) { return e->SetOutputFormatCBR(8000); }, nullptr},
    };
    for (const Case& c : cases) {
        const HRESULT hr = c.call(enc_.get());
        if (!c.error) {
            EXPECT_EQ(hr, S_OK) << c.what;
            continue;
        }
        EXPECT_EQ(hr, DISP_E_EXCEPTION) << c.what;
        EXPECT_EQ(TakeError(), std::make_pair(std::string(kSource), std::string(c.error))) << c.what;
    }
}

TEST_F(Mp3EncoderTest, RefusalsWithTheirTexts) {
    BYTE b[4] = {};
    EXPECT_EQ(enc_->Write(b, 4), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(std::string(kSource), std::string("Error: cannot write: file is not open.")));
    WAVEFORMATEX floatFormat{3, 2, 44100, 352800, 8, 32, 0};
    EXPECT_EQ(enc_->SetInputFormatWFX(&floatFormat), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Only uncompressed PCM wave format is supported.");
    EXPECT_EQ(enc_->OpenHandle(reinterpret_cast<void*>(std::intptr_t(-1))), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Internal error #4. Null handle passed to OpenHandle method.");
    Bstr name;
    EXPECT_EQ(enc_->get_Filename(name.put()), DISP_E_EXCEPTION) << "nothing is open after a refused handle";
    EXPECT_EQ(TakeError().second, "Error: cannot access property: file is not open.");
    EXPECT_EQ(enc_->Close(), S_OK);
}

TEST_F(Mp3EncoderTest, ExtensionAndOverwriteQuestionUseTheMp3Values) {
    ASSERT_EQ(OpenEncoder(enc_.get(), dir_ / "song"), S_OK);
    Bstr name;
    ASSERT_EQ(enc_->get_Filename(name.put()), S_OK);
    EXPECT_EQ(ToUtf8(name.view()), dir_ / "song.mp3");
    ASSERT_EQ(enc_->Close(), S_OK);
    answers_.Push(IDNO);
    EXPECT_EQ(OpenEncoder(enc_.get(), dir_ / "SONG.MP3"), S_OK) << "a different name, no question";
    enc_->Close();
    EXPECT_EQ(OpenEncoder(enc_.get(), dir_ / "song.mp3"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Cancelled by user.");
    ASSERT_EQ(answers_.asked().size(), 1u);
    EXPECT_EQ(answers_.asked()[0].caption, u"MP3 Encoder Control");
}

// Tags go into the file only when a field is set, and then as both ID3v1
// at the end and ID3v2 in front; any one field is enough.
TEST_F(Mp3EncoderTest, TagsAreWrittenWhenAnyFieldIsSet) {
    using Put = HRESULT (IAudioTag::*)(BSTR);
    const std::pair<const char*, Put> fields[] = {
        {"none", nullptr},
        {"title", &IAudioTag::put_Title},
        {"artist", &IAudioTag::put_Artist},
        {"album", &IAudioTag::put_Album},
        {"year", &IAudioTag::put_Year},
        {"genre", &IAudioTag::put_Genre},
        {"track", &IAudioTag::put_TrackNo},
        {"comment", &IAudioTag::put_Comment},
    };
    const auto pcm = TonePcm(4410, 2, 44100, 16);
    for (const auto& [what, put] : fields) {
        auto enc = NewEncoder();
        if (put) SetTag(enc.get(), put, u"7");
        const std::string path = dir_ / (std::string(what) + ".mp3");
        ASSERT_EQ(EncodeTo(enc.get(), path, pcm), S_OK) << what;
        const auto f = ReadFileBytes(path);
        ASSERT_GT(f.size(), 1024u + 128u) << what;
        EXPECT_EQ(StartsWith(f, "ID3"), put != nullptr) << what;
        EXPECT_EQ(EndsWithId3v1(f), put != nullptr) << what;
        if (!put) {
            EXPECT_TRUE(IsFrameHeader(f.data())) << "audio from the first byte";
        }
    }
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(dir_.path()))
        if (e.path().extension() != ".mp3" && e.path().string().find("registry") == std::string::npos)
            left.push_back(e.path());
    EXPECT_TRUE(left.empty()) << "no temporary file stays behind: " << (left.empty() ? "" : left[0]);
}

// The prepend works through a temporary name beside the file. For a name
// ending in '~' that name must not be the file's own.
TEST_F(Mp3EncoderTest, TemporaryNameOfAFileEndingInTildeIsNotItsOwn) {
    ASSERT_EQ(enc_->put_AddExtension(0), S_OK);
    SetTag(enc_.get(), &IAudioTag::put_Title, u"Backup");
    const std::string path = dir_ / "song.mp3~";
    ASSERT_EQ(EncodeTo(enc_.get(), path, TonePcm(44100, 2, 44100, 16)), S_OK);
    const auto f = ReadFileBytes(path);
    ASSERT_TRUE(StartsWith(f, "ID3"));
    EXPECT_TRUE(EndsWithId3v1(f));
    auto dec = NewDecoder();
    ASSERT_EQ(OpenDecoder(dec.get(), path), S_OK);
    EXPECT_EQ(GetTag(dec.get(), &IAudioTag::get_Title), u"Backup");
    EXPECT_GE(ReadAll(dec.get()).size(), 44100u * 4) << "the audio survived the prepend";
}

// A failed prepend reports its stage and leaves the file with its audio and
// ID3v1 tag: here the temporary name is taken by a folder.
TEST_F(Mp3EncoderTest, FailedId3v2PrependKeepsTheAudio) {
    fs::create_directory(dir_.path() / "song.mp~");
    SetTag(enc_.get(), &IAudioTag::put_Artist, u"Someone");
    const std::string path = dir_ / "song.mp3";
    EXPECT_EQ(EncodeTo(enc_.get(), path, TonePcm(44100, 2, 44100, 16)), DISP_E_EXCEPTION);
    const auto [source, text] = TakeError();
    EXPECT_EQ(source, kSource);
    EXPECT_EQ(text, "Internal error #12. Cannot write id3v2 tag. System error message: " +
                        ToUtf8(SystemErrorText(EISDIR)) + ".");
    const auto f = ReadFileBytes(path);
    EXPECT_FALSE(StartsWith(f, "ID3"));
    EXPECT_TRUE(EndsWithId3v1(f));
    Bstr name;
    EXPECT_EQ(enc_->get_Filename(name.put()), DISP_E_EXCEPTION) << "the file is closed all the same";
    TakeError();
}

// 8-bit input is widened to 16 bits as (b - 128) * 256 before it reaches
// the library: the same samples widened by hand give the same stream.
TEST_F(Mp3EncoderTest, EightBitInputIsWidenedBeforeEncoding) {
    const auto pcm8 = TonePcm(22050, 1, 22050, 8);
    std::vector<unsigned char> pcm16;
    for (unsigned char b : pcm8) {
        const auto s = static_cast<std::int16_t>((int(b) - 128) * 256);
        pcm16.push_back(static_cast<unsigned char>(s & 0xFF));
        pcm16.push_back(static_cast<unsigned char>((s >> 8) & 0xFF));
    }
    auto e8 = NewEncoder(), e16 = NewEncoder();
    ASSERT_EQ(e8->SetInputFormat(1, 22050, 8), S_OK);
    ASSERT_EQ(e16->SetInputFormat(1, 22050, 16), S_OK);
    ASSERT_EQ(EncodeTo(e8.get(), dir_ / "eight.mp3", pcm8), S_OK);
    ASSERT_EQ(EncodeTo(e16.get(), dir_ / "sixteen.mp3", pcm16), S_OK);
    const auto a = ReadFileBytes(dir_ / "eight.mp3"), b = ReadFileBytes(dir_ / "sixteen.mp3");
    ASSERT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b) << "8-bit stream differs from the hand-widened one";
}

// To a caller's descriptor: no VBR header, no tags, and the descriptor
// stays open for the caller.
TEST_F(Mp3EncoderTest, CallersHandleGetsBareAudioAndStaysOpen) {
    const std::string path = dir_ / "handle.mp3";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    SetTag(enc_.get(), &IAudioTag::put_Title, u"Not written");
    ASSERT_EQ(enc_->OpenHandle(reinterpret_cast<void*>(std::intptr_t(fd))), S_OK);
    Bstr name;
    ASSERT_EQ(enc_->get_Filename(name.put()), S_OK);
    EXPECT_EQ(name.view(), u"<Custom Application Handle>");
    auto pcm = TonePcm(44100, 2, 44100, 16);
    ASSERT_EQ(enc_->Write(pcm.data(), LONG(pcm.size())), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    EXPECT_EQ(::write(fd, "END", 3), 3) << "the descriptor is still the caller's and open";
    ::close(fd);
    const auto f = ReadFileBytes(path);
    ASSERT_GT(f.size(), 200u);
    EXPECT_TRUE(IsFrameHeader(f.data()));
    const std::string head(f.begin(), f.begin() + 200);
    EXPECT_EQ(head.find("Xing"), std::string::npos);
    EXPECT_EQ(head.find("Info"), std::string::npos);
    EXPECT_EQ(std::string(f.end() - 3, f.end()), "END") << "nothing (no ID3v1 tag) was appended";
}

// Failures on the encoding thread reach the client as OnError; the next
// Write finds the pipe broken; Close still returns, reports the failed
// flush once, and a second Close finishes without touching the library
// stream again.
TEST_F(Mp3EncoderTest, EncodingThreadFailuresArriveAsOnError) {
    struct Case {
        int bits;
        const char* threadText;
    } cases[] = {
        {16, "Internal error #20. Cannot write. System error message: "},
        {8, "Internal error #18. Cannot write. System error message: "},
    };
    const std::string noSpace = ToUtf8(SystemErrorText(ENOSPC));
    for (const Case& c : cases) {
        auto enc = NewEncoder();
        EventLog log(DIID_IKivAudioEncoderEvents);
        EventConnection conn;
        ASSERT_EQ(conn.Connect(enc.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (full < 0) GTEST_SKIP() << "/dev/full is not available";
        ASSERT_EQ(enc->SetInputFormat(2, 44100, c.bits), S_OK);
        ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(full))), S_OK);
        // The first write always lands in the pipe; the thread fails on the
        // first MP3 bytes it writes and closes its end, which a later write
        // finds.
        auto pcm = TonePcm(44100, 2, 44100, c.bits);
        HRESULT hr = S_OK;
        for (std::size_t at = 0; at + 4096 <= pcm.size() && hr == S_OK; at += 4096) {
            hr = enc->Write(pcm.data() + at, 4096);
            if (at == 0) {
                ASSERT_EQ(hr, S_OK);
            }
        }
        ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnError); })) << c.bits;
        ASSERT_EQ(log.events.size(), 1u);
        EXPECT_EQ(ToUtf8(log.events[0].second), c.threadText + noSpace) << c.bits;
        if (hr == S_OK) hr = enc->Write(pcm.data(), 4096);
        EXPECT_EQ(hr, DISP_E_EXCEPTION);
        EXPECT_EQ(TakeError().second,
                  "Internal error #9. Pipe broken. System error message: " + ToUtf8(SystemErrorText(EPIPE)) + ".");
        EXPECT_EQ(enc->Close(), DISP_E_EXCEPTION);
        EXPECT_EQ(TakeError().second, "Internal error #11. Write error. System error message: " + noSpace + ".");
        EXPECT_EQ(enc->Close(), S_OK) << "the second Close finishes with the stream already given back";
        Bstr name;
        EXPECT_EQ(enc->get_Filename(name.put()), DISP_E_EXCEPTION);
        TakeError();
        EXPECT_EQ(::fcntl(full, F_GETFD), FD_CLOEXEC) << "the caller's descriptor stays open";
        ::close(full);
    }
}

// Whole-file encoding: start, one progress event whenever the truncated
// percent of the data chunk grows (4096-byte blocks), 100, finish.
TEST_F(Mp3EncoderTest, EncodeFromWaveReportsProgressPerBlock) {
    const auto pcm = TonePcm(44100, 2, 44100, 16);
    WriteFileBytes(dir_ / "second.wav", MakeWav(pcm));
    std::vector<std::u16string> expected;
    long last = -1;
    for (std::size_t done = 0; done < pcm.size();) {
        done = std::min(done + 4096, pcm.size());
        const long percent = long(done * 100 / pcm.size());
        if (percent > last) expected.push_back(FromUtf8(std::to_string(percent)));
        last = percent;
    }
    ASSERT_EQ(expected.front(), u"2");
    ASSERT_EQ(expected[1], u"4");

    EventLog log(DIID_IKivAudioEncoderEvents);
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(OpenEncoder(enc_.get(), dir_ / "second.mp3"), S_OK);
    Bstr src(FromUtf8(dir_ / "second.wav"));
    ASSERT_EQ(enc_->EncodeFromWave(src.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnWaveEncodeFinish) || log.Has(DISPID_OnError); }));
    ASSERT_EQ(enc_->Close(), S_OK);

    std::vector<std::u16string> progress;
    ASSERT_GE(log.events.size(), 2u);
    EXPECT_EQ(log.events.front().first, DISPID_OnWaveEncodeStart);
    EXPECT_EQ(log.events.back().first, DISPID_OnWaveEncodeFinish);
    for (std::size_t i = 1; i + 1 < log.events.size(); ++i) {
        EXPECT_EQ(log.events[i].first, DISPID_OnWaveEncodeProgress);
        progress.push_back(log.events[i].second);
    }
    EXPECT_EQ(progress, expected);

    auto dec = NewDecoder();
    ASSERT_EQ(OpenDecoder(dec.get(), dir_ / "second.mp3"), S_OK);
    const auto decoded = ReadAll(dec.get());
    EXPECT_GE(decoded.size(), pcm.size()) << "every block was encoded";
    EXPECT_LT(decoded.size(), pcm.size() + 3 * 1152 * 4) << "and no more than the encoder's delay and padding";

    WriteFileBytes(dir_ / "not.wav", {'n', 'o', 'p', 'e'});
    EventLog bad(DIID_IKivAudioEncoderEvents);
    EventConnection conn2;
    ASSERT_EQ(conn2.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, bad.sink.get()), S_OK);
    conn.Disconnect();
    ASSERT_EQ(OpenEncoder(enc_.get(), dir_ / "other.mp3"), S_OK);
    Bstr notWav(FromUtf8(dir_ / "not.wav"));
    ASSERT_EQ(enc_->EncodeFromWave(notWav.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !bad.events.empty(); }));
    PumpUntil([] { return false; }, 100);
    ASSERT_EQ(bad.events.size(), 1u);
    EXPECT_EQ(bad.events[0], std::make_pair(DISPID(DISPID_OnError), std::u16string(u"Error: unable to open wave file.")));
    ASSERT_EQ(enc_->Close(), S_OK);
}

TEST_F(Mp3EncoderTest, ReleasingAnOpenEncoderLeavesACompleteFile) {
    SetTag(enc_.get(), &IAudioTag::put_Album, u"Left open");
    const std::string path = dir_ / "open.mp3";
    ASSERT_EQ(OpenEncoder(enc_.get(), path), S_OK);
    auto pcm = TonePcm(44100, 2, 44100, 16);
    ASSERT_EQ(enc_->Write(pcm.data(), LONG(pcm.size())), S_OK);
    enc_.reset();
    auto dec = NewDecoder();
    ASSERT_EQ(OpenDecoder(dec.get(), path), S_OK);
    EXPECT_EQ(GetTag(dec.get(), &IAudioTag::get_Album), u"Left open");
    EXPECT_GE(ReadAll(dec.get()).size(), pcm.size());
}

}  // namespace
}  // namespace kiv::test
