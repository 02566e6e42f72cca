#include "platform/system/text.h"

namespace kiv {

namespace {

// A byte that is not part of valid UTF-8 (a Linux file name is any bytes)
// travels as a lone low surrogate U+DC80..U+DCFF, which no valid text
// holds, and turns back into that byte: names survive the trip through
// UTF-16 intact.
constexpr char32_t kEscapeBase = 0xDC00;
constexpr char32_t kEscapeFirst = 0xDC80;
constexpr char32_t kEscapeLast = 0xDCFF;

char16_t Escaped(unsigned char b) { return static_cast<char16_t>(kEscapeBase + b); }

}  // namespace

std::string ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= kEscapeFirst && c <= kEscapeLast) {
            out += static_cast<char>(c - kEscapeBase);  // a byte FromUtf8 could not read, as it was
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    auto cont = [&](std::size_t k) { return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        char32_t c;
        std::size_t len;
        if (b < 0x80) { c = b; len = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; len = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; len = 3; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; len = 4; }
        else { out += Escaped(b); ++i; continue; }
        bool ok = true;
        for (std::size_t k = 1; k < len; ++k) {
            if (!cont(i + k)) { ok = false; break; }
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || c < minimum[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += Escaped(b);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

std::u16string FromUtf8Text(std::string_view s) {
    std::u16string out = FromUtf8(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        // The low half of a character beyond U+FFFF can fall in the escape
        // range too (U+1F480 is D83D DC80); only a lone one is an escape.
        if (out[i] >= 0xD800 && out[i] <= 0xDBFF && i + 1 < out.size()) {
            ++i;
            continue;
        }
        if (out[i] >= kEscapeFirst && out[i] <= kEscapeLast) out[i] = u'\uFFFD';
    }
    return out;
}

std::string EscapeInvalidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const std::u16string wide = FromUtf8(s);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        if (c >= kEscapeFirst && c <= kEscapeLast) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const unsigned b = c - kEscapeBase;
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            std::size_t n = 1;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) n = 2;
            out += ToUtf8(std::u16string_view(wide).substr(i, n));
            i += n - 1;
        }
    }
    return out;
}

std::string ToLatin1(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s) out += c < 0x100 ? static_cast<char>(c) : '?';
    return out;
}

std::u16string FromLatin1(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

template <class C>
static bool EqualsNoCaseImpl(std::basic_string_view<C> a, std::basic_string_view<C> b) {
    if (a.size() != b.size()) return false;
    auto fold = [](C c) { return (c >= 'a' && c <= 'z') ? C(c - 'a' + 'A') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) { return EqualsNoCaseImpl(a, b); }
bool EqualsNoCase(std::string_view a, std::string_view b) { return EqualsNoCaseImpl(a, b); }

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string AsciiUpper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

}  // namespace kiv
