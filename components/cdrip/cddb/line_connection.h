// One TCP connection of the CDDB client: connect, send a request, read the
// answer line by line, each step bounded in time and cancellable.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "components/cdrip/cddb/host_resolver.h"

namespace kiv::cddb {

enum class IoStatus { Ok, Refused, TimedOut, Failed, Closed, Cancelled };

class LineConnection {
public:
    LineConnection() = default;
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    // Tries the addresses in order until one accepts. Refused when none
    // does; TimedOut at the deadline.
    IoStatus Connect(const std::vector<SocketAddress>& addresses,
                     std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* cancel);

    IoStatus SendAll(std::string_view data, std::chrono::milliseconds limit, const std::atomic<bool>* cancel);

    // One line without its CR and LF. A last line that the peer ends by
    // closing instead of a line feed still counts; after it, Closed. A
    // line longer than kMaxLine, or more than kMaxTotal bytes in all, is
    // Failed: an answer that large is not a CDDB answer.
    IoStatus ReadLine(std::string& line, std::chrono::milliseconds limit, const std::atomic<bool>* cancel);

    static constexpr std::size_t kMaxLine = 64 * 1024;
    static constexpr std::size_t kMaxTotal = 4 * 1024 * 1024;

private:
    void Close();

    int fd_ = -1;
    std::string buffer_;
    std::size_t total_ = 0;
    bool eof_ = false;
};

}  // namespace kiv::cddb
