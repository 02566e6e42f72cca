#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kiv::registry {
namespace fs = std::filesystem;

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string& s, std::size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    out.clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < s.size()) {
            char e = s[pos++];
            out += e == 'n' ? '\n' : e;
        } else {
            out += c;
        }
    }
    return false;
}

void SerializeKey(const Key& key, const std::string& path, std::ostringstream& out) {
    if (!path.empty()) {
        out << '[' << path << "]\n";
        for (const auto& [name, value] : key.values) out << (name.empty() ? "@" : Quote(name)) << '=' << Quote(value) << '\n';
        out << '\n';
    }
    for (const auto& [name, sub] : key.subkeys) SerializeKey(sub, path.empty() ? name : path + "\\" + name, out);
}

struct LockedFd {
    int fd = -1;
    ~LockedFd() {
        if (fd >= 0) ::close(fd);  // closing drops the lock
    }
};

// The lock lives on a companion file so that the registry file itself can
// be replaced by rename while the lock is held. Because of that replacement
// a reader always sees a whole file: it takes the lock when there is one,
// but creates neither the lock nor a folder, so that looking a class up
// leaves no trace (in an installation, or in a home that has no registry).
bool Lock(const std::string& path, int how, LockedFd& lock) {
    const bool reading = how == LOCK_SH;
    if (!reading) {
        std::error_code ec;
        fs::path parent = fs::path(path).parent_path();
        if (!parent.empty()) fs::create_directories(parent, ec);
    }
    lock.fd = ::open((path + ".lock").c_str(), (reading ? O_RDONLY : O_RDWR | O_CREAT) | O_CLOEXEC, 0644);
    if (lock.fd < 0) return reading;
    while (::flock(lock.fd, how) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

Key& Key::Create(const std::string& path) {
    Key* k = this;
    for (const std::string& part : SplitPath(path)) k = &k->subkeys[part];
    return *k;
}

const Key* Key::Find(const std::string& path) const {
    const Key* k = this;
    for (const std::string& part : SplitPath(path)) {
        auto it = k->subkeys.find(part);
        if (it == k->subkeys.end()) return nullptr;
        k = &it->second;
    }
    return k;
}

bool Key::Remove(const std::string& path) {
    auto parts = SplitPath(path);
    if (parts.empty()) return false;
    std::string last = parts.back();
    parts.pop_back();
    Key* k = this;
    for (const std::string& part : parts) {
        auto it = k->subkeys.find(part);
        if (it == k->subkeys.end()) return false;
        k = &it->second;
    }
    return k->subkeys.erase(last) > 0;
}

std::string FilePathFor(const std::string& programFolder) {
    if (const char* env = std::getenv("KIV_REGISTRY"); env && *env) return env;
    if (!programFolder.empty()) {
        const fs::path folder(programFolder);
        std::error_code ec;
        for (const fs::path& candidate : {folder / "kiv-registry.reg", folder / ".." / "lib" / "ondalo" / "kiv-registry.reg"})
            if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
    }
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = fs::path(home) / ".local" / "share";
    else base = "/tmp";
    return (base / "ondalo" / "registry.reg").string();
}

std::string FilePath() {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    return FilePathFor(n > 0 ? fs::path(std::string(exe, static_cast<std::size_t>(n))).parent_path().string()
                             : std::string());
}

std::string Serialize(const Key& root) {
    std::ostringstream out;
    out << "; Ondalo class registry\n\n";
    SerializeKey(root, "", out);
    return out.str();
}

bool Parse(const std::string& text, Key& root) {
    root = Key{};
    std::istringstream in(text);
    std::string line;
    Key* current = nullptr;
    bool ok = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') { ok = false; current = nullptr; continue; }
            current = &root.Create(line.substr(1, line.size() - 2));
            continue;
        }
        if (!current) { ok = false; continue; }
        std::size_t pos = 0;
        std::string name, value;
        if (line[0] == '@') pos = 1;
        else if (!Unquote(line, pos, name)) { ok = false; continue; }
        if (pos >= line.size() || line[pos] != '=') { ok = false; continue; }
        ++pos;
        if (!Unquote(line, pos, value)) { ok = false; continue; }
        current->values[name] = value;
    }
    return ok;
}

static bool LoadUnlocked(Key& root, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        root = Key{};
        return true;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    return Parse(ss.str(), root);
}

bool Load(Key& root, const std::string& path) {
    LockedFd lock;
    Lock(path, LOCK_SH, lock);
    return LoadUnlocked(root, path);
}

std::optional<std::string> ReadValue(const std::string& keyPath, const std::string& name) {
    Key root;
    Load(root);
    const Key* k = root.Find(keyPath);
    if (!k) return std::nullopt;
    auto it = k->values.find(name);
    if (it == k->values.end()) return std::nullopt;
    return it->second;
}

bool KeyExists(const std::string& keyPath) {
    Key root;
    Load(root);
    return root.Find(keyPath) != nullptr;
}

HRESULT Edit(const std::function<void(Key& root)>& change) {
    const std::string path = FilePath();
    LockedFd lock;
    if (!Lock(path, LOCK_EX, lock)) return REGDB_E_WRITEREGDB;
    Key root;
    LoadUnlocked(root, path);
    change(root);
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return REGDB_E_WRITEREGDB;
        out << Serialize(root);
        out.flush();
        if (!out) return REGDB_E_WRITEREGDB;
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return REGDB_E_WRITEREGDB;
    }
    return S_OK;
}

}  // namespace kiv::registry
