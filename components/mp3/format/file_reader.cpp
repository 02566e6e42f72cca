#include "components/mp3/format/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv::mp3 {

FileReader FileReader::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FileReader reader(fd, true);
    if (fd < 0) reader.error_ = errno;
    return reader;
}

FileReader::FileReader(FileReader&& other) noexcept
    : fd_(other.fd_), owned_(other.owned_), error_(other.error_) {
    other.fd_ = -1;
    other.owned_ = false;
}

FileReader::~FileReader() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

std::int64_t FileReader::size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = errno;
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::int64_t FileReader::readAt(std::int64_t offset, std::span<std::uint8_t> out) {
    if (offset < 0) {
        error_ = EINVAL;
        return -1;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace kiv::mp3
