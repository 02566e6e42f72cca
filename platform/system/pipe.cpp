#include "platform/system/pipe.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace kiv {

int UniqueFd::reset(int fd) {
    int r = 0;
    if (fd_ >= 0) r = ::close(fd_);
    fd_ = fd;
    return r;
}

bool Pipe::Create(int size) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read.reset(fds[0]);
    write.reset(fds[1]);
    // The capacity is a wish: a smaller one still works, only with more turns.
    if (size > 0) ::fcntl(fds[1], F_SETPIPE_SZ, size);
    return true;
}

namespace {

thread_local bool pipeSignalHeld = false;

sigset_t PipeSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

// Takes a SIGPIPE raised by a failed write off the thread's pending set.
void TakePendingPipeSignal(const sigset_t& pipeSignal) {
    const timespec none{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
    }
}

bool WriteLoop(int fd, const char* p, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void HoldPipeSignalOnThisThread() {
    if (pipeSignalHeld) return;
    const sigset_t pipeSignal = PipeSignal();
    pipeSignalHeld = pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr) == 0;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const sigset_t pipeSignal = PipeSignal();
    auto* p = static_cast<const char*>(data);
    if (pipeSignalHeld) {
        // The signal of a failed write stays pending on this thread alone;
        // it is taken off at once, so none piles up.
        if (WriteLoop(fd, p, size)) return true;
        const int err = errno;
        if (err == EPIPE) TakePendingPipeSignal(pipeSignal);
        errno = err;
        return false;
    }
    // A pipe whose reader has gone raises SIGPIPE, which would end the whole
    // process. The signal is held back for this thread while writing and a
    // SIGPIPE caused by this write is taken off again, so the failure shows
    // as EPIPE and the process's own signal handling stays untouched.
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    const bool ok = WriteLoop(fd, p, size);
    const int err = errno;
    if (!ok && err == EPIPE && !alreadyPending) TakePendingPipeSignal(pipeSignal);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return ok;
}

long ReadFull(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long>(got);
}

void Event::Set() {
    std::lock_guard lock(m_);
    set_ = true;
    cv_.notify_all();
}

void Event::Reset() {
    std::lock_guard lock(m_);
    set_ = false;
}

bool Event::IsSet() {
    std::lock_guard lock(m_);
    return set_;
}

bool Event::Wait(int timeoutMs) {
    std::unique_lock lock(m_);
    auto ready = [&] { return set_; };
    bool ok = timeoutMs < 0 ? (cv_.wait(lock, ready), true)
                            : cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (ok && !manual_) set_ = false;
    return ok;
}

}  // namespace kiv
