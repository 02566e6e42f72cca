#include "tests/support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kiv::test {
namespace {

int LoopbackListener(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 404: return "Not Found";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

void SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace

LocalHttpServer::LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = LoopbackListener(&port_);
    thread_ = std::thread(&LocalHttpServer::Serve, this);
}

LocalHttpServer::~LocalHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::string LocalHttpServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<HttpRequestSeen> LocalHttpServer::requests() const {
    std::lock_guard lock(lock_);
    return requests_;
}

void LocalHttpServer::Serve() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            pollfd c{client, POLLIN, 0};
            if (::poll(&c, 1, 2000) <= 0) break;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        HttpRequestSeen seen;
        seen.head = head.substr(0, head.find("\r\n\r\n"));
        const std::size_t sp1 = head.find(' ');
        const std::size_t sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
        if (sp2 != std::string::npos) seen.target = head.substr(sp1 + 1, sp2 - sp1 - 1);
        {
            std::lock_guard lock(lock_);
            requests_.push_back(seen);
        }
        const HttpReply reply = handler_(seen);
        // A delay is served in small steps so that the server stops promptly.
        for (auto waited = std::chrono::milliseconds(0); waited < reply.delay && !stop_;
             waited += std::chrono::milliseconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!reply.raw.empty()) {
            SendAll(client, reply.raw);
        } else {
            std::string answer = "HTTP/1.0 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
            answer += "Content-Type: " + reply.contentType + "\r\n";
            answer += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
            for (const std::string& line : reply.headers) answer += line + "\r\n";
            answer += "\r\n" + reply.body;
            SendAll(client, answer);
        }
        ::close(client);
    }
}

int UnusedLocalPort() {
    int port = 0;
    ::close(LoopbackListener(&port));
    return port;
}

}  // namespace kiv::test
