// The fuzz input as a file that exists only in memory: parsers that open a
// file by name or read a descriptor get the bytes without anything being
// written to disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/system/pipe.h"

namespace kiv::fuzz {

class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size) : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
        // Without the file every later step would test nothing; stop loudly.
        if (fd_.get() < 0 || !WriteAll(fd_.get(), data, size) || ::lseek(fd_.get(), 0, SEEK_SET) != 0) std::abort();
    }

    // Positioned at the start.
    int fd() const { return fd_.get(); }
    // A name that opens the same bytes again, from the start.
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_.get()); }

private:
    UniqueFd fd_;
};

}  // namespace kiv::fuzz
