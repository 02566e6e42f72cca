// Text conversions used by the tag formats. Tag fields are UTF-16; the byte
// forms are ISO-8859-1 (ID3v1, ID3v2 encoding 0), UTF-16 with or without a
// byte-order mark and UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kiv::mp3 {

// Latin-1 bytes of text; a character without a Latin-1 form (a surrogate
// pair counts as one character) becomes '?'. Stops at the first NUL
// character, as the byte form cannot carry one.
std::string toLatin1(std::u16string_view text);

// True when every character up to the first NUL has a Latin-1 form.
bool fitsLatin1(std::u16string_view text);

// Text up to the first zero byte (or the end).
std::u16string fromLatin1(std::span<const std::uint8_t> bytes);

// UTF-16 text up to the first zero unit (or the end; an odd last byte is
// ignored). A leading byte-order mark is consumed and decides the byte
// order; without one, bigEndianDefault decides.
std::u16string fromUtf16(std::span<const std::uint8_t> bytes, bool bigEndianDefault);

// UTF-8 text up to the first zero byte; malformed sequences become U+FFFD.
std::u16string fromUtf8(std::span<const std::uint8_t> bytes);

// Text as UTF-16 little-endian bytes preceded by the mark FF FE, without
// terminator. Stops at the first NUL character.
std::string toUtf16WithBom(std::u16string_view text);

// The usual C reading of a decimal number: leading white space, an optional
// sign, then digits up to the first non-digit; 0 without digits. Values
// beyond the range of long long saturate.
long long readDecimal(std::string_view text);

}  // namespace kiv::mp3
