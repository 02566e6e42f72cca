// Preloaded into a program under test (LD_PRELOAD) to make one folder
// behave like a full or a read-only file system, without privileges:
//
//   ONDALO_FAULT_DIR=/abs/folder  the folder whose files are affected
//   ONDALO_FAULT_MODE=full:N      writes beyond N bytes (in all its files
//                                 together) fail with ENOSPC
//   ONDALO_FAULT_MODE=readonly    creating, opening for writing, renaming
//                                 into or removing from it fail with EROFS
//
// Only the calls programs make through the C library are seen; that is how
// the program and FFmpeg write their files.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

enum class Mode { None, Full, ReadOnly };

struct Config {
    Mode mode = Mode::None;
    char folder[4096] = {};
    std::size_t folderLength = 0;
    long long limit = 0;
};

const Config& Settings() {
    static const Config config = [] {
        Config c;
        const char* folder = std::getenv("ONDALO_FAULT_DIR");
        const char* mode = std::getenv("ONDALO_FAULT_MODE");
        if (!folder || !mode || !*folder) return c;
        // The folder as the kernel names it, so it compares with /proc/self/fd.
        if (!realpath(folder, c.folder)) std::snprintf(c.folder, sizeof c.folder, "%s", folder);
        c.folderLength = std::strlen(c.folder);
        if (std::strncmp(mode, "full:", 5) == 0) {
            c.mode = Mode::Full;
            c.limit = std::atoll(mode + 5);
        } else if (std::strcmp(mode, "readonly") == 0) {
            c.mode = Mode::ReadOnly;
        }
        return c;
    }();
    return config;
}

std::atomic<long long> g_written{0};

// A path directly inside the folder (relative paths taken from the current folder).
bool InFolder(const char* path) {
    const Config& c = Settings();
    if (c.mode == Mode::None || !path) return false;
    char absolute[8192];
    if (path[0] == '/') {
        std::snprintf(absolute, sizeof absolute, "%s", path);
    } else {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return false;
        std::snprintf(absolute, sizeof absolute, "%s/%s", cwd, path);
    }
    // Resolve the folder part only: the file itself may not exist yet.
    char* slash = std::strrchr(absolute, '/');
    if (!slash) return false;
    *slash = '\0';
    char folder[4096];
    if (!realpath(absolute[0] ? absolute : "/", folder)) return false;
    return std::strcmp(folder, c.folder) == 0;
}

bool FdInFolder(int fd) {
    const Config& c = Settings();
    if (c.mode == Mode::None || fd < 0) return false;
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    return std::strncmp(target, c.folder, c.folderLength) == 0 && target[c.folderLength] == '/' &&
           !std::strchr(target + c.folderLength + 1, '/');
}

// How many of `count` bytes may still be written to `fd`; -1 with ENOSPC
// when none.
ssize_t Allowance(int fd, std::size_t count) {
    const Config& c = Settings();
    if (c.mode != Mode::Full || count == 0 || !FdInFolder(fd)) return ssize_t(count);
    long long used = g_written.load();
    for (;;) {
        const long long left = c.limit - used;
        if (left <= 0) {
            errno = ENOSPC;
            return -1;
        }
        const long long take = left < (long long)count ? left : (long long)count;
        if (g_written.compare_exchange_weak(used, used + take)) return ssize_t(take);
    }
}

bool RefuseWrite(const char* path, int flags) {
    if (Settings().mode != Mode::ReadOnly) return false;
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) == 0) return false;
    if (!InFolder(path)) return false;
    errno = EROFS;
    return true;
}

bool RefuseChange(const char* path) {
    if (Settings().mode != Mode::ReadOnly || !InFolder(path)) return false;
    errno = EROFS;
    return true;
}

template <class F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

mode_t ModeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    if (RefuseWrite(path, flags)) return -1;
    static auto real = Next<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    if (RefuseWrite(path, flags)) return -1;
    static auto real = Next<int (*)(const char*, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    if ((dirfd == AT_FDCWD || path[0] == '/') && RefuseWrite(path, flags)) return -1;
    static auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    return real(dirfd, path, flags, mode);
}

int creat(const char* path, mode_t mode) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode); }

ssize_t write(int fd, const void* data, size_t count) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    const ssize_t allowed = Allowance(fd, count);
    if (allowed < 0) return -1;
    return real(fd, data, std::size_t(allowed));
}

ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    const ssize_t allowed = Allowance(fd, count);
    if (allowed < 0) return -1;
    return real(fd, data, std::size_t(allowed), offset);
}

ssize_t pwrite64(int fd, const void* data, size_t count, off64_t offset) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    const ssize_t allowed = Allowance(fd, count);
    if (allowed < 0) return -1;
    return real(fd, data, std::size_t(allowed), offset);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
    static auto real = Next<ssize_t (*)(int, const struct iovec*, int)>("writev");
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += iov[i].iov_len;
    const ssize_t allowed = Allowance(fd, total);
    if (allowed < 0) return -1;
    if (std::size_t(allowed) == total) return real(fd, iov, count);
    // Cut short: the buffers up to the allowance, the last one in part, so
    // the disk is charged with exactly what is written.
    std::vector<struct iovec> part;
    std::size_t left = std::size_t(allowed);
    for (int i = 0; i < count && left > 0; ++i) {
        const std::size_t n = std::min(iov[i].iov_len, left);
        part.push_back({iov[i].iov_base, n});
        left -= n;
    }
    return part.empty() ? 0 : real(fd, part.data(), int(part.size()));
}

int rename(const char* from, const char* to) {
    if (RefuseChange(from) || RefuseChange(to)) return -1;
    static auto real = Next<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if ((fromDir == AT_FDCWD && RefuseChange(from)) || (toDir == AT_FDCWD && RefuseChange(to))) return -1;
    static auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return real(fromDir, from, toDir, to, flags);
}

int unlink(const char* path) {
    if (RefuseChange(path)) return -1;
    static auto real = Next<int (*)(const char*)>("unlink");
    return real(path);
}

}  // extern "C"
