// The seven tag fields that every codec object carries.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// All fields are text (year, genre and track number too) and empty by default.
//
// Several values of one field (two artists of a Vorbis file, an ID3v2.4
// list, an APEv2 list) travel as one text with a line feed between the
// values: readers join them so, and each writer splits them again and
// stores them the way its format carries several values. The comment is
// free text: its line feeds belong to the text and it is never split.
struct TagRecord {
    std::u16string title;
    std::u16string artist;
    std::u16string album;
    std::u16string year;
    std::u16string genre;
    std::u16string trackNo;
    std::u16string comment;

    friend bool operator==(const TagRecord&, const TagRecord&) = default;
};

// A picture carried with the tags: a front cover, a back cover, a photo of
// the artist. The type is the one that ID3v2, FLAC and Vorbis comments
// share (3 is the front cover, 0 other); the data is the image file itself.
struct TagPicture {
    long type = 3;
    std::string mimeType;  // "image/jpeg", "image/png", ...
    std::u16string description;
    std::vector<unsigned char> data;

    friend bool operator==(const TagPicture&, const TagPicture&) = default;
};

// A picture larger than this is left out, with a line in the log, rather
// than cut: a cut image is worse than none.
inline constexpr std::size_t kMaxTagPictureBytes = std::size_t{16} << 20;

inline constexpr char16_t kTagValueSeparator = u'\n';

// The values of a field's text: split at line feeds (a carriage return
// before one goes with it), empty values dropped.
inline std::vector<std::u16string> SplitTagValues(std::u16string_view text) {
    std::vector<std::u16string> values;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(kTagValueSeparator), text.size());
        std::u16string_view value = text.substr(0, end);
        if (!value.empty() && value.back() == u'\r') value.remove_suffix(1);
        if (!value.empty()) values.emplace_back(value);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return values;
}

// The values of a field's text joined by `separator` (the form of formats
// with one text per field, such as ID3v2.3's "/").
inline std::u16string JoinTagValues(std::u16string_view text, std::u16string_view separator) {
    std::u16string joined;
    for (const std::u16string& value : SplitTagValues(text)) {
        if (!joined.empty()) joined += separator;
        joined += value;
    }
    return joined;
}

}  // namespace kiv
