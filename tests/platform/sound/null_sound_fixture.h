// Shared set-up of the sound tests: the null device with a hand-driven
// clock, a private temporary folder with the capture file in it, and a
// reader for the WAV files the capture writes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/sound/direct_sound.h"
#include "platform/sound/null_sound_control.h"
#include "platform/sound/pcm_format.h"

namespace kiv::sound::testing {

inline WAVEFORMATEX Format(DWORD rate, WORD channels, WORD bits, bool isFloat = false) {
    return PcmFormat{rate, channels, bits, isFloat}.ToWaveFormat();
}

struct WavFile {
    bool valid = false;
    WORD tag = 0, channels = 0, bits = 0;
    DWORD rate = 0;
    DWORD riffSize = 0;
    std::uint64_t fileSize = 0;
    std::vector<BYTE> data;
};

// Walks the chunks the way a strict reader would, so wrong sizes show up.
inline WavFile ReadWav(const std::filesystem::path& path) {
    WavFile w;
    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    w.fileSize = b.size();
    auto u32 = [&](std::size_t at) { return DWORD(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | DWORD(b[at + 3]) << 24); };
    auto u16 = [&](std::size_t at) { return WORD(b[at] | b[at + 1] << 8); };
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE")
        return w;
    w.riffSize = u32(4);
    bool haveFormat = false;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id(b.begin() + at, b.begin() + at + 4);
        const DWORD size = u32(at + 4);
        if (at + 8 + size > b.size()) return w;
        if (id == "fmt ") {
            w.tag = u16(at + 8);
            w.channels = u16(at + 10);
            w.rate = u32(at + 12);
            w.bits = u16(at + 22);
            haveFormat = true;
        } else if (id == "data") {
            w.data.assign(b.begin() + at + 8, b.begin() + at + 8 + size);
            w.valid = haveFormat && w.riffSize + 8 == b.size();
            return w;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

class NullSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kivsound-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        capturePath_ = dir_ / "capture.wav";
        setenv(kSoundBackendVariable, "null", 1);
        setenv(kSoundCaptureVariable, capturePath_.c_str(), 1);
        unsetenv("KIV_SOUND_MIXER");
        SetNullSoundClock([this] { return now_.load(); });
        ASSERT_EQ(DirectSoundCreate(nullptr, device_), DS_OK);
        ASSERT_EQ(device_->Backend(), SoundBackend::Null);
        ASSERT_EQ(device_->SetCooperativeLevel(this, DSSCL_PRIORITY), DS_OK);
    }

    void TearDown() override {
        device_.reset();
        SetNullSoundClock({});
        unsetenv(kSoundCaptureVariable);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void AdvanceMs(std::int64_t ms) { now_ += ms * 1'000'000; }

    std::unique_ptr<IDirectSoundBuffer> MakeBuffer(const WAVEFORMATEX& format, DWORD bytes,
                                                   DWORD flags = DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2) {
        DSBUFFERDESC desc{};
        desc.dwSize = DSBUFFERDESC_SIZE;
        desc.dwFlags = flags;
        desc.dwBufferBytes = bytes;
        desc.lpwfxFormat = &format;
        std::unique_ptr<IDirectSoundBuffer> buffer;
        EXPECT_EQ(device_->CreateSoundBuffer(&desc, buffer), DS_OK);
        return buffer;
    }

    // Writes `bytes` at `offset` through Lock/Unlock, across the wrap.
    static void Write(IDirectSoundBuffer& buffer, DWORD offset, const BYTE* bytes, DWORD count) {
        void *p1 = nullptr, *p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        ASSERT_EQ(buffer.Lock(offset, count, &p1, &n1, &p2, &n2, 0), DS_OK);
        ASSERT_EQ(n1 + n2, count);
        std::copy(bytes, bytes + n1, static_cast<BYTE*>(p1));
        if (n2 > 0) std::copy(bytes + n1, bytes + count, static_cast<BYTE*>(p2));
        ASSERT_EQ(buffer.Unlock(p1, n1, p2, n2), DS_OK);
    }

    static DWORD PlayCursor(IDirectSoundBuffer& buffer) {
        DWORD play = 0xFFFFFFFF;
        EXPECT_EQ(buffer.GetCurrentPosition(&play, nullptr), DS_OK);
        return play;
    }

    static DWORD Status(IDirectSoundBuffer& buffer) {
        DWORD status = 0xFFFFFFFF;
        EXPECT_EQ(buffer.GetStatus(&status), DS_OK);
        return status;
    }

    std::filesystem::path dir_;
    std::filesystem::path capturePath_;
    std::atomic<std::int64_t> now_{5'000'000'000};
    std::unique_ptr<IDirectSound> device_;
};

// Little-endian 16-bit samples of a capture.
inline std::vector<std::int16_t> Samples16(const std::vector<BYTE>& data) {
    std::vector<std::int16_t> out(data.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return out;
}

inline std::vector<BYTE> Constant16(std::size_t samples, std::int16_t value) {
    std::vector<BYTE> out;
    for (std::size_t i = 0; i < samples; ++i) {
        out.push_back(static_cast<BYTE>(value & 0xFF));
        out.push_back(static_cast<BYTE>((value >> 8) & 0xFF));
    }
    return out;
}

}  // namespace kiv::sound::testing
