#include "components/cdrip/offset_reader.h"

#include <cstring>

namespace kiv::cdrip {

std::vector<FrameSpan> AudioSpans(const TrackTable& table) {
    std::vector<FrameSpan> spans;
    for (int i = 0; i < table.TrackCount(); ++i) {
        if (!table.IsAudio(i)) continue;
        const auto b = table.BoundsOf(i);
        if (!b || b->start < 0 || b->end <= b->start) continue;
        if (!spans.empty() && b->start <= spans.back().last + 1) {
            spans.back().last = std::max(spans.back().last, b->end - 1);
        } else {
            spans.push_back({b->start, b->end - 1});
        }
    }
    return spans;
}

bool ReadWithOffset(const FrameReader& read, const std::vector<FrameSpan>& audio, std::int32_t offset,
                    std::int32_t lba, std::uint32_t frames, BYTE* buffer) {
    constexpr std::int64_t kFrame = kFrameBytes;
    const std::int64_t startByte = std::int64_t{lba} * kFrame + std::int64_t{offset} * 4;
    std::int64_t first = startByte / kFrame;
    if (startByte % kFrame < 0) --first;
    const std::size_t within = static_cast<std::size_t>(startByte - first * kFrame);
    const std::int64_t span = std::int64_t{frames} + (within ? 1 : 0);

    std::vector<BYTE> scratch;
    BYTE* target = buffer;
    if (within) {
        scratch.assign(static_cast<std::size_t>(span * kFrame), 0);
        target = scratch.data();
    }
    std::memset(target, 0, static_cast<std::size_t>(span * kFrame));
    bool ok = true;
    // One read for each stretch of audio the frames cover.
    for (const FrameSpan& a : audio) {
        const std::int64_t from = std::max<std::int64_t>(first, a.first);
        const std::int64_t to = std::min<std::int64_t>(first + span - 1, a.last);
        if (from > to) continue;
        BYTE* at = target + (from - first) * kFrame;
        if (!read(static_cast<std::int32_t>(from), static_cast<std::uint32_t>(to - from + 1), at)) {
            std::memset(at, 0, static_cast<std::size_t>((to - from + 1) * kFrame));
            ok = false;
        }
    }
    if (within) std::memcpy(buffer, scratch.data() + within, static_cast<std::size_t>(frames) * kFrame);
    return ok;
}

}  // namespace kiv::cdrip
