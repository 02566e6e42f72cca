// File names for ripped tracks from a template with numbered placeholders.
#pragma once

#include <string>
#include <string_view>

#include "components/cdrip/cddb/cddb_record.h"

namespace kiv::cddb {

// The text the component reports when the drive has no active record.
inline constexpr std::string_view kNoActiveRecordText = "No active CDDB record.";

// Expands, left to right:
//   %%  %        %1 artist   %2 track title   %3 album   %4 year
//   %5 genre     %6 track number, two digits ("01")   %7 disc id
//   % + other character: both kept; a final lone %: kept.
// Then : * ? < > " | become '_' everywhere.
//
// Values come from the network, so they can only name a file inside the
// destination folder: inside a substituted value '/' and control
// characters become '_'; a path component that comes out as "." or ".."
// has its dots replaced by '_'; leading '/' are dropped so the name stays
// relative. The template's own '/' still make folders ("%1/%3/%6 %2").
std::string ExpandFileNameTemplate(std::string_view pattern, const Record& record,
                                   int trackIndex);

// The same for the interface's UTF-16 strings.
std::u16string ExpandFileNameTemplate(std::u16string_view pattern, const Record& record,
                                      int trackIndex);

}  // namespace kiv::cddb
