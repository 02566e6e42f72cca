// The picture block of FLAC files, which Ogg Vorbis and Opus files carry
// too, as the base64 text of the comment "METADATA_BLOCK_PICTURE". One
// writer and one reader serve the three formats.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/common/tag_record.h"
#include "components/vorbis/vorbis_comments.h"

namespace kiv::vorbis {

inline constexpr char kPictureField[] = "METADATA_BLOCK_PICTURE";

// The block's body (without FLAC's four-byte block header). Width, height,
// depth and palette size are written as 0 ("unknown"), which readers take.
std::vector<std::uint8_t> EncodePictureBlock(const TagPicture& picture);

// The picture a block holds; nullopt for a block that is cut short, whose
// lengths run past its end, or whose image is empty. Every length is
// checked against the bytes at hand before anything is sized from it.
std::optional<TagPicture> DecodePictureBlock(std::span<const std::uint8_t> block);

std::string Base64Encode(std::span<const std::uint8_t> data);
// Decodes standard base64 (padding optional, no line breaks); nullopt for
// any character outside the alphabet or a length no encoding has.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

// The comment value for a picture, and the picture of a comment value.
std::string PictureComment(const TagPicture& picture);
std::optional<TagPicture> PictureFromComment(std::string_view base64);
// The comments of an Ogg stream: those of the tags and named fields, then
// one per picture (pictures beyond the size limit left out).
std::vector<Comment> StreamComments(const TagRecord& tags, const std::vector<TagField>& fields,
                                    const std::vector<TagPicture>& pictures);

// The pictures among a stream's raw comments, in stream order; blocks that
// do not decode are passed over.
std::vector<TagPicture> PicturesFromComments(const std::vector<std::string_view>& comments);

}  // namespace kiv::vorbis
