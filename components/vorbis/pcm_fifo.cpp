#include "components/vorbis/pcm_fifo.h"

#include <algorithm>
#include <cstring>

namespace kiv::vorbis {

PcmFifo::PcmFifo(std::size_t capacity) : buffer_(capacity) {}

std::size_t PcmFifo::Push(const void* data, std::size_t count) {
    count = std::min(count, space());
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t tail = (head_ + size_) % buffer_.size();
    std::size_t first = std::min(count, buffer_.size() - tail);
    std::memcpy(buffer_.data() + tail, in, first);
    std::memcpy(buffer_.data(), in + first, count - first);
    size_ += count;
    return count;
}

std::size_t PcmFifo::Pop(void* out, std::size_t count) {
    count = std::min(count, size_);
    auto* dst = static_cast<unsigned char*>(out);
    std::size_t first = std::min(count, buffer_.size() - head_);
    std::memcpy(dst, buffer_.data() + head_, first);
    std::memcpy(dst + first, buffer_.data(), count - first);
    head_ = (head_ + count) % buffer_.size();
    size_ -= count;
    if (size_ == 0) head_ = 0;
    return count;
}

}  // namespace kiv::vorbis
