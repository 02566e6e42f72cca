// One streaming sound buffer fed through a FIFO: prebuffering, underrun
// recovery, a silence pad beyond the data, volume and timed fades.
//
// Every member expects the owning device's lock to be held by the caller;
// SoundDevice and SoundChannel take it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/sound/direct_sound.h"

namespace kiv {

struct StreamFormat {
    DWORD rate = 0;
    WORD channels = 0;
    WORD bits = 0;
    bool isFloat = false;
    DWORD FrameBytes() const { return DWORD(channels) * bits / 8; }
    DWORD BytesPerSecond() const { return rate * FrameBytes(); }
    bool operator==(const StreamFormat&) const = default;
};

class SoundStream {
public:
    SoundStream(const StreamFormat& format, DWORD bufferMs, bool hardwareMixing);
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;

    const StreamFormat& format() const { return format_; }

    // Client side.
    long WritableBytes() const;
    bool Write(const BYTE* data, std::size_t count);
    void PlayNow() { playNow_ = true; }
    void Fade(double from, double to, double seconds);
    void FadeOutAndStop(double seconds);
    void FadePause(double seconds, bool pause);
    void StopNow() { stop_ = true; }
    // Not finished, not failed, and with audio still to play.
    bool IsActive() const;
    // Whole frames in the FIFO plus the bytes ahead of the play cursor.
    std::size_t QueuedBytes() const;
    double QueuedSeconds() const;
    bool failed() const { return failed_; }
    bool finished() const { return finished_; }

    // Service side: one turn; false when the stream has finished.
    bool ServiceTurn(sound::IDirectSound& sound);
    void ReleaseBuffer() { buffer_.reset(); }

private:
    std::size_t MsToBytes(DWORD ms) const {
        return std::size_t(format_.rate) * format_.FrameBytes() * ms / 1000 / format_.FrameBytes() *
               format_.FrameBytes();
    }
    bool MakeBuffer(sound::IDirectSound& sound);
    bool FillSilence(std::size_t offset, std::size_t bytes);
    void Reset();
    void StartPlayback();
    void StartFade(double from, double to, double seconds, bool toPause, bool toStop);

    StreamFormat format_;
    DWORD bufferMs_;
    bool hardware_;
    std::unique_ptr<sound::IDirectSoundBuffer> buffer_;

    std::vector<BYTE> fifo_;
    std::size_t fifoRead_ = 0, fifoWrite_ = 0, fifoCount_ = 0;

    long B_ = 0, T_ = 0, S_ = 0, M_ = 0, P_ = 0;
    long writePos_ = 0;
    long bytesAhead_ = 0;
    long silenceAhead_ = 0;
    bool prebuffering_ = true;
    bool written_ = false;
    double playedTime_ = 0;

    bool madeBuffer_ = false;
    bool failed_ = false;
    bool finished_ = false;
    bool stop_ = false;
    bool playNow_ = false;
    bool paused_ = false;
    bool requestedPaused_ = false;
    double targetVolume_ = 1.0;
    double appliedVolume_ = 1.0;

    bool fading_ = false;
    double fadeStartTime_ = 0, fadeEndTime_ = 0, fadeFrom_ = 0, fadeTo_ = 0;
    bool fadeToPause_ = false, fadeToStop_ = false;
};

}  // namespace kiv
