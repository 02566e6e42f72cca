// A bounded blocking byte channel from one producing thread to one consuming
// thread: the producer is held up while the buffer is full, the consumer
// while it is empty, and the end of the data shows as a read of 0 bytes,
// as with an anonymous pipe. Unlike a pipe it costs no system call per
// block: a consumer that waits for a large block has the producer copy
// straight into its buffer and is woken once, when the block is full, so a
// small buffer between the two no longer means a wake-up (and a read) for
// every few kilobytes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace kiv {

class ByteChannel {
public:
    // `capacity` bounds the bytes held between the two sides while no reader
    // is waiting (at least 1).
    explicit ByteChannel(std::size_t capacity);
    ByteChannel(const ByteChannel&) = delete;
    ByteChannel& operator=(const ByteChannel&) = delete;

    // Producer: hands over every byte, waiting while the buffer is full and
    // no reader takes them. False once the consumer has closed its side.
    bool Write(const void* data, std::size_t size);
    // Producer: no more data; a waiting and every later Read returns what
    // is left, then 0.
    void CloseWrite();

    // Consumer: waits until `size` bytes have arrived or the producer has
    // closed its side; returns the count (fewer only at the end, 0 = end).
    std::size_t Read(void* data, std::size_t size);
    // Consumer: no more reads; a waiting and every later Write fails.
    void CloseRead();

private:
    std::size_t Pop(unsigned char* out, std::size_t size);
    std::size_t Push(const unsigned char* in, std::size_t size);
    bool ReaderHasRoom() const { return reader_ && filled_ < wanted_; }

    std::mutex m_;
    std::condition_variable readerWake_;
    std::condition_variable writerWake_;
    std::vector<unsigned char> ring_;
    std::size_t head_ = 0;  // oldest byte in the ring
    std::size_t held_ = 0;  // bytes in the ring
    // The buffer of a waiting Read; while it has room the ring is empty and
    // the producer fills it directly, so the order of the bytes holds.
    unsigned char* reader_ = nullptr;
    std::size_t wanted_ = 0;
    std::size_t filled_ = 0;
    bool writeClosed_ = false;
    bool readClosed_ = false;
};

}  // namespace kiv
