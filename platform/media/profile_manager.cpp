#include "platform/media/profile_manager.h"

namespace kiv::media {

HRESULT ProfileManager::Create(std::unique_ptr<ProfileManager>& out) {
    out = std::make_unique<ProfileManager>();
    return S_OK;
}

HRESULT ProfileManager::CreateEmptyProfile(DWORD version, std::unique_ptr<Profile>& out) const {
    if (version != WMT_VER_9_0) return E_INVALIDARG;
    out = std::make_unique<Profile>(version);
    return S_OK;
}

}  // namespace kiv::media
