// The event a caller hands over in SRB_PostProc: an eventfd that the
// back-end bumps once the block's status is final.
#pragma once

#include <chrono>
#include <optional>

namespace kiv::scsi {

class CompletionEvent {
public:
    static std::optional<CompletionEvent> Create();
    CompletionEvent(CompletionEvent&& other) noexcept;
    CompletionEvent& operator=(CompletionEvent&& other) noexcept;
    CompletionEvent(const CompletionEvent&) = delete;
    CompletionEvent& operator=(const CompletionEvent&) = delete;
    ~CompletionEvent();

    int fd() const { return fd_; }
    // Drops any completion signalled so far.
    void Reset();
    // True once signalled; false when the time ran out.
    bool Wait(std::chrono::milliseconds timeout);

private:
    explicit CompletionEvent(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Back-end side: signal the event of a finished execute block, if the
// caller asked for one. The status must already be stored.
void SignalCompletion(const void* execSrb);

}  // namespace kiv::scsi
