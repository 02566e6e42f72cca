// CDDB records as a server returns them, and the tags of every track.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "components/cdrip/cddb/cddb_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const kiv::cddb::Record record = kiv::cddb::ParseRecord(raw, "rock");
    // Hostile track numbers must not grow the table without bound.
    if (record.tracks.size() > 99) std::abort();
    for (int i = -1; i <= int(record.tracks.size()); ++i) kiv::cddb::TrackTags(record, i);
    return 0;
}
