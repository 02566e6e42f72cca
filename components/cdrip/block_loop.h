// The read loop of one extraction job: READ CD in blocks of up to 26
// frames, with jitter correction re-reading 7 frames of overlap and
// finding the exact continuation point of the previous block in the new
// one; the PCM goes, in order, to the job's sink.
//
// A block the drive fails to read is asked for again a few times. When it
// still fails, zeros stand in for it (so the output keeps its length and
// the following audio its place), and its frames are listed in the
// outcome: the job reports them, nothing is lost silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "components/cdrip/track_table.h"
#include "platform/com/types.h"

namespace kiv::cdrip {

constexpr std::int32_t kLargestBlock = 26;
constexpr std::int32_t kOverlapFrames = 7;
constexpr std::size_t kSearchSpan = 32928;
constexpr std::int32_t kShortTrackFrames = 10;
constexpr int kReadRetries = 3;

// Frames [first, last) of a job: a track shorter than ten frames is read
// as ten.
struct ReadRange {
    std::int32_t first = 0;
    std::int32_t last = 0;
};
ReadRange RangeOf(const TrackBounds& bounds);

// Where the new data of block `block` (length bytes) starts, given the
// last frame of the previous block; `jitter` is set when that frame was not
// found within the search radius.
std::size_t JitterOffset(const BYTE* reference, const BYTE* block, std::size_t length, bool* jitter);

struct FrameSpan {
    std::int32_t first = 0;
    std::int32_t last = 0;  // inclusive
    bool operator==(const FrameSpan&) const = default;
};

struct BlockLoopHooks {
    // Reads `frames` whole frames at `lba` into `buffer`; false on failure.
    std::function<bool(std::int32_t lba, std::uint32_t frames, BYTE* buffer)> read;
    // Takes the block's new bytes; false ends the job.
    std::function<bool(const BYTE* data, std::size_t size)> sink;
    std::function<bool()> jitterCorrection;
    std::function<bool()> cancelled;
    std::function<void(int percent)> progress;
    std::function<void()> jitterDetected;
};

// Where a job's audio left off. With jitter correction a drive's first
// landing in a job is off by up to its jitter, so a job that starts where
// the previous one ended re-reads the overlap before its start and looks
// for the previous job's last frame there: consecutive tracks then join
// without a lost or repeated sample, as one unbroken run of the disc.
struct Continuation {
    std::int32_t next = -1;  // frame the following audio starts at
    std::vector<BYTE> tail;  // the last frame's worth of bytes handed to the sink
    bool Continues(const ReadRange& range) const {
        return next >= 0 && next == range.first && tail.size() == kFrameBytes;
    }
};

struct BlockLoopOutcome {
    enum class End { Done, Cancelled, SinkFailed } end = End::Done;
    // Frames of the range that could not be read, merged into spans.
    std::vector<FrameSpan> unreadable;
    // Set when the job ran to its end: where the next track continues.
    Continuation continuation;
};

// `from`, when it continues at range.first and jitter correction is on,
// aligns the job's first block on the previous job's last frame.
BlockLoopOutcome RunBlockLoop(const ReadRange& range, const BlockLoopHooks& hooks,
                              const Continuation* from = nullptr);

}  // namespace kiv::cdrip
