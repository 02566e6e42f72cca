#include "components/player/sound_channel.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "components/player/sound_device.h"

namespace kiv {

namespace {

constexpr DWORD kStreamBufferMs = 1000;
constexpr double kFadeSeconds = 0.2;

struct Engine {
    std::mutex lock;
    std::vector<SoundChannel*> channels;
    std::unique_ptr<SoundDevice> device;
};

Engine& TheEngine() {
    static Engine engine;
    return engine;
}

}  // namespace

SoundChannel::SoundChannel(sound::WindowHandle window) : window_(window) {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    e.channels.push_back(this);
}

SoundChannel::~SoundChannel() {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    if (stream_ && e.device) {
        std::lock_guard deviceLock(e.device->lock());
        stream_->StopNow();
    }
    stream_.reset();
    std::erase(e.channels, this);
    // Only the last channel closes the device: releasing one player must not
    // silence the others.
    if (e.channels.empty()) e.device.reset();
}

void SoundChannel::Load(const BYTE* data, std::size_t count, DWORD rate, WORD channels, WORD bits, bool isFloat) {
    std::lock_guard lock(TheEngine().lock);
    if (pending_.size() < count) pending_.resize(count);
    if (count) std::memcpy(pending_.data(), data, count);
    pendingCount_ = count;
    pushed_ = 0;
    blockFormat_ = StreamFormat{rate, channels, bits, isFloat};
}

bool SoundChannel::CreateStream() {
    Engine& e = TheEngine();
    if (!e.device) {
        e.device = std::make_unique<SoundDevice>(window_);
        e.device->SelectOutput(nullptr);
    }
    if (blockFormat_.FrameBytes() == 0 || blockFormat_.rate == 0) return false;
    stream_ = e.device->CreateStream(blockFormat_, kStreamBufferMs, true);
    if (fadeInNext_) {
        std::lock_guard deviceLock(e.device->lock());
        stream_->Fade(0.0, 1.0, kFadeSeconds);
        fadeInNext_ = false;
    }
    return true;
}

void SoundChannel::ForgetStream() {
    // A stream left behind would idle in the device's list for ever.
    stream_->StopNow();
    stream_.reset();
}

SoundChannel::PumpResult SoundChannel::Pump() {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    if (pushed_ >= pendingCount_) return PumpResult::Done;
    if (stream_ && e.device) {
        std::lock_guard deviceLock(e.device->lock());
        if (!(stream_->format() == blockFormat_)) {
            stream_->PlayNow();
            if (stream_->IsActive()) return PumpResult::NotDone;
            ForgetStream();
        }
    }
    if (!stream_ && !CreateStream()) return PumpResult::Failure;
    std::lock_guard deviceLock(e.device->lock());
    for (;;) {
        long writable = stream_->WritableBytes();
        if (writable <= 0 || pushed_ >= pendingCount_) break;
        std::size_t n = std::min<std::size_t>(std::size_t(writable), pendingCount_ - pushed_);
        if (!stream_->Write(pending_.data() + pushed_, n)) return PumpResult::Failure;
        pushed_ += n;
    }
    if (pushed_ < pendingCount_) {
        stream_->PlayNow();
        return PumpResult::NotDone;
    }
    return PumpResult::Done;
}

void SoundChannel::FadePause(bool pause) {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    if (!stream_ || !e.device) return;
    std::lock_guard deviceLock(e.device->lock());
    stream_->FadePause(kFadeSeconds, pause);
}

void SoundChannel::Stop() {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    pendingCount_ = pushed_ = 0;
    if (!stream_ || !e.device) return;
    {
        std::lock_guard deviceLock(e.device->lock());
        stream_->FadeOutAndStop(kFadeSeconds);
    }
    stream_.reset();
    fadeInNext_ = true;
}

void SoundChannel::PlayNow() {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    if (!stream_ || !e.device) return;
    std::lock_guard deviceLock(e.device->lock());
    stream_->PlayNow();
}

std::size_t SoundChannel::QueuedBytes() {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    if (!stream_ || !e.device) return 0;
    std::lock_guard deviceLock(e.device->lock());
    if (stream_->finished() || stream_->failed()) return 0;
    return stream_->QueuedBytes();
}

bool SoundChannel::OutputFailed() {
    Engine& e = TheEngine();
    std::lock_guard lock(e.lock);
    if (!e.device) return false;
    if (e.device->OutputFailed()) return true;
    if (!stream_) return false;
    std::lock_guard deviceLock(e.device->lock());
    return stream_->failed();
}

}  // namespace kiv
