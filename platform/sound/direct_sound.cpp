#include "platform/sound/direct_sound.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/sound/null_engine.h"
#include "platform/sound/output_device.h"
#include "platform/sound/portaudio_engine.h"

namespace kiv::sound {

namespace {

std::optional<std::string_view> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

SoundBackend BackendForSetting(std::optional<std::string_view> value) {
    if (!value) return SoundBackend::PortAudio;
    std::string lower(*value);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "null" ? SoundBackend::Null : SoundBackend::PortAudio;
}

SoundBackend SelectedBackend() { return BackendForSetting(Environment(kSoundBackendVariable)); }

HRESULT DirectSoundCreate(const GUID* device, std::unique_ptr<IDirectSound>& sound) {
    if (device != nullptr && !(*device == GUID_NULL) && !(*device == DSDEVID_DefaultPlayback))
        return DSERR_NODRIVER;
    try {
        std::shared_ptr<OutputEngine> engine;
        if (SelectedBackend() == SoundBackend::Null) {
            auto null = NullEngine::Instance();
            null->UseCapture(std::string(Environment(kSoundCaptureVariable).value_or("")));
            engine = std::move(null);
        } else {
            std::shared_ptr<PortAudioEngine> pa;
            if (HRESULT hr = PortAudioEngine::Open(pa); FAILED(hr)) return hr;
            engine = std::move(pa);
        }
        sound = std::make_unique<OutputDevice>(std::move(engine));
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    return DS_OK;
}

}  // namespace kiv::sound

extern "C" kiv::HRESULT DirectSoundCreate(const kiv::GUID* device, std::unique_ptr<kiv::sound::IDirectSound>* sound,
                                          void* outer) {
    if (sound == nullptr) return kiv::sound::DSERR_INVALIDPARAM;
    if (outer != nullptr) return kiv::sound::DSERR_NOAGGREGATION;
    return kiv::sound::DirectSoundCreate(device, *sound);
}
