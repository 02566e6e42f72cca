#include "platform/system/profile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/system/text.h"

namespace kiv {
namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "[Name]" gives Name; other lines give nullopt.
std::optional<std::string> SectionOf(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') return Trim(t.substr(1, t.size() - 2));
    return std::nullopt;
}

// "key=value" gives {key, value}; comments and other lines give nullopt.
std::optional<std::pair<std::string, std::string>> KeyOf(const std::string& line) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '[') return std::nullopt;
    auto eq = t.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return std::make_pair(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        return v.substr(1, v.size() - 2);
    return v;
}

}  // namespace

std::optional<std::string> ReadProfileString(const std::string& path, const std::string& section,
                                             const std::string& key) {
    bool inSection = false;
    for (const std::string& line : ReadLines(path)) {
        if (auto s = SectionOf(line)) {
            inSection = EqualsNoCase(*s, section);
            continue;
        }
        if (!inSection) continue;
        if (auto kv = KeyOf(line); kv && EqualsNoCase(kv->first, key)) return Unquote(kv->second);
    }
    return std::nullopt;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path) {
    return ReadProfileString(path, section, key).value_or(defaultValue);
}

long GetPrivateProfileInt(const std::string& section, const std::string& key, long defaultValue,
                          const std::string& path) {
    auto v = ReadProfileString(path, section, key);
    if (!v || v->empty()) return defaultValue;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(v->c_str(), &end, 10);
    if (end == v->c_str() || errno == ERANGE) return defaultValue;
    return n;
}

bool WritePrivateProfileString(const std::string& section, const char* key, const char* value,
                               const std::string& path) {
    std::vector<std::string> lines = ReadLines(path);
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, done = false;
    std::size_t sectionEnd = 0;  // where a new key of the section goes
    for (const std::string& line : lines) {
        if (auto s = SectionOf(line)) {
            inSection = EqualsNoCase(*s, section);
            if (inSection) {
                sectionSeen = true;
                if (!key) continue;  // the whole section goes
                out.push_back(line);
                sectionEnd = out.size();
                continue;
            }
            out.push_back(line);
            continue;
        }
        if (inSection) {
            if (!key) continue;
            auto kv = KeyOf(line);
            if (kv && EqualsNoCase(kv->first, key)) {
                if (!done && value) out.push_back(kv->first + "=" + value);
                done = true;
                continue;
            }
            out.push_back(line);
            if (kv) sectionEnd = out.size();
            continue;
        }
        out.push_back(line);
    }
    if (key && value && !done) {
        std::string entry = std::string(key) + "=" + value;
        if (sectionSeen) {
            out.insert(out.begin() + long(sectionEnd), entry);
        } else {
            out.push_back("[" + section + "]");
            out.push_back(entry);
        }
    }
    // Written beside the file and moved over it, so a failed write never
    // leaves a half-written settings file.
    const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        for (const std::string& l : out) f << l << '\n';
        f.flush();
        if (!f) {
            int err = errno;
            ::unlink(tmp.c_str());
            errno = err;
            return false;
        }
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        errno = err;
        return false;
    }
    return true;
}

}  // namespace kiv
