// The process's sound output: the device object, the list of live streams
// and the service thread that keeps every stream's buffer filled.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "components/player/sound_stream.h"

namespace kiv {

class SoundDevice {
public:
    explicit SoundDevice(sound::WindowHandle window) : window_(window) {}
    ~SoundDevice() { Destroy(false); }
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    // The lock that guards the stream list and every field of every stream.
    std::mutex& lock() { return lock_; }

    std::shared_ptr<SoundStream> CreateStream(const StreamFormat& format, DWORD bufferMs, bool hardwareMixing);
    // null selects the default device.
    void SelectOutput(const GUID* device);
    // Whether the latest service thread could not open the output.
    bool OutputFailed() const { return outputFailed_; }
    void Destroy(bool waitForFades);

private:
    void Service();

    std::mutex lock_;
    sound::WindowHandle window_;
    std::optional<GUID> device_;
    std::vector<std::shared_ptr<SoundStream>> streams_;
    std::thread thread_;
    bool running_ = false;
    std::atomic<bool> quit_{false};
    std::atomic<bool> outputFailed_{false};
};

}  // namespace kiv
