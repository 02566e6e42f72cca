// A CDDB answer as the client reads it after the HTTP header: the status
// line, then a list of matches or a record up to the "." line. Every line
// is decoded at both protocol levels; the lines also go through the record
// parser whatever the status says, so records get fuzzed on their own.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "components/cdrip/cddb/cddb_client.h"
#include "components/cdrip/cddb/cddb_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    auto nextLine = [&input] {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    };

    const std::string_view status = nextLine();
    const int code = kiv::cddb::StatusCode(status);
    if (code < -1 || code > 999) std::abort();
    kiv::cddb::Match match;
    if (code == 200) kiv::cddb::ParseMatchLine(kiv::cddb::Decode(status.substr(3), 6), match);

    std::string record;
    while (!input.empty()) {
        const std::string_view line = nextLine();
        if (!line.empty() && line.front() == '.') break;
        kiv::cddb::Decode(line, 5);
        const std::string decoded = kiv::cddb::Decode(line, 6);
        if (code == 210 || code == 211) kiv::cddb::ParseMatchLine(decoded, match);
        record += decoded + "\n";
    }
    const kiv::cddb::Record parsed = kiv::cddb::ParseRecord(record, "rock");
    // Hostile track numbers must not grow the table without bound.
    if (parsed.tracks.size() > 99) std::abort();
    for (int i = -1; i <= int(parsed.tracks.size()); ++i) kiv::cddb::TrackTags(parsed, i);
    return 0;
}
