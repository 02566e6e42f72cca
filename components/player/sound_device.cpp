#include "components/player/sound_device.h"

#include <pthread.h>

#include <chrono>

namespace kiv {

using namespace kiv::sound;

std::shared_ptr<SoundStream> SoundDevice::CreateStream(const StreamFormat& format, DWORD bufferMs,
                                                       bool hardwareMixing) {
    auto stream = std::make_shared<SoundStream>(format, bufferMs, hardwareMixing);
    std::lock_guard lock(lock_);
    streams_.push_back(stream);
    if (!running_) {
        // A thread that ended by itself has left the locked section for good.
        if (thread_.joinable()) thread_.join();
        quit_ = false;
        outputFailed_ = false;
        running_ = true;
        thread_ = std::thread([this] { Service(); });
    }
    return stream;
}

void SoundDevice::SelectOutput(const GUID* device) {
    std::lock_guard lock(lock_);
    if (device) device_ = *device;
    else device_.reset();
}

void SoundDevice::Service() {
    // Time-critical where the system allows it; an ordinary thread still works.
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);

    std::unique_ptr<IDirectSound> sound;
    {
        std::lock_guard lock(lock_);
        const GUID* guid = device_ ? &*device_ : nullptr;
        if (FAILED(DirectSoundCreate(guid, sound)) || !sound ||
            FAILED(sound->SetCooperativeLevel(window_, DSSCL_PRIORITY))) {
            sound.reset();
            outputFailed_ = true;
            running_ = false;
            return;
        }
    }
    for (;;) {
        if (quit_) break;
        {
            std::lock_guard lock(lock_);
            if (quit_) break;
            for (auto it = streams_.begin(); it != streams_.end();) {
                if ((*it)->ServiceTurn(*sound)) {
                    ++it;
                } else {
                    (*it)->ReleaseBuffer();
                    it = streams_.erase(it);
                    if (streams_.empty()) {
                        sound.reset();
                        running_ = false;
                        return;
                    }
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard lock(lock_);
    for (auto& s : streams_) s->ReleaseBuffer();
    sound.reset();
}

void SoundDevice::Destroy(bool waitForFades) {
    if (waitForFades) {
        // Streams fading towards a stop get the time to finish.
        for (int waited = 0; waited < 10000; ++waited) {
            {
                std::lock_guard lock(lock_);
                bool fading = false;
                for (auto& s : streams_) fading = fading || s->IsActive();
                if (!fading || !running_) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    quit_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(lock_);
    for (auto& s : streams_) {
        s->StopNow();
        s->ReleaseBuffer();
    }
    streams_.clear();
    running_ = false;
}

}  // namespace kiv
