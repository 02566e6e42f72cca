// MPEG audio frame headers: the four bytes in front of every frame.
#pragma once

#include <cstdint>
#include <optional>

namespace kiv::mp3 {

enum class MpegVersion { mpeg1, mpeg2, mpeg25 };

struct FrameHeader {
    std::uint32_t word = 0;  // the four header bytes, big-endian
    MpegVersion version = MpegVersion::mpeg1;
    int layer = 3;               // 1, 2 or 3
    bool crcProtected = false;
    int bitrateIndex = 0;        // 0 = free format
    int bitrateKbps = 0;         // 0 for free format
    int sampleRateIndex = 0;
    int sampleRate = 0;          // Hz
    bool padding = false;
    int channelMode = 0;         // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int channels = 2;

    // MPEG-2 and MPEG-2.5 ("low sampling frequency").
    bool lowSamplingFrequency() const { return version != MpegVersion::mpeg1; }
    int samplesPerFrame() const;
    // Bytes of this frame including the header and padding; 0 for free format,
    // whose length the header does not tell.
    int frameLength() const;
    // Frame length for a free-format frame whose length without padding
    // ("slot-exact" length) is known from the stream.
    int frameLength(int lengthWithoutPadding) const {
        return lengthWithoutPadding + (padding ? paddingSize() : 0);
    }
    int paddingSize() const { return layer == 1 ? 4 : 1; }
    // Bitrate (bits per second) a frame of the given length without padding
    // stands for; for free-format streams.
    int bitrateForLength(int lengthWithoutPadding) const;
    // Offset of a "Xing"/"Info" header from the frame start: behind the side
    // information of the first granule.
    int vbrHeaderOffset() const;
};

// Cheap test used while searching for the first frame: sync bits set, a
// defined version and layer, a bitrate index other than 15, a defined
// sample-rate index.
bool isFrameHeaderCandidate(std::uint32_t word);

std::optional<FrameHeader> parseFrameHeader(std::uint32_t word);

// Whether a header can continue the stream that started with first: same
// version, layer, sample rate and channel count.
bool continuesStream(const FrameHeader& first, std::uint32_t word);

}  // namespace kiv::mp3
