#include "components/cdrip/cddb/line_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kiv::cddb {
namespace {

// Waits are cut into slices so that a cancel request is seen promptly.
constexpr std::chrono::milliseconds kSlice{100};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(); }

// Polls fd for events until ready, the deadline or a cancel request.
IoStatus WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline,
                 const std::atomic<bool>* cancel) {
    while (true) {
        if (Cancelled(cancel)) return IoStatus::Cancelled;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return IoStatus::TimedOut;
        const auto wait = std::min<std::chrono::steady_clock::duration>(kSlice, deadline - now);
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
        if (n > 0) return IoStatus::Ok;
        if (n < 0 && errno != EINTR) return IoStatus::Failed;
    }
}

}  // namespace

LineConnection::~LineConnection() { Close(); }

void LineConnection::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

IoStatus LineConnection::Connect(const std::vector<SocketAddress>& addresses,
                                 std::chrono::steady_clock::time_point deadline,
                                 const std::atomic<bool>* cancel) {
    Close();
    for (const SocketAddress& a : addresses) {
        fd_ = ::socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) continue;
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&a.storage), a.length) == 0) return IoStatus::Ok;
        if (errno == EINPROGRESS) {
            const IoStatus waited = WaitFor(fd_, POLLOUT, deadline, cancel);
            if (waited != IoStatus::Ok && waited != IoStatus::Failed) {
                Close();
                return waited;
            }
            int error = 0;
            socklen_t length = sizeof error;
            if (waited == IoStatus::Ok && ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                return IoStatus::Ok;
        }
        Close();
    }
    return IoStatus::Refused;
}

IoStatus LineConnection::SendAll(std::string_view data, std::chrono::milliseconds limit,
                                 const std::atomic<bool>* cancel) {
    if (fd_ < 0) return IoStatus::Failed;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!data.empty()) {
        const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const IoStatus waited = WaitFor(fd_, POLLOUT, deadline, cancel);
            if (waited != IoStatus::Ok) return waited;
            continue;
        }
        return IoStatus::Failed;
    }
    return IoStatus::Ok;
}

IoStatus LineConnection::ReadLine(std::string& line, std::chrono::milliseconds limit,
                                  const std::atomic<bool>* cancel) {
    line.clear();
    if (fd_ < 0) return IoStatus::Failed;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t searched = 0;
    while (true) {
        const auto lf = buffer_.find('\n', searched);
        if (lf != std::string::npos || (eof_ && !buffer_.empty())) {
            const std::size_t end = lf == std::string::npos ? buffer_.size() : lf + 1;
            for (std::size_t i = 0; i < end; ++i)
                if (buffer_[i] != '\r' && buffer_[i] != '\n') line += buffer_[i];
            buffer_.erase(0, end);
            return IoStatus::Ok;
        }
        if (eof_) return IoStatus::Closed;
        if (buffer_.size() > kMaxLine) return IoStatus::Failed;
        searched = buffer_.size();

        const IoStatus waited = WaitFor(fd_, POLLIN, deadline, cancel);
        if (waited != IoStatus::Ok) return waited;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n == 0) {
            eof_ = true;
        } else if (n > 0) {
            total_ += static_cast<std::size_t>(n);
            if (total_ > kMaxTotal) return IoStatus::Failed;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoStatus::Failed;
        }
    }
}

}  // namespace kiv::cddb
