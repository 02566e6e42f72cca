#include "platform/sound/output_device.h"

#include "platform/sound/secondary_buffer.h"

namespace kiv::sound {

OutputDevice::OutputDevice(std::shared_ptr<OutputEngine> engine) : engine_(std::move(engine)) {}

OutputDevice::~OutputDevice() {
    // Buffers may outlive their device and go on playing; what has played
    // so far is accounted for now, so a capture is complete at this point.
    std::lock_guard lock(engine_->Mutex());
    engine_->Advance();
}

HRESULT OutputDevice::SetCooperativeLevel(WindowHandle window, DWORD level) {
    if (window == nullptr || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    // Every program here shares the output through the sound server, so no
    // level takes the device from anyone; it is remembered, not enforced.
    window_ = window;
    level_ = level;
    return DS_OK;
}

HRESULT OutputDevice::CreateSoundBuffer(const DSBUFFERDESC* desc, std::unique_ptr<IDirectSoundBuffer>& buffer) {
    if (desc == nullptr) return DSERR_INVALIDPARAM;
    return SecondaryBuffer::Create(engine_, *desc, buffer);
}

}  // namespace kiv::sound
