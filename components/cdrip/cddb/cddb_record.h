// A freedb record (the text a "cddb read" returns) and the tags of a track.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "components/common/tag_record.h"

namespace kiv::cddb {

struct TrackInfo {
    std::string title;     // TTITLEn, as the record has it
    // The track's own artist when the record is a compilation ("Various"
    // as disc artist and "Artist / Title" in TTITLEn); empty otherwise.
    std::string artist;
    std::string extended;  // EXTTn
    std::string musicBrainzTrackId;  // MBTRACKIDn (records made from MusicBrainz)
};

// All texts UTF-8. A key that occurs on several lines is one value, its
// pieces joined in order; the escapes \n, \t and \\ are decoded after that.
struct Record {
    std::string category;   // from the match line, not from the text
    std::string discId;     // DISCID (several ids stay comma-separated)
    std::string discTitle;  // DTITLE as a whole
    std::string artist;     // DTITLE before " / " (or the first '/'); the
                            // whole DTITLE when it has no separator
    std::string album;      // DTITLE after the separator; else empty
    std::string year;       // DYEAR
    std::string genre;      // DGENRE
    std::string extended;   // EXTD
    std::string musicBrainzReleaseId;  // MBRELEASEID (records made from MusicBrainz)
    std::vector<TrackInfo> tracks;  // index = 0-based track number
    std::string raw;        // the text parsed, as received

    // Track i's entry, or an empty one when the record has none.
    const TrackInfo& Track(int index) const;
};

// Never fails: unknown keys, comments ('#') and malformed lines are
// skipped; track numbers beyond 98 are ignored, so a hostile record
// cannot make the table grow without bound.
Record ParseRecord(std::string_view raw, std::string_view category = {});

// Title = TTITLEn (full value), Artist and Album from DTITLE, Year, Genre,
// TrackNo = index + 1 in decimal; Comment stays empty. On a record made
// from MusicBrainz's compilation track, Artist is the track's own artist
// and Title the title without it.
kiv::TagRecord TrackTags(const Record& record, int trackIndex);

// The named fields of track i: on a record made from MusicBrainz,
// "MUSICBRAINZ_ALBUMID" (MBRELEASEID) and "MUSICBRAINZ_TRACKID" (MBTRACKIDn,
// the recording), each when the record has it; else none.
std::vector<kiv::TagField> TrackFields(const Record& record, int trackIndex);

// The texts of the record's "# Note: " comment lines (what the record's
// maker wants the user to know, such as a choice among several releases).
std::vector<std::string> RecordNotes(std::string_view raw);

}  // namespace kiv::cddb
