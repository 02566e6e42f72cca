// The device object of any back-end.
#pragma once

#include <memory>

#include "platform/sound/direct_sound.h"
#include "platform/sound/output_engine.h"

namespace kiv::sound {

class OutputDevice final : public IDirectSound {
public:
    explicit OutputDevice(std::shared_ptr<OutputEngine> engine);
    ~OutputDevice() override;

    HRESULT SetCooperativeLevel(WindowHandle window, DWORD level) override;
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, std::unique_ptr<IDirectSoundBuffer>& buffer) override;
    SoundBackend Backend() const override { return engine_->Backend(); }

private:
    std::shared_ptr<OutputEngine> engine_;
    WindowHandle window_ = nullptr;
    DWORD level_ = 0;
};

}  // namespace kiv::sound
