#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "components/converter/pcm_reduction.h"

namespace kiv {
namespace {

// Frames of `layout` holding `values` (one per channel, in [-1, 1)) `count` times.
std::vector<BYTE> Frames(const PcmLayout& layout, const std::vector<double>& values, std::size_t count) {
    std::vector<BYTE> out;
    for (std::size_t i = 0; i < count; ++i) {
        for (double v : values) {
            BYTE b[4];
            if (layout.isFloat) {
                float f = float(v);
                std::memcpy(b, &f, 4);
            } else {
                std::int64_t s = std::llround(v * std::ldexp(1.0, layout.bits - 1));
                for (int k = 0; k < layout.bits / 8; ++k) b[k] = BYTE(std::uint64_t(s) >> (8 * k));
            }
            out.insert(out.end(), b, b + layout.bits / 8);
        }
    }
    return out;
}

std::vector<double> Samples16(std::span<const BYTE> bytes) {
    std::vector<double> out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(std::int16_t(bytes[i] | bytes[i + 1] << 8));
    return out;
}

// The downmix places channels by the speaker mask, leaves the low-frequency
// channel out and cannot clip; depth reductions keep the value to within the
// dither's one step.
TEST(PcmReductionTest, DownmixAndDepthReductionGiveTheStandardValues) {
    constexpr double k3dB = 0.7071067811865476;
    const double scale = 1 + 2 * k3dB;
    // FL, FR, FC, LFE, surround left, surround right.
    const std::vector<double> surround{0.25, -0.25, 0.5, 0.9, 0.125, -0.125};
    const double left = (0.25 + k3dB * 0.5 + k3dB * 0.125) / scale;
    const double right = (-0.25 + k3dB * 0.5 - k3dB * 0.125) / scale;
    struct Case {
        const char* what;
        PcmLayout from;
        std::vector<double> in;
        std::vector<double> out;  // expected, full scale 1
    } cases[] = {
        {"5.1, usual layout", {6, 48000, 16, false, 0}, surround, {left, right}},
        {"5.1 with sides", {6, 48000, 24, false, 0x60F}, surround, {left, right}},
        {"full-scale 5.1 does not clip", {6, 48000, 16, false, 0x3F}, {-1, -1, -1, -1, -1, -1}, {-1, -1 + 0.0}},
        {"24-bit mono", {1, 44100, 24, false, 0}, {0.123456}, {0.123456}},
        {"32-bit stereo", {2, 44100, 32, false, 0}, {-0.5, 0.75}, {-0.5, 0.75}},
        {"float stereo beyond full scale", {2, 44100, 32, true, 0}, {1.5, -0.25}, {32767 / 32768.0, -0.25}},
    };
    for (const Case& c : cases) {
        PcmReduction r;
        PcmLayout to{WORD(c.out.size()), c.from.rate, 16, false, 0};
        r.Setup(c.from, to);
        auto in = Frames(c.from, c.in, 100);
        auto out = Samples16(r.Convert(in.data(), in.size()));
        ASSERT_EQ(out.size(), 100 * c.out.size()) << c.what;
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR(out[i], c.out[i % c.out.size()] * 32768.0, 1.5) << c.what << " sample " << i;
    }
}

// TPDF dither: a level between two 16-bit steps comes out as a mix of the
// steps around it whose average is the level, not as one rounded value.
TEST(PcmReductionTest, DitherKeepsTheLevelBetweenSteps) {
    PcmReduction r;
    const PcmLayout from{1, 44100, 24, false, 0};
    r.Setup(from, {1, 44100, 16, false, 0});
    const double level = (1000 + 0.5) / 32768.0;  // half-way between two steps
    auto in = Frames(from, {level}, 20000);
    auto out = Samples16(r.Convert(in.data(), in.size()));
    double sum = 0;
    for (double s : out) {
        ASSERT_GE(s, 999);
        ASSERT_LE(s, 1002);
        sum += s;
    }
    EXPECT_NEAR(sum / double(out.size()), 1000.5, 0.05);
    EXPECT_NE(*std::min_element(out.begin(), out.end()), *std::max_element(out.begin(), out.end()));
}

// Blocks need not hold whole frames: a frame split over blocks is put
// together, and the result does not depend on where the blocks end.
TEST(PcmReductionTest, FramesSplitOverBlocksAreJoined) {
    const PcmLayout from{6, 48000, 24, false, 0};
    const PcmLayout to{2, 48000, 32, true, 0};
    std::vector<double> values{0.1, -0.2, 0.3, -0.4, 0.5, -0.6};
    auto in = Frames(from, values, 500);
    PcmReduction whole;
    whole.Setup(from, to);
    auto w = whole.Convert(in.data(), in.size());
    const std::vector<BYTE> expected(w.begin(), w.end());
    ASSERT_EQ(expected.size(), 500u * to.FrameBytes()) << "every frame converted in one block";
    for (std::size_t block : {1u, 7u, 18u, 1000u}) {
        PcmReduction r;
        r.Setup(from, to);
        std::vector<BYTE> got;
        for (std::size_t at = 0; at < in.size(); at += block) {
            auto part = r.Convert(in.data() + at, std::min(block, in.size() - at));
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_EQ(got, expected) << "blocks of " << block;
    }
    PcmReduction r;
    r.Setup(from, to);
    EXPECT_TRUE(r.Convert(in.data(), 17).empty()) << "part of a frame gives nothing yet";
}

}  // namespace
}  // namespace kiv
