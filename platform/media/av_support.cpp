#include "platform/media/av_support.h"

#include <cerrno>

#include "platform/media/media_types.h"

namespace kiv::media::av {

HRESULT ToHResult(int averror) {
    if (averror >= 0) return S_OK;
    if (averror == AVERROR_EOF) return NS_E_NO_MORE_SAMPLES;
    if (averror == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    // AVERROR(e) is -e for the system's error numbers, which are small;
    // FFmpeg's own codes are tags far outside that range.
    int e = -averror;
    if (e > 0 && e < 4096) return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(e));
    return NS_E_INVALID_DATA;
}

int ToAvError(HRESULT hr) {
    auto u = static_cast<std::uint32_t>(hr);
    if ((u & 0xFFFF0000u) == 0x80070000u && (u & 0xFFFFu) != 0) return AVERROR(static_cast<int>(u & 0xFFFFu));
    if (hr == E_OUTOFMEMORY) return AVERROR(ENOMEM);
    return AVERROR(EIO);
}


}  // namespace kiv::media::av
