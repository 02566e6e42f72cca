// The disc identity a CDDB server knows a disc by, computed from the table
// of contents: the classic freedb disc id and the "cddb query" command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::cddb {

// Addresses are LBAs of 75-per-second audio frames, as READ TOC reports
// them (first audio track usually at 0). Data tracks count like audio
// tracks: the server's ids were computed that way.
struct DiscToc {
    std::vector<std::int32_t> trackStarts;  // one per track, in track order
    std::int32_t leadOut = 0;               // start of the lead-out

    // A TOC the id can be computed from: 1 to 99 tracks, addresses not
    // negative and rising, lead-out after the last track.
    bool IsUsable() const;
};

// ((sum of digit sums of the track start seconds) mod 255) << 24 |
// (playing seconds) << 8 | track count, where seconds include the 150-frame
// (2-second) lead-in offset.
std::uint32_t DiscId(const DiscToc& toc);

// Eight lower-case hexadecimal digits, as the server prints ids.
std::string DiscIdText(std::uint32_t id);

// "cddb query <id> <tracks> <offset>... <disc seconds>", offsets in frames
// including the 150-frame lead-in; disc seconds = (lead-out + 150) / 75.
std::string QueryCommand(const DiscToc& toc);

}  // namespace kiv::cddb
