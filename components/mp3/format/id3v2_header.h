// The 10-byte header that starts an ID3v2 tag, and the 28-bit "sync-safe"
// numbers (seven bits per byte, most significant first) it uses.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kiv::mp3 {

inline constexpr std::size_t kId3v2HeaderSize = 10;

inline constexpr std::uint8_t kId3v2FlagUnsynchronisation = 0x80;
inline constexpr std::uint8_t kId3v2FlagExtendedHeader = 0x40;  // compression in version 2
inline constexpr std::uint8_t kId3v2FlagFooter = 0x10;         // version 4 only

struct Id3v2Header {
    std::uint8_t majorVersion = 0;
    std::uint8_t revision = 0;
    std::uint8_t flags = 0;
    std::uint32_t size = 0;  // bytes after the header, footer excluded

    // Bytes the whole tag occupies at the start of the file: header, body
    // and the footer that version 4 may add.
    std::uint64_t totalSize() const;
};

// The header at the start of bytes, when they start with "ID3" and a version
// byte of at most 4. The size takes seven bits of each size byte.
std::optional<Id3v2Header> parseId3v2Header(std::span<const std::uint8_t> bytes);

std::uint32_t readSyncSafe(std::span<const std::uint8_t, 4> bytes);
void writeSyncSafe(std::uint32_t value, std::span<std::uint8_t, 4> out);

}  // namespace kiv::mp3
