#include "components/cdrip/cddb/file_name_template.h"

#include <cstdio>

#include "platform/system/text.h"

namespace kiv::cddb {
namespace {

bool IsInvalidEverywhere(char c) {
    switch (c) {
        case ':': case '*': case '?': case '<': case '>': case '"': case '|':
            return true;
        default:
            return false;
    }
}

// A value may hold anything a server sent; it must not add a folder level
// or smuggle in characters that terminals and shells treat specially.
void AppendValue(std::string& out, std::string_view value) {
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        out += (c == '/' || u < 0x20 || u == 0x7F) ? '_' : c;
    }
}

// "." and ".." would step out of (or sit on) the folder; an empty leading
// component would make the name absolute.
std::string NeutralisePathComponents(std::string_view name) {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    std::string out;
    out.reserve(name.size());
    while (true) {
        const auto slash = name.find('/');
        const std::string_view component = name.substr(0, slash);
        if (component == "." || component == "..")
            out.append(component.size(), '_');
        else
            out += component;
        if (slash == std::string_view::npos) break;
        out += '/';
        name.remove_prefix(slash + 1);
    }
    return out;
}

}  // namespace

std::string ExpandFileNameTemplate(std::string_view pattern, const Record& record, int trackIndex) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", trackIndex + 1);

    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 == pattern.size()) {
            out += '%';
            break;
        }
        const char code = pattern[++i];
        switch (code) {
            case '%': out += '%'; break;
            case '1': AppendValue(out, record.artist); break;
            case '2': AppendValue(out, record.Track(trackIndex).title); break;
            case '3': AppendValue(out, record.album); break;
            case '4': AppendValue(out, record.year); break;
            case '5': AppendValue(out, record.genre); break;
            case '6': out += number; break;
            case '7': AppendValue(out, record.discId); break;
            default:
                out += '%';
                out += code;
                break;
        }
    }
    for (char& ch : out)
        if (IsInvalidEverywhere(ch)) ch = '_';
    return NeutralisePathComponents(out);
}

std::u16string ExpandFileNameTemplate(std::u16string_view pattern, const Record& record, int trackIndex) {
    return FromUtf8(ExpandFileNameTemplate(ToUtf8(pattern), record, trackIndex));
}

}  // namespace kiv::cddb
