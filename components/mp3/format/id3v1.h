// The 128-byte ID3v1 tag (version 1.1 layout: track number in the last two
// bytes of the comment) at the end of an MP3 file.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "components/common/tag_record.h"

namespace kiv::mp3 {

inline constexpr std::size_t kId3v1Size = 128;
using Id3v1Block = std::array<std::uint8_t, kId3v1Size>;

// The tag for the fields. Text is stored as Latin-1 ('?' for characters it
// cannot hold) and cut to the field widths without terminator.
Id3v1Block buildId3v1(const TagRecord& tags);

// True when the block starts with "TAG".
bool isId3v1(std::span<const std::uint8_t> block);

// Reads a block that starts with "TAG" into the fields and returns true;
// returns false and leaves the fields alone otherwise. Title, artist, album,
// year and comment are always replaced; the genre only for a listed index;
// the track number only when the block carries one (a zero byte before a
// non-zero track byte).
bool readId3v1(std::span<const std::uint8_t> block, TagRecord& tags);

}  // namespace kiv::mp3
