#include "platform/media/codec_info.h"

#include <cstring>

#include "platform/media/wma_format_table.h"

namespace kiv::media {

namespace {

constexpr std::u16string_view kVbrEnabled = u"_VBRENABLED";

}  // namespace

HRESULT CodecInfo::CheckCodec(const GUID& majorType, DWORD codecIndex) const {
    if (!(majorType == WMMEDIATYPE_Audio) || codecIndex != 0) return E_INVALIDARG;
    return S_OK;
}

HRESULT CodecInfo::GetCodecInfoCount(const GUID& majorType, DWORD* count) const {
    if (count == nullptr) return E_POINTER;
    if (majorType == WMMEDIATYPE_Audio) *count = 1;
    else if (majorType == WMMEDIATYPE_Video) *count = 0;
    else return E_INVALIDARG;
    return S_OK;
}

HRESULT CodecInfo::GetCodecFormatCount(const GUID& majorType, DWORD codecIndex, DWORD* count) const {
    if (count == nullptr) return E_POINTER;
    if (HRESULT hr = CheckCodec(majorType, codecIndex); FAILED(hr)) return hr;
    *count = static_cast<DWORD>((vbrEnabled_ ? QualityFormats() : ConstantBitrateFormats()).size());
    return S_OK;
}

HRESULT CodecInfo::GetCodecFormat(const GUID& majorType, DWORD codecIndex, DWORD formatIndex,
                                  std::unique_ptr<StreamConfig>& out) const {
    if (HRESULT hr = CheckCodec(majorType, codecIndex); FAILED(hr)) return hr;
    const auto& formats = vbrEnabled_ ? QualityFormats() : ConstantBitrateFormats();
    if (formatIndex >= formats.size()) return E_INVALIDARG;
    const WmaFormat& f = formats[formatIndex];
    auto config = std::make_unique<StreamConfig>(WMMEDIATYPE_Audio);
    MediaType mt = MediaType::ForWaveFormat(WMMEDIASUBTYPE_WMAudioV8, f.wfx, f.extra.data(), f.extra.size());
    config->SetMediaType(mt);
    config->SetBitrate(f.qualityLevel == 0 ? f.wfx.nAvgBytesPerSec * 8 : 0);
    out = std::move(config);
    return S_OK;
}

HRESULT CodecInfo::SetCodecEnumerationSetting(const GUID& majorType, DWORD codecIndex, std::u16string_view name,
                                              AttrType type, const BYTE* value, DWORD length) {
    if (HRESULT hr = CheckCodec(majorType, codecIndex); FAILED(hr)) return hr;
    if (name != kVbrEnabled || type != AttrType::Bool || length != 4) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    std::int32_t flag = 0;
    std::memcpy(&flag, value, 4);
    vbrEnabled_ = flag != 0;
    return S_OK;
}

HRESULT CodecInfo::GetCodecEnumerationSetting(const GUID& majorType, DWORD codecIndex, std::u16string_view name,
                                              AttrType* type, BYTE* value, DWORD* length) const {
    if (type == nullptr || length == nullptr) return E_POINTER;
    if (HRESULT hr = CheckCodec(majorType, codecIndex); FAILED(hr)) return hr;
    if (name != kVbrEnabled) return E_INVALIDARG;
    *type = AttrType::Bool;
    if (value != nullptr) {
        if (*length < 4) return ASF_E_BUFFERTOOSMALL;
        std::int32_t flag = vbrEnabled_ ? 1 : 0;
        std::memcpy(value, &flag, 4);
    }
    *length = 4;
    return S_OK;
}

}  // namespace kiv::media
