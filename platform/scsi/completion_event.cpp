#include "platform/scsi/completion_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/scsi/srb.h"

namespace kiv::scsi {

std::optional<CompletionEvent> CompletionEvent::Create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return std::nullopt;
    return CompletionEvent(fd);
}

CompletionEvent::CompletionEvent(CompletionEvent&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

CompletionEvent& CompletionEvent::operator=(CompletionEvent&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

CompletionEvent::~CompletionEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void CompletionEvent::Reset() {
    std::uint64_t count = 0;
    while (::read(fd_, &count, sizeof count) == sizeof count) {
    }
}

bool CompletionEvent::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

void SignalCompletion(const void* execSrb) {
    const auto* srb = static_cast<const SRB_ExecSCSICmd*>(execSrb);
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) == 0) return;
    const std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the event readable.
    [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(srb->SRB_PostProc), &one, sizeof one);
}

}  // namespace kiv::scsi
