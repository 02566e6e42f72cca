#include "components/mp3/format/id3v2_header.h"

namespace kiv::mp3 {

std::uint64_t Id3v2Header::totalSize() const {
    const bool footer = majorVersion == 4 && (flags & kId3v2FlagFooter) != 0;
    return kId3v2HeaderSize + std::uint64_t{size} + (footer ? kId3v2HeaderSize : 0);
}

std::optional<Id3v2Header> parseId3v2Header(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kId3v2HeaderSize) return std::nullopt;
    if (bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') return std::nullopt;
    if (bytes[3] > 4) return std::nullopt;
    Id3v2Header header;
    header.majorVersion = bytes[3];
    header.revision = bytes[4];
    header.flags = bytes[5];
    header.size = readSyncSafe(bytes.subspan<6, 4>());
    return header;
}

std::uint32_t readSyncSafe(std::span<const std::uint8_t, 4> bytes) {
    return (std::uint32_t{bytes[0] & 0x7Fu} << 21) | (std::uint32_t{bytes[1] & 0x7Fu} << 14) |
           (std::uint32_t{bytes[2] & 0x7Fu} << 7) | std::uint32_t{bytes[3] & 0x7Fu};
}

void writeSyncSafe(std::uint32_t value, std::span<std::uint8_t, 4> out) {
    out[0] = static_cast<std::uint8_t>((value >> 21) & 0x7F);
    out[1] = static_cast<std::uint8_t>((value >> 14) & 0x7F);
    out[2] = static_cast<std::uint8_t>((value >> 7) & 0x7F);
    out[3] = static_cast<std::uint8_t>(value & 0x7F);
}

}  // namespace kiv::mp3
