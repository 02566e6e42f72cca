#include "components/cdrip/cddb/host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace kiv::cddb {
namespace {

constexpr std::chrono::milliseconds kCancelPoll{100};

std::mutex& CacheMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::vector<SocketAddress>>& Cache() {
    static std::map<std::string, std::vector<SocketAddress>> cache;
    return cache;
}

void SetPort(SocketAddress& a, std::uint16_t port) {
    if (a.storage.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&a.storage)->sin_port = htons(port);
    else if (a.storage.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&a.storage)->sin6_port = htons(port);
}

bool ParseNumeric(const std::string& host, SocketAddress& a) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        a.length = sizeof(sockaddr_in);
        return true;
    }
    a.storage = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        a.length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// Shared between the waiting caller and the resolver thread, which may
// outlive the wait.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<SocketAddress> addresses;
};

void RunLookup(const std::string& host, const std::shared_ptr<PendingLookup>& pending) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::vector<SocketAddress> found;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0) {
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(list, &freeaddrinfo);
        for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
            if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
            SocketAddress a;
            std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
            a.length = static_cast<socklen_t>(ai->ai_addrlen);
            found.push_back(a);
        }
    }
    std::lock_guard lock(pending->mutex);
    pending->addresses = std::move(found);
    pending->finished = true;
    pending->done.notify_all();
}

}  // namespace

ResolveStatus ResolveHost(const std::string& host, std::uint16_t port,
                          std::chrono::steady_clock::time_point deadline,
                          const std::atomic<bool>* cancel, std::vector<SocketAddress>& out) {
    out.clear();
    SocketAddress numeric;
    if (ParseNumeric(host, numeric)) {
        SetPort(numeric, port);
        out.push_back(numeric);
        return ResolveStatus::Ok;
    }
    {
        std::lock_guard lock(CacheMutex());
        if (auto it = Cache().find(host); it != Cache().end()) out = it->second;
    }
    if (out.empty()) {
        auto pending = std::make_shared<PendingLookup>();
        try {
            std::thread(RunLookup, host, pending).detach();
        } catch (const std::system_error&) {
            return ResolveStatus::Internal;
        }
        std::unique_lock lock(pending->mutex);
        while (!pending->finished) {
            if (cancel != nullptr && cancel->load()) return ResolveStatus::Cancelled;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return ResolveStatus::TimedOut;
            pending->done.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kCancelPoll, deadline - now));
        }
        if (pending->addresses.empty()) return ResolveStatus::NotFound;
        out = pending->addresses;
        std::lock_guard cacheLock(CacheMutex());
        Cache().emplace(host, out);
    }
    for (SocketAddress& a : out) SetPort(a, port);
    return ResolveStatus::Ok;
}

}  // namespace kiv::cddb
