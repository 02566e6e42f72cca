// Vorbis comments and the seven tag fields. The encoder turns the tag record
// into "field=value" comments; the decoder gathers a file's comments into a
// table keyed by the upper-cased field name and fills the tag record from it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "components/common/tag_record.h"

namespace kiv::vorbis {

struct Comment {
    std::string field;  // field name as written
    std::string value;  // UTF-8
};

// The comments to write for `tags`: one per value of each non-empty field
// (one for the comment), in the order title, artist, album, genre, date,
// tracknumber, comment; then the named fields, under their own (upper-case)
// names, one comment per value.
std::vector<Comment> CommentsFromTags(const TagRecord& tags, const std::vector<TagField>& named = {});

// The comment list as every format stores Vorbis comments (the body of a
// FLAC VORBIS_COMMENT block; an Ogg comment header adds its opening and,
// for Vorbis, a framing bit): the vendor string, the count, then each
// "field=value", every length 32-bit little-endian.
std::vector<std::uint8_t> EncodeCommentList(std::string_view vendor, const std::vector<std::string>& entries);
// "field=value"
std::string CommentEntry(const Comment& comment);

// Upper-case key -> value; a key met again gets a line feed and the new
// value appended, so repeated fields (several artists) are all kept.
using CommentTable = std::map<std::u16string, std::u16string>;

// Builds the table from the raw comment strings of a stream (`vendor` is
// null when the stream has no comment header). Bytes are UTF-8; malformed
// sequences become U+FFFD. A comment without '=' counts as "COMMENT".
CommentTable BuildCommentTable(const char* vendor, const std::vector<std::string_view>& comments);

// The tag record a table gives; absent keys give empty fields.
TagRecord TagsFromCommentTable(const CommentTable& table);

// The named fields of kTagFieldPlaces that the table holds, in that order.
std::vector<TagField> FieldsFromCommentTable(const CommentTable& table);

}  // namespace kiv::vorbis
