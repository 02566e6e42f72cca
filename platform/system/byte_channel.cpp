#include "platform/system/byte_channel.h"

#include <algorithm>
#include <cstring>

namespace kiv {

ByteChannel::ByteChannel(std::size_t capacity) : ring_(std::max<std::size_t>(capacity, 1)) {}

std::size_t ByteChannel::Pop(unsigned char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size && held_ > 0) {
        const std::size_t run = std::min({size - done, held_, ring_.size() - head_});
        std::memcpy(out + done, ring_.data() + head_, run);
        head_ = (head_ + run) % ring_.size();
        held_ -= run;
        done += run;
    }
    if (held_ == 0) head_ = 0;
    return done;
}

std::size_t ByteChannel::Push(const unsigned char* in, std::size_t size) {
    std::size_t done = 0;
    while (done < size && held_ < ring_.size()) {
        const std::size_t tail = (head_ + held_) % ring_.size();
        const std::size_t run = std::min({size - done, ring_.size() - held_, ring_.size() - tail});
        std::memcpy(ring_.data() + tail, in + done, run);
        held_ += run;
        done += run;
    }
    return done;
}

// Each side wakes the other only after letting go of the lock, so the woken
// thread does not run straight into a held lock and sleep once more.

bool ByteChannel::Write(const void* data, std::size_t size) {
    auto* in = static_cast<const unsigned char*>(data);
    std::unique_lock lock(m_);
    while (size > 0) {
        if (readClosed_) return false;
        std::size_t taken;
        if (ReaderHasRoom()) {
            taken = std::min(size, wanted_ - filled_);
            std::memcpy(reader_ + filled_, in, taken);
            filled_ += taken;
            if (filled_ == wanted_) {
                lock.unlock();
                readerWake_.notify_one();
                lock.lock();
            }
        } else {
            taken = Push(in, size);
            if (taken == 0) {
                writerWake_.wait(lock, [&] { return readClosed_ || ReaderHasRoom() || held_ < ring_.size(); });
                continue;
            }
        }
        in += taken;
        size -= taken;
    }
    return true;
}

void ByteChannel::CloseWrite() {
    {
        std::lock_guard lock(m_);
        writeClosed_ = true;
    }
    readerWake_.notify_one();
}

std::size_t ByteChannel::Read(void* data, std::size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    std::unique_lock lock(m_);
    std::size_t got = Pop(out, size);
    if (got < size && !writeClosed_) {
        // The ring is empty now: the producer goes on straight into `out`.
        reader_ = out;
        wanted_ = size;
        filled_ = got;
        lock.unlock();
        writerWake_.notify_one();
        lock.lock();
        readerWake_.wait(lock, [&] { return filled_ == wanted_ || writeClosed_; });
        got = filled_;
        reader_ = nullptr;
        wanted_ = filled_ = 0;
    } else if (got > 0) {
        lock.unlock();
        writerWake_.notify_one();  // room in the ring
    }
    return got;
}

void ByteChannel::CloseRead() {
    {
        std::lock_guard lock(m_);
        readClosed_ = true;
    }
    writerWake_.notify_one();
}

}  // namespace kiv
