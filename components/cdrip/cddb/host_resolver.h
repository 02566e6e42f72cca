// Name resolution for the CDDB client, with a process-wide cache.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::cddb {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

enum class ResolveStatus { Ok, NotFound, TimedOut, Cancelled, Internal };

// Numeric addresses are taken as they are; names are looked up once per
// process and remembered (any thread may call this at any time). The
// system resolver cannot be interrupted, so it runs on a thread of its
// own that the caller stops waiting for at the deadline or on cancel.
ResolveStatus ResolveHost(const std::string& host, std::uint16_t port,
                          std::chrono::steady_clock::time_point deadline,
                          const std::atomic<bool>* cancel, std::vector<SocketAddress>& out);

}  // namespace kiv::cddb
