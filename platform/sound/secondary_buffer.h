// A looping secondary buffer of any back-end.
#pragma once

#include <memory>

#include "platform/sound/direct_sound.h"
#include "platform/sound/output_engine.h"

namespace kiv::sound {

class SecondaryBuffer final : public IDirectSoundBuffer {
public:
    // Validates the description; on success `out` holds the new buffer.
    static HRESULT Create(std::shared_ptr<OutputEngine> engine, const DSBUFFERDESC& desc,
                          std::unique_ptr<IDirectSoundBuffer>& out);
    ~SecondaryBuffer() override;

    SecondaryBuffer(const SecondaryBuffer&) = delete;
    SecondaryBuffer& operator=(const SecondaryBuffer&) = delete;

    HRESULT GetCaps(DSBCAPS* caps) override;
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD allocated, DWORD* sizeWritten) override;
    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override;
    HRESULT SetCurrentPosition(DWORD play) override;
    HRESULT GetStatus(DWORD* status) override;
    HRESULT GetVolume(LONG* volume) override;
    HRESULT SetVolume(LONG volume) override;
    HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override;
    HRESULT Stop() override;
    HRESULT Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2, DWORD* bytes2,
                 DWORD flags) override;
    HRESULT Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2) override;
    HRESULT Restore() override;

private:
    explicit SecondaryBuffer(std::shared_ptr<OutputEngine> engine);
    // Takes the engine lock and brings the cursors up to now.
    std::unique_lock<std::mutex> Enter();
    void FillWithSilence();

    std::shared_ptr<OutputEngine> engine_;
    BufferState state_;
};

}  // namespace kiv::sound
