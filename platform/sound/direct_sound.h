// The sound-output device and its looping secondary buffers.
//
// A device is created by DirectSoundCreate, which chooses the back-end from
// the environment:
//   KIV_SOUND=null            the null device: no audio hardware is touched;
//                             play cursors advance with a monotonic clock at
//                             each buffer's byte rate.
//   KIV_SOUND_CAPTURE=path    with the null device, what the play cursors
//                             pass is written to this WAV file (see
//                             null_sound_control.h for the exact rules).
//   anything else             PortAudio on the default output device
//                             (ALSA, PulseAudio or PipeWire).
//
// Buffers behave as the streaming engine expects: memory is written between
// Lock and Unlock (two regions when the range wraps), Play with
// DSBPLAY_LOOPING loops until Stop, the play cursor is read with
// GetCurrentPosition, volume is in hundredths of a decibel, and a buffer
// that reports DSBSTATUS_BUFFERLOST refuses Lock and Play until Restore.
// Every member may be called from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/sound/sound_types.h"

namespace kiv::sound {

enum class SoundBackend { Null, PortAudio };

class IDirectSoundBuffer {
public:
    virtual ~IDirectSoundBuffer() = default;

    virtual HRESULT GetCaps(DSBCAPS* caps) = 0;
    // Copies the format into the caller's record; sizeWritten (optional)
    // receives the bytes needed, which may exceed allocated.
    virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD allocated, DWORD* sizeWritten) = 0;
    // Byte offsets into the buffer; either pointer may be null.
    virtual HRESULT GetCurrentPosition(DWORD* play, DWORD* write) = 0;
    virtual HRESULT SetCurrentPosition(DWORD play) = 0;
    virtual HRESULT GetStatus(DWORD* status) = 0;
    virtual HRESULT GetVolume(LONG* volume) = 0;
    virtual HRESULT SetVolume(LONG volume) = 0;
    // reserved1 and priority must be 0; flags: DSBPLAY_LOOPING or 0.
    virtual HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
    virtual HRESULT Stop() = 0;
    // Locks `bytes` bytes from `offset` (or from the write cursor, or the whole
    // buffer, by flags). When the range runs past the end, the second region
    // is the rest from offset 0; otherwise *ptr2 is null and *bytes2 is 0.
    // ptr2 and bytes2 may be null when the caller knows the range cannot wrap;
    // a range that would wrap is then cut at the end of the buffer.
    virtual HRESULT Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2,
                         DWORD* bytes2, DWORD flags) = 0;
    // Hands back the regions of one Lock, with the byte counts written.
    virtual HRESULT Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2) = 0;
    // Makes a lost buffer usable again; its contents must be written anew.
    virtual HRESULT Restore() = 0;
};

class IDirectSound {
public:
    virtual ~IDirectSound() = default;

    virtual HRESULT SetCooperativeLevel(WindowHandle window, DWORD level) = 0;
    // Secondary buffers only; a primary buffer is refused with
    // DSERR_UNSUPPORTED because mixing is done here, not by the caller.
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc,
                                      std::unique_ptr<IDirectSoundBuffer>& buffer) = 0;
    // Which back-end this device plays through.
    virtual SoundBackend Backend() const = 0;
};

// Environment variable names.
inline constexpr const char* kSoundBackendVariable = "KIV_SOUND";
inline constexpr const char* kSoundCaptureVariable = "KIV_SOUND_CAPTURE";

// The back-end chosen for a value of KIV_SOUND (nullopt when it is unset).
// Only "null" (in any case) selects the null device.
SoundBackend BackendForSetting(std::optional<std::string_view> value);
// The back-end DirectSoundCreate would choose now.
SoundBackend SelectedBackend();

// device: null for the default output device (the only one there is).
// Returns DSERR_NODRIVER when the back-end has no output device.
HRESULT DirectSoundCreate(const GUID* device, std::unique_ptr<IDirectSound>& sound);

}  // namespace kiv::sound

// The same factory with C linkage, for a host that binds the library at run
// time: dlsym(handle, kiv::sound::kDirectSoundCreateSymbol).
// outer must be null (no aggregation).
extern "C" kiv::HRESULT DirectSoundCreate(const kiv::GUID* device,
                                          std::unique_ptr<kiv::sound::IDirectSound>* sound,
                                          void* outer);

namespace kiv::sound {
using DirectSoundCreateFunction = HRESULT (*)(const GUID*, std::unique_ptr<IDirectSound>*, void*);
inline constexpr const char* kDirectSoundCreateSymbol = "DirectSoundCreate";
inline constexpr const char* kSoundLibraryName = "libkivsound.so";
}  // namespace kiv::sound
