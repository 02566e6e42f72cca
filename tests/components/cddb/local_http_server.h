// A one-thread HTTP server on 127.0.0.1 with an ephemeral port, answering
// each request with whatever the test's handler returns. Everything it
// does is bounded: it stops and joins in its destructor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kiv::cddb::testing {

class LocalHttpServer {
public:
    // The bytes to send back, after which the connection is closed; nullopt
    // keeps the connection open without a word until the server stops.
    using Handler = std::function<std::optional<std::string>(const std::string& request)>;

    explicit LocalHttpServer(Handler handler);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::vector<std::string> requests() const;
    // Waits (at most a few seconds) until count requests have arrived.
    bool WaitForRequests(std::size_t count) const;

private:
    void Serve();
    std::string ReadRequest(int fd);

    Handler handler_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// An HTTP 200 answer carrying a CDDB body.
std::string HttpOk(const std::string& body);

}  // namespace kiv::cddb::testing
