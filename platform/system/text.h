// Text conversions between the interfaces (UTF-16) and the system (UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// Lossless for any bytes: a byte that is not valid UTF-8 becomes the lone
// surrogate U+DC80..U+DCFF and ToUtf8 turns that back into the byte, so
// file names that are not UTF-8 cross the UTF-16 interfaces unchanged.
// Other lone surrogates become U+FFFD. Nothing is read past the input.
std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(std::string_view s);

// For texts read from files and services (tags, records), which must stay
// valid text: each byte that is not valid UTF-8 becomes U+FFFD.
std::u16string FromUtf8Text(std::string_view s);

// For showing: every byte that is not valid UTF-8 as "\xNN".
std::string EscapeInvalidUtf8(std::string_view s);

// ISO-8859-1, for file formats that define a Latin code page. Characters
// outside it become '?'.
std::string ToLatin1(std::u16string_view s);
std::u16string FromLatin1(std::string_view s);

// ASCII-only case folding, for extension and key comparisons.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string AsciiLower(std::string s);
std::string AsciiUpper(std::string s);

}  // namespace kiv
