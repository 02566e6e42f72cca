// The PCM layouts a sound buffer can hold, and sample access for mixing.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/sound/sound_types.h"

namespace kiv::sound {

struct PcmFormat {
    DWORD rate = 0;
    WORD channels = 0;
    WORD bits = 0;
    bool isFloat = false;

    WORD BlockAlign() const { return static_cast<WORD>(channels * (bits / 8)); }
    DWORD ByteRate() const { return rate * BlockAlign(); }
    // The plain record (format tag 1 or 3, cbSize 0) for this layout.
    WAVEFORMATEX ToWaveFormat() const;
    friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};

// Accepts PCM of 8, 16, 24 or 32 bits, IEEE float of 32 bits, either as a
// plain record or as WAVEFORMATEXTENSIBLE (cbSize >= 22, PCM or float
// sub-format), 1 to 8 channels, rates DSBFREQUENCY_MIN..MAX, with
// nBlockAlign and nAvgBytesPerSec consistent. Anything else: nullopt.
std::optional<PcmFormat> ParsePcmFormat(const WAVEFORMATEX& format);

// Silence as a byte value: 128 for 8-bit data, 0 otherwise.
BYTE SilenceByte(const PcmFormat& format);

// One sample at `data` as a value in the format's own scale, with 8-bit data
// centred on 0 (so -128..127), integers as is, float as is.
double ReadSample(const PcmFormat& format, const BYTE* data);
// Writes a value in the same scale, rounded and clamped to the format's range.
void WriteSample(const PcmFormat& format, double value, BYTE* data);
// Full scale of the format's values (128, 32768, 8388608, 2147483648 or 1).
double FullScale(const PcmFormat& format);

// 10^(hundredths / 2000); DSBVOLUME_MIN and below give 0.
double GainFromHundredthsOfDb(LONG hundredths);

}  // namespace kiv::sound
