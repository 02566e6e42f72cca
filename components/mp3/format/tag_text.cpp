#include "components/mp3/format/tag_text.h"

#include <limits>

namespace kiv::mp3 {

namespace {

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::u16string_view untilNul(std::u16string_view text) {
    const auto nul = text.find(u'\0');
    return nul == std::u16string_view::npos ? text : text.substr(0, nul);
}

void appendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

std::string toLatin1(std::u16string_view text) {
    text = untilNul(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c <= 0xFF) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;
        }
        out.push_back('?');
    }
    return out;
}

bool fitsLatin1(std::u16string_view text) {
    for (char16_t c : untilNul(text)) {
        if (c > 0xFF) return false;
    }
    return true;
}

std::u16string fromLatin1(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    for (std::uint8_t b : bytes) {
        if (b == 0) break;
        out.push_back(static_cast<char16_t>(b));
    }
    return out;
}

std::u16string fromUtf16(std::span<const std::uint8_t> bytes, bool bigEndianDefault) {
    bool bigEndian = bigEndianDefault;
    std::size_t i = 0;
    if (bytes.size() >= 2) {
        if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
            bigEndian = false;
            i = 2;
        } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
            bigEndian = true;
            i = 2;
        }
    }
    std::u16string out;
    for (; i + 1 < bytes.size(); i += 2) {
        const auto unit = bigEndian
            ? static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1])
            : static_cast<char16_t>((bytes[i + 1] << 8) | bytes[i]);
        if (unit == 0) break;
        out.push_back(unit);
    }
    return out;
}

std::u16string fromUtf8(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    std::size_t i = 0;
    while (i < bytes.size() && bytes[i] != 0) {
        const std::uint8_t lead = bytes[i];
        int extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1; cp = lead & 0x1F; minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2; cp = lead & 0x0F; minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3; cp = lead & 0x07; minimum = 0x10000;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool good = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= bytes.size() || (bytes[j] & 0xC0) != 0x80) {
                good = false;
                break;
            }
            cp = (cp << 6) | (bytes[j] & 0x3F);
        }
        if (!good || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            i = j;  // resume at the byte that broke the sequence
            continue;
        }
        appendCodePoint(out, cp);
        i = j;
    }
    return out;
}

std::string toUtf16WithBom(std::u16string_view text) {
    text = untilNul(text);
    std::string out("\xFF\xFE", 2);
    out.reserve(2 + 2 * text.size());
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

long long readDecimal(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr auto kMax = std::numeric_limits<long long>::max();
    long long value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (kMax - digit) / 10) {
            saturated = true;
        } else if (!saturated) {
            value = value * 10 + digit;
        }
    }
    if (saturated) return negative ? std::numeric_limits<long long>::min() : kMax;
    return negative ? -value : value;
}

}  // namespace kiv::mp3
