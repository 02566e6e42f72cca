#include "app/core/log_rtf.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace kiv::app {
namespace {

constexpr LogColour kColours[] = {LogColour::Navy, LogColour::Blue,   LogColour::Green,
                                  LogColour::Orange, LogColour::Red, LogColour::White};

// The next code point of UTF-8 text; a broken sequence gives U+FFFD for its first byte.
char32_t NextCodePoint(const std::string& s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i++]);
    if (b < 0x80) return b;
    int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0) return 0xFFFD;
    char32_t cp = b & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return cp;
}

void AppendUnicode(std::string& out, char32_t unit) {
    // RTF's \u takes a signed 16-bit number, followed by a stand-in for
    // readers that do not know it.
    out += "\\u" + std::to_string(static_cast<int16_t>(static_cast<uint16_t>(unit))) + "?";
}

void AppendText(std::string& out, const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp == '\\' || cp == '{' || cp == '}') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\t') {
            out += "\\tab ";
        } else if (cp < 0x20) {
            // Line breaks inside a line (the message texts hold some) stay breaks.
            if (cp == '\n') out += "\\line ";
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
            AppendUnicode(out, cp);
        } else {
            const char32_t v = cp - 0x10000;
            AppendUnicode(out, 0xD800 + (v >> 10));
            AppendUnicode(out, 0xDC00 + (v & 0x3FF));
        }
    }
}

}  // namespace

std::string LogToRtf(const std::vector<LogLine>& lines) {
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\n{\\colortbl ;";
    for (LogColour c : kColours) {
        const Rgb rgb = ColourOf(c);
        out += "\\red" + std::to_string(rgb.r) + "\\green" + std::to_string(rgb.g) + "\\blue" + std::to_string(rgb.b) + ";";
    }
    out += "}\n\\viewkind4\\uc1\\pard\\f0\\fs18 ";
    for (const LogLine& line : lines) {
        int index = 1;
        for (LogColour c : kColours) {
            if (c == line.colour) break;
            ++index;
        }
        out += "\\cf" + std::to_string(index) + " ";
        AppendText(out, line.text);
        out += "\\par\n";
    }
    out += "}\n";
    return out;
}

std::string SaveLogAsRtf(const std::string& path, const std::vector<LogLine>& lines) {
    const std::string text = LogToRtf(lines);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out) out.flush();
    if (!out) return "Cannot write " + path + ": " + std::strerror(errno ? errno : EIO);
    return {};
}

}  // namespace kiv::app
