// What the null device records: the bytes its play cursors pass, in the
// buffer's format, as a WAV file that stays valid while it grows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>

#include "null_sound_fixture.h"

namespace kiv::sound::testing {
namespace {

using SoundCapture = NullSoundTest;

std::vector<BYTE> Pattern(const PcmFormat& f, std::size_t frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> out(frames * f.BlockAlign());
    const std::size_t sampleBytes = f.bits / 8;
    for (std::size_t at = 0; at < out.size(); at += sampleBytes) {
        if (f.isFloat) {
            // Real sample values: NaN payloads and -0 need not survive mixing.
            const float v = std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng);
            std::memcpy(&out[at], &v, sizeof v);
        } else {
            for (std::size_t b = 0; b < sampleBytes; ++b) out[at + b] = static_cast<BYTE>(rng());
        }
    }
    return out;
}

// A streaming writer as the player's engine is one: keep the buffer full
// of data ahead of the play cursor, refilling what the cursor freed after
// each 10 ms turn, until `totalMs` have played.
struct StreamResult {
    std::vector<BYTE> source;
    std::size_t played = 0;
};

StreamResult Stream(NullSoundTest& test, IDirectSoundBuffer& buffer, const PcmFormat& f, DWORD bufferBytes,
                    int totalMs, const std::function<void(std::int64_t)>& advance) {
    StreamResult r;
    const std::size_t totalBytes = std::size_t(f.ByteRate()) * totalMs / 1000;
    r.source = Pattern(f, (totalBytes + bufferBytes) / f.BlockAlign() + 1, 7);
    std::size_t written = 0;
    auto write = [&](DWORD at, DWORD count) {
        void *p1 = nullptr, *p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        ASSERT_EQ(buffer.Lock(at, count, &p1, &n1, &p2, &n2, 0), DS_OK);
        std::memcpy(p1, r.source.data() + written, n1);
        if (n2) std::memcpy(p2, r.source.data() + written + n1, n2);
        written += count;
        ASSERT_EQ(buffer.Unlock(p1, n1, p2, n2), DS_OK);
    };
    write(0, bufferBytes);
    DWORD writePos = 0;
    EXPECT_EQ(buffer.Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    for (int ms = 0; ms < totalMs; ms += 10) {
        advance(10);
        DWORD play = 0;
        EXPECT_EQ(buffer.GetCurrentPosition(&play, nullptr), DS_OK);
        const DWORD freed = (play + bufferBytes - writePos) % bufferBytes;
        if (freed > 0) write(writePos, freed);
        writePos = play;
    }
    EXPECT_EQ(buffer.Stop(), DS_OK);
    r.played = totalBytes;
    (void)test;
    return r;
}

TEST_F(SoundCapture, RecordsWhatWasWrittenAndPlayedByteForByte) {
    struct Case {
        PcmFormat format;
        DWORD bufferMs;
        int playMs;
    };
    const Case cases[] = {
        {{11025, 1, 8, false}, 100, 530},  // an odd byte count: the RIFF pad byte
        {{44100, 2, 16, false}, 200, 1230},
        {{48000, 2, 24, false}, 50, 400},
        {{32000, 1, 32, false}, 100, 300},
        {{22050, 2, 32, true}, 100, 300},
    };
    int round = 0;
    for (const Case& c : cases) {
        // Each round records into a file of its own.
        const auto path = dir_ / ("capture" + std::to_string(round++) + ".wav");
        setenv(kSoundCaptureVariable, path.c_str(), 1);
        std::unique_ptr<IDirectSound> device;
        ASSERT_EQ(DirectSoundCreate(nullptr, device), DS_OK);
        const WAVEFORMATEX wfx = c.format.ToWaveFormat();
        const DWORD bytes = c.format.ByteRate() * c.bufferMs / 1000;
        DSBUFFERDESC desc{DSBUFFERDESC1_SIZE, 0x1C080, bytes, 0, &wfx, {}};
        std::unique_ptr<IDirectSoundBuffer> buffer;
        ASSERT_EQ(device->CreateSoundBuffer(&desc, buffer), DS_OK);
        const StreamResult r = Stream(*this, *buffer, c.format, bytes, c.playMs, [this](auto ms) { AdvanceMs(ms); });
        buffer.reset();
        device.reset();

        const WavFile wav = ReadWav(path);
        ASSERT_TRUE(wav.valid) << c.format.rate << "/" << c.format.bits;
        EXPECT_EQ(wav.tag, c.format.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        EXPECT_EQ(wav.rate, c.format.rate);
        EXPECT_EQ(wav.channels, c.format.channels);
        EXPECT_EQ(wav.bits, c.format.bits);
        ASSERT_EQ(wav.data.size(), r.played) << c.format.rate << "/" << c.format.bits;
        EXPECT_TRUE(std::equal(wav.data.begin(), wav.data.end(), r.source.begin()))
            << c.format.rate << "/" << c.format.bits;
    }
}

TEST_F(SoundCapture, NothingIsRecordedWhileStopped) {
    const PcmFormat f{8000, 1, 16, false};
    auto buffer = MakeBuffer(f.ToWaveFormat(), 16000);
    const auto pattern = Pattern(f, 8000, 3);
    Write(*buffer, 0, pattern.data(), 16000);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(100);
    ASSERT_EQ(buffer->Stop(), DS_OK);
    AdvanceMs(700);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(150);
    ASSERT_EQ(buffer->Stop(), DS_OK);

    const WavFile wav = ReadWav(capturePath_);
    ASSERT_TRUE(wav.valid);
    ASSERT_EQ(wav.data.size(), 4000u);
    EXPECT_TRUE(std::equal(wav.data.begin(), wav.data.end(), pattern.begin()));
}

TEST_F(SoundCapture, OneShotPlayRecordsTheBufferOnce) {
    const PcmFormat f{8000, 1, 16, false};
    auto buffer = MakeBuffer(f.ToWaveFormat(), 1600);
    const auto pattern = Pattern(f, 800, 5);
    Write(*buffer, 0, pattern.data(), 1600);
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    AdvanceMs(500);
    EXPECT_EQ(Status(*buffer), 0u);
    buffer.reset();
    const WavFile wav = ReadWav(capturePath_);
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.data, pattern);
}

TEST_F(SoundCapture, VolumeAttenuatesTheRecordedSamples) {
    struct Case {
        LONG volume;
        std::int16_t expected;  // for a constant 10000
    };
    const Case cases[] = {{0, 10000}, {-600, 5012}, {-2000, 1000}, {-10000, 0}};
    for (const Case& c : cases) {
        const auto path = dir_ / ("volume" + std::to_string(-c.volume) + ".wav");
        setenv(kSoundCaptureVariable, path.c_str(), 1);
        std::unique_ptr<IDirectSound> device;
        ASSERT_EQ(DirectSoundCreate(nullptr, device), DS_OK);
        const WAVEFORMATEX wfx = Format(8000, 2, 16);
        DSBUFFERDESC desc{DSBUFFERDESC_SIZE, DSBCAPS_CTRLVOLUME, 3200, 0, &wfx, {}};
        std::unique_ptr<IDirectSoundBuffer> buffer;
        ASSERT_EQ(device->CreateSoundBuffer(&desc, buffer), DS_OK);
        const auto loud = Constant16(1600, 10000);
        Write(*buffer, 0, loud.data(), 3200);

        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        AdvanceMs(50);  // 400 frames at full volume
        ASSERT_EQ(buffer->SetVolume(c.volume), DS_OK);
        AdvanceMs(200);  // 1600 frames attenuated, looping past the end
        ASSERT_EQ(buffer->Stop(), DS_OK);
        buffer.reset();

        const auto samples = Samples16(ReadWav(path).data);
        ASSERT_EQ(samples.size(), 2u * 2000) << c.volume;
        EXPECT_EQ(std::count(samples.begin(), samples.begin() + 800, 10000), 800) << c.volume;
        EXPECT_EQ(std::count(samples.begin() + 800, samples.end(), c.expected), 3200) << c.volume;
    }
}

TEST_F(SoundCapture, OverlappingBuffersAreMixedOnOneTimeline) {
    const WAVEFORMATEX wfx = Format(8000, 1, 16);
    auto a = MakeBuffer(wfx, 1600);
    auto b = MakeBuffer(wfx, 1600);
    auto other = MakeBuffer(Format(11025, 1, 16), 2205);  // another format: not recorded
    const auto one = Constant16(800, 1000), two = Constant16(800, 2000), three = Constant16(1102, 30000);
    Write(*a, 0, one.data(), 1600);
    Write(*b, 0, two.data(), 1600);
    Write(*other, 0, three.data(), 2204);

    ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(50);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(other->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(100);
    ASSERT_EQ(a->Stop(), DS_OK);
    AdvanceMs(25);
    b.reset();  // releasing a playing buffer ends its part
    other.reset();

    const auto samples = Samples16(ReadWav(capturePath_).data);
    ASSERT_EQ(samples.size(), 400u + 800 + 200);
    EXPECT_EQ(std::count(samples.begin(), samples.begin() + 400, 1000), 400);
    EXPECT_EQ(std::count(samples.begin() + 400, samples.begin() + 1200, 3000), 800);
    EXPECT_EQ(std::count(samples.begin() + 1200, samples.end(), 2000), 200);
}

TEST_F(SoundCapture, MixIsClippedToTheSampleRange) {
    const WAVEFORMATEX wfx = Format(8000, 1, 16);
    auto a = MakeBuffer(wfx, 160);
    auto b = MakeBuffer(wfx, 160);
    const auto high = Constant16(80, 30000), low = Constant16(80, -30000);
    Write(*a, 0, high.data(), 160);
    Write(*b, 0, high.data(), 160);
    ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(10);
    Write(*a, 0, low.data(), 160);
    Write(*b, 0, low.data(), 160);
    AdvanceMs(10);
    a.reset();
    b.reset();
    const auto samples = Samples16(ReadWav(capturePath_).data);
    ASSERT_EQ(samples.size(), 160u);
    EXPECT_EQ(std::count(samples.begin(), samples.begin() + 80, 32767), 80);
    EXPECT_EQ(std::count(samples.begin() + 80, samples.end(), -32768), 80);
}

TEST_F(SoundCapture, OneRecordingAcrossDevicesOfTheSameFile) {
    // A host releases its device when its streams end and makes a new one
    // for the next; the recording goes on in the same file.
    const WAVEFORMATEX wfx = Format(8000, 1, 16);
    for (std::int16_t value : {111, 222}) {
        std::unique_ptr<IDirectSound> device;
        ASSERT_EQ(DirectSoundCreate(nullptr, device), DS_OK);
        DSBUFFERDESC desc{DSBUFFERDESC_SIZE, 0, 1600, 0, &wfx, {}};
        std::unique_ptr<IDirectSoundBuffer> buffer;
        ASSERT_EQ(device->CreateSoundBuffer(&desc, buffer), DS_OK);
        const auto data = Constant16(800, value);
        Write(*buffer, 0, data.data(), 1600);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        AdvanceMs(30);
        // The file is complete and valid while the buffer still plays.
        FlushNullSoundCapture();
        EXPECT_TRUE(ReadWav(capturePath_).valid);
        AdvanceMs(20);
    }
    device_.reset();
    const auto samples = Samples16(ReadWav(capturePath_).data);
    ASSERT_EQ(samples.size(), 800u);
    EXPECT_EQ(std::count(samples.begin(), samples.begin() + 400, 111), 400);
    EXPECT_EQ(std::count(samples.begin() + 400, samples.end(), 222), 400);
}

TEST_F(SoundCapture, ReferenceToolReadsTheRecording) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    const PcmFormat f{44100, 2, 16, false};
    auto buffer = MakeBuffer(f.ToWaveFormat(), 8820);
    const auto pattern = Pattern(f, 2205, 11);
    Write(*buffer, 0, pattern.data(), 8820);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(500);
    buffer.reset();

    const std::string command = "sox --i -s '" + capturePath_.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe.get()), nullptr);
    EXPECT_EQ(std::stoul(line), 22050u);  // samples per channel in half a second
}

}  // namespace
}  // namespace kiv::sound::testing
