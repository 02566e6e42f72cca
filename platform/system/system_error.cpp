#include "platform/system/system_error.h"

#include <cstring>

#include "platform/system/text.h"

namespace kiv {

std::u16string SystemErrorText(int err) {
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not be in buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    std::string s = text ? text : "Unknown error";
    while (!s.empty() && (s.back() == '.' || s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return FromUtf8(s);
}

std::u16string FormatMessageText(std::u16string_view pattern, std::u16string_view insert) {
    std::u16string out(pattern);
    auto pos = out.find(u"%s");
    if (pos != std::u16string::npos) out.replace(pos, 2, insert);
    return out;
}

}  // namespace kiv
