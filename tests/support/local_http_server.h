// A small HTTP/1.0 server on 127.0.0.1 for tests of the network services:
// each request's path and query go to the test's handler, which returns the
// answer (or raw bytes, or a delay, to play a slow or broken server). One
// connection at a time, closed after each answer.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kiv::test {

struct HttpReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    // Extra header lines, each "Name: value".
    std::vector<std::string> headers;
    // Sent instead of a well-formed answer when not empty.
    std::string raw;
    // Waited before answering (a slow server).
    std::chrono::milliseconds delay{0};
};

struct HttpRequestSeen {
    std::string target;  // path and query, as on the request line
    std::string head;    // the request line and header lines
};

class LocalHttpServer {
public:
    using Handler = std::function<HttpReply(const HttpRequestSeen&)>;
    explicit LocalHttpServer(Handler handler);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string base() const;
    std::vector<HttpRequestSeen> requests() const;

private:
    void Serve();
    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex lock_;
    std::vector<HttpRequestSeen> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed).
int UnusedLocalPort();

}  // namespace kiv::test
