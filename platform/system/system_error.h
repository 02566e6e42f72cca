// System error texts for messages with a "%s" slot.
#pragma once

#include <string>

namespace kiv {

// The system's words for an errno value, without a trailing period.
std::u16string SystemErrorText(int err);

// Replaces the first "%s" of `pattern` with `insert` (the rest stays as is;
// a pattern without "%s" is returned unchanged).
std::u16string FormatMessageText(std::u16string_view pattern, std::u16string_view insert);

}  // namespace kiv
