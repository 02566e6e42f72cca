// The "Xing" / "Info" header that encoders put into the first frame of a
// stream to tell its frame count, byte count and a seek table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "components/mp3/format/mp3_frame_header.h"

namespace kiv::mp3 {

struct VbrHeader {
    static constexpr std::uint32_t kFramesFlag = 1;
    static constexpr std::uint32_t kBytesFlag = 2;
    static constexpr std::uint32_t kTocFlag = 4;
    static constexpr std::uint32_t kQualityFlag = 8;

    bool isInfo = false;  // "Info": written for constant-bitrate streams
    std::uint32_t flags = 0;
    // Fields whose flag is absent stay 0.
    std::uint32_t frames = 0;
    std::uint32_t bytes = 0;
    std::array<std::uint8_t, 100> toc{};
    std::uint32_t quality = 0;

    bool hasFrames() const { return (flags & kFramesFlag) != 0; }
    bool hasBytes() const { return (flags & kBytesFlag) != 0; }
    bool hasToc() const { return (flags & kTocFlag) != 0; }
};

// Looks for the header in frame, the bytes from the start of the first frame
// (as many as the file has, up to a few hundred). A header whose flagged
// fields do not fit in frame is not a header.
std::optional<VbrHeader> parseVbrHeader(const FrameHeader& header, std::span<const std::uint8_t> frame);

// Bytes of the first frame that parseVbrHeader may look at.
inline constexpr std::size_t kVbrHeaderSearchSize = 172;

}  // namespace kiv::mp3
