#include "components/mp3/format/id3v1.h"

#include <algorithm>
#include <string>

#include "components/mp3/format/genres.h"
#include "components/mp3/format/tag_text.h"

namespace kiv::mp3 {

namespace {

constexpr std::size_t kTitleAt = 3;
constexpr std::size_t kArtistAt = 33;
constexpr std::size_t kAlbumAt = 63;
constexpr std::size_t kYearAt = 93;
constexpr std::size_t kCommentAt = 97;
constexpr std::size_t kTrackMarkerAt = 125;
constexpr std::size_t kTrackAt = 126;
constexpr std::size_t kGenreAt = 127;

void putField(Id3v1Block& block, std::size_t at, std::size_t width, std::u16string_view text) {
    const std::string bytes = toLatin1(text);
    std::copy_n(bytes.begin(), std::min(width, bytes.size()), block.begin() + at);
}

std::u16string getField(std::span<const std::uint8_t> block, std::size_t at, std::size_t width) {
    auto field = block.subspan(at, width);
    // Padding with blanks is common; blanks that end before zero bytes are
    // part of the text.
    std::size_t end = field.size();
    while (end > 0 && field[end - 1] == ' ') --end;
    return fromLatin1(field.first(end));
}

}  // namespace

Id3v1Block buildId3v1(const TagRecord& tags) {
    Id3v1Block block{};
    block[0] = 'T';
    block[1] = 'A';
    block[2] = 'G';
    // One text per field: several values are joined as ID3v2.3 joins them.
    putField(block, kTitleAt, 30, JoinTagValues(tags.title, u"/"));
    putField(block, kArtistAt, 30, JoinTagValues(tags.artist, u"/"));
    putField(block, kAlbumAt, 30, JoinTagValues(tags.album, u"/"));
    putField(block, kYearAt, 4, JoinTagValues(tags.year, u"/"));
    if (!tags.trackNo.empty()) {
        putField(block, kCommentAt, 28, tags.comment);
        block[kTrackAt] = static_cast<std::uint8_t>(readDecimal(toLatin1(tags.trackNo)) & 0xFF);
    } else {
        putField(block, kCommentAt, 30, tags.comment);
    }
    block[kGenreAt] = genreIndex(toLatin1(tags.genre));
    return block;
}

bool isId3v1(std::span<const std::uint8_t> block) {
    return block.size() >= kId3v1Size && block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
}

bool readId3v1(std::span<const std::uint8_t> block, TagRecord& tags) {
    if (!isId3v1(block)) return false;
    tags.title = getField(block, kTitleAt, 30);
    tags.artist = getField(block, kArtistAt, 30);
    tags.album = getField(block, kAlbumAt, 30);
    tags.year = getField(block, kYearAt, 4);
    tags.comment = getField(block, kCommentAt, 30);
    if (block[kGenreAt] < kGenreCount) {
        const auto name = genreNames()[block[kGenreAt]];
        tags.genre.assign(name.begin(), name.end());
    }
    // Track 0 means "no track" in the 1.1 layout; an ID3v1.0 tag with a short
    // comment has zeros there too, and must not invent a track number.
    if (block[kTrackMarkerAt] == 0 && block[kTrackAt] != 0) {
        const std::string digits = std::to_string(block[kTrackAt]);
        tags.trackNo.assign(digits.begin(), digits.end());
    }
    return true;
}

}  // namespace kiv::mp3
