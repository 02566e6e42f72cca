#include "components/player/sound_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

using namespace kiv::sound;

namespace {
constexpr DWORD kFifoMs = 250;
constexpr DWORD kMinimumLeadMs = 50;
}  // namespace

SoundStream::SoundStream(const StreamFormat& format, DWORD bufferMs, bool hardwareMixing)
    : format_(format), bufferMs_(bufferMs), hardware_(hardwareMixing) {
    fifo_.resize(std::max<std::size_t>(MsToBytes(kFifoMs), format_.FrameBytes()));
}

long SoundStream::WritableBytes() const {
    if (failed_ || finished_ || stop_) return 0;
    return long(fifo_.size() - fifoCount_);
}

bool SoundStream::Write(const BYTE* data, std::size_t count) {
    if (long(count) > WritableBytes()) return false;
    for (std::size_t done = 0; done < count;) {
        std::size_t chunk = std::min(count - done, fifo_.size() - fifoWrite_);
        std::memcpy(fifo_.data() + fifoWrite_, data + done, chunk);
        fifoWrite_ = (fifoWrite_ + chunk) % fifo_.size();
        fifoCount_ += chunk;
        done += chunk;
    }
    return true;
}

bool SoundStream::IsActive() const {
    if (finished_ || failed_ || stop_) return false;
    return QueuedBytes() > 0;
}

std::size_t SoundStream::QueuedBytes() const {
    // Bytes short of a whole frame never play (only whole frames leave the
    // FIFO): counted, they would keep a finished source waiting for ever.
    const std::size_t frame = std::max<std::size_t>(format_.FrameBytes(), 1);
    return fifoCount_ - fifoCount_ % frame + std::size_t(std::max(bytesAhead_, 0L));
}

double SoundStream::QueuedSeconds() const {
    return format_.BytesPerSecond() ? double(QueuedBytes()) / format_.BytesPerSecond() : 0.0;
}

void SoundStream::StartFade(double from, double to, double seconds, bool toPause, bool toStop) {
    fading_ = true;
    fadeFrom_ = from;
    fadeTo_ = to;
    fadeStartTime_ = playedTime_;
    fadeEndTime_ = playedTime_ + std::max(seconds, 0.0);
    fadeToPause_ = toPause;
    fadeToStop_ = toStop;
    targetVolume_ = from;
}

void SoundStream::Fade(double from, double to, double seconds) { StartFade(from, to, seconds, false, false); }

void SoundStream::FadeOutAndStop(double seconds) {
    if (failed_ || paused_ || seconds <= 0) {
        stop_ = true;
        return;
    }
    playNow_ = true;
    StartFade(targetVolume_, 0.0, std::min(seconds, QueuedSeconds()), false, true);
}

void SoundStream::FadePause(double seconds, bool pause) {
    if (pause) {
        if (paused_ || requestedPaused_ || (fading_ && fadeToPause_)) return;
        StartFade(targetVolume_, 0.0, std::min(seconds, QueuedSeconds()), true, false);
        return;
    }
    if (paused_ || requestedPaused_) {
        requestedPaused_ = false;
        StartFade(0.0, 1.0, seconds, false, false);
    } else if (fading_ && fadeToPause_) {
        double from = targetVolume_;
        StartFade(from, 1.0, seconds * (1.0 - from), false, false);
    }
}

bool SoundStream::FillSilence(std::size_t offset, std::size_t bytes) {
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    if (FAILED(buffer_->Lock(DWORD(offset % std::size_t(B_)), DWORD(bytes), &p1, &n1, &p2, &n2, 0))) return false;
    int value = format_.bits == 8 ? 128 : 0;
    if (p1) std::memset(p1, value, n1);
    if (p2) std::memset(p2, value, n2);
    buffer_->Unlock(p1, n1, p2, n2);
    return true;
}

bool SoundStream::MakeBuffer(IDirectSound& sound) {
    long L = long(MsToBytes(bufferMs_));
    B_ = long(bufferMs_ > 2000 ? MsToBytes(bufferMs_ + 2000) : 2 * std::size_t(L));
    T_ = L;
    S_ = long(MsToBytes(std::min<DWORD>(bufferMs_ / 2, 10000)));
    M_ = long(MsToBytes(kMinimumLeadMs));
    P_ = std::min(B_ / 4, (B_ - T_) / 2);

    WAVEFORMATEX wfx{};
    wfx.wFormatTag = format_.isFloat ? WAVE_FORMAT_IEEE_FLOAT : 1;
    wfx.nChannels = format_.channels;
    wfx.nSamplesPerSec = format_.rate;
    wfx.nAvgBytesPerSec = format_.BytesPerSecond();
    wfx.nBlockAlign = WORD(format_.FrameBytes());
    wfx.wBitsPerSample = format_.bits;
    wfx.cbSize = 0;
    DSBUFFERDESC desc{};
    desc.dwSize = DSBUFFERDESC1_SIZE_32;
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_STICKYFOCUS | DSBCAPS_CTRLVOLUME;
    if (!hardware_) desc.dwFlags |= DSBCAPS_LOCSOFTWARE;
    desc.dwBufferBytes = DWORD(B_);
    desc.lpwfxFormat = &wfx;
    if (FAILED(sound.CreateSoundBuffer(&desc, buffer_))) {
        WAVEFORMATEXTENSIBLE ext{};
        ext.Format = wfx;
        ext.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        ext.Format.cbSize = 22;
        ext.Samples.wValidBitsPerSample = 0;
        switch (format_.channels) {
            case 1: ext.dwChannelMask = 4; break;
            case 2: ext.dwChannelMask = 3; break;
            case 4: ext.dwChannelMask = 0x33; break;
            case 6: ext.dwChannelMask = 0x3F; break;
            default: ext.dwChannelMask = 0; break;
        }
        ext.SubFormat = format_.isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
        desc.lpwfxFormat = &ext.Format;
        buffer_.reset();
        if (FAILED(sound.CreateSoundBuffer(&desc, buffer_)) || !buffer_) return false;
    }
    if (!buffer_) return false;
    if (!FillSilence(0, std::size_t(B_))) return false;
    silenceAhead_ = B_;
    writePos_ = 0;
    prebuffering_ = true;
    return true;
}

void SoundStream::Reset() {
    buffer_->Stop();
    buffer_->SetCurrentPosition(0);
    FillSilence(0, std::size_t(B_));
    silenceAhead_ = B_;
    prebuffering_ = true;
    written_ = false;
    writePos_ = 0;
    bytesAhead_ = 0;
    playedTime_ = 0;
    fifoRead_ = fifoWrite_ = fifoCount_ = 0;
    fading_ = false;
}

void SoundStream::StartPlayback() {
    if (buffer_ && written_ && !paused_) {
        prebuffering_ = false;
        buffer_->Play(0, 0, DSBPLAY_LOOPING);
    }
}

bool SoundStream::ServiceTurn(IDirectSound& sound) {
    if (stop_) return finished_ = true, false;
    if (failed_) return true;
    if (!madeBuffer_) {
        madeBuffer_ = true;
        if (!MakeBuffer(sound)) {
            buffer_.reset();
            failed_ = true;
            return true;
        }
    }
    DWORD status = 0;
    buffer_->GetStatus(&status);
    if (status & DSBSTATUS_BUFFERLOST) {
        if (FAILED(buffer_->Restore()) || !FillSilence(0, std::size_t(B_))) {
            failed_ = true;
            return true;
        }
        // The contents went with the loss: start over from silence.
        Reset();
    }
    if (!paused_) {
        if (!prebuffering_ && (status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING)) !=
                                  (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING))
            buffer_->Play(0, 0, DSBPLAY_LOOPING);
        long ahead = writePos_;
        if (!prebuffering_) {
            DWORD play = 0;
            buffer_->GetCurrentPosition(&play, nullptr);
            ahead = writePos_ - long(play);
            if (ahead < 0) ahead += B_;
            if (ahead > B_ - (B_ - T_) / 2) ahead -= B_;
        }
        playedTime_ += double(bytesAhead_ - ahead) / format_.BytesPerSecond();
        bytesAhead_ = ahead;
        if (fading_) {
            if (playedTime_ >= fadeEndTime_ || fadeEndTime_ <= fadeStartTime_) {
                fading_ = false;
                targetVolume_ = fadeTo_;
                if (fadeToPause_) requestedPaused_ = true;
                if (fadeToStop_) return finished_ = true, false;
            } else {
                targetVolume_ = fadeFrom_ + (fadeTo_ - fadeFrom_) * (playedTime_ - fadeStartTime_) /
                                                (fadeEndTime_ - fadeStartTime_);
            }
        }
    }
    if (playNow_) {
        StartPlayback();
        playNow_ = false;
    }
    if (targetVolume_ != appliedVolume_) {
        LONG db = targetVolume_ <= 0 ? DSBVOLUME_MIN : LONG(2000.0 * std::log10(targetVolume_));
        buffer_->SetVolume(std::max(db, DSBVOLUME_MIN));
        appliedVolume_ = targetVolume_;
    }
    if (requestedPaused_ != paused_) {
        if (!prebuffering_) {
            if (requestedPaused_) buffer_->Stop();
            else buffer_->Play(0, 0, DSBPLAY_LOOPING);
        }
        paused_ = requestedPaused_;
    }
    if (paused_) {
        if (!prebuffering_ && fading_ && fadeToStop_) return finished_ = true, false;
        return true;
    }
    // Only whole frames leave the FIFO: a part of a frame is nothing to play
    // yet (and at the end of a source that ends in one, never).
    const std::size_t frame = format_.FrameBytes();
    if (fifoCount_ < frame) {
        if (!prebuffering_ && bytesAhead_ <= 0) {
            if (fading_ && fadeToStop_) return finished_ = true, false;
            // The part of a frame stays: the rest of it may still come.
            std::vector<BYTE> part(fifoCount_);
            for (std::size_t i = 0; i < part.size(); ++i) part[i] = fifo_[(fifoRead_ + i) % fifo_.size()];
            Reset();
            Write(part.data(), part.size());
            return true;
        }
    }
    long room = bytesAhead_ < 0 ? T_ : T_ - bytesAhead_;
    long skipped = 0;
    // The lead is restored only for new data: skipping ahead with nothing to
    // write would keep the stream from ever running dry.
    if (!prebuffering_ && bytesAhead_ < M_ && fifoCount_ >= frame) {
        skipped = M_ - bytesAhead_;
        writePos_ = (writePos_ + skipped) % B_;
        bytesAhead_ = M_;
        room = std::max(0L, room - skipped);
    }
    long copy = std::min(room, long(fifoCount_));
    copy -= copy % long(format_.FrameBytes());
    if (copy > 0) {
        void *p1 = nullptr, *p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        if (SUCCEEDED(buffer_->Lock(DWORD(writePos_), DWORD(copy), &p1, &n1, &p2, &n2, 0))) {
            auto take = [&](void* dst, DWORD n) {
                auto* out = static_cast<BYTE*>(dst);
                while (n > 0) {
                    std::size_t chunk = std::min<std::size_t>(n, fifo_.size() - fifoRead_);
                    std::memcpy(out, fifo_.data() + fifoRead_, chunk);
                    fifoRead_ = (fifoRead_ + chunk) % fifo_.size();
                    fifoCount_ -= chunk;
                    out += chunk;
                    n -= DWORD(chunk);
                }
            };
            if (p1) take(p1, n1);
            if (p2) take(p2, n2);
            buffer_->Unlock(p1, n1, p2, n2);
            writePos_ = (writePos_ + copy) % B_;
            bytesAhead_ += copy;
            written_ = true;
        } else {
            copy = 0;
        }
    }
    silenceAhead_ -= copy + skipped;
    if (silenceAhead_ < P_) {
        long from = std::max(silenceAhead_, 0L);
        FillSilence(std::size_t(writePos_ + from), std::size_t(P_));
        silenceAhead_ = from + P_;
    }
    // While prebuffering the write position only grows from 0, so reaching
    // the threshold means that much audio is waiting.
    if (prebuffering_ && writePos_ >= S_) StartPlayback();
    return true;
}

}  // namespace kiv
