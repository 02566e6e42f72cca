// A MusicBrainz disc id answer as the lookup reads it: the JSON parsed, the
// first release turned into a record text and that parsed again the way
// names and tags read it. Whatever comes in, the record made from it must
// hold exactly the tracks of the release (no value may add a line).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "components/cdrip/cddb/cddb_record.h"
#include "components/cdrip/musicbrainz/musicbrainz_release.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const kiv::musicbrainz::DiscAnswer answer = kiv::musicbrainz::ParseDiscAnswer(input, "D");
    if (!answer.error.empty() && !answer.releases.empty()) std::abort();
    for (const kiv::musicbrainz::Release& release : answer.releases) {
        const std::string raw = kiv::musicbrainz::RecordText(release, "00000000", answer.releases.size());
        const kiv::cddb::Record record = kiv::cddb::ParseRecord(raw, "musicbrainz");
        const std::size_t expected = release.tracks.size() < 99 ? release.tracks.size() : 99;
        if (record.tracks.size() != expected) std::abort();
        if (record.musicBrainzReleaseId != release.id) std::abort();
        for (std::size_t i = 0; i < expected; ++i) kiv::cddb::TrackTags(record, static_cast<int>(i));
    }
    return 0;
}
