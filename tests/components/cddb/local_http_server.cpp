#include "local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace kiv::cddb::testing {
namespace {

constexpr int kSliceMs = 20;
constexpr auto kRequestLimit = std::chrono::seconds(5);

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, kSliceMs) > 0;
}

}  // namespace

std::string HttpOk(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + body;
}

LocalHttpServer::LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        throw std::runtime_error("bind/listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

LocalHttpServer::~LocalHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::vector<std::string> LocalHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LocalHttpServer::WaitForRequests(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return requests_.size() >= count; });
}

std::string LocalHttpServer::ReadRequest(int fd) {
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + kRequestLimit;
    while (!stop_ && std::chrono::steady_clock::now() < deadline &&
           request.find("\r\n\r\n") == std::string::npos && request.find("\n\n") == std::string::npos) {
        if (!Readable(fd)) continue;
        char chunk[2048];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.append(chunk, static_cast<std::size_t>(n));
    }
    return request;
}

void LocalHttpServer::Serve() {
    while (!stop_) {
        if (!Readable(listener_)) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const std::string request = ReadRequest(fd);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        arrived_.notify_all();
        if (const std::optional<std::string> answer = handler_(request)) {
            std::string_view rest = *answer;
            while (!rest.empty()) {
                const ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
                if (n <= 0) break;
                rest.remove_prefix(static_cast<std::size_t>(n));
            }
        } else {
            while (!stop_) ::usleep(kSliceMs * 1000);
        }
        ::close(fd);
    }
}

}  // namespace kiv::cddb::testing
