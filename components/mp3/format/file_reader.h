// Positional reads from a POSIX file descriptor, owned or borrowed. Reads
// never move the descriptor's file position, so a caller's descriptor is
// left as it was handed over.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace kiv::mp3 {

class FileReader {
public:
    // Uses fd without taking it over.
    static FileReader borrow(int fd) { return FileReader(fd, false); }
    // Opens path for reading; on failure the reader is not valid() and
    // error() holds the errno value.
    static FileReader open(const std::filesystem::path& path);

    FileReader(FileReader&& other) noexcept;
    FileReader& operator=(FileReader&&) = delete;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    bool valid() const { return fd_ >= 0; }
    // errno of the last failed call.
    int error() const { return error_; }

    // File size in bytes, or -1 on failure.
    std::int64_t size();

    // Reads up to out.size() bytes at offset, fewer only at the end of the
    // file. Returns the count, or -1 on failure.
    std::int64_t readAt(std::int64_t offset, std::span<std::uint8_t> out);

private:
    FileReader(int fd, bool owned) : fd_(fd), owned_(owned) {}

    int fd_ = -1;
    bool owned_ = false;
    int error_ = 0;
};

}  // namespace kiv::mp3
