#include "components/mp3/format/id3v2_prepend.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/pipe.h"

namespace kiv::mp3 {

namespace {

constexpr std::size_t kCopyBlock = 16384;

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

PrependResult fail(PrependStage stage, int error, const std::filesystem::path& temporary) {
    ::unlink(temporary.c_str());
    return {stage, error};
}

}  // namespace

std::filesystem::path id3v2TemporaryPath(const std::filesystem::path& file) {
    std::string name = file.native();
    if (name.empty()) return "~";
    if (name.back() == '~') {
        name.push_back('~');
    } else {
        name.back() = '~';
    }
    return name;
}

PrependResult prependId3v2(const std::filesystem::path& file, std::span<const std::uint8_t> tag) {
    const std::filesystem::path temporary = id3v2TemporaryPath(file);

    UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) return {PrependStage::createTemporary, errno};
    if (!writeAll(out.get(), tag.data(), tag.size())) return fail(PrependStage::writeTag, errno, temporary);

    UniqueFd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return fail(PrependStage::openSource, errno, temporary);
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::array<std::uint8_t, kCopyBlock> block{};
    while (true) {
        const ssize_t n = ::read(in.get(), block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(PrependStage::readSource, errno, temporary);
        }
        if (n == 0) break;
        if (!writeAll(out.get(), block.data(), static_cast<std::size_t>(n))) {
            return fail(PrependStage::writeCopy, errno, temporary);
        }
    }

    // The replacement keeps the permissions the file had.
    struct stat st {};
    if (::fstat(in.get(), &st) == 0) ::fchmod(out.get(), st.st_mode & 07777);
    in.reset();
    // Closing reports the failure a delayed write error shows as.
    if (out.reset() != 0) return fail(PrependStage::writeCopy, errno, temporary);
    if (::rename(temporary.c_str(), file.c_str()) != 0) return fail(PrependStage::replace, errno, temporary);
    return {};
}

}  // namespace kiv::mp3
