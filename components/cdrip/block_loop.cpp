#include "components/cdrip/block_loop.h"

#include <algorithm>
#include <cstring>

namespace kiv::cdrip {
namespace {

constexpr std::size_t kFrame = kFrameBytes;

std::int32_t BlockSize(std::int32_t framesLeft) {
    std::int32_t n;
    if (framesLeft >= kLargestBlock) n = kLargestBlock;
    else if (framesLeft >= 8) n = framesLeft;
    else n = std::min(framesLeft + kOverlapFrames, kLargestBlock);
    // Only reached when the jitter switch flips in the middle of a job and
    // the frame count falls behind the byte count.
    return std::max(n, 1);
}

void AddUnreadable(std::vector<FrameSpan>& spans, std::int32_t first, std::int32_t last) {
    if (first > last) return;
    if (!spans.empty() && first <= spans.back().last + 1) {
        spans.back().last = std::max(spans.back().last, last);
        return;
    }
    spans.push_back({first, last});
}

}  // namespace

ReadRange RangeOf(const TrackBounds& bounds) {
    ReadRange r;
    r.first = bounds.start < 1 ? 0 : bounds.start;
    r.last = std::max(bounds.end, bounds.start + kShortTrackFrames);
    return r;
}

std::size_t JitterOffset(const BYTE* reference, const BYTE* block, std::size_t length, bool* jitter) {
    *jitter = false;
    const std::size_t span = std::min(length, kSearchSpan);
    if (span <= kFrame) return 0;
    const std::size_t radius = (span - kFrame) / 2;
    const BYTE* centre = block + radius;
    std::size_t offset = radius;
    bool found = false;
    for (std::size_t i = 0; i < radius; i += 4) {
        if (std::memcmp(centre - i, reference, kFrame) == 0) {
            offset = radius - i + kFrame;
            found = true;
            break;
        }
        if (std::memcmp(centre + i, reference, kFrame) == 0) {
            offset = radius + i + kFrame;
            found = true;
            break;
        }
    }
    if (!found && length > kFrame) *jitter = true;
    return std::min(offset, length - 1);
}

BlockLoopOutcome RunBlockLoop(const ReadRange& range, const BlockLoopHooks& hooks, const Continuation* from) {
    BlockLoopOutcome outcome;
    std::vector<BYTE> readBuffer(kLargestBlock * kFrame);
    std::vector<BYTE> reference(kFrame);
    std::int32_t current = range.first;
    std::uint64_t bytesLeft = static_cast<std::uint64_t>(std::max(0, range.last - range.first)) * kFrame;
    bool firstBlock = true;
    if (from && from->Continues(range) && hooks.jitterCorrection()) {
        // As if the previous job's last block had just been read: the next
        // one starts an overlap early and is aligned on that frame.
        current = range.first - kOverlapFrames;
        reference = from->tail;
        firstBlock = false;
    }
    std::int32_t framesLeft = range.last - current;
    // The last kFrame bytes handed to the sink, oldest first.
    std::vector<BYTE> tail;
    tail.reserve(2 * kFrame);
    bool cancelSeen = false;
    int lastPosted = -1;

    while (bytesLeft > 0) {
        int percent = 0;
        if (range.last != range.first)
            percent = static_cast<int>(100.0 - framesLeft * 100.0 / (range.last - range.first));
        const std::int32_t n = BlockSize(framesLeft);
        const bool jitterOn = hooks.jitterCorrection();
        const std::int32_t overlap = jitterOn ? kOverlapFrames : 0;
        const std::size_t length = static_cast<std::size_t>(n) * kFrame;

        bool read = false;
        for (int attempt = 0; attempt <= kReadRetries && !read; ++attempt)
            read = hooks.read(current, static_cast<std::uint32_t>(n), readBuffer.data());
        if (!read) {
            std::memset(readBuffer.data(), 0, length);
            AddUnreadable(outcome.unreadable, std::max(current, range.first),
                          std::min(current + n, range.last) - 1);
        }

        bool jitter = false;
        std::size_t offset = 0;
        if (!firstBlock && jitterOn) offset = JitterOffset(reference.data(), readBuffer.data(), length, &jitter);
        firstBlock = false;
        const std::size_t keep = std::min<std::size_t>(length, kFrame);
        std::memcpy(reference.data(), readBuffer.data() + length - keep, keep);

        const std::size_t valid = static_cast<std::size_t>(std::min<std::uint64_t>(length - offset, bytesLeft));
        current += n - overlap;
        framesLeft += overlap - n;
        bytesLeft -= valid;

        if (cancelSeen) {
            outcome.end = BlockLoopOutcome::End::Cancelled;
            return outcome;
        }
        if (jitter) hooks.jitterDetected();
        if (!hooks.sink(readBuffer.data() + offset, valid)) {
            outcome.end = BlockLoopOutcome::End::SinkFailed;
            return outcome;
        }
        const std::size_t fresh = std::min(valid, kFrame);
        tail.insert(tail.end(), readBuffer.data() + offset + valid - fresh, readBuffer.data() + offset + valid);
        if (tail.size() > kFrame) tail.erase(tail.begin(), tail.end() - kFrame);
        cancelSeen = hooks.cancelled();
        if (percent != lastPosted) {
            hooks.progress(percent);
            lastPosted = percent;
        }
    }
    // A cancel seen after the last block still counts: the job did not run
    // to its natural end from the host's point of view.
    if (cancelSeen) {
        outcome.end = BlockLoopOutcome::End::Cancelled;
    } else if (tail.size() == kFrame) {
        outcome.continuation.next = range.last;
        outcome.continuation.tail = std::move(tail);
    }
    return outcome;
}

}  // namespace kiv::cdrip
