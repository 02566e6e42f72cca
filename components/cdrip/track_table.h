// The parsed table of contents of a drive: descriptors in disc order, the
// lead-out last, and the frame range each track covers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/com/types.h"

namespace kiv::cdrip {

constexpr std::size_t kTocBufferSize = 2048;
constexpr std::size_t kMaxTocEntries = 100;
constexpr std::int32_t kFrameBytes = 2352;
constexpr std::int32_t kFramesPerSecond = 75;
// An audio session's lead-out lies this many frames before the first track
// of the next session (lead-out 6750, lead-in 4500, pregap 150).
constexpr std::int32_t kSessionGap = 11400;

// Frames [start, end) of a track.
struct TrackBounds {
    std::int32_t start = -1;
    std::int32_t end = -1;
};

struct TrackTable {
    int count = 0;  // descriptors stored, lead-out included
    std::array<BYTE, kMaxTocEntries> control{};
    std::array<BYTE, kMaxTocEntries> number{};
    std::array<std::int32_t, kMaxTocEntries> start{};

    // From a READ TOC (format 0, LBA) answer; an all-zero buffer is a disc
    // without tracks.
    static TrackTable FromToc(const BYTE* toc);

    // Tracks the table describes (positions 0 ... count - 2).
    int TrackCount() const { return count > 0 ? count - 1 : 0; }
    bool HasTrack(int index) const { return index >= 0 && index < count - 1; }

    // A track runs from its start up to the next track's start, the
    // lead-out, or, before a data track of a later session, that session's
    // lead-out. Nothing for an index the table does not hold.
    std::optional<TrackBounds> BoundsOf(int index) const;
    bool IsAudio(int index) const;
    bool HasAudio() const;
};

}  // namespace kiv::cdrip
