// The read loop of a job against a scripted drive: block sizes, jitter
// search, progress, cancellation and unreadable frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "components/cdrip/block_loop.h"

namespace kiv::cdrip {
namespace {

constexpr std::size_t kFrame = kFrameBytes;

// Stereo sample i of the disc holds i itself, so any run of bytes says
// where on the disc it came from.
std::vector<BYTE> DiscBytes(std::int32_t firstFrame, std::size_t bytes) {
    std::vector<BYTE> out(bytes);
    const std::uint32_t base = static_cast<std::uint32_t>(firstFrame) * (kFrame / 4);
    for (std::size_t i = 0; i < bytes / 4; ++i) {
        const std::uint32_t v = base + static_cast<std::uint32_t>(i) + 1;
        std::memcpy(&out[i * 4], &v, 4);
    }
    return out;
}

struct ScriptedDrive {
    std::vector<std::pair<std::int32_t, std::uint32_t>> reads;
    std::vector<int> shifts;  // samples per read, cycled; + reads late
    std::map<std::int32_t, int> failuresLeft;  // frame -> failing reads left (-1: always)
    bool zeros = false;

    bool Read(std::int32_t lba, std::uint32_t n, BYTE* buffer) {
        reads.emplace_back(lba, n);
        for (std::uint32_t i = 0; i < n; ++i) {
            auto it = failuresLeft.find(lba + static_cast<std::int32_t>(i));
            if (it != failuresLeft.end() && it->second != 0) {
                if (it->second > 0) --it->second;
                std::memset(buffer, 0, n * kFrame);
                return false;
            }
        }
        if (zeros) {
            std::memset(buffer, 0, n * kFrame);
            return true;
        }
        const int shift = shifts.empty() ? 0 : shifts[(reads.size() - 1) % shifts.size()];
        // Room on both sides for shifts of up to 8 frames.
        const std::vector<BYTE> span = DiscBytes(lba - 8, (n + 16) * kFrame);
        std::memcpy(buffer, span.data() + 8 * kFrame + shift * 4, n * kFrame);
        return true;
    }
};

struct LoopRun {
    std::vector<BYTE> output;
    std::vector<int> progress;
    int jitterReports = 0;
    BlockLoopOutcome outcome;
};

LoopRun RunLoop(ScriptedDrive& drive, ReadRange range, bool jitter, int cancelAfterBlocks = -1) {
    LoopRun run;
    int blocks = 0;
    BlockLoopHooks hooks;
    hooks.read = [&](std::int32_t lba, std::uint32_t n, BYTE* b) { return drive.Read(lba, n, b); };
    hooks.sink = [&](const BYTE* d, std::size_t n) {
        run.output.insert(run.output.end(), d, d + n);
        ++blocks;
        return true;
    };
    hooks.jitterCorrection = [jitter] { return jitter; };
    hooks.cancelled = [&] { return cancelAfterBlocks >= 0 && blocks >= cancelAfterBlocks; };
    hooks.progress = [&](int p) { run.progress.push_back(p); };
    hooks.jitterDetected = [&] { ++run.jitterReports; };
    run.outcome = RunBlockLoop(range, hooks);
    return run;
}

TEST(BlockLoop, BlockSizesAndBytesWithoutJitterCorrection) {
    struct Case {
        std::int32_t frames;
        std::vector<std::uint32_t> expectedTail;  // sizes of the last reads
        std::size_t reads;
    };
    const Case cases[] = {
        {1000, {26, 12}, 39},
        {991, {26, 10}, 39},  // 3 frames left are read as a block of 10
        {5, {12}, 1},         // shorter than a block: frames left + 7
        {26, {26}, 1},
    };
    for (const Case& c : cases) {
        ScriptedDrive drive;
        const LoopRun run = RunLoop(drive, {100, 100 + c.frames}, false);
        EXPECT_EQ(run.outcome.end, BlockLoopOutcome::End::Done);
        ASSERT_EQ(drive.reads.size(), c.reads) << c.frames;
        for (std::size_t i = 0; i < c.expectedTail.size(); ++i)
            EXPECT_EQ(drive.reads[c.reads - c.expectedTail.size() + i].second, c.expectedTail[i]) << c.frames;
        EXPECT_EQ(run.output, DiscBytes(100, c.frames * kFrame)) << c.frames;
    }
}

TEST(BlockLoop, ShortTrackRangeIsTenFrames) {
    const ReadRange r = RangeOf({200, 205});
    EXPECT_EQ(r.first, 200);
    EXPECT_EQ(r.last, 210);
    ScriptedDrive drive;
    const LoopRun run = RunLoop(drive, r, false);
    ASSERT_EQ(drive.reads.size(), 1u);
    EXPECT_EQ(drive.reads[0].second, 10u);
    EXPECT_EQ(run.output.size(), 23520u);
    EXPECT_EQ(RangeOf({-3, 500}).first, 0);
}

TEST(BlockLoop, JitterCorrectionStitchesShiftedReadsExactly) {
    // Every read after the first lands off by up to a few hundred samples,
    // both ways; the output must still be the disc without a seam.
    ScriptedDrive drive;
    drive.shifts = {0, 37, -120, 300, -3000, 5, -1, 2500};
    const LoopRun run = RunLoop(drive, {1000, 1000 + 700}, true);
    EXPECT_EQ(run.jitterReports, 0);
    EXPECT_EQ(run.output, DiscBytes(1000, 700 * kFrame));
    // Blocks after the first advance by 19 frames.
    ASSERT_GE(drive.reads.size(), 3u);
    EXPECT_EQ(drive.reads[1].first - drive.reads[0].first, 19);
}

TEST(BlockLoop, PerfectDriveMatchesOneEighthFrameBeforeTheCentre) {
    std::vector<BYTE> block = DiscBytes(19, 26 * kFrame);
    const std::vector<BYTE> reference = DiscBytes(25, kFrame);
    bool jitter = true;
    EXPECT_EQ(JitterOffset(reference.data(), block.data(), block.size(), &jitter), 7 * kFrame);
    EXPECT_FALSE(jitter);

    // All zeros everywhere match at the centre, without a report.
    std::vector<BYTE> zeros(26 * kFrame), zeroRef(kFrame);
    EXPECT_EQ(JitterOffset(zeroRef.data(), zeros.data(), zeros.size(), &jitter), 15288u + kFrame);
    EXPECT_FALSE(jitter);

    // Nothing found: data starts at the centre, and jitter is reported.
    const std::vector<BYTE> elsewhere = DiscBytes(5000, kFrame);
    EXPECT_EQ(JitterOffset(elsewhere.data(), block.data(), block.size(), &jitter), 15288u);
    EXPECT_TRUE(jitter);

    // A one-frame block cannot be searched.
    EXPECT_EQ(JitterOffset(elsewhere.data(), block.data(), kFrame, &jitter), 0u);
    EXPECT_FALSE(jitter);
}

TEST(BlockLoop, JitterBeyondTheRadiusIsReported) {
    ScriptedDrive drive;
    drive.shifts = {0, 4000};
    const LoopRun run = RunLoop(drive, {1000, 1000 + 200}, true);
    EXPECT_GT(run.jitterReports, 0);
    EXPECT_NE(run.output, DiscBytes(1000, 200 * kFrame));
}

TEST(BlockLoop, ProgressOfOneBlockIsZeroThenNothingRepeats) {
    ScriptedDrive drive;
    EXPECT_EQ(RunLoop(drive, {0, 26}, false).progress, std::vector<int>{0});
    const LoopRun longer = RunLoop(drive, {0, 1000}, false);
    for (std::size_t i = 1; i < longer.progress.size(); ++i) EXPECT_LT(longer.progress[i - 1], longer.progress[i]);
    EXPECT_EQ(longer.progress.front(), 0);
    EXPECT_EQ(longer.progress.back(), 98);  // 12 of 1000 frames left before the last block
}

TEST(BlockLoop, CancelDiscardsTheBlockAfterIt) {
    ScriptedDrive drive;
    const LoopRun run = RunLoop(drive, {0, 1000}, false, 2);
    EXPECT_EQ(run.outcome.end, BlockLoopOutcome::End::Cancelled);
    EXPECT_EQ(run.output, DiscBytes(0, 52 * kFrame));
    EXPECT_EQ(drive.reads.size(), 3u);
}

TEST(BlockLoop, FailedReadsAreRetriedAndReportedWhenTheyStayFailed) {
    ScriptedDrive transient;
    transient.failuresLeft[130] = 2;  // fails twice, then reads
    const LoopRun recovered = RunLoop(transient, {100, 200}, false);
    EXPECT_TRUE(recovered.outcome.unreadable.empty());
    EXPECT_EQ(recovered.output, DiscBytes(100, 100 * kFrame));

    ScriptedDrive broken;
    broken.failuresLeft[130] = -1;
    broken.failuresLeft[199] = -1;
    const LoopRun lost = RunLoop(broken, {100, 200}, false);
    // Blocks [126, 152) and the last one [178, 200) stay unreadable; both
    // are named, and they are silence in the output, which keeps its length.
    ASSERT_EQ(lost.outcome.unreadable.size(), 2u);
    EXPECT_EQ(lost.outcome.unreadable[0], (FrameSpan{126, 151}));
    EXPECT_EQ(lost.outcome.unreadable[1], (FrameSpan{178, 199}));
    ASSERT_EQ(lost.output.size(), 100 * kFrame);
    EXPECT_TRUE(std::all_of(lost.output.begin() + 26 * kFrame, lost.output.begin() + 52 * kFrame,
                            [](BYTE b) { return b == 0; }));
    EXPECT_EQ(std::vector<BYTE>(lost.output.begin(), lost.output.begin() + 26 * kFrame), DiscBytes(100, 26 * kFrame));
}

}  // namespace
}  // namespace kiv::cdrip
