#include <gtest/gtest.h>

#include <numeric>

#include "components/vorbis/pcm_fifo.h"

namespace kiv::vorbis {
namespace {

TEST(VorbisPcmFifoTest, KeepsOrderAcrossTheWrapAndNeverTakesMoreThanItHolds) {
    PcmFifo fifo(1000);
    std::vector<unsigned char> in(4000);
    std::iota(in.begin(), in.end(), 0);
    std::vector<unsigned char> out(4000);
    std::size_t pushed = 0, popped = 0;
    // Uneven steps make the ring wrap at different points.
    const std::pair<std::size_t, std::size_t> steps[] = {{700, 300}, {900, 650}, {400, 999}, {1000, 551}};
    for (auto [push, pop] : steps) {
        std::size_t space = fifo.space();
        std::size_t took = fifo.Push(in.data() + pushed, push);
        EXPECT_EQ(took, std::min(push, space));
        pushed += took;
        popped += fifo.Pop(out.data() + popped, pop);
        EXPECT_EQ(fifo.size(), pushed - popped);
    }
    popped += fifo.Pop(out.data() + popped, 5000);
    ASSERT_EQ(popped, pushed);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(popped), in.begin()));
    EXPECT_EQ(fifo.Pop(out.data(), 10), 0u);
}

}  // namespace
}  // namespace kiv::vorbis
