#include "runtime/lame_enc/vbr_header_ledger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kiv::lame_enc {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool ReadAt(int fd, std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool WriteAt(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<std::size_t>(put);
        offset += static_cast<std::uint64_t>(put);
    }
    return true;
}

// Where the MPEG audio begins: behind an ID3v2 tag (header, synch-safe size,
// optional footer) when the file starts with one, else at 0.
std::optional<std::uint64_t> AudioStart(int fd, std::uint64_t fileSize) {
    std::uint8_t header[10];
    if (fileSize < sizeof header) return 0;
    if (!ReadAt(fd, 0, header, sizeof header)) return std::nullopt;
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3') return 0;
    for (int i = 6; i < 10; ++i) {
        if (header[i] & 0x80) return 0;  // not a valid tag size: no tag
    }
    std::uint64_t size = (std::uint64_t{header[6]} << 21) | (std::uint64_t{header[7]} << 14) |
                         (std::uint64_t{header[8]} << 7) | header[9];
    size += 10;
    if (header[3] >= 4 && (header[5] & 0x10)) size += 10;
    return size;
}

// Fingerprint of `length` bytes from `start`, or nothing when they cannot
// all be read.
std::optional<StreamFingerprint> FingerprintOf(int fd, std::uint64_t start, std::uint64_t length) {
    StreamFingerprint fingerprint;
    std::vector<std::uint8_t> block(65536);
    while (length > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, block.size()));
        if (!ReadAt(fd, start, block.data(), n)) return std::nullopt;
        fingerprint.Add(block.data(), n);
        start += n;
        length -= n;
    }
    return fingerprint;
}

}  // namespace

void VbrHeaderLedger::Add(FinishedTag tag) {
    std::lock_guard lock(mutex_);
    entries_.push_back(Entry{nextId_++, std::move(tag)});
    while (entries_.size() > kCapacity) entries_.pop_front();
}

BE_ERR VbrHeaderLedger::WriteInto(const std::string& fileName) {
    FileDescriptor fd(::open(fileName.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) return BE_ERR_INVALID_FORMAT;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return BE_ERR_INVALID_FORMAT;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    const std::optional<std::uint64_t> start = AudioStart(fd.get(), fileSize);
    if (!start) return BE_ERR_INVALID_FORMAT;

    // Work on a copy so that other streams can close while the file is read.
    std::deque<Entry> candidates;
    {
        std::lock_guard lock(mutex_);
        candidates = entries_;
    }
    std::map<std::uint64_t, std::optional<StreamFingerprint>> byLength;
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        const FinishedTag& tag = it->tag;
        const std::uint64_t length = tag.fingerprint.Length();
        if (length < tag.frame.size() || *start + length > fileSize) continue;
        auto found = byLength.find(length);
        if (found == byLength.end()) {
            found = byLength.emplace(length, FingerprintOf(fd.get(), *start, length)).first;
        }
        if (!found->second || !(*found->second == tag.fingerprint)) continue;

        if (!WriteAt(fd.get(), *start, tag.frame.data(), tag.frame.size())) return BE_ERR_INVALID_FORMAT;
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [id = it->id](const Entry& e) { return e.id == id; });
        return BE_ERR_SUCCESSFUL;
    }
    return BE_ERR_INVALID_HANDLE;
}

}  // namespace kiv::lame_enc
