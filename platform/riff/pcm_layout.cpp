#include "platform/riff/pcm_layout.h"

#include <bit>
#include <cstring>

namespace kiv {

DWORD StandardChannelMask(WORD channels) {
    switch (channels) {
        case 1: return kSpeakerFrontCenter;
        case 2: return 0x3;     // front left, front right
        case 3: return 0x7;     // + front centre
        case 4: return 0x33;    // front and back pairs
        case 5: return 0x37;    // front pair, centre, back pair
        case 6: return 0x3F;    // 5.1
        case 7: return 0x70F;   // 5.1 with sides, back centre
        case 8: return 0x63F;   // 7.1
        default: return 0;
    }
}

DWORD PcmLayout::EffectiveMask() const { return channelMask ? channelMask : StandardChannelMask(channels); }

std::optional<PcmLayout> ReadPcmLayout(const WAVEFORMATEX& format) {
    PcmLayout out;
    out.channels = format.nChannels;
    out.rate = format.nSamplesPerSec;
    out.bits = format.wBitsPerSample;
    switch (format.wFormatTag) {
        case WAVE_FORMAT_PCM: break;
        case WAVE_FORMAT_IEEE_FLOAT: out.isFloat = true; break;
        case WAVE_FORMAT_EXTENSIBLE: {
            if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return std::nullopt;
            WAVEFORMATEXTENSIBLE ext;
            std::memcpy(&ext, &format, sizeof ext);
            if (ext.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) out.isFloat = true;
            else if (!(ext.SubFormat == KSDATAFORMAT_SUBTYPE_PCM)) return std::nullopt;
            // Fewer valid bits than the container only means the low bits
            // are zero: the samples read the same.
            if (ext.Samples.wValidBitsPerSample > out.bits) return std::nullopt;
            // A mask naming more speakers than there are channels is damaged;
            // the channels are then taken in the usual layout.
            if (std::popcount(ext.dwChannelMask) <= out.channels) out.channelMask = ext.dwChannelMask;
            break;
        }
        default: return std::nullopt;
    }
    const bool bitsOk = out.isFloat ? out.bits == 32 : (out.bits == 8 || out.bits == 16 || out.bits == 24 || out.bits == 32);
    if (!bitsOk) return std::nullopt;
    if (out.channels < 1 || out.channels > kMaxPcmChannels) return std::nullopt;
    if (out.rate < 1 || out.rate > kMaxPcmRate) return std::nullopt;
    if (format.nBlockAlign != out.FrameBytes()) return std::nullopt;
    return out;
}

PcmFormatRecord MakePcmFormatRecord(const PcmLayout& layout) {
    PcmFormatRecord r;
    WAVEFORMATEX& f = r.record.Format;
    f.wFormatTag = layout.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    f.nChannels = layout.channels;
    f.nSamplesPerSec = layout.rate;
    f.nAvgBytesPerSec = layout.ByteRate();
    f.nBlockAlign = layout.FrameBytes();
    f.wBitsPerSample = layout.bits;
    f.cbSize = 0;
    if (layout.NeedsExtensible()) {
        f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        f.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        r.record.Samples.wValidBitsPerSample = layout.bits;
        r.record.dwChannelMask = layout.EffectiveMask();
        r.record.SubFormat = layout.isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
        r.size = sizeof(WAVEFORMATEXTENSIBLE);
    }
    return r;
}

}  // namespace kiv
