// The ID3v1 genre list (the 80 names of the original definition followed by
// the 68 extensions in general use) and the lookup from genre text to index.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kiv::mp3 {

inline constexpr int kGenreCount = 148;
inline constexpr std::uint8_t kNoGenre = 255;

// Names by index, spelled as the common list spells them.
const std::array<std::string_view, kGenreCount>& genreNames();

// Index for a genre text in Latin-1: empty gives kNoGenre; a text that reads
// as a non-zero decimal number gives that number when it names a list entry,
// else kNoGenre; exactly "0" gives 0; anything else is looked up by name,
// with case, and gives kNoGenre when no name matches ("17" and "Rock" give
// 17, "rock" and "(17)" give kNoGenre).
std::uint8_t genreIndex(std::string_view latin1Text);

}  // namespace kiv::mp3
