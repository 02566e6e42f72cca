// KivFlacEncoder and KivFlacDecoder against libFLAC's own tools.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <thread>

#include "platform/system/pipe.h"
#include "platform/system/text.h"
#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

class FlacTest : public ComponentTest {
protected:
    void SetUp() override {
        ComponentTest::SetUp();
        UseTemporaryRegistry(dir_, {"kivflac"});
        if (!HaveTool("flac") || !HaveTool("metaflac")) GTEST_SKIP() << "flac missing";
    }
    ComPtr<IKivAudioEncoder> NewEncoder() {
        return Create<IKivAudioEncoder>(kClassFlacEncoder.clsid, IID_IKivAudioEncoder);
    }
    ComPtr<IKivAudioDecoder> NewDecoder() {
        return Create<IKivAudioDecoder>(kClassFlacDecoder.clsid, IID_IKivAudioDecoder);
    }
    // Encodes `pcm` in uneven pieces, as a caller's buffers come.
    void Encode(const std::string& path, const std::vector<unsigned char>& pcm, int channels, int rate, int bits) {
        auto enc = NewEncoder();
        enc->put_OverwritePrompt(0);
        ASSERT_EQ(enc->SetInputFormat(channels, rate, bits), S_OK);
        ASSERT_EQ(enc->Open(Bstr(FromUtf8(path)).get()), S_OK);
        std::size_t at = 0, step = 1000;
        while (at < pcm.size()) {
            const std::size_t n = std::min(step, pcm.size() - at);
            ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data() + at), LONG(n)), S_OK);
            at += n;
            step = step * 3 % 70001 + 1;
        }
        ASSERT_EQ(enc->Close(), S_OK);
    }
    // Opens `path` and reads it whole; the format through `format`.
    std::vector<unsigned char> Decode(const std::string& path, WAVEFORMATEX* format = nullptr, LONG* seconds = nullptr) {
        auto dec = NewDecoder();
        EXPECT_EQ(dec->Open(Bstr(FromUtf8(path)).get()), S_OK);
        WAVEFORMATEX* f = nullptr;
        EXPECT_EQ(dec->get_Format(&f), S_OK);
        if (format && f) *format = *f;
        if (seconds) {
            EXPECT_EQ(dec->get_Duration(seconds), S_OK);
        }
        return DecodeToEnd(dec.get()).pcm;
    }
    std::string Run(const std::string& command) {
        const ToolRun r = RunTool(command);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
        return r.output;
    }
};

// The bytes of a WAV file's data chunk as the reference tools write it.
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

TEST_F(FlacTest, WavToFlacAndBackIsByteIdenticalAndCarriesTheSignature) {
    struct Case {
        int bits, channels, rate;
    } cases[] = {{8, 1, 8000}, {8, 2, 22050}, {16, 1, 11025}, {16, 2, 44100}, {16, 2, 48000}, {16, 1, 32000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits " + std::to_string(c.channels) + " ch " + std::to_string(c.rate));
        const std::size_t frames = std::size_t(c.rate) * 2 + 777;
        auto pcm = SinePcm(frames, c.channels, c.rate, c.bits, 0.9);
        // Full-scale samples at both ends, where a wrong sign or offset shows.
        if (c.bits == 8) pcm[0] = 0, pcm[1] = 255;
        else pcm[0] = 0x00, pcm[1] = 0x80, pcm[2] = 0xFF, pcm[3] = 0x7F;
        const std::string file = dir_ / "out.flac";
        ASSERT_NO_FATAL_FAILURE(Encode(file, pcm, c.channels, c.rate, c.bits));

        Run("flac -s -t '" + file + "'");
        EXPECT_NE(Run("metaflac --show-md5sum '" + file + "'"), "00000000000000000000000000000000\n");
        EXPECT_EQ(Run("metaflac --show-total-samples '" + file + "'"), std::to_string(frames) + "\n");
        EXPECT_EQ(Run("metaflac --show-bps '" + file + "'"), std::to_string(c.bits) + "\n");

        WAVEFORMATEX f{};
        LONG seconds = -1;
        EXPECT_EQ(Decode(file, &f, &seconds), pcm);
        EXPECT_EQ(f.wBitsPerSample, c.bits);
        EXPECT_EQ(f.nChannels, c.channels);
        EXPECT_EQ(LONG(f.nSamplesPerSec), c.rate);
        EXPECT_EQ(seconds, 2);
        // The reference decoder agrees with the source too.
        Run("flac -s -f -d -o '" + (dir_ / "ref.wav") + "' '" + file + "'");
        EXPECT_EQ(DataOf(dir_ / "ref.wav"), pcm);
    }
}

// 24- and 32-bit samples keep every bit, the extremes included, at any
// rate the stream header can carry; rates the frame headers cannot name
// (700000 Hz) leave the streamable subset and still pass the reference.
TEST_F(FlacTest, DeepSamplesKeepEveryBitAtEveryRateFlacCarries) {
    struct Case {
        int bits, channels, rate;
    } cases[] = {{24, 2, 96000}, {24, 6, 44100}, {32, 1, 44100}, {32, 2, 192000}, {24, 1, 700000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits " + std::to_string(c.channels) + " ch " + std::to_string(c.rate));
        const std::size_t sampleBytes = std::size_t(c.bits / 8), frames = 20000;
        auto pcm = PatternBytes(frames * std::size_t(c.channels) * sampleBytes, unsigned(c.bits + c.channels));
        // The most negative and the most positive sample, then -1.
        std::fill(pcm.begin(), pcm.begin() + long(sampleBytes), 0x00);
        pcm[sampleBytes - 1] = 0x80;
        std::fill(pcm.begin() + long(sampleBytes), pcm.begin() + long(3 * sampleBytes), 0xFF);
        pcm[2 * sampleBytes - 1] = 0x7F;
        const std::string file = dir_ / "deep.flac";
        ASSERT_NO_FATAL_FAILURE(Encode(file, pcm, c.channels, c.rate, c.bits));

        Run("flac -s -t '" + file + "'");
        EXPECT_EQ(Run("metaflac --show-bps --show-sample-rate '" + file + "'"),
                  std::to_string(c.bits) + "\n" + std::to_string(c.rate) + "\n");
        Run("flac -s -f -d -o '" + (dir_ / "ref.wav") + "' '" + file + "'");
        EXPECT_TRUE(DataOf(dir_ / "ref.wav") == pcm);
        WAVEFORMATEX f{};
        EXPECT_TRUE(Decode(file, &f) == pcm);
        EXPECT_EQ(f.wBitsPerSample, c.bits);
        EXPECT_EQ(LONG(f.nSamplesPerSec), c.rate);
    }
}

// Depths and rates beyond what the format carries are refused with texts
// that name what it does carry, and so are frames it would misread.
TEST_F(FlacTest, InputsFlacCannotCarryAreRefusedWithTheReason) {
    auto enc = NewEncoder();
    ASSERT_EQ(enc->SetInputFormat(2, 96000, 24), S_OK);
    struct Case {
        LONG rate, bits;
        const char* text;
    } cases[] = {
        {44100, 20, "Input must have 8, 16, 24 or 32 bits per sample."},
        {44100, 64, "Input must have 8, 16, 24 or 32 bits per sample."},
        {1048576, 24, "Wrong input sample rate. Possible values are: 1 to 1048575 Hz."},
        {0, 16, "Wrong input sample rate. Possible values are: 1 to 1048575 Hz."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(enc->SetInputFormat(2, c.rate, c.bits), DISP_E_EXCEPTION) << c.rate << " " << c.bits;
        EXPECT_EQ(TakeError().second, c.text);
    }
    // Float is no integer PCM, whatever its depth.
    WAVEFORMATEX floatRecord{3, 2, 96000, 96000 * 8, 8, 32, 0};
    EXPECT_EQ(enc->SetInputFormatWFX(&floatRecord), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Only uncompressed PCM wave format is supported.");
    EXPECT_EQ(enc->SetInputFormat(1, 1048575, 32), S_OK);
    EXPECT_EQ(enc->SetInputFormat(8, 1, 8), S_OK);

    // 24 bits in 4-byte frames under the plain tag would be read as other
    // samples: the first Write refuses them.
    WAVEFORMATEX padded{WAVE_FORMAT_PCM, 2, 44100, 44100 * 8, 8, 24, 0};
    ASSERT_EQ(enc->SetInputFormatWFX(&padded), S_OK);
    enc->put_OverwritePrompt(0);
    ASSERT_EQ(enc->Open(Bstr(FromUtf8(dir_ / "padded.flac")).get()), S_OK);
    auto pcm = PatternBytes(8000);
    EXPECT_EQ(enc->Write(pcm.data(), LONG(pcm.size())), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second,
              "FLAC encoder set-up failed: the input's block alignment does not match its channels and sample size.");
    enc->Close();
}

// Files of the reference encoders, 24-bit among them, decode to what the
// reference decoder gives: 24-bit samples stay 24-bit, none wrapped.
TEST_F(FlacTest, ReferenceMadeFilesDecodeLikeTheReferenceDecoder) {
    if (!HaveTool("sox") || !HaveTool("ffmpeg")) GTEST_SKIP() << "sox or ffmpeg missing";
    Run("sox -n -r 44100 -b 24 -c 2 '" + (dir_ / "s24.wav") + "' synth 1.5 sine 440 sine 1000 gain -0.1");
    Run("sox -n -r 48000 -b 16 -c 1 '" + (dir_ / "s16.wav") + "' synth 1.5 pinknoise");
    Run("flac -s -8 -o '" + (dir_ / "flac24.flac") + "' '" + (dir_ / "s24.wav") + "'");
    Run("flac -s -0 -o '" + (dir_ / "flac16.flac") + "' '" + (dir_ / "s16.wav") + "'");
    Run("ffmpeg -v error -i '" + (dir_ / "s24.wav") + "' -c:a flac -sample_fmt s32 '" + (dir_ / "ff24.flac") + "'");
    Run("ffmpeg -v error -i '" + (dir_ / "s16.wav") + "' -c:a flac '" + (dir_ / "ff16.flac") + "'");
    for (const char* name : {"flac24.flac", "flac16.flac", "ff24.flac", "ff16.flac"}) {
        SCOPED_TRACE(name);
        Run("flac -s -f -d -o '" + (dir_ / "ref.wav") + "' '" + (dir_ / name) + "'");
        const auto reference = DataOf(dir_ / "ref.wav");
        ASSERT_FALSE(reference.empty());
        WAVEFORMATEX f{};
        const auto ours = Decode(dir_ / name, &f);
        EXPECT_EQ(f.wBitsPerSample, std::string(name).find("24") != std::string::npos ? 24 : 16);
        EXPECT_TRUE(ours == reference) << ours.size() << " bytes against " << reference.size();
    }
}

TEST_F(FlacTest, SeekGoesToTheSampleOfThatSecond) {
    const int rate = 44100;
    const auto pcm = SinePcm(std::size_t(rate) * 3 + 5, 2, rate, 16);
    ASSERT_NO_FATAL_FAILURE(Encode(dir_ / "s.flac", pcm, 2, rate, 16));
    auto dec = NewDecoder();
    ASSERT_EQ(dec->Open(Bstr(FromUtf8(dir_ / "s.flac")).get()), S_OK);
    std::vector<unsigned char> head(10000);
    LONG n = 0;
    ASSERT_EQ(dec->Read(head.data(), LONG(head.size()), &n), S_OK);
    ASSERT_EQ(dec->Seek(2), S_OK);
    LONG position = -1;
    EXPECT_EQ(dec->get_Position(&position), S_OK);
    EXPECT_EQ(position, 2);
    const auto rest = DecodeToEnd(dec.get()).pcm;
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), pcm.begin() + 2 * rate * 4, pcm.end()));
    EXPECT_EQ(rest.size(), pcm.size() - 2 * rate * 4u);
    EXPECT_EQ(dec->Seek(3), S_OK);  // the last whole second: nothing after it but 5 frames
    EXPECT_EQ(DecodeToEnd(dec.get()).pcm.size(), 5 * 4u);
}

TEST_F(FlacTest, BitrateModesAreRefusedAndQualityChecked) {
    auto enc = NewEncoder();
    EXPECT_EQ(enc->SetOutputFormatCBR(128000), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "FLAC doesn't support constant bitrate encoding.");
    EXPECT_EQ(enc->SetOutputFormatABR(128000), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "FLAC does not support Average Bitrate mode.");
    EXPECT_EQ(enc->SetOutputFormatVBR(1.5f), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "fQuality must be between 0 and 1.");
    // More than stereo is taken, so a refusal names the real limit.
    EXPECT_EQ(enc->SetInputFormat(9, 44100, 16), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Input must have 1 to 8 channels.");
    // Quality picks the level: the smallest level makes the larger file.
    const auto pcm = SinePcm(44100, 2, 44100, 16);
    std::size_t sizes[2];
    for (int i = 0; i < 2; ++i) {
        auto e = NewEncoder();
        ASSERT_EQ(e->SetOutputFormatVBR(float(i)), S_OK);
        ASSERT_EQ(e->Open(Bstr(FromUtf8(dir_ / "q.flac")).get()), S_OK);
        e->put_OverwritePrompt(0);
        ASSERT_EQ(e->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
        ASSERT_EQ(e->Close(), S_OK);
        sizes[i] = ReadFileBytes(dir_ / "q.flac").size();
        fs::remove(dir_ / "q.flac");
    }
    EXPECT_GT(sizes[0], sizes[1]);
}

TEST_F(FlacTest, TagsAndPicturesRoundTrip) {
    auto enc = NewEncoder();
    ComPtr<IAudioTag> tag;
    ASSERT_EQ(enc->get_TagData(tag.put()), S_OK);
    tag->put_Title(Bstr(u"Tïtle").get());
    tag->put_Artist(Bstr(u"One\nTwo").get());
    tag->put_TrackNo(Bstr(u"7").get());
    ComPtr<IKivTagPictures> pictures;
    ASSERT_EQ(enc->QueryInterface(IID_IKivTagPictures, pictures.put_void()), S_OK);
    TagPicture cover;
    cover.mimeType = "image/jpeg";
    cover.description = u"front";
    cover.data = PatternBytes(5000);
    ASSERT_EQ(pictures->AddPicture(&cover), S_OK);
    const auto pcm = SinePcm(8000, 1, 8000, 16);
    ASSERT_EQ(enc->SetInputFormat(1, 8000, 16), S_OK);
    ASSERT_EQ(enc->Open(Bstr(FromUtf8(dir_ / "t")).get()), S_OK);  // the extension is added
    ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);

    EXPECT_EQ(Run("metaflac --show-tag=ARTIST '" + (dir_ / "t.flac") + "'"), "artist=One\nartist=Two\n");
    auto dec = NewDecoder();
    ASSERT_EQ(dec->Open(Bstr(FromUtf8(dir_ / "t.flac")).get()), S_OK);
    ComPtr<IAudioTag> read;
    ASSERT_EQ(dec->get_TagData(read.put()), S_OK);
    Bstr title, artist;
    read->get_Title(title.put());
    read->get_Artist(artist.put());
    EXPECT_EQ(title.view(), u"Tïtle");
    EXPECT_EQ(artist.view(), u"One\nTwo");
    ComPtr<IKivTagPictures> got;
    ASSERT_EQ(dec->QueryInterface(IID_IKivTagPictures, got.put_void()), S_OK);
    LONG count = 0;
    got->get_PictureCount(&count);
    ASSERT_EQ(count, 1);
    TagPicture back;
    ASSERT_EQ(got->GetPicture(0, &back), S_OK);
    EXPECT_EQ(back, cover);
}

TEST_F(FlacTest, WhatIsNoFlacIsRefusedAtOpen) {
    WriteFileBytes(dir_ / "x.flac", PatternBytes(3000));
    WriteFileBytes(dir_ / "cut.flac", {'f', 'L', 'a', 'C', 0, 0, 0, 34, 1, 2});
    for (const char* name : {"x.flac", "cut.flac"}) {
        auto dec = NewDecoder();
        EXPECT_EQ(dec->Open(Bstr(FromUtf8(dir_ / name)).get()), DISP_E_EXCEPTION) << name;
        EXPECT_EQ(TakeError().second, "Cannot open: not a FLAC file.");
        WAVEFORMATEX* f = nullptr;
        EXPECT_EQ(dec->get_Format(&f), DISP_E_EXCEPTION);
    }
}

// Through a caller's pipe both ways: the stream cannot seek back to fill
// its header in, and still decodes whole, by the reference tool and by us.
TEST_F(FlacTest, AStreamThroughPipesDecodesWhole) {
    const auto pcm = SinePcm(30000, 2, 44100, 16);
    Pipe out;
    ASSERT_TRUE(out.Create());
    std::vector<unsigned char> received;
    std::thread reader([&] {
        unsigned char buf[4096];
        long n;
        while ((n = ReadFull(out.read.get(), buf, sizeof buf)) > 0) received.insert(received.end(), buf, buf + n);
    });
    auto enc = NewEncoder();
    ASSERT_EQ(enc->OpenHandle(reinterpret_cast<void*>(std::intptr_t(out.write.get()))), S_OK);
    ASSERT_EQ(enc->Write(const_cast<BYTE*>(pcm.data()), LONG(pcm.size())), S_OK);
    ASSERT_EQ(enc->Close(), S_OK);
    out.write.reset();
    reader.join();
    WriteFileBytes(dir_ / "piped.flac", received);
    Run("flac -s -f -d -o '" + (dir_ / "piped.wav") + "' '" + (dir_ / "piped.flac") + "'");
    EXPECT_EQ(ReadFileBytes(dir_ / "piped.wav").size(), 44 + pcm.size());

    Pipe in;
    ASSERT_TRUE(in.Create());
    std::thread writer([&] {
        WriteAll(in.write.get(), received.data(), received.size());
        in.write.reset();
    });
    auto dec = NewDecoder();
    ASSERT_EQ(dec->OpenHandle(reinterpret_cast<void*>(std::intptr_t(in.read.get()))), S_OK);
    EXPECT_TRUE(DecodeToEnd(dec.get()).pcm == pcm);
    EXPECT_EQ(dec->Seek(0), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Seek error: cannot seek when using application handle.");
    dec->Close();
    writer.join();
}

}  // namespace
}  // namespace kiv::test
