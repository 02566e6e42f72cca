// The back-end that plays through PortAudio's default output device.
//
// One output stream per device, float samples at the device's own rate,
// mono or stereo. The callback mixes every playing buffer into it: each
// buffer is read at its play cursor, converted to the output rate by linear
// interpolation, scaled by its volume and summed; the sum is clipped.
#pragma once

#include <memory>
#include <vector>

#include "platform/sound/output_engine.h"

namespace kiv::sound {

class PortAudioEngine final : public OutputEngine {
public:
    // DSERR_NODRIVER when PortAudio has no usable output device.
    static HRESULT Open(std::shared_ptr<PortAudioEngine>& out);
    ~PortAudioEngine() override;

    PortAudioEngine(const PortAudioEngine&) = delete;
    PortAudioEngine& operator=(const PortAudioEngine&) = delete;

    SoundBackend Backend() const override { return SoundBackend::PortAudio; }
    void Advance() override {}  // the callback moves the cursors
    void Attach(BufferState& buffer) override;
    void Detach(BufferState& buffer) override;
    void Started(BufferState&) override {}
    void Stopped(BufferState&) override {}
    DWORD WriteLeadFrames(const BufferState& buffer) const override;

    // Called from PortAudio's callback thread.
    void Render(float* out, unsigned long frames);

private:
    PortAudioEngine() = default;
    void MixBuffer(BufferState& b, float* out, unsigned long frames);

    struct StreamCloser {
        void operator()(void* stream) const;
    };
    struct Library {
        bool initialized = false;
        ~Library();
    };

    Library library_;  // declared first: terminated after the stream closes
    std::unique_ptr<void, StreamCloser> stream_;
    double rate_ = 0;
    int channels_ = 0;
    double latencySeconds_ = 0;
    std::vector<BufferState*> buffers_;
};

}  // namespace kiv::sound
