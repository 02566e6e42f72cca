#include "components/cdrip/musicbrainz/disc_lookup.h"

#include <cstdlib>

#include "components/cdrip/musicbrainz/musicbrainz_client.h"
#include "platform/system/text.h"

namespace kiv::musicbrainz {

std::optional<LookupSource> ParseLookupSource(std::string_view text) {
    for (LookupSource s : {LookupSource::Cddb, LookupSource::MusicBrainz, LookupSource::Both})
        if (EqualsNoCase(text, LookupSourceName(s))) return s;
    return std::nullopt;
}

std::string_view LookupSourceName(LookupSource source) {
    switch (source) {
        case LookupSource::Cddb: return "cddb";
        case LookupSource::MusicBrainz: return "musicbrainz";
        case LookupSource::Both: return "both";
    }
    return "cddb";
}

LookupSource LookupSourceFromEnvironment() {
    const char* v = std::getenv("ONDALO_LOOKUP");
    return v ? ParseLookupSource(v).value_or(LookupSource::Cddb) : LookupSource::Cddb;
}

DiscLookupResult LookupDisc(const cddb::DiscToc& toc, LookupSource source, int lastAudio,
                            const std::atomic<bool>* cancel) {
    DiscLookupResult result;
    if (source != LookupSource::MusicBrainz) {
        const cddb::LookupResult cddbResult = cddb::CddbClient(cddb::SettingsFromEnvironment()).Lookup(toc, cancel);
        result.matches = cddbResult.matches;
        result.recordsRead = cddbResult.recordsRead;
        result.message = std::string(cddbResult.message());
        // A record read is a hit, even when a later one failed.
        if (source == LookupSource::Cddb || result.recordsRead > 0) return result;
    }
    const LookupResult mb = Client(SettingsFromEnvironment()).Lookup(toc, lastAudio, cancel);
    if (!mb.ok()) {
        result.message = result.message.empty() ? mb.message : result.message + " " + mb.message;
        return result;
    }
    result.matches = {mb.match};
    result.recordsRead = 1;
    result.message.clear();
    return result;
}

}  // namespace kiv::musicbrainz
