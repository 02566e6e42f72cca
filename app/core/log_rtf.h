// The batch log as rich text: what "Save" writes, one paragraph per line in
// the line's colour, so another program shows the log as the window did.
#pragma once

#include <string>
#include <vector>

#include "app/core/batch_core.h"

namespace kiv::app {

// An RTF document of the lines (Arial, 9 points, the six log colours).
// Text is UTF-8; characters beyond ASCII are written as \u escapes.
std::string LogToRtf(const std::vector<LogLine>& lines);

// Writes it to `path`, replacing the file; an error text, empty on success.
std::string SaveLogAsRtf(const std::string& path, const std::vector<LogLine>& lines);

}  // namespace kiv::app
