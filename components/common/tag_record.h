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

// A named text field beyond the seven, such as the MusicBrainz ids. Names
// are upper-case, as Vorbis comments spell them.
struct TagField {
    std::u16string name;
    std::u16string value;

    friend bool operator==(const TagField&, const TagField&) = default;
};

// The named fields known to the codecs and where each format keeps them:
// Vorbis comments (Ogg Vorbis, FLAC, Opus) under the name itself, ID3v2 as
// a TXXX frame of the description or, where the usual taggers put the id
// there, a UFID frame of the owner, WMA as a string attribute. A name that
// is not here has no place in every format, so it is not taken at all.
struct TagFieldPlaces {
    std::u16string_view name;
    std::u16string_view id3Description;  // TXXX; empty when a UFID carries it
    std::string_view id3UfidOwner;       // UFID; empty when a TXXX carries it
    std::u16string_view asfAttribute;
};

inline constexpr TagFieldPlaces kTagFieldPlaces[] = {
    {u"MUSICBRAINZ_ALBUMID", u"MusicBrainz Album Id", {}, u"MusicBrainz/Album Id"},
    // The recording id: ID3 taggers keep it in the MusicBrainz UFID frame,
    // and their TXXX "MusicBrainz Release Track Id" names another id.
    {u"MUSICBRAINZ_TRACKID", {}, "http://musicbrainz.org", u"MusicBrainz/Track Id"},
    // ReplayGain: gain as "-7.23 dB", peak as "0.988312" (1 is full scale),
    // under the same name in every format. Opus has its own form, which its
    // codec turns them into and back.
    {u"REPLAYGAIN_TRACK_GAIN", u"REPLAYGAIN_TRACK_GAIN", {}, u"REPLAYGAIN_TRACK_GAIN"},
    {u"REPLAYGAIN_TRACK_PEAK", u"REPLAYGAIN_TRACK_PEAK", {}, u"REPLAYGAIN_TRACK_PEAK"},
    {u"REPLAYGAIN_ALBUM_GAIN", u"REPLAYGAIN_ALBUM_GAIN", {}, u"REPLAYGAIN_ALBUM_GAIN"},
    {u"REPLAYGAIN_ALBUM_PEAK", u"REPLAYGAIN_ALBUM_PEAK", {}, u"REPLAYGAIN_ALBUM_PEAK"},
};

inline constexpr std::u16string_view kTrackGainField = u"REPLAYGAIN_TRACK_GAIN";
inline constexpr std::u16string_view kTrackPeakField = u"REPLAYGAIN_TRACK_PEAK";
inline constexpr std::u16string_view kAlbumGainField = u"REPLAYGAIN_ALBUM_GAIN";
inline constexpr std::u16string_view kAlbumPeakField = u"REPLAYGAIN_ALBUM_PEAK";

// Whether two field names are the same, ASCII case aside.
inline bool SameFieldName(std::u16string_view a, std::u16string_view b) {
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return upper(x) == upper(y); });
}

// The places of a name (compared without regard to ASCII case), or null.
inline const TagFieldPlaces* FindTagField(std::u16string_view name) {
    for (const TagFieldPlaces& f : kTagFieldPlaces)
        if (SameFieldName(name, f.name)) return &f;
    return nullptr;
}

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
