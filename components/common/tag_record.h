// The seven tag fields that every codec object carries.
#pragma once

#include <string>

namespace kiv {

// All fields are text (year, genre and track number too) and empty by default.
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

}  // namespace kiv
