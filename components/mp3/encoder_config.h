// The encoder library's configuration record for an output mode and input
// format: variable bitrate through the nearest tuned preset, average and
// constant bitrate through the library's ABR and CBR presets for stereo at
// MPEG-1 rates, and plain settings for everything else (mono, the lower
// rates, constant bitrates below 80 kbit/s).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/com/types.h"
#include "runtime/lame_enc/lame_enc.h"

namespace kiv::mp3 {

enum class OutputMode : std::int32_t { constantBitrate = 0, averageBitrate = 1, variableBitrate = 2 };

// The output mode with its parameter, as the three setters store it.
struct OutputSetting {
    OutputMode mode = OutputMode::variableBitrate;
    LONG bitrate = 0;      // bits per second, constant and average modes
    float quality = 0.5f;  // 0..1, variable mode
};

// Which set of record values the setting took; the library's refusal is
// reported with a different number for the plain case.
enum class ConfigCase { variable, average, constant, plain };

struct EncoderConfig {
    lame_enc::BE_CONFIG record;
    ConfigCase configCase;
};

// The bitrates (bits per second) allowed in constant-bitrate mode at a
// sample rate: the MPEG-1 Layer III set from 32000 Hz, the MPEG-2 set below.
bool IsAllowedConstantBitrate(LONG bitrate, DWORD sampleRate);

// The tuned VBR preset nearest to a quality (medium, standard, extreme,
// insane at 0.25, 0.5, 0.75, 0.9; ties to the lower); nullopt only for a
// quality that is not a number.
std::optional<std::int32_t> VbrPresetFor(float quality);

// nullopt when no VBR preset can be chosen for the quality. writeVbrHeader
// is false for a stream going to a caller's handle, which cannot be
// rewritten afterwards.
std::optional<EncoderConfig> MakeEncoderConfig(const OutputSetting& setting, const WAVEFORMATEX& input,
                                               bool writeVbrHeader);

}  // namespace kiv::mp3
