#include "platform/system/byte_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

namespace kiv {
namespace {

std::vector<unsigned char> Numbered(std::size_t n) {
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return v;
}

// Writes and reads in sizes that are smaller than, equal to and larger than
// the capacity, so bytes travel through the buffer, straight into a waiting
// reader, and both in one transfer; every byte must arrive once, in order.
struct Pattern {
    std::size_t capacity;
    std::vector<std::size_t> writes;
    std::vector<std::size_t> reads;
};

class ByteChannelOrder : public ::testing::TestWithParam<Pattern> {};

TEST_P(ByteChannelOrder, EveryByteArrivesOnceAndInOrder) {
    const Pattern& p = GetParam();
    const std::vector<unsigned char> source = Numbered(300000);
    ByteChannel channel(p.capacity);
    std::thread producer([&] {
        std::size_t at = 0, i = 0;
        while (at < source.size()) {
            const std::size_t n = std::min(p.writes[i++ % p.writes.size()], source.size() - at);
            ASSERT_TRUE(channel.Write(source.data() + at, n));
            at += n;
        }
        channel.CloseWrite();
    });
    std::vector<unsigned char> received;
    std::size_t i = 0;
    for (;;) {
        const std::size_t want = p.reads[i++ % p.reads.size()];
        std::vector<unsigned char> block(want);
        const std::size_t got = channel.Read(block.data(), want);
        if (got == 0) break;
        // Only the end of the data cuts a read short.
        if (got < want) {
            EXPECT_EQ(received.size() + got, source.size());
        }
        received.insert(received.end(), block.begin(), block.begin() + long(got));
    }
    producer.join();
    EXPECT_EQ(received, source);
    unsigned char byte;
    EXPECT_EQ(channel.Read(&byte, 1), 0u) << "the end stays the end";
}

INSTANTIATE_TEST_SUITE_P(Sizes, ByteChannelOrder,
                         ::testing::Values(Pattern{4096, {2304}, {65536}}, Pattern{4096, {65536, 1, 4095}, {4096}},
                                           Pattern{1, {3, 1000}, {7, 1}}, Pattern{65536, {8192, 333}, {100, 70000}}));

TEST(ByteChannel, WriterIsHeldWhileTheBufferIsFullAndFailsOnceTheReaderCloses) {
    ByteChannel channel(16);
    const std::vector<unsigned char> data = Numbered(64);
    std::atomic<int> result{-1};
    std::thread producer([&] { result = channel.Write(data.data(), data.size()) ? 1 : 0; });
    unsigned char first[8];
    ASSERT_EQ(channel.Read(first, sizeof first), sizeof first);
    EXPECT_EQ(first[7], data[7]);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result, -1) << "48 bytes do not fit in 16 and nobody reads them";
    channel.CloseRead();
    producer.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(channel.Write(data.data(), 1));
}

TEST(ByteChannel, ReaderWaitingForMoreGetsTheRestAtTheEnd) {
    ByteChannel channel(4096);
    const std::vector<unsigned char> data = Numbered(10);
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        channel.Write(data.data(), data.size());
        channel.CloseWrite();
    });
    std::vector<unsigned char> block(65536);
    EXPECT_EQ(channel.Read(block.data(), block.size()), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin()));
    EXPECT_EQ(channel.Read(block.data(), block.size()), 0u);
    producer.join();
}

}  // namespace
}  // namespace kiv
