#include "platform/media/wma_format_table.h"

#include <algorithm>
#include <array>

#include "platform/media/av_support.h"

namespace kiv::media {

namespace {

// Every rate the encoder components accept as input, so that any input
// they take finds a format without resampling.
constexpr std::array<DWORD, 9> kRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::array<DWORD, 12> kBitrates{24000, 32000, 40000, 48000, 64000, 80000,
                                          96000, 128000, 160000, 192000, 256000, 320000};
constexpr std::array<BYTE, 6> kLevels{10, 25, 50, 75, 90, 98};
// Bitrates of the levels for stereo at 44.1 kHz and above; other
// layouts scale from these.
constexpr std::array<DWORD, 6> kLevelBitratesStereo{48000, 64000, 96000, 128000, 192000, 256000};

// More than four bits per sample buys nothing audible and only invites
// formats that no one would choose.
DWORD MaxBitrate(WORD channels, DWORD rate) { return rate * channels * 4; }

WAVEFORMATEX MakeWfx(WORD channels, DWORD rate, DWORD avgBytes, WORD blockAlign, std::size_t extraSize) {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_WMAUDIO2;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.nAvgBytesPerSec = avgBytes;
    w.nBlockAlign = blockAlign;
    w.wBitsPerSample = 16;
    w.cbSize = static_cast<WORD>(extraSize);
    return w;
}

std::vector<WmaFormat> BuildConstant() {
    std::vector<WmaFormat> out;
    for (DWORD rate : kRates)
        for (WORD ch = 1; ch <= kWmaMaxChannels; ++ch)
            for (DWORD b : kBitrates) {
                if (b > MaxBitrate(ch, rate)) continue;
                WORD align = 0;
                std::vector<BYTE> extra;
                if (!ProbeWmaEncoder(ch, rate, b, align, extra)) continue;
                out.push_back({MakeWfx(ch, rate, b / 8, align, extra.size()), extra, b, 0});
            }
    return out;
}

std::vector<WmaFormat> BuildQuality() {
    std::vector<WmaFormat> out;
    for (DWORD rate : kRates)
        for (WORD ch = 1; ch <= kWmaMaxChannels; ++ch)
            for (BYTE level : kLevels) {
                DWORD nominal = QualityLevelBitrate(level, ch, rate);
                // Round the byte rate up to whole 256s so that putting the
                // level into the low byte never drops below the nominal rate.
                DWORD avg = (((nominal / 8) + 255) & ~DWORD{0xFF}) | level;
                DWORD b = avg * 8;
                WORD align = 0;
                std::vector<BYTE> extra;
                if (!ProbeWmaEncoder(ch, rate, b, align, extra)) continue;
                out.push_back({MakeWfx(ch, rate, avg, align, extra.size()), extra, b, level});
            }
    return out;
}

}  // namespace

DWORD QualityLevelBitrate(BYTE level, WORD channels, DWORD sampleRate) {
    std::size_t i = 0;
    while (i + 1 < kLevels.size() && kLevels[i] < level) ++i;
    double b = kLevelBitratesStereo[i];
    b *= std::min<double>(sampleRate, 44100.0) / 44100.0;
    if (channels == 1) b *= 0.6;  // mono needs a little more than half to sound alike
    auto rounded = static_cast<DWORD>(b / 1000.0 + 0.5) * 1000;
    DWORD cap = MaxBitrate(channels, sampleRate);
    return std::clamp(rounded, kWmaMinBitrate, std::max(cap, kWmaMinBitrate));
}

bool ProbeWmaEncoder(WORD channels, DWORD sampleRate, DWORD bitrate, WORD& blockAlign, std::vector<BYTE>& extra) {
    av::RouteLog();  // a refused setting is answered by the result, not on the terminal
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) return false;
    av::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) return false;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = static_cast<int>(sampleRate);
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->bit_rate = bitrate;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
    if (ctx->block_align <= 0 || ctx->block_align > 0xFFFF) return false;
    blockAlign = static_cast<WORD>(ctx->block_align);
    extra.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    return true;
}

const std::vector<WmaFormat>& ConstantBitrateFormats() {
    static const std::vector<WmaFormat> formats = BuildConstant();
    return formats;
}

const std::vector<WmaFormat>& QualityFormats() {
    static const std::vector<WmaFormat> formats = BuildQuality();
    return formats;
}

}  // namespace kiv::media
