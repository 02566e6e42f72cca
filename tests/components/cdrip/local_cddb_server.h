// A CDDB server on 127.0.0.1 for the tests: answers "cddb query" with one
// match and "cddb read" with a fixed record, over HTTP/1.0.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace kiv::test {

class LocalCddbServer {
public:
    explicit LocalCddbServer(std::string record, std::string match = "rock 05000402 The Band / The Album");
    ~LocalCddbServer();
    int port() const { return port_; }
    int requests() const { return requests_; }
    // Points the CDDB settings of this process (and its children) here.
    void UseFromEnvironment() const;
    // Points them at a port of 127.0.0.1 where nobody listens: a server
    // that is down.
    static void UseDownServer();

private:
    void Serve();
    std::string record_, match_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kiv::test
