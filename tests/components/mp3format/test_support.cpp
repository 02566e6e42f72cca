#include "test_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kiv {
void PrintTo(const TagRecord& t, std::ostream* os) {
    using mp3::test::utf8;
    *os << "{title=\"" << utf8(t.title) << "\" artist=\"" << utf8(t.artist) << "\" album=\"" << utf8(t.album)
        << "\" year=\"" << utf8(t.year) << "\" genre=\"" << utf8(t.genre) << "\" track=\"" << utf8(t.trackNo)
        << "\" comment=\"" << utf8(t.comment) << "\"}";
}
}  // namespace kiv

namespace kiv::mp3::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mp3format-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

bool haveTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view rest(path);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        if (!dir.empty() && ::access((std::filesystem::path(dir) / name).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return false;
}

ToolRun runTool(const std::vector<std::string>& argv) {
    ToolRun run;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc == 0) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, static_cast<std::size_t>(n));
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(pipeFds[0]);
    return run;
}

std::uint32_t frameWord(int versionBits, int layer, int bitrateIndex, int sampleRateIndex, bool padding,
                        int channelMode) {
    return 0xFFE00000u | (std::uint32_t(versionBits) << 19) | (std::uint32_t(4 - layer) << 17) |
           (1u << 16) /* no CRC */ | (std::uint32_t(bitrateIndex) << 12) |
           (std::uint32_t(sampleRateIndex) << 10) | (padding ? 1u << 9 : 0u) |
           (std::uint32_t(channelMode) << 6);
}

static void putWord(Bytes& out, std::size_t at, std::uint32_t word) {
    out[at] = std::uint8_t(word >> 24);
    out[at + 1] = std::uint8_t(word >> 16);
    out[at + 2] = std::uint8_t(word >> 8);
    out[at + 3] = std::uint8_t(word);
}

Bytes frames(std::uint32_t word, int length, int count) {
    Bytes out(static_cast<std::size_t>(length) * static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) putWord(out, static_cast<std::size_t>(i) * length, word);
    return out;
}

Bytes vbrFrame(std::uint32_t word, int length, int offset, const char* magic, std::uint32_t flags,
               std::uint32_t frameCount, std::uint32_t byteCount, const std::vector<std::uint8_t>& toc) {
    Bytes out = frames(word, length, 1);
    std::size_t at = static_cast<std::size_t>(offset);
    std::copy(magic, magic + 4, out.begin() + static_cast<std::ptrdiff_t>(at));
    putWord(out, at + 4, flags);
    at += 8;
    if (flags & 1) { putWord(out, at, frameCount); at += 4; }
    if (flags & 2) { putWord(out, at, byteCount); at += 4; }
    if (flags & 4) {
        for (std::size_t i = 0; i < 100; ++i) out[at + i] = i < toc.size() ? toc[i] : std::uint8_t(i * 256 / 100);
    }
    return out;
}

std::u16string u16(std::string_view s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if (c < 0xE0) { cp = c & 0x1F; extra = 1; }
        else if (c < 0xF0) { cp = c & 0x0F; extra = 2; }
        else { cp = c & 0x07; extra = 3; }
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace kiv::mp3::test
