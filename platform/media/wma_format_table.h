// The formats the WMA codec offers, worked out once per process from what
// the FFmpeg encoder accepts. Internal to kivmedia.
#pragma once

#include <vector>

#include "platform/media/media_types.h"

namespace kiv::media {

struct WmaFormat {
    WAVEFORMATEX wfx;          // tag 0x161; cbSize = extra.size()
    std::vector<BYTE> extra;   // the codec's own setup bytes
    DWORD encoderBitrate;      // bits per second the encoder runs at
    BYTE qualityLevel;         // 0 for constant-bitrate formats
};

// Constant-bitrate formats: nAvgBytesPerSec is the bitrate / 8.
const std::vector<WmaFormat>& ConstantBitrateFormats();

// Quality-level formats: the low byte of nAvgBytesPerSec is the level
// (10, 25, 50, 75, 90, 98), the rest approximates the average byte rate
// that level produces.
const std::vector<WmaFormat>& QualityFormats();

// The bitrate a quality level is encoded at for a channel count and rate.
DWORD QualityLevelBitrate(BYTE level, WORD channels, DWORD sampleRate);

// Opens the encoder for the settings and reports its block size and setup
// bytes; false when the encoder refuses them.
bool ProbeWmaEncoder(WORD channels, DWORD sampleRate, DWORD bitrate, WORD& blockAlign, std::vector<BYTE>& extra);

// Limits of the FFmpeg WMA encoder.
constexpr DWORD kWmaMinBitrate = 24000;
constexpr DWORD kWmaMaxSampleRate = 48000;
constexpr WORD kWmaMaxChannels = 2;

}  // namespace kiv::media
