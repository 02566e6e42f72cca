// What a back-end does for the buffers of its devices.
//
// A buffer's state lives in BufferState and is only read or changed under
// the engine's mutex. The buffer object handles validation, memory and
// locking; the engine decides how the play cursor moves (a clock for the
// null device, the audio callback for PortAudio) and what happens to the
// bytes it passes.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/sound/direct_sound.h"
#include "platform/sound/pcm_format.h"

namespace kiv::sound {

struct BufferState {
    PcmFormat format;
    std::vector<BYTE> formatRecord;  // the record as the creator gave it
    DWORD flags = 0;
    std::vector<BYTE> memory;
    DWORD frames = 0;  // memory.size() / block align

    LONG volume = 0;
    double gain = 1.0;
    bool playing = false;
    bool looping = false;
    bool lost = false;
    int openLocks = 0;

    // Play cursor in frames. Whole for the null device; the PortAudio
    // back-end keeps the fraction its rate conversion has reached.
    double playFrame = 0;

    // Null device: the clock reading at which the cursor was last anchored,
    // and the frames consumed since then.
    std::int64_t anchorNs = 0;
    std::uint64_t framesSinceAnchor = 0;
    // Null device capture: the capture file generation this buffer feeds
    // (0: none), and the capture frame its next frame lands on.
    std::uint64_t captureGeneration = 0;
    std::uint64_t captureFrame = 0;

    DWORD Bytes() const { return static_cast<DWORD>(memory.size()); }
};

class OutputEngine {
public:
    virtual ~OutputEngine() = default;

    std::mutex& Mutex() { return mutex_; }

    virtual SoundBackend Backend() const = 0;

    // The hooks below are called with Mutex() held.
    // Brings every playing buffer up to the present moment.
    virtual void Advance() = 0;
    virtual void Attach(BufferState& buffer) = 0;
    virtual void Detach(BufferState& buffer) = 0;
    // After playing became true, or the cursor was moved while playing.
    virtual void Started(BufferState& buffer) = 0;
    // After playing became false.
    virtual void Stopped(BufferState& buffer) = 0;
    // How far ahead of the play cursor writing is already unsafe.
    virtual DWORD WriteLeadFrames(const BufferState& buffer) const = 0;

private:
    std::mutex mutex_;
};

}  // namespace kiv::sound
