#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <thread>

#include "tests/components/wma/wma_test_support.h"

namespace kiv::test {
namespace {

const std::string kSource = "ZEMOR.WmaEncoder.1";

double Rms(const std::vector<unsigned char>& pcm) {
    double sum = 0;
    std::size_t n = pcm.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        auto s = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
        sum += double(s) * s;
    }
    return n ? std::sqrt(sum / double(n)) : 0;
}

class WmaEncoderTest : public WmaTest {
protected:
    void SetUp() override {
        WmaTest::SetUp();
        enc_ = NewEncoder();
        ASSERT_TRUE(enc_);
    }
    // Encodes `pcm` in pieces of 10000 bytes (not a multiple of any frame).
    void Encode(const std::string& path, const std::vector<unsigned char>& pcm) {
        ASSERT_EQ(OpenBy(enc_.get(), path), S_OK);
        for (std::size_t at = 0; at < pcm.size(); at += 10000) {
            LONG n = LONG(std::min<std::size_t>(10000, pcm.size() - at));
            ASSERT_EQ(enc_->Write(const_cast<BYTE*>(pcm.data() + at), n), S_OK);
        }
        ASSERT_EQ(enc_->Close(), S_OK);
    }
    ComPtr<IKivAudioEncoder> enc_;
};

// Our files as the reference tools see them: codec, format, length within
// one codec frame, sound that is still there, and the tags.
TEST_F(WmaEncoderTest, OurFilesPlayInTheReferenceTools) {
    if (!ToolAvailable("ffprobe") || !ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    struct Case {
        const char* name;
        int channels, rate;
        LONG cbr;  // 0: the fresh instance's default (quality 0.5)
        bool tags;
    } cases[] = {
        {"cbr128", 2, 44100, 128000, true},
        {"vbrdefault", 2, 44100, 0, false},
        {"mono22", 1, 22050, 0, true},
        {"mono22cbr", 1, 22050, 32000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        enc_ = NewEncoder();
        ASSERT_EQ(enc_->SetInputFormat(c.channels, c.rate, 16), S_OK);
        if (c.cbr) {
            ASSERT_EQ(enc_->SetOutputFormatCBR(c.cbr), S_OK);
        }
        if (c.tags) {
            ComPtr<IAudioTag> tag;
            ASSERT_EQ(enc_->get_TagData(tag.put()), S_OK);
            SetTag(tag.get(), &IAudioTag::put_Title, u"Ünïcode title");
            SetTag(tag.get(), &IAudioTag::put_Artist, u"An artist");
            SetTag(tag.get(), &IAudioTag::put_Album, u"An album");
            SetTag(tag.get(), &IAudioTag::put_Genre, u"Jazz");
            SetTag(tag.get(), &IAudioTag::put_Year, u"1999");
            SetTag(tag.get(), &IAudioTag::put_TrackNo, u"12");
        }
        const std::size_t frames = std::size_t(c.rate) * 5 / 2;  // 2.5 s
        auto pcm = SinePcm(frames, c.channels, c.rate);
        std::string path = dir_ / (std::string(c.name) + ".wma");
        Encode(path, pcm);

        std::string p = Probe(path, "stream=codec_name,sample_rate,channels:format=duration:format_tags");
        EXPECT_EQ(ProbeValue(p, "codec_name"), "wmav2") << p;
        EXPECT_EQ(ProbeValue(p, "sample_rate"), std::to_string(c.rate));
        EXPECT_EQ(ProbeValue(p, "channels"), std::to_string(c.channels));
        const double frame = 2048.0 / c.rate;
        EXPECT_NEAR(std::atof(ProbeValue(p, "duration").c_str()), 2.5, frame) << p;

        auto decoded = FfmpegDecode(path);
        const double decodedFrames = double(decoded.size()) / (2.0 * c.channels);
        EXPECT_NEAR(decodedFrames, double(frames), 2048.0);
        EXPECT_NEAR(Rms(decoded), Rms(pcm), Rms(pcm) * 0.2) << "the sound survives encoding";
        if (c.tags) {
            EXPECT_EQ(ProbeValue(p, "TAG:title"), "Ünïcode title");
            EXPECT_EQ(ProbeValue(p, "TAG:artist"), "An artist");
            EXPECT_EQ(ProbeValue(p, "TAG:album"), "An album");
            EXPECT_EQ(ProbeValue(p, "TAG:genre"), "Jazz");
            EXPECT_EQ(ProbeValue(p, "TAG:WM/Year"), "1999");
            EXPECT_EQ(ProbeValue(p, "TAG:track"), "12");
        } else {
            EXPECT_EQ(ProbeValue(p, "TAG:title"), "");
        }
    }
}

// Our decoder reads our files back: format, tags, and the level that the
// default quality 0.5 chose (the low byte of the byte rate).
TEST_F(WmaEncoderTest, RoundTripThroughOurDecoder) {
    ComPtr<IAudioTag> tag;
    ASSERT_EQ(enc_->get_TagData(tag.put()), S_OK);
    SetTag(tag.get(), &IAudioTag::put_Title, u"Round");
    SetTag(tag.get(), &IAudioTag::put_Comment, u"trip");
    auto pcm = SinePcm(44100 * 2, 2, 44100);
    Encode(dir_ / "rt.wma", pcm);

    auto dec = NewDecoder();
    ASSERT_EQ(OpenBy(dec.get(), dir_ / "rt.wma"), S_OK);
    WAVEFORMATEX* f = nullptr;
    ASSERT_EQ(dec->get_Format(&f), S_OK);
    EXPECT_EQ(f->nChannels, 2);
    EXPECT_EQ(f->nSamplesPerSec, 44100u);
    LONG bitrate = 0;
    ASSERT_EQ(dec->get_Bitrate(&bitrate), S_OK);
    EXPECT_EQ((bitrate / 8) & 0xFF, 50) << "a fresh encoder uses quality 0.5: level 50";
    ComPtr<IAudioTag> read;
    ASSERT_EQ(dec->get_TagData(read.put()), S_OK);
    EXPECT_EQ(TagText(read.get(), &IAudioTag::get_Title), "Round");
    EXPECT_EQ(TagText(read.get(), &IAudioTag::get_Comment), "trip");
    EXPECT_EQ(TagText(read.get(), &IAudioTag::get_Artist), "");
    auto decoded = ReadAll(dec.get());
    EXPECT_NEAR(double(decoded.size()) / 4, double(pcm.size()) / 4, 2048.0);
}

// Several artists are several "Author" attributes and each picture a
// "WM/Picture" attribute: mutagen reads them so (the picture parsed by its
// own script), and our decoder gives back what went in, byte for byte.
TEST_F(WmaEncoderTest, ArtistsAndPicturesAreRepeatedAttributes) {
    ComPtr<IAudioTag> tag;
    ASSERT_EQ(enc_->get_TagData(tag.put()), S_OK);
    SetTag(tag.get(), &IAudioTag::put_Artist, u"Ann\nBob");
    SetTag(tag.get(), &IAudioTag::put_Title, u"Two");
    ComPtr<IKivTagPictures> pictures;
    ASSERT_EQ(enc_.As(IID_IKivTagPictures, pictures), S_OK);
    // The first larger than a 16-bit length, the second small.
    const TagPicture front = PatternPicture(3, "image/jpeg", u"Fr\u00f6nt", 70000, 7);
    const TagPicture back = PatternPicture(4, "image/png", u"", 300, 11);
    ASSERT_EQ(pictures->AddPicture(&front), S_OK);
    ASSERT_EQ(pictures->AddPicture(&back), S_OK);
    const std::string path = dir_ / "pictures.wma";
    Encode(path, SinePcm(44100, 2, 44100));

    if (MutagenAvailable()) {
        EXPECT_EQ(MutagenView(path), "Author=Ann|Bob\n3 image/jpeg|Fr\xc3\xb6nt 70000\n4 image/png| 300\n");
        EXPECT_TRUE(ReadFileBytes(path + ".picture0") == front.data);
        EXPECT_TRUE(ReadFileBytes(path + ".picture1") == back.data);
    }
    auto dec = NewDecoder();
    ASSERT_EQ(OpenBy(dec.get(), path), S_OK);
    ComPtr<IAudioTag> read;
    ASSERT_EQ(dec->get_TagData(read.put()), S_OK);
    EXPECT_EQ(TagText(read.get(), &IAudioTag::get_Artist), "Ann\nBob");
    EXPECT_EQ(TagText(read.get(), &IAudioTag::get_Title), "Two");
    ComPtr<IKivTagPictures> got;
    ASSERT_EQ(dec.As(IID_IKivTagPictures, got), S_OK);
    LONG count = 0;
    ASSERT_EQ(got->get_PictureCount(&count), S_OK);
    ASSERT_EQ(count, 2);
    TagPicture p;
    ASSERT_EQ(got->GetPicture(0, &p), S_OK);
    EXPECT_TRUE(p == front);
    ASSERT_EQ(got->GetPicture(1, &p), S_OK);
    EXPECT_TRUE(p == back);
}

TEST_F(WmaEncoderTest, AnUnofferedBitrateTakesTheNearestTheInputHas) {
    struct Case {
        LONG asked;
        int channels, rate;
        LONG used;
    } cases[] = {{127700, 2, 44100, 128000}, {320000, 1, 22050, 80000}, {8000, 2, 44100, 24000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        auto enc = NewEncoder();
        ASSERT_EQ(enc->SetInputFormat(c.channels, c.rate, 16), S_OK);
        ASSERT_EQ(enc->SetOutputFormatCBR(c.asked), S_OK) << "the bitrate is taken without a check";
        const std::string path = dir_ / ("x" + std::to_string(c.asked) + ".wma");
        ASSERT_EQ(OpenBy(enc.get(), path), S_OK);
        auto pcm = SinePcm(std::size_t(c.rate) / 10, c.channels, c.rate);
        EXPECT_EQ(enc->Write(pcm.data(), LONG(pcm.size())), S_OK) << "the first write does not fail";
        ASSERT_EQ(enc->Close(), S_OK);
        auto dec = NewDecoder();
        ASSERT_EQ(OpenBy(dec.get(), path), S_OK);
        LONG bitrate = 0;
        ASSERT_EQ(dec->get_Bitrate(&bitrate), S_OK);
        EXPECT_EQ(bitrate, c.used);
    }
}

TEST_F(WmaEncoderTest, RefusalsCarryTheirTexts) {
    WAVEFORMATEX floatFormat{3, 2, 44100, 352800, 8, 32, 0};
    BYTE b[4] = {};
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        const char* text;
    } cases[] = {
        {"ABR", [&] { return enc_->SetOutputFormatABR(128000); }, "WMA does not support Average Bitrate mode."},
        {"VBR above 1", [&] { return enc_->SetOutputFormatVBR(1.5f); }, "fQuality must be between 0 and 1."},
        {"VBR below 0", [&] { return enc_->SetOutputFormatVBR(-0.1f); }, "fQuality must be between 0 and 1."},
        {"VBR NaN", [&] { return enc_->SetOutputFormatVBR(std::nanf("")); }, "fQuality must be between 0 and 1."},
        {"OpenHandle", [&] { return enc_->OpenHandle(reinterpret_cast<void*>(std::intptr_t{1})); },
         "Sorry. OpenHandle method is not implemented. Contact Tolvane support for details."},
        {"Write closed", [&] { return enc_->Write(b, 4); }, "Error: cannot write: file is not open."},
        {"EncodeFromWave closed",
         [&] {
             Bstr n(u"x.wav");
             return enc_->EncodeFromWave(n.get());
         },
         "Error: cannot convert: file is not open."},
        {"float input", [&] { return enc_->SetInputFormatWFX(&floatFormat); },
         "Only uncompressed PCM wave format is supported."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), DISP_E_EXCEPTION) << c.what;
        EXPECT_EQ(TakeError(), std::make_pair(kSource, std::string(c.text))) << c.what;
    }
}

TEST_F(WmaEncoderTest, OpenThenCloseWritesNothingAndNamesTheFile) {
    ASSERT_EQ(OpenBy(enc_.get(), dir_ / "song"), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(enc_->get_Filename(&name), S_OK);
    EXPECT_EQ(ToUtf8(BstrView(name)), dir_ / "song.wma");
    SysFreeString(name);
    ASSERT_EQ(enc_->Close(), S_OK);
    EXPECT_FALSE(fs::exists(dir_ / "song.wma")) << "the writer creates the file only once writing begins";
    EXPECT_EQ(enc_->Close(), S_OK);
}

// A writer on another thread (as the converter's worker is): its first Write
// waits for the creating thread to prepare the stream, so that thread must
// pump; then the file is complete.
TEST_F(WmaEncoderTest, FirstWriteFromAnotherThreadIsPreparedOnTheCreatingThread) {
    ASSERT_EQ(OpenBy(enc_.get(), dir_ / "worker.wma"), S_OK);
    auto pcm = SinePcm(44100, 2, 44100);
    std::atomic<bool> done{false};
    std::atomic<HRESULT> result{E_FAIL};
    IKivAudioEncoder* raw = enc_.get();
    std::thread worker([&] {
        result = raw->Write(pcm.data(), LONG(pcm.size()));
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(result.load(), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    auto dec = NewDecoder();
    ASSERT_EQ(OpenBy(dec.get(), dir_ / "worker.wma"), S_OK);
    EXPECT_NEAR(double(ReadAll(dec.get()).size()) / 4, 44100.0, 2048.0);
}

TEST_F(WmaEncoderTest, EncodeFromWaveHandsTheFirstBlockOverAndReportsProgress) {
    auto pcm = SinePcm(44100 * 3, 2, 44100);  // 529200 bytes: 9 blocks of 65536
    WriteFileBytes(dir_ / "src.wav", MakeWav(pcm));
    EncoderEventLog log;
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(OpenBy(enc_.get(), dir_ / "async.wma"), S_OK);
    Bstr src(FromUtf8(dir_ / "src.wav"));
    ASSERT_EQ(enc_->EncodeFromWave(src.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnWaveEncodeFinish) || log.Has(DISPID_OnError); }));
    ASSERT_EQ(enc_->Close(), S_OK);

    ASSERT_GE(log.events.size(), 3u);
    EXPECT_EQ(log.events.front().first, DISPID_OnWaveEncodeStart);
    EXPECT_EQ(log.events.back().first, DISPID_OnWaveEncodeFinish);
    int last = -1;
    for (std::size_t i = 1; i + 1 < log.events.size(); ++i) {
        ASSERT_EQ(log.events[i].first, DISPID_OnWaveEncodeProgress) << log.events[i].second;
        int percent = std::stoi(log.events[i].second);
        EXPECT_GT(percent, last);
        last = percent;
    }
    // The block handed to the creating thread is not counted.
    EXPECT_EQ(last, int((pcm.size() - 65536) * 100 / pcm.size()));

    auto dec = NewDecoder();
    ASSERT_EQ(OpenBy(dec.get(), dir_ / "async.wma"), S_OK);
    EXPECT_NEAR(double(ReadAll(dec.get()).size()) / 4, 44100.0 * 3, 2048.0) << "every block was encoded";
}

TEST_F(WmaEncoderTest, EncodeFromWaveSyncAndItsFailures) {
    auto pcm = SinePcm(22050, 1, 22050);
    WriteFileBytes(dir_ / "mono.wav", MakeWav(pcm, 1, 22050));
    WriteFileBytes(dir_ / "bad.wav", {'n', 'o', 'p', 'e'});
    ASSERT_EQ(OpenBy(enc_.get(), dir_ / "sync.wma"), S_OK);
    Bstr bad(FromUtf8(dir_ / "bad.wav"));
    EXPECT_EQ(enc_->EncodeFromWaveSync(bad.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Error: unable to open wave file.");
    Bstr src(FromUtf8(dir_ / "mono.wav"));
    ASSERT_EQ(enc_->EncodeFromWaveSync(src.get()), S_OK);
    ASSERT_EQ(enc_->Close(), S_OK);
    auto dec = NewDecoder();
    ASSERT_EQ(OpenBy(dec.get(), dir_ / "sync.wma"), S_OK);
    WAVEFORMATEX* f = nullptr;
    ASSERT_EQ(dec->get_Format(&f), S_OK);
    EXPECT_EQ(f->nChannels, 1);
    EXPECT_EQ(f->nSamplesPerSec, 22050u);
    EXPECT_NEAR(double(ReadAll(dec.get()).size()) / 2, 22050.0, 2048.0);
}

// An output that breaks while the encoding thread writes (a pipe whose
// reader goes away after the header): the thread reports #77, later Writes
// return the writer's failure, and Close does not call the file finished.
TEST_F(WmaEncoderTest, WriterFailureIsReportedAndStopsTheStream) {
    std::string fifo = dir_ / "sink.wma";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);  // the writer's file layer writes without holding it back
    std::thread reader([&] {
        int fd = ::open(fifo.c_str(), O_RDONLY);
        if (fd < 0) return;
        char buf[256];
        [[maybe_unused]] ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
    });
    EncoderEventLog log;
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc_.get(), DIID_IKivAudioEncoderEvents, log.sink.get()), S_OK);
    ASSERT_EQ(enc_->put_OverwritePrompt(0), S_OK);
    ASSERT_EQ(OpenBy(enc_.get(), fifo), S_OK);
    auto pcm = SinePcm(44100, 2, 44100);
    HRESULT hr = S_OK;
    for (int i = 0; i < 200 && hr == S_OK && !log.Has(DISPID_OnError); ++i) {
        hr = enc_->Write(pcm.data(), LONG(pcm.size()));
        PumpPendingMessages();
    }
    ASSERT_TRUE(PumpUntil([&] { return log.Has(DISPID_OnError); }));
    reader.join();
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].second, "Internal error #77. Cannot write sample.");
    const HRESULT later = enc_->Write(pcm.data(), LONG(pcm.size()));
    EXPECT_EQ(later, HRESULT_FROM_WIN32(EPIPE)) << "the writer's own failure, without text";
    EXPECT_TRUE(FAILED(enc_->Close()));
    ::sigaction(SIGPIPE, &old, nullptr);
    // The encoder is usable again afterwards.
    Encode(dir_ / "after.wma", pcm);
    EXPECT_GT(fs::file_size(dir_ / "after.wma"), 1000u);
}

}  // namespace
}  // namespace kiv::test
