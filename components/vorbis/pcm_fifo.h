// The decoder's PCM buffer: a bounded first-in-first-out byte ring. The
// library decodes in its own block sizes; the buffer lets Read hand out
// exactly the number of bytes asked for and keep the rest for the next call.
#pragma once

#include <cstddef>
#include <vector>

namespace kiv::vorbis {

class PcmFifo {
public:
    explicit PcmFifo(std::size_t capacity);

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return buffer_.size(); }
    std::size_t space() const { return buffer_.size() - size_; }

    // Appends up to space() bytes; returns how many were taken.
    std::size_t Push(const void* data, std::size_t count);
    // Removes up to `count` of the oldest bytes into `out`; returns the count.
    std::size_t Pop(void* out, std::size_t count);
    void Clear() { head_ = size_ = 0; }

private:
    std::vector<unsigned char> buffer_;
    std::size_t head_ = 0;  // oldest byte
    std::size_t size_ = 0;
};

}  // namespace kiv::vorbis
