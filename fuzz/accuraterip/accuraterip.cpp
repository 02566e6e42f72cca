// An AccurateRip database file as a server sends it: every entry is read
// only as far as the bytes reach, and each entry read is verified against,
// so the matching walks whatever the parser kept.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "components/cdrip/accuraterip/accuraterip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace ar = kiv::accuraterip;
    const ar::Database db = ar::ParseDatabase(std::string_view(reinterpret_cast<const char*>(data), size));
    std::size_t bytes = 0;
    for (const ar::Entry& e : db.entries) {
        if (e.tracks.empty() || e.tracks.size() > 99 || static_cast<int>(e.tracks.size()) != e.ids.audioTracks)
            std::abort();
        bytes += 13 + 9 * e.tracks.size();
        for (int t = 0; t <= static_cast<int>(e.tracks.size()) + 1; ++t) {
            const auto& first = e.tracks.front();
            ar::Verify(db, e.ids, t, {0, first.crc, first.crc});
        }
    }
    // What was kept came from the input, and a whole input leaves no error.
    if (bytes > size || (db.error.empty() && bytes != size)) std::abort();
    if (!db.error.empty() && bytes == size) std::abort();
    ar::ParseFileName(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
