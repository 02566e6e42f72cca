#include "tests/components/cdrip/local_cddb_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kiv::test {

LocalCddbServer::LocalCddbServer(std::string record, std::string match)
    : record_(std::move(record)), match_(std::move(match)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 8);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread(&LocalCddbServer::Serve, this);
}

LocalCddbServer::~LocalCddbServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void LocalCddbServer::UseFromEnvironment() const {
    ::setenv("ONDALO_CDDB_SERVER", "127.0.0.1", 1);
    ::setenv("ONDALO_CDDB_PORT", std::to_string(port_).c_str(), 1);
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
}

void LocalCddbServer::UseDownServer() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    ::setenv("ONDALO_CDDB_SERVER", "127.0.0.1", 1);
    ::setenv("ONDALO_CDDB_PORT", std::to_string(ntohs(addr.sin_port)).c_str(), 1);
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
}

void LocalCddbServer::Serve() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0) continue;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        ++requests_;
        std::string body;
        if (request.find("cmd=cddb+query") != std::string::npos) body = "200 " + match_ + "\r\n";
        else if (request.find("cmd=cddb+read") != std::string::npos) body = "210 " + match_.substr(0, 13) + "\r\n" + record_ + ".\r\n";
        else body = "500 Unrecognized command.\r\n";
        const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body;
        ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(client);
    }
}

}  // namespace kiv::test
