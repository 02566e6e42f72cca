#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

void Append(std::vector<unsigned char>& v, const char* id, const std::vector<unsigned char>& body) {
    v.insert(v.end(), id, id + 4);
    std::uint32_t n = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(n >> (8 * i)));
    v.insert(v.end(), body.begin(), body.end());
    if (n & 1) v.push_back(0);
}

std::vector<unsigned char> FormatChunk(WORD tag, WORD ch, DWORD rate, DWORD avg, WORD align, WORD bits,
                                       WORD cb = 0, std::size_t size = 16) {
    WAVEFORMATEX f{tag, ch, rate, avg, align, bits, cb};
    // Sized first and cut after: growing an 18-byte vector trips a false
    // -Warray-bounds of GCC 12 at -O3.
    std::vector<unsigned char> v(std::max<std::size_t>(size, 18), 0);
    std::memcpy(v.data(), &f, 18);
    v.resize(size);
    return v;
}

// A RIFF/WAVE file from chunks in the given order.
std::vector<unsigned char> Riff(const std::vector<std::pair<const char*, std::vector<unsigned char>>>& chunks,
                                long riffSizeAdjust = 0) {
    std::vector<unsigned char> body{'W', 'A', 'V', 'E'};
    for (auto& [id, data] : chunks) Append(body, id, data);
    std::vector<unsigned char> v{'R', 'I', 'F', 'F'};
    std::uint32_t n = static_cast<std::uint32_t>(long(body.size()) + riffSizeAdjust);
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(n >> (8 * i)));
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

class WaveDecoderTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        dec_ = Create<IKivAudioDecoder>(kClassWaveDecoder.clsid, IID_IKivAudioDecoder);
        ASSERT_TRUE(dec_);
    }
    HRESULT OpenBytes(const std::vector<unsigned char>& bytes, const std::string& name = "in.wav") {
        WriteFileBytes(dir_ / name, bytes);
        Bstr n(FromUtf8(dir_ / name));
        return dec_->Open(n.get());
    }
    std::vector<unsigned char> ReadAll(LONG chunk = 4096) {
        std::vector<unsigned char> out;
        std::vector<BYTE> buf(static_cast<std::size_t>(chunk));
        for (;;) {
            LONG n = -2;
            EXPECT_EQ(dec_->Read(buf.data(), chunk, &n), S_OK);
            if (n <= 0) break;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        }
        return out;
    }
    ComPtr<IKivAudioDecoder> dec_;
};

const auto kCd = FormatChunk(1, 2, 44100, 176400, 4, 16);

TEST_F(WaveDecoderTest, MalformedFilesAreRefusedWithEFail) {
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {"header only, no data", Riff({{"fmt ", kCd}, {"data", {}}})},
        {"no format chunk", Riff({{"data", {1, 2, 3, 4}}})},
        {"no data chunk", Riff({{"fmt ", kCd}})},
        {"short format chunk", Riff({{"fmt ", std::vector<unsigned char>(kCd.begin(), kCd.begin() + 8)}})},
        {"chunk past the RIFF end", Riff({{"fmt ", kCd}, {"data", {1, 2, 3, 4}}}, -2)},
        {"byte rate 0", Riff({{"fmt ", FormatChunk(1, 2, 44100, 0, 4, 16)}, {"data", {1, 2, 3, 4}}})},
        {"not RIFF", {'M', 'T', 'h', 'd', 0, 0, 0, 6}},
        {"empty file", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpenBytes(c.bytes), E_FAIL) << c.what;
        LONG v;
        EXPECT_EQ(dec_->get_Duration(&v), DISP_E_EXCEPTION) << c.what << ": nothing stays open";
        TakeError();
    }
    Bstr missing(FromUtf8(dir_ / "missing.wav"));
    EXPECT_EQ(dec_->Open(missing.get()), E_FAIL);
}

// Found by fuzzing: 21 bytes whose format chunk claims 3 GB made the
// decoder allocate (and clear) that much before finding the file short.
// The child gets little more address space than it already has (not under
// AddressSanitizer, which reserves its shadow memory up front).
TEST_F(WaveDecoderTest, HugeFormatChunkSizeIsRefusedWithoutAllocatingIt) {
    const std::vector<unsigned char> bytes{'R', 'I', 'F', 'F', 0x33, 0xFF, 0xFF, 0xFE, 'W', 'A', 'V',
                                           'E', 'f', 'm', 't', ' ', 0x10, 0xB1, 0xF4, 0xB6, 0xF4};
    auto openWithLittleMemory = [&] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
#if !defined(__SANITIZE_ADDRESS__)
        const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
        const rlimit cap{limit, limit};
        ::setrlimit(RLIMIT_AS, &cap);
#endif
        std::_Exit(OpenBytes(bytes) == E_FAIL ? 0 : 1);
    };
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(openWithLittleMemory(), ::testing::ExitedWithCode(0), "");
}

TEST_F(WaveDecoderTest, ReadDeliversTheDataChunkOnlyWhateverItsPlace) {
    auto data = PatternBytes(10001);
    // "fmt " after "data", and a LIST chunk after the data: the samples are
    // the data chunk and nothing else.
    auto bytes = Riff({{"data", data}, {"fmt ", kCd}, {"LIST", {'I', 'N', 'F', 'O', 'a', 'b'}}});
    ASSERT_EQ(OpenBytes(bytes), S_OK);
    EXPECT_EQ(ReadAll(333), data);
    ASSERT_EQ(dec_->Seek(0), S_OK);
    EXPECT_EQ(ReadAll(65536), data);
}

TEST_F(WaveDecoderTest, PositionDurationSeekAndBitrate) {
    struct Case {
        std::size_t bytes;
        LONG duration;
    } cases[] = {{176399, 0}, {176400, 1}, {176400 * 3 + 5, 3}};
    for (const Case& c : cases) {
        ASSERT_EQ(OpenBytes(MakeWav(PatternBytes(c.bytes))), S_OK);
        LONG d = -1;
        ASSERT_EQ(dec_->get_Duration(&d), S_OK);
        EXPECT_EQ(d, c.duration) << c.bytes;
    }
    auto data = PatternBytes(176400 * 3);
    ASSERT_EQ(OpenBytes(MakeWav(data)), S_OK);
    LONG v = -1;
    ASSERT_EQ(dec_->get_Bitrate(&v), S_OK);
    EXPECT_EQ(v, 1411200);
    ASSERT_EQ(dec_->Seek(2), S_OK);
    ASSERT_EQ(dec_->get_Position(&v), S_OK);
    EXPECT_EQ(v, 2);
    BYTE b[8];
    LONG n = 0;
    ASSERT_EQ(dec_->Read(b, 8, &n), S_OK);
    ASSERT_EQ(n, 8);
    EXPECT_EQ(std::memcmp(b, data.data() + 352800, 8), 0);
    ASSERT_EQ(dec_->put_Position(1), S_OK);
    ASSERT_EQ(dec_->get_Position(&v), S_OK);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(dec_->Seek(99), S_OK) << "past the end is allowed";
    ASSERT_EQ(dec_->Read(b, 8, &n), S_OK);
    EXPECT_EQ(n, 0);
}

TEST_F(WaveDecoderTest, FormatIsTheDecodersOwnCopyWithCbSizeZeroForPcm) {
    ASSERT_EQ(OpenBytes(Riff({{"fmt ", FormatChunk(1, 1, 8000, 8000, 1, 8, 77, 18)}, {"data", {1, 2}}})), S_OK);
    WAVEFORMATEX* f = nullptr;
    ASSERT_EQ(dec_->get_Format(&f), S_OK);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->nChannels, 1);
    EXPECT_EQ(f->nSamplesPerSec, 8000u);
    EXPECT_EQ(f->cbSize, 0) << "PCM reads cbSize 0 whatever the file held";
    ASSERT_EQ(OpenBytes(Riff({{"fmt ", FormatChunk(85, 2, 44100, 16000, 1, 0, 12, 30)}, {"data", {1, 2}}})), S_OK);
    ASSERT_EQ(dec_->get_Format(&f), S_OK);
    EXPECT_EQ(f->wFormatTag, 85) << "any format tag opens; its bytes are delivered raw";
    EXPECT_EQ(f->cbSize, 12);
}

// Files of every common kind as sox and ffmpeg write them, to a file and to
// a pipe (where they cannot go back to fill in the sizes): the samples read
// are exactly what the same tool writes as raw data.
TEST_F(WaveDecoderTest, TakesTheCommonKindsAsSoxAndFfmpegWriteThem) {
    const std::string sox = "sox -D -n ", ff = "ffmpeg -v error -nostdin -y -f lavfi -i ";
    struct Case {
        const char* what;
        std::string wav;  // a command writing the file to stdout
        std::string raw;  // the same samples, headerless, to stdout
        WORD channels, bits;
        bool isFloat;
    } cases[] = {
        {"sox 24-bit stereo, piped", sox + "-b 24 -c 2 -r 44100 -t wav - synth 0.3 sine 440",
         sox + "-b 24 -c 2 -r 44100 -t raw - synth 0.3 sine 440", 2, 24, false},
        {"sox 32-bit integer mono, piped", sox + "-b 32 -e signed -c 1 -r 48000 -t wav - synth 0.3 sine 440",
         sox + "-b 32 -e signed -c 1 -r 48000 -t raw - synth 0.3 sine 440", 1, 32, false},
        {"sox 32-bit float stereo, piped", sox + "-b 32 -e floating-point -c 2 -r 44100 -t wav - synth 0.3 sine 440",
         sox + "-b 32 -e floating-point -c 2 -r 44100 -t raw - synth 0.3 sine 440", 2, 32, true},
        {"sox 16-bit 4 channels, piped", sox + "-b 16 -c 4 -r 22050 -t wav - synth 0.3 sine 440",
         sox + "-b 16 -c 4 -r 22050 -t raw - synth 0.3 sine 440", 4, 16, false},
        {"ffmpeg 5.1 16-bit, piped", ff + "sine=d=0.3 -ac 6 -f wav -", ff + "sine=d=0.3 -ac 6 -f s16le -", 6, 16, false},
        {"ffmpeg 24-bit stereo, piped", ff + "sine=d=0.3 -ac 2 -c:a pcm_s24le -f wav -",
         ff + "sine=d=0.3 -ac 2 -f s24le -", 2, 24, false},
        {"ffmpeg float 7.1, piped", ff + "sine=d=0.3 -ac 8 -c:a pcm_f32le -f wav -",
         ff + "sine=d=0.3 -ac 8 -f f32le -", 8, 32, true},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(RunCommand(c.wav + " > '" + (dir_ / "in.wav") + "' 2>/dev/null").status, 0) << c.what;
        ASSERT_EQ(RunCommand(c.raw + " > '" + (dir_ / "in.raw") + "' 2>/dev/null").status, 0) << c.what;
        const auto raw = ReadFileBytes(dir_ / "in.raw");
        ASSERT_FALSE(raw.empty()) << c.what;
        Bstr name(FromUtf8(dir_ / "in.wav"));
        ASSERT_EQ(dec_->Open(name.get()), S_OK) << c.what;
        WAVEFORMATEX* f = nullptr;
        ASSERT_EQ(dec_->get_Format(&f), S_OK);
        EXPECT_EQ(f->nChannels, c.channels) << c.what;
        EXPECT_EQ(f->wBitsPerSample, c.bits) << c.what;
        if (f->wFormatTag == 0xFFFE) {
            ASSERT_GE(f->cbSize, 22) << c.what;
            WAVEFORMATEXTENSIBLE ext;
            std::memcpy(&ext, f, sizeof ext);
            EXPECT_EQ(ext.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, c.isFloat) << c.what;
        } else {
            EXPECT_EQ(f->wFormatTag, c.isFloat ? 3 : 1) << c.what;
        }
        EXPECT_EQ(ReadAll(65536), raw) << c.what << ": the data runs to the end of the file";
        LONG d = -1;
        ASSERT_EQ(dec_->get_Duration(&d), S_OK);
        EXPECT_EQ(d, 0) << c.what << ": the duration comes from the samples present, not the size promised";
    }
}

// Sizes are checked against what the file holds before anything is sized
// from them; the samples of a file cut short are those it still has.
TEST_F(WaveDecoderTest, SizesPromisingMoreThanTheFileHolds) {
    auto data = PatternBytes(4000);
    auto streamed = [&](std::uint32_t riffSize, std::uint32_t dataSize) {
        auto v = MakeWav(data);
        std::memcpy(v.data() + 4, &riffSize, 4);
        std::memcpy(v.data() + 40, &dataSize, 4);
        return v;
    };
    auto hugeFormat = Riff({{"fmt ", kCd}, {"data", data}});
    const std::uint32_t twoGb = 0x80000000u, all = 0xFFFFFFFFu;
    std::memcpy(hugeFormat.data() + 4, &all, 4);
    std::memcpy(hugeFormat.data() + 16, &twoGb, 4);
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        HRESULT hr;
        std::size_t samples;  // bytes read back, from the start of `data`
    } cases[] = {
        {"RIFF and data sizes 0xFFFFFFFF", streamed(all, all), S_OK, data.size()},
        {"sizes a little beyond the file", streamed(0x7FFFF044, 0x7FFFEFFC), S_OK, data.size()},
        {"RIFF size 0xFFFFFFFF, true data size", streamed(all, 4000), S_OK, data.size()},
        {"cut off inside the last frame", [&] {
             auto v = MakeWav(data);
             v.pop_back();
             return v;
         }(), S_OK, data.size() - 1},
        {"a format chunk claiming 2 GB", hugeFormat, E_FAIL, 0},
        {"a format chunk larger than any format record",
         Riff({{"fmt ", FormatChunk(1, 2, 44100, 176400, 4, 16, 0, 70000)}, {"data", data}}), E_FAIL, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(OpenBytes(c.bytes), c.hr) << c.what;
        if (FAILED(c.hr)) continue;
        EXPECT_EQ(ReadAll(1000), std::vector<unsigned char>(data.begin(), data.begin() + long(c.samples))) << c.what;
    }
}

TEST_F(WaveDecoderTest, RefusalsWhenNothingIsOpen) {
    LONG v;
    WAVEFORMATEX* f;
    BSTR s;
    BYTE b[4];
    struct Case {
        const char* member;
        HRESULT hr;
        const char* text;
    } cases[] = {
        {"Position", dec_->get_Position(&v), "Error accessing property: file is not open."},
        {"Format", dec_->get_Format(&f), "Error accessing property: file is not open."},
        {"Bitrate", dec_->get_Bitrate(&v), "Error accessing property: file is not open."},
        {"Duration", dec_->get_Duration(&v), "Error accessing property: file is not open."},
        {"Filename", dec_->get_Filename(&s), "Error accessing property: file is not open."},
        {"Seek", dec_->Seek(1), "Seek error: file is not open."},
        {"Position put", dec_->put_Position(1), "Seek error: file is not open."},
        {"Read", dec_->Read(b, 4, &v), "Read error: file is not open."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.hr, DISP_E_EXCEPTION) << c.member;
        // Each error replaced the one before; check the text of the kind.
    }
    EXPECT_EQ(dec_->Read(b, 4, &v), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError(), std::make_pair(std::string("ZEMOR.WaveDecoder.1"), std::string("Read error: file is not open.")));
    EXPECT_EQ(dec_->get_Duration(&v), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, cases[3].text);
    EXPECT_EQ(dec_->put_Position(3), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, cases[6].text);
    EXPECT_EQ(dec_->get_Duration(nullptr), E_POINTER) << "the pointer is checked before the open state";
    EXPECT_EQ(dec_->Read(nullptr, 4, &v), E_POINTER);
    EXPECT_EQ(dec_->Read(b, 4, nullptr), E_POINTER);
    EXPECT_EQ(dec_->Close(), S_OK);
}

TEST_F(WaveDecoderTest, OpenHandleIsNotOfferedAndLeavesTheFileOpen) {
    ASSERT_EQ(OpenBytes(MakeWav(PatternBytes(100))), S_OK);
    EXPECT_EQ(dec_->OpenHandle(reinterpret_cast<void*>(3)), E_NOTIMPL);
    Bstr name;
    ASSERT_EQ(dec_->get_Filename(name.put()), S_OK);
    EXPECT_EQ(ToUtf8(name.view()), dir_ / "in.wav");
    BYTE b[4];
    LONG n;
    EXPECT_EQ(dec_->Read(b, -1, &n), E_INVALIDARG);
}

}  // namespace
}  // namespace kiv::test
