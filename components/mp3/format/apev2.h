// APEv2 tags (and their version-1 forerunner) at the end of MP3 files:
// some encoders and taggers write them instead of, or beside, ID3.
//
// The tag is items between an optional 32-byte header and a 32-byte footer
// that both start with "APETAGEX". Every size in it comes from the file, so
// nothing is trusted: a tag whose sizes do not fit what is there is not
// read, and an item that runs past its tag ends the reading.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "components/common/tag_record.h"

namespace kiv::mp3 {

inline constexpr std::size_t kApeFooterSize = 32;

struct ApeFooter {
    std::uint32_t version = 0;   // 2000 or 1000
    std::uint32_t tagSize = 0;   // items and footer, without the header
    std::uint32_t itemCount = 0;
    bool hasHeader = false;

    // Bytes the whole tag occupies in the file, header included.
    std::uint64_t totalSize() const { return std::uint64_t{tagSize} + (hasHeader ? kApeFooterSize : 0); }
};

// The footer in these 32 bytes, when they hold one whose tag size can
// at least hold the footer itself.
std::optional<ApeFooter> parseApeFooter(std::span<const std::uint8_t> bytes);

// Reads a whole tag: `bytes` end with the footer and start with the header
// or the first item (any bytes before those are ignored). Text items
// Title, Artist, Album, Year, Genre, Track and Comment (keys without regard
// to case) with some text replace those fields; fields the tag lacks keep
// their values.
// Values are UTF-8; several values of one item (separated by zero bytes)
// are joined by line feeds. Returns false, fields untouched, when `bytes`
// end in no footer or are too short for the tag it describes.
bool readApeTag(std::span<const std::uint8_t> bytes, TagRecord& tags);

}  // namespace kiv::mp3
