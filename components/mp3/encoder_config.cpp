#include "components/mp3/encoder_config.h"

#include <cmath>
#include <cstring>

namespace kiv::mp3 {
namespace {

using namespace lame_enc;

constexpr LONG kMpeg1Bitrates[] = {32000,  40000,  48000,  56000,  64000,  80000,  96000,
                                   112000, 128000, 160000, 192000, 224000, 256000, 320000};
constexpr LONG kMpeg2Bitrates[] = {8000,  16000, 24000,  32000,  40000,  48000,  56000,
                                   64000, 80000, 96000, 112000, 128000, 144000, 160000};

struct PresetEntry {
    float quality;
    std::int32_t preset;
};
constexpr PresetEntry kVbrPresets[] = {
    {0.25f, LQP_MEDIUM}, {0.5f, LQP_STANDARD}, {0.75f, LQP_EXTREME}, {0.9f, LQP_INSANE}};

}  // namespace

bool IsAllowedConstantBitrate(LONG bitrate, DWORD sampleRate) {
    const auto& table = sampleRate >= 32000 ? kMpeg1Bitrates : kMpeg2Bitrates;
    for (LONG b : table)
        if (b == bitrate) return true;
    return false;
}

std::optional<std::int32_t> VbrPresetFor(float quality) {
    float best = 1.0f;
    std::optional<std::int32_t> preset;
    for (const PresetEntry& e : kVbrPresets) {
        const float distance = std::fabs(e.quality - quality);
        if (distance < best) {
            best = distance;
            preset = e.preset;
        }
    }
    return preset;
}

std::optional<EncoderConfig> MakeEncoderConfig(const OutputSetting& setting, const WAVEFORMATEX& input,
                                               bool writeVbrHeader) {
    EncoderConfig c;
    std::memset(&c.record, 0, sizeof c.record);
    BE_CONFIG_LHV1& r = c.record.format.LHV1;
    c.record.dwConfig = BE_CONFIG_LAME;
    r.dwStructVersion = CURRENT_STRUCT_VERSION;
    r.dwStructSize = CURRENT_STRUCT_SIZE;
    r.dwSampleRate = input.nSamplesPerSec;
    r.dwMpegVersion = MPEG1;
    r.bOriginal = 1;

    const bool mono = input.nChannels == 1;
    const bool highRate = input.nSamplesPerSec >= 32000;
    const LONG kbps = setting.bitrate / 1000;
    if (setting.mode == OutputMode::variableBitrate) {
        const auto preset = VbrPresetFor(setting.quality);
        if (!preset) return std::nullopt;
        c.configCase = ConfigCase::variable;
        r.nMode = mono ? BE_MP3_MODE_MONO : BE_MP3_MODE_STEREO;
        r.nPreset = *preset;
        r.bWriteVBRHeader = 1;
    } else if (setting.mode == OutputMode::averageBitrate && !mono && highRate) {
        c.configCase = ConfigCase::average;
        r.nMode = BE_MP3_MODE_STEREO;
        r.nPreset = LQP_ABR;
        r.dwVbrAbr_bps = static_cast<DWORD>(setting.bitrate);
        r.bWriteVBRHeader = 1;
    } else if (setting.mode == OutputMode::constantBitrate && !mono && highRate && setting.bitrate >= 80000) {
        c.configCase = ConfigCase::constant;
        r.nMode = BE_MP3_MODE_STEREO;
        r.dwBitrate = static_cast<DWORD>(kbps);
        r.nPreset = LQP_CBR;
        // A constant stream needs the Info frame too: its LAME tag carries
        // the encoder delay and padding that gapless players take off.
        r.bWriteVBRHeader = 1;
    } else {
        c.configCase = ConfigCase::plain;
        if (mono) r.nMode = BE_MP3_MODE_MONO;
        else r.nMode = setting.bitrate <= 160000 ? BE_MP3_MODE_JSTEREO : BE_MP3_MODE_STEREO;
        r.dwBitrate = static_cast<DWORD>(highRate ? kbps : kbps / 2);
        r.nPreset = kbps > 128 ? LQP_HIGH_QUALITY : LQP_NORMAL_QUALITY;
        if (setting.mode == OutputMode::averageBitrate && kbps > 128) r.dwVbrAbr_bps = 1000 * r.dwBitrate;
        r.bWriteVBRHeader = 1;
    }
    if (!writeVbrHeader) r.bWriteVBRHeader = 0;
    return c;
}

}  // namespace kiv::mp3
