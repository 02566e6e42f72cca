// Buffers of the null device: creation rules, cursors, Lock/Unlock, status
// and buffer loss. Time is driven by hand, so every cursor is exact.
#include <gtest/gtest.h>

#include <thread>

#include "null_sound_fixture.h"

namespace kiv::sound::testing {
namespace {

using SoundBuffer = NullSoundTest;

TEST_F(SoundBuffer, CreationChecksTheDescription) {
    const WAVEFORMATEX good = Format(44100, 2, 16);
    WAVEFORMATEX twelveBits = good;
    twelveBits.wBitsPerSample = 12;
    WAVEFORMATEX badAlign = good;
    badAlign.nBlockAlign = 2;
    WAVEFORMATEX mp3 = good;
    mp3.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    WAVEFORMATEX tooFast = Format(44100, 2, 16);
    tooFast.nSamplesPerSec = 400000;
    tooFast.nAvgBytesPerSec = 400000 * 4;

    WAVEFORMATEXTENSIBLE ext{};
    ext.Format = Format(48000, 2, 24);
    ext.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    ext.Format.cbSize = 22;
    ext.Samples.wValidBitsPerSample = 24;
    ext.dwChannelMask = 3;
    ext.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    WAVEFORMATEXTENSIBLE extUnknown = ext;
    extUnknown.SubFormat = MakeGuid("{00000055-0000-0010-8000-00AA00389B71}");
    const WAVEFORMATEX floatFormat = Format(48000, 2, 32, true);

    struct Case {
        const char* what;
        DWORD size;
        DWORD flags;
        DWORD bytes;
        const WAVEFORMATEX* format;
        HRESULT expected;
    };
    const Case cases[] = {
        {"plain PCM, long form", DSBUFFERDESC_SIZE, 0x1C080, 176400, &good, DS_OK},
        {"short form", DSBUFFERDESC1_SIZE, 0x1C080, 176400, &good, DS_OK},
        {"short form, 32-bit size", 20, 0x1C080, 176400, &good, DS_OK},
        {"float", DSBUFFERDESC_SIZE, 0, 9600, &floatFormat, DS_OK},
        {"extensible PCM", DSBUFFERDESC_SIZE, 0, 6000, &ext.Format, DS_OK},
        {"extensible, unknown sub-format", DSBUFFERDESC_SIZE, 0, 6000, &extUnknown.Format, DSERR_BADFORMAT},
        {"unknown record size", 12, 0, 1000, &good, DSERR_INVALIDPARAM},
        {"primary buffer", DSBUFFERDESC_SIZE, DSBCAPS_PRIMARYBUFFER, 0, nullptr, DSERR_UNSUPPORTED},
        {"no format", DSBUFFERDESC_SIZE, 0, 1000, nullptr, DSERR_INVALIDPARAM},
        {"12-bit", DSBUFFERDESC_SIZE, 0, 1000, &twelveBits, DSERR_BADFORMAT},
        {"block align disagrees", DSBUFFERDESC_SIZE, 0, 1000, &badAlign, DSERR_BADFORMAT},
        {"compressed", DSBUFFERDESC_SIZE, 0, 1000, &mp3, DSERR_BADFORMAT},
        {"rate out of range", DSBUFFERDESC_SIZE, 0, 1000, &tooFast, DSERR_BADFORMAT},
        {"too small", DSBUFFERDESC_SIZE, 0, 2, &good, DSERR_INVALIDPARAM},
        {"too large", DSBUFFERDESC_SIZE, 0, DSBSIZE_MAX + 1, &good, DSERR_INVALIDPARAM},
    };
    for (const Case& c : cases) {
        DSBUFFERDESC desc{};
        desc.dwSize = c.size;
        desc.dwFlags = c.flags;
        desc.dwBufferBytes = c.bytes;
        desc.lpwfxFormat = c.format;
        std::unique_ptr<IDirectSoundBuffer> buffer;
        EXPECT_EQ(device_->CreateSoundBuffer(&desc, buffer), c.expected) << c.what;
        EXPECT_EQ(buffer != nullptr, c.expected == DS_OK) << c.what;
    }
    std::unique_ptr<IDirectSoundBuffer> none;
    EXPECT_EQ(device_->CreateSoundBuffer(nullptr, none), DSERR_INVALIDPARAM);
    EXPECT_EQ(device_->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(device_->SetCooperativeLevel(this, 9), DSERR_INVALIDPARAM);
}

TEST_F(SoundBuffer, SizeIsCutToWholeFramesAndFormatReadsBack) {
    auto buffer = MakeBuffer(Format(8000, 2, 16), 1003);
    DSBCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(buffer->GetCaps(&caps), DS_OK);
    EXPECT_EQ(caps.dwBufferBytes, 1000u);
    EXPECT_TRUE(caps.dwFlags & DSBCAPS_CTRLVOLUME);

    WAVEFORMATEX back{};
    DWORD written = 0;
    ASSERT_EQ(buffer->GetFormat(&back, sizeof back, &written), DS_OK);
    EXPECT_EQ(written, sizeof(WAVEFORMATEX));
    EXPECT_EQ(back.nSamplesPerSec, 8000u);
    EXPECT_EQ(back.nBlockAlign, 4);
    EXPECT_EQ(buffer->GetFormat(&back, 10, nullptr), DSERR_INVALIDPARAM);
}

TEST_F(SoundBuffer, PlayCursorFollowsTheClockAtTheByteRate) {
    struct Case {
        WAVEFORMATEX format;
        DWORD bytes;
        bool looping;
        std::int64_t ms;
        DWORD play;      // expected play cursor
        bool playing;    // still playing afterwards
    };
    const Case cases[] = {
        {Format(8000, 1, 16), 8000, true, 250, 4000, true},      // 16000 bytes/s
        {Format(8000, 1, 16), 8000, true, 550, 800, true},       // wrapped once
        {Format(8000, 1, 16), 8000, true, 2030, 480, true},      // wrapped four times
        {Format(44100, 2, 16), 352800, true, 1000, 176400, true},
        {Format(22050, 1, 8), 22050, true, 1500, 11025, true},
        {Format(48000, 2, 32, true), 38400, true, 10, 3840, true},
        {Format(8000, 1, 16), 8000, false, 300, 4800, true},
        {Format(8000, 1, 16), 8000, false, 700, 0, false},       // one-shot ran out
    };
    for (const Case& c : cases) {
        auto buffer = MakeBuffer(c.format, c.bytes);
        EXPECT_EQ(PlayCursor(*buffer), 0u);
        ASSERT_EQ(buffer->Play(0, 0, c.looping ? DSBPLAY_LOOPING : 0), DS_OK);
        AdvanceMs(c.ms);
        DWORD play = 0, write = 0;
        ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
        EXPECT_EQ(play, c.play) << c.ms << " ms at " << c.format.nAvgBytesPerSec << " bytes/s";
        EXPECT_EQ((Status(*buffer) & DSBSTATUS_PLAYING) != 0, c.playing) << c.ms;
        if (c.playing) {
            // The write cursor leads by a short, fixed stretch.
            const DWORD lead = (write + c.bytes - play) % c.bytes;
            EXPECT_GT(lead, 0u);
            EXPECT_LE(lead, c.format.nAvgBytesPerSec / 50);
            EXPECT_EQ(lead % c.format.nBlockAlign, 0u);
        }
    }
}

TEST_F(SoundBuffer, StopFreezesTheCursorAndPlayResumesFromIt) {
    auto buffer = MakeBuffer(Format(8000, 1, 16), 16000);
    EXPECT_EQ(Status(*buffer), 0u);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Status(*buffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    AdvanceMs(100);
    ASSERT_EQ(buffer->Stop(), DS_OK);
    EXPECT_EQ(Status(*buffer), 0u);
    EXPECT_EQ(PlayCursor(*buffer), 1600u);
    AdvanceMs(5000);
    EXPECT_EQ(PlayCursor(*buffer), 1600u);

    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(50);
    EXPECT_EQ(PlayCursor(*buffer), 2400u);

    // Moving the cursor while playing re-anchors it.
    ASSERT_EQ(buffer->SetCurrentPosition(15999), DS_OK);  // cut to a whole frame
    EXPECT_EQ(PlayCursor(*buffer), 15998u);
    AdvanceMs(10);
    EXPECT_EQ(PlayCursor(*buffer), 158u);
    EXPECT_EQ(buffer->SetCurrentPosition(16000), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Play(1, 0, DSBPLAY_LOOPING), DSERR_INVALIDPARAM);
}

TEST_F(SoundBuffer, DefaultClockMovesTheCursor) {
    SetNullSoundClock({});
    auto buffer = MakeBuffer(Format(44100, 2, 16), 352800);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    DWORD play = 0;
    for (int i = 0; i < 500 && play == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        play = PlayCursor(*buffer);
    }
    EXPECT_GT(play, 0u);
    EXPECT_EQ(play % 4, 0u);
}

TEST_F(SoundBuffer, LockSplitsARangeThatWraps) {
    auto buffer = MakeBuffer(Format(8000, 2, 16), 1000);
    void *p1 = nullptr, *p2 = nullptr, *base = nullptr;
    DWORD n1 = 0, n2 = 0, whole = 0;

    ASSERT_EQ(buffer->Lock(0, 0, &base, &whole, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(whole, 1000u);
    ASSERT_EQ(buffer->Unlock(base, whole, nullptr, 0), DS_OK);

    struct Case {
        DWORD offset, bytes;
        DWORD first, second;
    };
    const Case cases[] = {{800, 400, 200, 200}, {0, 1000, 1000, 0}, {996, 1000, 4, 996}, {100, 50, 50, 0}};
    for (const Case& c : cases) {
        ASSERT_EQ(buffer->Lock(c.offset, c.bytes, &p1, &n1, &p2, &n2, 0), DS_OK);
        EXPECT_EQ(p1, static_cast<BYTE*>(base) + c.offset);
        EXPECT_EQ(n1, c.first);
        EXPECT_EQ(n2, c.second);
        EXPECT_EQ(p2, c.second ? base : nullptr);
        EXPECT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    }

    // Without room for a second region the range stops at the end.
    ASSERT_EQ(buffer->Lock(900, 300, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(n1, 100u);
    ASSERT_EQ(buffer->Unlock(p1, n1, nullptr, 0), DS_OK);

    // From the write cursor: it leads the play cursor.
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AdvanceMs(25);  // play cursor at 800
    DWORD write = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(nullptr, &write), DS_OK);
    ASSERT_EQ(buffer->Lock(0, 400, &p1, &n1, &p2, &n2, DSBLOCK_FROMWRITECURSOR), DS_OK);
    EXPECT_EQ(p1, static_cast<BYTE*>(base) + write);
    EXPECT_EQ(n1 + n2, 400u);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);

    struct Bad {
        DWORD offset, bytes;
    };
    for (const Bad& b : {Bad{1000, 10}, Bad{0, 0}, Bad{0, 1001}}) {
        EXPECT_EQ(buffer->Lock(b.offset, b.bytes, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM)
            << b.offset << "+" << b.bytes;
    }
    EXPECT_EQ(buffer->Lock(0, 10, nullptr, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);

    // Unlock only takes back regions of this buffer, and only after a Lock.
    ASSERT_EQ(buffer->Lock(10, 20, &p1, &n1, &p2, &n2, 0), DS_OK);
    BYTE elsewhere[16];
    EXPECT_EQ(buffer->Unlock(elsewhere, 16, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Unlock(p1, 2000, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    EXPECT_EQ(buffer->Unlock(p1, n1, p2, n2), DSERR_INVALIDPARAM);
}

TEST_F(SoundBuffer, VolumeRangeAndControl) {
    auto buffer = MakeBuffer(Format(8000, 1, 16), 800);
    LONG volume = 1;
    ASSERT_EQ(buffer->GetVolume(&volume), DS_OK);
    EXPECT_EQ(volume, 0);
    ASSERT_EQ(buffer->SetVolume(-600), DS_OK);
    ASSERT_EQ(buffer->GetVolume(&volume), DS_OK);
    EXPECT_EQ(volume, -600);
    EXPECT_EQ(buffer->SetVolume(-10001), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->SetVolume(1), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->GetVolume(nullptr), DSERR_INVALIDPARAM);

    auto fixed = MakeBuffer(Format(8000, 1, 16), 800, 0);
    EXPECT_EQ(fixed->SetVolume(-100), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(fixed->GetVolume(&volume), DSERR_CONTROLUNAVAIL);
}

TEST_F(SoundBuffer, LostBufferRefusesUntilRestored) {
    auto buffer = MakeBuffer(Format(8000, 1, 8), 800);
    const std::vector<BYTE> pattern(800, 200);
    Write(*buffer, 0, pattern.data(), 800);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    LoseNullSoundBuffers();
    EXPECT_EQ(Status(*buffer), DSBSTATUS_BUFFERLOST);
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    EXPECT_EQ(buffer->Lock(0, 10, &p1, &n1, &p2, &n2, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);

    ASSERT_EQ(buffer->Restore(), DS_OK);
    EXPECT_EQ(Status(*buffer), 0u);
    // The contents went with the loss: 8-bit silence is 128.
    ASSERT_EQ(buffer->Lock(0, 800, &p1, &n1, &p2, &n2, 0), DS_OK);
    const auto* bytes = static_cast<const BYTE*>(p1);
    EXPECT_EQ(std::count(bytes, bytes + n1, BYTE{128}), 800);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    EXPECT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
}

}  // namespace
}  // namespace kiv::sound::testing
