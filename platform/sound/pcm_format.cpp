#include "platform/sound/pcm_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv::sound {

WAVEFORMATEX PcmFormat::ToWaveFormat() const {
    WAVEFORMATEX f{};
    f.wFormatTag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nAvgBytesPerSec = ByteRate();
    f.nBlockAlign = BlockAlign();
    f.wBitsPerSample = bits;
    f.cbSize = 0;
    return f;
}

std::optional<PcmFormat> ParsePcmFormat(const WAVEFORMATEX& format) {
    PcmFormat out;
    out.rate = format.nSamplesPerSec;
    out.channels = format.nChannels;
    out.bits = format.wBitsPerSample;
    switch (format.wFormatTag) {
    case WAVE_FORMAT_PCM:
        break;
    case WAVE_FORMAT_IEEE_FLOAT:
        out.isFloat = true;
        break;
    case WAVE_FORMAT_EXTENSIBLE: {
        if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return std::nullopt;
        WAVEFORMATEXTENSIBLE ext;
        std::memcpy(&ext, &format, sizeof ext);
        if (ext.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
            out.isFloat = true;
        else if (!(ext.SubFormat == KSDATAFORMAT_SUBTYPE_PCM))
            return std::nullopt;
        // Fewer valid bits than the container only means the low bits are
        // zero; the data plays the same.
        if (ext.Samples.wValidBitsPerSample > out.bits) return std::nullopt;
        break;
    }
    default:
        return std::nullopt;
    }
    const bool bitsOk = out.isFloat ? out.bits == 32
                                    : (out.bits == 8 || out.bits == 16 || out.bits == 24 || out.bits == 32);
    if (!bitsOk) return std::nullopt;
    if (out.channels < 1 || out.channels > 8) return std::nullopt;
    if (out.rate < DSBFREQUENCY_MIN || out.rate > DSBFREQUENCY_MAX) return std::nullopt;
    if (format.nBlockAlign != out.BlockAlign() || format.nAvgBytesPerSec != out.ByteRate()) return std::nullopt;
    return out;
}

BYTE SilenceByte(const PcmFormat& format) { return !format.isFloat && format.bits == 8 ? 128 : 0; }

double FullScale(const PcmFormat& format) {
    if (format.isFloat) return 1.0;
    return std::ldexp(1.0, format.bits - 1);
}

double ReadSample(const PcmFormat& format, const BYTE* p) {
    if (format.isFloat) {
        float f;
        std::memcpy(&f, p, sizeof f);
        return f;
    }
    switch (format.bits) {
    case 8:
        return static_cast<int>(p[0]) - 128;
    case 16:
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    case 24: {
        std::int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
        if (v & 0x800000) v -= 0x1000000;
        return v;
    }
    default: {
        std::uint32_t u = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                          (std::uint32_t(p[3]) << 24);
        return static_cast<std::int32_t>(u);
    }
    }
}

void WriteSample(const PcmFormat& format, double value, BYTE* p) {
    if (format.isFloat) {
        const float f = static_cast<float>(value);
        std::memcpy(p, &f, sizeof f);
        return;
    }
    const double scale = FullScale(format);
    const double v = std::clamp(std::nearbyint(value), -scale, scale - 1);
    const auto i = static_cast<std::int64_t>(v);
    if (format.bits == 8) {
        p[0] = static_cast<BYTE>(i + 128);
        return;
    }
    const auto u = static_cast<std::uint32_t>(i);
    for (int b = 0; b < format.bits / 8; ++b) p[b] = static_cast<BYTE>(u >> (8 * b));
}

double GainFromHundredthsOfDb(LONG hundredths) {
    if (hundredths <= DSBVOLUME_MIN) return 0.0;
    if (hundredths >= 0) return 1.0;
    return std::pow(10.0, hundredths / 2000.0);
}

}  // namespace kiv::sound
