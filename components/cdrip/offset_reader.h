// Reading with a read offset correction: drives deliver the disc's audio a
// fixed number of samples early or late, so a rip only matches other
// drives' rips (and the AccurateRip database) once that is made up for.
// Sample p of what this returns is the drive's sample p + offset. Frames
// outside the disc's audio (the lead-in before the first track, the
// lead-out and gaps before data tracks) are never asked of the drive, which
// often cannot read them: they are zeros, as in other rippers' rips.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "components/cdrip/block_loop.h"

namespace kiv::cdrip {

// Largest correction taken, in samples either way (about 1.3 seconds).
constexpr std::int32_t kMaxReadOffset = 100 * kFrameBytes / 4;

// Audio frames of a disc: the spans of its audio tracks.
std::vector<FrameSpan> AudioSpans(const TrackTable& table);

using FrameReader = std::function<bool(std::int32_t lba, std::uint32_t frames, BYTE* buffer)>;

// `frames` frames from `lba` as corrected by `offset` samples; false when
// the drive failed a read.
bool ReadWithOffset(const FrameReader& read, const std::vector<FrameSpan>& audio, std::int32_t offset,
                    std::int32_t lba, std::uint32_t frames, BYTE* buffer);

}  // namespace kiv::cdrip
