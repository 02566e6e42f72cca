// Builds the ID3v2.3 tag that the MP3 encoder puts in front of its audio.
#pragma once

#include <cstdint>
#include <vector>

#include "components/common/tag_record.h"

namespace kiv::mp3 {

inline constexpr std::size_t kId3v2Capacity = 16384;
inline constexpr std::size_t kId3v2MinimumSize = 1024;

// The whole tag (header, frames, zero padding up to at least 1024 bytes), or
// an empty vector when the frames would not fit in capacity bytes; then no
// tag is to be written. Fields are written as frames TCON, TRCK, COMM, TYER,
// TIT2, TPE1, TALB, empty fields skipped. A field that Latin-1 can hold is
// stored as Latin-1 (encoding 0); any other as UTF-16 with a byte-order mark
// (encoding 1), so no character is lost.
std::vector<std::uint8_t> buildId3v2(const TagRecord& tags, std::size_t capacity = kId3v2Capacity);

}  // namespace kiv::mp3
