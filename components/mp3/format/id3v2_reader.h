// Reads the basic fields from an ID3v2 tag of version 2.2, 2.3 or 2.4.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "components/common/tag_record.h"

namespace kiv::mp3 {

// bytes start with the tag header and hold as much of the tag as the file
// has; a tag cut short is read as far as it goes and nothing beyond bytes is
// touched. Returns false (fields untouched) when there is no readable tag
// header. Fields found in the tag replace the values in tags; the last frame
// of a kind wins; a malformed frame ends the reading, keeping what was read.
//
// Frames read: title, artist, album, year (TYER, or the year of a 2.4
// recording time TDRC), genre, track number, comment (COMM), and their
// three-letter 2.2 forms. Texts in Latin-1, UTF-16 with byte-order mark,
// UTF-16 big-endian and UTF-8 are understood; unsynchronisation and
// extended headers are undone; compressed, encrypted and grouped frames
// are skipped. A genre given as a list reference such as "(17)" or "17"
// reads as the list's name.
bool readId3v2(std::span<const std::uint8_t> bytes, TagRecord& tags);
// The same, and the attached pictures (APIC, or PIC of 2.2) in tag order
// into `pictures`; a picture frame whose parts do not fit it is passed over.
// With `fields`, also the named fields of kTagFieldPlaces from their TXXX
// frames (by description, compared exactly) and UFID frames (by owner), TXX
// and UFI of 2.2; the last frame of a name wins.
bool readId3v2(std::span<const std::uint8_t> bytes, TagRecord& tags, std::vector<TagPicture>* pictures,
               std::vector<TagField>* fields = nullptr);

}  // namespace kiv::mp3
