// File descriptors, pipes and events with RAII ownership.
#pragma once

#include <condition_variable>
#include <mutex>
#include <utility>

namespace kiv {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(std::exchange(o.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes what is held; returns the close result (0 when nothing was held).
    int reset(int fd = -1);

private:
    int fd_ = -1;
};

// An anonymous pipe. `size` > 0 asks the kernel for that capacity (it rounds
// up to a page and may cap it); 0 keeps the system default.
struct Pipe {
    UniqueFd read;
    UniqueFd write;
    // False with errno set when the pipe cannot be made.
    bool Create(int size = 0);
};

// Writes all bytes, retrying after signals and short writes. False with
// errno set on failure; a reader that has gone shows as EPIPE, never as a
// SIGPIPE that ends the process.
bool WriteAll(int fd, const void* data, std::size_t size);
// Holds SIGPIPE back on the calling thread for the rest of its life, so that
// WriteAll on it needs no signal-mask calls around every write. For the
// worker threads of our own that write blocks in a loop; a thread that
// belongs to a client keeps its mask, and WriteAll guards each call there.
void HoldPipeSignalOnThisThread();
// Reads up to `size` bytes, retrying after signals; fills as much as it can
// until end of file. Returns the count, or -1 with errno set.
long ReadFull(int fd, void* data, std::size_t size);

// A manual- or auto-reset event, as threads here hand each other signals.
class Event {
public:
    explicit Event(bool manualReset = true, bool initial = false) : manual_(manualReset), set_(initial) {}
    void Set();
    void Reset();
    // Waits up to timeoutMs (-1: no limit); true when signalled.
    bool Wait(int timeoutMs = -1);
    bool IsSet();

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool manual_;
    bool set_;
};

}  // namespace kiv
