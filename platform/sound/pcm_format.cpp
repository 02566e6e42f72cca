#include "platform/sound/pcm_format.h"

#include "platform/riff/pcm_layout.h"

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
    const std::optional<PcmLayout> layout = ReadPcmLayout(format);
    if (!layout) return std::nullopt;
    if (layout->channels > 8) return std::nullopt;
    if (layout->rate < DSBFREQUENCY_MIN || layout->rate > DSBFREQUENCY_MAX) return std::nullopt;
    PcmFormat out{layout->rate, layout->channels, layout->bits, layout->isFloat};
    if (format.nAvgBytesPerSec != out.ByteRate()) return std::nullopt;
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
