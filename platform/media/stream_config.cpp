#include "platform/media/stream_config.h"

namespace kiv::media {

HRESULT StreamConfig::SetStreamNumber(WORD number) {
    if (number < 1 || number > 63) return E_INVALIDARG;
    streamNumber_ = number;
    return S_OK;
}

HRESULT StreamConfig::SetStreamName(std::u16string_view name) {
    streamName_.assign(name);
    return S_OK;
}

HRESULT StreamConfig::SetConnectionName(std::u16string_view name) {
    connectionName_.assign(name);
    return S_OK;
}

HRESULT StreamConfig::SetBitrate(DWORD bitsPerSecond) {
    bitrate_ = bitsPerSecond;
    return S_OK;
}

HRESULT StreamConfig::SetMediaType(const MediaType& type) {
    if (!(type.majorType == streamType_)) return E_INVALIDARG;
    mediaType_ = type;
    return S_OK;
}

}  // namespace kiv::media
