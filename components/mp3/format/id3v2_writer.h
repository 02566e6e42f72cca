// Builds the ID3v2.3 tag that the MP3 encoder puts in front of its audio.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/common/tag_record.h"

namespace kiv::mp3 {

inline constexpr std::size_t kId3v2MinimumSize = 1024;
// The header and the most the 28-bit size field can count.
inline constexpr std::size_t kId3v2MaxSize = 10 + ((std::size_t{1} << 28) - 1);

// The whole tag (header, frames, zero padding up to at least 1024 bytes),
// at most `capacity` bytes; empty only when the capacity cannot even hold
// the header. Fields are written as frames TCON, TRCK, COMM, TYER, TIT2,
// TPE1, TALB, empty fields skipped. A field that Latin-1 can hold is stored
// as Latin-1 (encoding 0); any other as UTF-16 with a byte-order mark
// (encoding 1), so no character is lost. Should the frames not fit, the
// longest is cut (or left out when cutting cannot make room) until they
// do, and its identifier is added to `cut`; the other frames stay whole.
// The named fields follow as TXXX or UFID frames (kTagFieldPlaces), then
// pictures as APIC frames, each whole or, when it does not fit beside the
// frames before it, left out (its identifier added to `cut`).
std::vector<std::uint8_t> buildId3v2(const TagRecord& tags, std::size_t capacity = kId3v2MaxSize,
                                     std::vector<std::string>* cut = nullptr,
                                     const std::vector<TagPicture>* pictures = nullptr,
                                     const std::vector<TagField>* named = nullptr);

}  // namespace kiv::mp3
