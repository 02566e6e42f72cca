#include "components/mp3/format/mp3_frame_header.h"

namespace kiv::mp3 {

namespace {

// kbps by [version is MPEG-1 ? 0 : 1][layer - 1][index].
constexpr int kBitrates[2][3][15] = {
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    },
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    },
};

constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000},  // MPEG-1
    {22050, 24000, 16000},  // MPEG-2
    {11025, 12000, 8000},   // MPEG-2.5
};

int versionRow(MpegVersion v) {
    switch (v) {
    case MpegVersion::mpeg1: return 0;
    case MpegVersion::mpeg2: return 1;
    case MpegVersion::mpeg25: return 2;
    }
    return 0;
}

// Bytes per "slot unit" numerator: frame length = coefficient * bitrate / rate.
int lengthCoefficient(const FrameHeader& h) {
    if (h.layer == 1) return 48;  // 12 * 4, in bytes
    if (h.layer == 3 && h.lowSamplingFrequency()) return 72;
    return 144;
}

}  // namespace

int FrameHeader::samplesPerFrame() const {
    if (layer == 1) return 384;
    if (layer == 3 && lowSamplingFrequency()) return 576;
    return 1152;
}

int FrameHeader::frameLength() const {
    if (bitrateKbps == 0 || sampleRate == 0) return 0;
    const int coefficient = lengthCoefficient(*this);
    if (layer == 1) {
        return (12 * bitrateKbps * 1000 / sampleRate + (padding ? 1 : 0)) * 4;
    }
    return coefficient * bitrateKbps * 1000 / sampleRate + (padding ? 1 : 0);
}

int FrameHeader::bitrateForLength(int lengthWithoutPadding) const {
    if (sampleRate == 0) return 0;
    return static_cast<int>(static_cast<long long>(lengthWithoutPadding) * sampleRate /
                            lengthCoefficient(*this));
}

int FrameHeader::vbrHeaderOffset() const {
    const bool mono = channels == 1;
    if (version == MpegVersion::mpeg1) return mono ? 21 : 36;
    return mono ? 13 : 21;
}

bool isFrameHeaderCandidate(std::uint32_t word) {
    return (word & 0xFFE00000u) == 0xFFE00000u  // sync
           && ((word >> 19) & 3) != 1           // reserved version
           && ((word >> 17) & 3) != 0           // reserved layer
           && ((word >> 12) & 15) != 15         // bad bitrate
           && ((word >> 10) & 3) != 3;          // reserved sample rate
}

std::optional<FrameHeader> parseFrameHeader(std::uint32_t word) {
    if (!isFrameHeaderCandidate(word)) return std::nullopt;
    FrameHeader h;
    h.word = word;
    const unsigned versionBits = (word >> 19) & 3;
    h.version = versionBits == 3 ? MpegVersion::mpeg1
              : versionBits == 2 ? MpegVersion::mpeg2
                                 : MpegVersion::mpeg25;
    h.layer = 4 - static_cast<int>((word >> 17) & 3);
    h.crcProtected = ((word >> 16) & 1) == 0;
    h.bitrateIndex = static_cast<int>((word >> 12) & 15);
    h.bitrateKbps = kBitrates[h.version == MpegVersion::mpeg1 ? 0 : 1][h.layer - 1][h.bitrateIndex];
    h.sampleRateIndex = static_cast<int>((word >> 10) & 3);
    h.sampleRate = kSampleRates[versionRow(h.version)][h.sampleRateIndex];
    h.padding = ((word >> 9) & 1) != 0;
    h.channelMode = static_cast<int>((word >> 6) & 3);
    h.channels = h.channelMode == 3 ? 1 : 2;
    return h;
}

bool continuesStream(const FrameHeader& first, std::uint32_t word) {
    const auto next = parseFrameHeader(word);
    return next && next->version == first.version && next->layer == first.layer &&
           next->sampleRate == first.sampleRate && next->channels == first.channels;
}

}  // namespace kiv::mp3
