// Where the records of a disc come from: the CDDB server, MusicBrainz, or
// both, CDDB first (the first that finds the disc wins).
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/cdrip/cddb/cddb_client.h"
#include "components/cdrip/cddb/disc_toc.h"

namespace kiv::musicbrainz {

enum class LookupSource { Cddb, MusicBrainz, Both };

// "cddb", "musicbrainz" or "both", in any case; nullopt for anything else.
std::optional<LookupSource> ParseLookupSource(std::string_view text);
std::string_view LookupSourceName(LookupSource source);  // "cddb", ...

// ONDALO_LOOKUP, read the way ParseLookupSource reads; CDDB when it is not
// set or does not parse.
LookupSource LookupSourceFromEnvironment();

struct DiscLookupResult {
    std::vector<cddb::Match> matches;
    std::size_t recordsRead = 0;  // leading matches whose record was read
    std::string message;          // empty when everything asked for was read
    bool ok() const { return message.empty(); }
};

// The records of the disc from the chosen source(s), with the settings of
// the environment. With both, a CDDB failure is kept in the message only
// when MusicBrainz fails too. `lastAudio` as for MusicBrainzDiscId.
DiscLookupResult LookupDisc(const cddb::DiscToc& toc, LookupSource source, int lastAudio = 0,
                            const std::atomic<bool>* cancel = nullptr);

}  // namespace kiv::musicbrainz
