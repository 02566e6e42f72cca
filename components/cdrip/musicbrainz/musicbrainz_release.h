// A MusicBrainz answer for one disc id turned into the record a CDDB server
// would have sent, so that names, templates and tags work the same for
// both sources.
//
//   kiv::musicbrainz::DiscAnswer a = ParseDiscAnswer(json, mbDiscId);
//   if (a.error.empty() && !a.releases.empty())
//       std::string raw = RecordText(a.releases[0], "0c025803", a.releases.size());
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::musicbrainz {

struct ReleaseTrack {
    std::string id;           // the recording's id (what taggers call the track id)
    std::string title;
    std::string artist;       // the track's artist credit as one text
};

struct Release {
    std::string id;
    std::string title;
    std::string artist;       // the release's artist credit as one text
    std::string date;         // "1999", "1999-04" or "1999-04-12"; may be empty
    std::vector<ReleaseTrack> tracks;  // of the medium that carries the disc
};

struct DiscAnswer {
    std::vector<Release> releases;  // in the service's order
    std::string error;              // empty, or why the answer is unusable
};

// Reads the answer of /ws/2/discid/<id>?inc=recordings+artist-credits&fmt=json.
// Of each release the medium that carries discId is taken (the first medium
// when none names it). Never throws; malformed JSON or a missing member is
// an error text, and a release without tracks is left out.
DiscAnswer ParseDiscAnswer(std::string_view json, std::string_view discId);

// The record text: DISCID (the freedb id), DTITLE "artist / title", DYEAR,
// TTITLEn (with "track artist / " in front on a release whose tracks have
// artists of their own), and the ids as MBRELEASEID and MBTRACKIDn. With
// more than one release for the disc, a "# Note: " comment line says the
// first was taken.
std::string RecordText(const Release& release, std::string_view freedbId, std::size_t releasesFound = 1);

}  // namespace kiv::musicbrainz
