#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <set>
#include <thread>

#include "platform/com/connection_point.h"
#include "platform/system/pipe.h"
#include "platform/system/text.h"
#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

struct Stream {
    WAVEFORMATEX format;
    std::vector<unsigned char> pcm;
};

Stream Sine(int channels, int rate, int bits, double seconds, double amplitude = 0.5) {
    const auto frames = std::size_t(std::lround(seconds * rate));
    WAVEFORMATEX f{WAVE_FORMAT_PCM, WORD(channels), DWORD(rate), DWORD(rate * channels * bits / 8),
                   WORD(channels * bits / 8), WORD(bits), 0};
    return {f, SinePcm(frames, channels, rate, bits, amplitude)};
}

// Samples as floats in -1..1, whatever their width.
std::vector<double> Samples(const std::vector<unsigned char>& pcm, int bits) {
    std::vector<double> out;
    if (bits == 8) {
        for (unsigned char b : pcm) out.push_back((b - 128) / 128.0);
    } else {
        for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
            out.push_back(std::int16_t(std::uint16_t(pcm[i] | pcm[i + 1] << 8)) / 32768.0);
    }
    return out;
}

double Rms(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x * x;
    return v.empty() ? 0 : std::sqrt(s / double(v.size()));
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

struct Nominal {
    long nominal, upper, lower;
};
Nominal NominalBitrates(const std::string& path) {
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) return {-1, -1, -1};
    vorbis_info* vi = ov_info(&vf, -1);
    Nominal n{vi->bitrate_nominal, vi->bitrate_upper, vi->bitrate_lower};
    ov_clear(&vf);
    return n;
}

class VorbisEncoderTest : public VorbisTest {
protected:
    HRESULT Open(IKivAudioEncoder* e, const std::string& name) {
        Bstr n(FromUtf8(dir_ / name));
        return e->Open(n.get());
    }
    // Writes `s` in pieces of `piece` bytes (not frame-aligned on purpose).
    static HRESULT WriteAll(IKivAudioEncoder* e, Stream& s, std::size_t piece = 10007) {
        if (HRESULT hr = e->SetInputFormatWFX(&s.format); FAILED(hr)) return hr;
        for (std::size_t at = 0; at < s.pcm.size(); at += piece) {
            const auto n = LONG(std::min(piece, s.pcm.size() - at));
            if (HRESULT hr = e->Write(s.pcm.data() + at, n); FAILED(hr)) return hr;
        }
        return S_OK;
    }
    // Decodes with oggdec; returns the PCM bytes of its WAV output.
    std::vector<unsigned char> OggDec(const std::string& ogg) {
        const std::string wav = ogg + ".dec.wav";
        ToolRun r = RunTool("oggdec -Q -o '" + wav + "' '" + ogg + "'");
        EXPECT_EQ(r.status, 0) << r.output;
        auto bytes = ReadFileBytes(wav);
        long size = WavDataSize(wav);
        if (size < 0 || bytes.size() < std::size_t(size)) return {};
        return {bytes.end() - size, bytes.end()};
    }
};

TEST_F(VorbisEncoderTest, OurFilesDecodeWithOggdecToTheRightLengthAndSignal) {
    if (!HaveTool("oggdec")) GTEST_SKIP() << "oggdec missing";
    struct Case {
        int channels, rate, bits;
        const char* mode;  // "default", "vbr", "abr"
        double value;
        bool closeByRelease;
    } cases[] = {
        {2, 44100, 16, "default", 0, false},
        {1, 22050, 8, "vbr", 0.1, false},
        {2, 48000, 16, "abr", 128000, true},  // a forgotten Close still finishes the file
        {1, 8000, 16, "vbr", 0.0, false},
        {2, 11025, 8, "vbr", 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.rate << " Hz " << c.bits << " bit " << c.mode);
        const std::string name = "t" + std::to_string(c.rate) + "_" + std::to_string(c.bits) + ".ogg";
        Stream s = Sine(c.channels, c.rate, c.bits, 1.3);
        {
            auto enc = NewEncoder();
            if (std::string(c.mode) == "vbr") {
                ASSERT_EQ(enc->SetOutputFormatVBR(float(c.value)), S_OK);
            }
            if (std::string(c.mode) == "abr") {
                ASSERT_EQ(enc->SetOutputFormatABR(LONG(c.value)), S_OK);
            }
            ASSERT_EQ(Open(enc.get(), name), S_OK);
            ASSERT_EQ(WriteAll(enc.get(), s), S_OK);
            if (!c.closeByRelease) {
                ASSERT_EQ(enc->Close(), S_OK);
            }
        }
        auto decoded = OggDec(dir_ / name);
        const std::size_t frames = s.pcm.size() / s.format.nBlockAlign;
        ASSERT_EQ(decoded.size(), frames * std::size_t(c.channels) * 2) << "every frame written comes back";
        auto in = Samples(s.pcm, c.bits), out = Samples(decoded, 16);
        EXPECT_GT(Correlation(in, out), 0.9) << "the signal survives, sample-aligned";
        EXPECT_NEAR(Rms(out) / Rms(in), 1.0, 0.15) << "and at its level";
    }
}

TEST_F(VorbisEncoderTest, TagsBecomeExactlyTheSevenCommentsInUtf8) {
    if (!HaveTool("vorbiscomment")) GTEST_SKIP() << "vorbiscomment missing";
    auto enc = NewEncoder();
    ComPtr<IAudioTag> tag;
    ASSERT_EQ(enc->get_TagData(tag.put()), S_OK);
    const std::u16string title = u"\u00c9t\u00e9 \U0001F3B5";  // accents and an emoji (a surrogate pair)
    struct {
        HRESULT (IAudioTag::*put)(BSTR);
        std::u16string value;
    } fields[] = {
        {&IAudioTag::put_Title, title},        {&IAudioTag::put_Artist, u"Zo\u00eb"},
        {&IAudioTag::put_Album, u"Caf\u00e9"}, {&IAudioTag::put_Year, u"2024"},
        {&IAudioTag::put_Genre, u"Jazz"},      {&IAudioTag::put_TrackNo, u"7"},
        {&IAudioTag::put_Comment, u"ok \U0001F600"},
    };
    for (auto& f : fields) {
        Bstr v(f.value);
        ASSERT_EQ((tag.get()->*f.put)(v.get()), S_OK);
    }
    ASSERT_EQ(Open(enc.get(), "tags.ogg"), S_OK);
    Stream s = Sine(2, 44100, 16, 0.5);
    ASSERT_EQ(WriteAll(enc.get(), s), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    ToolRun r = RunTool("vorbiscomment -l -R '" + (dir_ / "tags.ogg") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output,
              "title=\xc3\x89t\xc3\xa9 \xf0\x9f\x8e\xb5\n"
              "artist=Zo\xc3\xab\n"
              "album=Caf\xc3\xa9\n"
              "genre=Jazz\n"
              "date=2024\n"
              "tracknumber=7\n"
              "comment=ok \xf0\x9f\x98\x80\n");

    // Empty fields write no comment at all; the next file of the same
    // encoder only carries what is set now.
    Bstr none(u"");
    for (auto& f : fields) ASSERT_EQ((tag.get()->*f.put)(none.get()), S_OK);
    Bstr genre(u"Folk");
    ASSERT_EQ(tag->put_Genre(genre.get()), S_OK);
    ASSERT_EQ(Open(enc.get(), "one.ogg"), S_OK);
    ASSERT_EQ(WriteAll(enc.get(), s), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    r = RunTool("vorbiscomment -l -R '" + (dir_ / "one.ogg") + "'");
    EXPECT_EQ(r.output, "genre=Folk\n");
}

TEST_F(VorbisEncoderTest, OutputModesAndTheirRefusals) {
    auto enc = NewEncoder();
    struct Refusal {
        std::function<HRESULT()> call;
        const char* text;
    } refusals[] = {
        {[&] { return enc->SetOutputFormatCBR(128000); }, "OggVorbis doesn't support constant bitrate encoding."},
        {[&] { return enc->SetOutputFormatCBR(0); }, "OggVorbis doesn't support constant bitrate encoding."},
        {[&] { return enc->SetOutputFormatVBR(-0.01f); }, "fQuality must be between 0 and 1."},
        {[&] { return enc->SetOutputFormatVBR(1.01f); }, "fQuality must be between 0 and 1."},
        {[&] { return enc->SetOutputFormatVBR(std::nanf("")); }, "fQuality must be between 0 and 1."},
    };
    ASSERT_EQ(enc->SetOutputFormatABR(96000), S_OK);
    for (auto& r : refusals) {
        EXPECT_EQ(r.call(), DISP_E_EXCEPTION);
        EXPECT_EQ(TakeError(), (std::pair<std::string, std::string>{"ZEMOR.VorbisEncoder.1", r.text}));
    }
    // The refusals left the average-bitrate mode in force.
    ASSERT_EQ(Open(enc.get(), "abr.ogg"), S_OK);
    Stream s = Sine(2, 44100, 16, 0.5);
    ASSERT_EQ(WriteAll(enc.get(), s), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    Nominal n = NominalBitrates(dir_ / "abr.ogg");
    EXPECT_EQ(n.nominal, 96000);
    EXPECT_LE(n.upper, 0) << "no upper limit";
    EXPECT_LE(n.lower, 0) << "no lower limit";

    // ABR 128000 gives a nominal 128 kbit/s stream.
    ASSERT_EQ(enc->SetOutputFormatABR(128000), S_OK);
    ASSERT_EQ(Open(enc.get(), "abr128.ogg"), S_OK);
    ASSERT_EQ(WriteAll(enc.get(), s), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    EXPECT_EQ(NominalBitrates(dir_ / "abr128.ogg").nominal, 128000);
}

TEST_F(VorbisEncoderTest, ABitrateTheLibraryRefusesFailsTheFirstWrite) {
    auto enc = NewEncoder();
    ASSERT_EQ(enc->SetOutputFormatABR(1), S_OK) << "accepted without a check";
    ASSERT_EQ(Open(enc.get(), "bad.ogg"), S_OK);
    BYTE pcm[4096] = {};
    EXPECT_EQ(enc->Write(pcm, sizeof pcm), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), (std::pair<std::string, std::string>{"ZEMOR.VorbisEncoder.1", "Internal Vorbis logic fault"}));
    // The stream was never set up; a good mode now gets a good file.
    ASSERT_EQ(enc->SetOutputFormatVBR(0.4f), S_OK);
    Stream s = Sine(2, 44100, 16, 0.3);
    ASSERT_EQ(WriteAll(enc.get(), s), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    auto dec = NewDecoder();
    Bstr n(FromUtf8(dir_ / "bad.ogg"));
    ASSERT_EQ(dec->Open(n.get()), S_OK);
    EXPECT_EQ(ReadAll(dec.get()).size(), s.pcm.size());
}

TEST_F(VorbisEncoderTest, EveryStreamGetsItsOwnRandomSerialNumber) {
    // Two instances and two files of one instance, all in the same second.
    auto a = NewEncoder(), b = NewEncoder();
    Stream s = Sine(1, 22050, 16, 0.2);
    std::set<std::uint32_t> serials;
    const std::pair<IKivAudioEncoder*, const char*> files[] = {
        {a.get(), "a1.ogg"}, {a.get(), "a2.ogg"}, {b.get(), "b1.ogg"}};
    for (auto [enc, name] : files) {
        ASSERT_EQ(Open(enc, name), S_OK);
        ASSERT_EQ(WriteAll(enc, s), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        std::uint32_t serial = FirstSerial(dir_ / name);
        EXPECT_NE(serial, 0u) << name;
        serials.insert(serial);
    }
    EXPECT_EQ(serials.size(), 3u) << "serial numbers repeat";
}

TEST_F(VorbisEncoderTest, TwoStreamsToOnePipeMakeAValidChainedFile) {
    if (!HaveTool("ogginfo")) GTEST_SKIP() << "ogginfo missing";
    Pipe pipe;
    ASSERT_TRUE(pipe.Create());
    std::vector<unsigned char> received;
    std::thread reader([&] {
        unsigned char buf[4096];
        long n;
        while ((n = ReadFull(pipe.read.get(), buf, sizeof buf)) > 0) received.insert(received.end(), buf, buf + n);
    });
    auto enc = NewEncoder();
    Stream first = Sine(2, 44100, 16, 0.7), second = Sine(2, 44100, 16, 0.4);
    void* handle = reinterpret_cast<void*>(std::intptr_t(pipe.write.get()));
    for (Stream* s : {&first, &second}) {
        ASSERT_EQ(enc->OpenHandle(handle), S_OK);
        ASSERT_EQ(WriteAll(enc.get(), *s), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
        EXPECT_NE(::fcntl(pipe.write.get(), F_GETFD), -1) << "the caller's descriptor stays open";
    }
    pipe.write.reset();
    reader.join();
    WriteFileBytes(dir_ / "chain.ogg", received);
    // Links of one physical stream need distinct serial numbers, or readers
    // take the second link for a continuation of the first.
    ToolRun info = RunTool("ogginfo '" + (dir_ / "chain.ogg") + "'");
    EXPECT_EQ(info.output.find("WARNING"), std::string::npos) << info.output;
    EXPECT_EQ(info.output.find("ERROR"), std::string::npos) << info.output;
    // oggdec writes only the last link of a chain to one WAV, so our own
    // decoder (which reads across links) counts the audio.
    auto dec = NewDecoder();
    Bstr n(FromUtf8(dir_ / "chain.ogg"));
    ASSERT_EQ(dec->Open(n.get()), S_OK);
    EXPECT_EQ(ReadAll(dec.get()).size(), first.pcm.size() + second.pcm.size());
}

TEST_F(VorbisEncoderTest, WriteFailuresOfTheOutput) {
    auto enc = NewEncoder();
    BYTE pcm[8192] = {};
    // A device that refuses every byte: the header pages cannot be written.
    UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full);
    ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(full.get()))), S_OK);
    EXPECT_EQ(enc->Write(pcm, sizeof pcm), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Failed to write header.");
    EXPECT_EQ(enc->Close(), S_OK);

    // The reader goes away while the thread encodes: the thread ends without
    // a word, the next Write finds the pipe broken and tells the thread's
    // reason, and Close (which does not hang) says the file is incomplete.
    Pipe pipe;
    ASSERT_TRUE(pipe.Create());
    ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(pipe.write.get()))), S_OK);
    ASSERT_EQ(enc->Write(pcm, sizeof pcm), S_OK) << "the header fits in the pipe";
    pipe.read.reset();
    Stream s = Sine(2, 44100, 16, 1.0);
    HRESULT hr = S_OK;
    for (int i = 0; i < 200 && SUCCEEDED(hr); ++i) hr = enc->Write(s.pcm.data(), LONG(s.pcm.size()));
    ASSERT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Write error. System error message: Broken pipe.");
    EXPECT_EQ(enc->Close(), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Write error. System error message: Broken pipe.");
}

TEST_F(VorbisEncoderTest, EncodeFromWaveFiresItsEventsAndMakesTheWholeFile) {
    Stream s = Sine(2, 44100, 16, 1.0);
    WriteFileBytes(dir_ / "src.wav", MakeWav(s.pcm));
    auto enc = NewEncoder();
    std::vector<std::string> events;
    auto sink = DispatchSink::Create(DIID_IKivAudioEncoderEvents, [&](DISPID id, DISPPARAMS& p) {
        if (id == DISPID_OnWaveEncodeStart) events.push_back("start");
        if (id == DISPID_OnWaveEncodeFinish) events.push_back("finish");
        if (id == DISPID_OnError) events.push_back("error " + ToUtf8(EventArgText(p, 0)));
    });
    EventConnection conn;
    ASSERT_EQ(conn.Connect(enc.get(), DIID_IKivAudioEncoderEvents, sink.get()), S_OK);
    ASSERT_EQ(Open(enc.get(), "whole.ogg"), S_OK);
    Bstr src(FromUtf8(dir_ / "src.wav"));
    ASSERT_EQ(enc->EncodeFromWave(src.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !events.empty() && events.back() != "start"; }));
    EXPECT_EQ(events, (std::vector<std::string>{"start", "finish"}));
    ASSERT_EQ(enc->Close(), S_OK);

    ASSERT_EQ(Open(enc.get(), "sync.ogg"), S_OK);
    ASSERT_EQ(enc->EncodeFromWaveSync(src.get()), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    for (const char* name : {"whole.ogg", "sync.ogg"}) {
        auto dec = NewDecoder();
        Bstr n(FromUtf8(dir_ / name));
        ASSERT_EQ(dec->Open(n.get()), S_OK) << name;
        EXPECT_EQ(ReadAll(dec.get()).size(), s.pcm.size()) << name;
    }
}

}  // namespace
}  // namespace kiv::test
