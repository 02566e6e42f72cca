#include "components/mp3/format/vbr_header.h"

#include <algorithm>

namespace kiv::mp3 {

namespace {

std::uint32_t bigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

}  // namespace

std::optional<VbrHeader> parseVbrHeader(const FrameHeader& header, std::span<const std::uint8_t> frame) {
    std::size_t at = static_cast<std::size_t>(header.vbrHeaderOffset());
    if (frame.size() < at + 8) return std::nullopt;
    const auto tag = frame.subspan(at, 4);
    const bool xing = std::equal(tag.begin(), tag.end(), "Xing");
    const bool info = std::equal(tag.begin(), tag.end(), "Info");
    if (!xing && !info) return std::nullopt;

    VbrHeader vbr;
    vbr.isInfo = info;
    vbr.flags = bigEndian32(frame, at + 4);
    at += 8;
    auto take32 = [&](std::uint32_t& field) {
        if (frame.size() < at + 4) return false;
        field = bigEndian32(frame, at);
        at += 4;
        return true;
    };
    if (vbr.hasFrames() && !take32(vbr.frames)) return std::nullopt;
    if (vbr.hasBytes() && !take32(vbr.bytes)) return std::nullopt;
    if (vbr.hasToc()) {
        if (frame.size() < at + vbr.toc.size()) return std::nullopt;
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(at), vbr.toc.size(), vbr.toc.begin());
        at += vbr.toc.size();
    }
    if ((vbr.flags & VbrHeader::kQualityFlag) && !take32(vbr.quality)) return std::nullopt;
    return vbr;
}

}  // namespace kiv::mp3
