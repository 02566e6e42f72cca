#include "platform/media/media_types.h"

#include <cstring>

namespace kiv::media {

bool MediaType::GetWaveFormat(WAVEFORMATEX& out) const {
    if (!(formatType == WMFORMAT_WaveFormatEx) || format.size() < sizeof(WAVEFORMATEX)) return false;
    std::memcpy(&out, format.data(), sizeof(WAVEFORMATEX));
    return true;
}

MediaType MediaType::ForWaveFormat(const GUID& subtype, const WAVEFORMATEX& wfx, const BYTE* extra,
                                   std::size_t extraSize) {
    MediaType mt;
    mt.majorType = WMMEDIATYPE_Audio;
    mt.subtype = subtype;
    mt.fixedSizeSamples = true;
    mt.temporalCompression = false;
    mt.sampleSize = wfx.nBlockAlign;
    mt.formatType = WMFORMAT_WaveFormatEx;
    WAVEFORMATEX head = wfx;
    head.cbSize = static_cast<WORD>(extraSize);
    mt.format.resize(sizeof(WAVEFORMATEX) + extraSize);
    std::memcpy(mt.format.data(), &head, sizeof(WAVEFORMATEX));
    if (extraSize != 0) std::memcpy(mt.format.data() + sizeof(WAVEFORMATEX), extra, extraSize);
    return mt;
}

}  // namespace kiv::media
