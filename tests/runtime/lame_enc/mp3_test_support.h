// Helpers shared by the tests of the two run-time MP3 libraries: loading a
// library the way the component does, a private temporary folder, generated
// PCM, and running the field's reference tools as child processes.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace mp3test {

class Library {
public:
    explicit Library(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    template <typename Fn>
    Fn Find(const char* name) const {
        return handle_ == nullptr ? nullptr : reinterpret_cast<Fn>(dlsym(handle_, name));
    }

private:
    void* handle_;
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ondalo-mp3-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline bool ToolAvailable(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Runs a program with stdout captured and stderr discarded; returns its exit
// status, or -1 when it could not run or was killed.
inline int Run(const std::vector<std::string>& argv, std::string& out) {
    out.clear();
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            dup2(null, STDIN_FILENO);
        }
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[65536];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Interleaved 16-bit sine, a different tone per channel so that swapped or
// shifted channels show.
inline std::vector<std::int16_t> Sine(std::size_t frames, int rate, int channels) {
    std::vector<std::int16_t> pcm(frames * static_cast<std::size_t>(channels));
    const double tones[2] = {440.0, 660.0};
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = 12000.0 * std::sin(2.0 * M_PI * tones[c] * static_cast<double>(i) / rate);
            pcm[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(std::lround(v));
        }
    }
    return pcm;
}

inline void PutLe(std::string& s, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline bool WriteWav(const std::string& path, const std::vector<std::int16_t>& pcm, int rate, int channels) {
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    std::string h = "RIFF";
    PutLe(h, 36 + dataBytes, 4);
    h += "WAVEfmt ";
    PutLe(h, 16, 4);
    PutLe(h, 1, 2);
    PutLe(h, static_cast<std::uint32_t>(channels), 2);
    PutLe(h, static_cast<std::uint32_t>(rate), 4);
    PutLe(h, static_cast<std::uint32_t>(rate * channels * 2), 4);
    PutLe(h, static_cast<std::uint32_t>(channels * 2), 2);
    PutLe(h, 16, 2);
    h += "data";
    PutLe(h, dataBytes, 4);
    std::ofstream f(path, std::ios::binary);
    f.write(h.data(), static_cast<std::streamsize>(h.size()));
    f.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(dataBytes));
    return static_cast<bool>(f);
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(f);
}

inline std::vector<std::int16_t> AsSamples(const std::string& bytes) {
    std::vector<std::int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// The first MPEG audio frame header at `offset` and, when the frame is a
// "Xing"/"Info" frame, what it says (LAME tag included when present).
struct FirstFrame {
    int version = 0;  // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
    int layer = 0;
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0;
    std::string tagId;  // "Xing", "Info" or empty
    std::uint32_t frames = 0;
    std::uint32_t bytes = 0;
    std::string encoder;  // first 9 bytes of the LAME tag
    int delay = -1;
    int padding = -1;
};

inline std::optional<FirstFrame> ParseFirstFrame(const std::vector<std::uint8_t>& file, std::size_t offset) {
    if (file.size() < offset + 200) return std::nullopt;
    const std::uint8_t* h = file.data() + offset;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return std::nullopt;
    FirstFrame f;
    const int versionBits = (h[1] >> 3) & 3;
    f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : versionBits == 0 ? 25 : 0;
    f.layer = 4 - ((h[1] >> 1) & 3);
    const int rateIndex = (h[2] >> 2) & 3;
    static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    if (f.version == 0 || rateIndex == 3) return std::nullopt;
    f.sampleRate = kRates[f.version == 1 ? 0 : f.version == 2 ? 1 : 2][rateIndex];
    f.channels = (h[3] >> 6) == 3 ? 1 : 2;
    f.samplesPerFrame = f.version == 1 ? 1152 : 576;
    const std::size_t sideInfo =
        f.version == 1 ? (f.channels == 1 ? 21 : 36) : (f.channels == 1 ? 13 : 21);
    const std::uint8_t* x = h + sideInfo;
    const std::string id(reinterpret_cast<const char*>(x), 4);
    if (id != "Xing" && id != "Info") return f;
    f.tagId = id;
    auto be32 = [](const std::uint8_t* p) {
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
    };
    const std::uint32_t flags = be32(x + 4);
    const std::uint8_t* p = x + 8;
    if (flags & 1) { f.frames = be32(p); p += 4; }
    if (flags & 2) { f.bytes = be32(p); p += 4; }
    if (flags & 4) p += 100;
    if (flags & 8) p += 4;
    f.encoder.assign(reinterpret_cast<const char*>(p), 9);
    if (f.encoder.rfind("LAME", 0) == 0) {
        f.delay = (p[21] << 4) | (p[22] >> 4);
        f.padding = ((p[22] & 0x0F) << 8) | p[23];
    }
    return f;
}

// Signal-to-noise ratio in dB of `decoded` against `reference` over their
// common length.
inline double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded) {
    const std::size_t n = std::min(reference.size(), decoded.size());
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = reference[i];
        const double d = decoded[i] - r;
        signal += r * r;
        noise += d * d;
    }
    return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

}  // namespace mp3test
