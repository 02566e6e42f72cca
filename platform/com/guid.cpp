#include <cstdio>

#include "platform/com/types.h"

namespace kiv {

std::string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool GuidFromString(const std::string& text, GUID& out) {
    std::string s = text;
    if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
    if (s.size() != 36) return false;
    static constexpr int dashes[] = {8, 13, 18, 23};
    std::string hex;
    for (int i = 0; i < 36; ++i) {
        char c = s[i];
        bool dash = i == dashes[0] || i == dashes[1] || i == dashes[2] || i == dashes[3];
        if (dash) {
            if (c != '-') return false;
            continue;
        }
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
        hex += c;
    }
    auto take = [&](std::size_t pos, std::size_t n) { return static_cast<std::uint32_t>(std::stoul(hex.substr(pos, n), nullptr, 16)); };
    out.Data1 = take(0, 8);
    out.Data2 = static_cast<std::uint16_t>(take(8, 4));
    out.Data3 = static_cast<std::uint16_t>(take(12, 4));
    for (int i = 0; i < 8; ++i) out.Data4[i] = static_cast<std::uint8_t>(take(16 + 2 * i, 2));
    return true;
}

}  // namespace kiv
