#include "platform/media/profile.h"

namespace kiv::media {

HRESULT Profile::SetName(std::u16string_view name) {
    name_.assign(name);
    return S_OK;
}

HRESULT Profile::CreateNewStream(const GUID& streamType, std::unique_ptr<StreamConfig>& out) const {
    if (!(streamType == WMMEDIATYPE_Audio) && !(streamType == WMMEDIATYPE_Video)) return E_INVALIDARG;
    out = std::make_unique<StreamConfig>(streamType);
    return S_OK;
}

HRESULT Profile::AddStream(const StreamConfig& config) {
    if (config.GetStreamNumber() == 0) return E_INVALIDARG;
    if (FindStream(config.GetStreamNumber()) != nullptr) return E_INVALIDARG;
    streams_.push_back(config);
    return S_OK;
}

HRESULT Profile::GetStream(DWORD index, std::unique_ptr<StreamConfig>& out) const {
    if (index >= streams_.size()) return E_INVALIDARG;
    out = std::make_unique<StreamConfig>(streams_[index]);
    return S_OK;
}

const StreamConfig* Profile::FindStream(WORD streamNumber) const {
    for (const auto& s : streams_)
        if (s.GetStreamNumber() == streamNumber) return &s;
    return nullptr;
}

}  // namespace kiv::media
