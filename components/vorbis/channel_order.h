// Vorbis and WAV put the channels of a multi-channel stream in different
// orders (Vorbis: front left, centre, front right, ..., LFE last; WAV:
// front left, front right, centre, LFE, ...). PCM crosses our interfaces
// in WAV order, so the codec reorders at its edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kiv::vorbis {

inline constexpr int kMaxChannels = 8;

// For WAV channel i, the Vorbis channel that carries it; nullptr when the
// two orders agree (1, 2 and 4 channels, or a count with no defined order).
const std::uint8_t* VorbisChannelOfWav(int channels);

// Rewrites interleaved 16-bit frames from Vorbis order to WAV order in
// place; bytes beyond whole frames are left alone.
void VorbisToWavOrder(std::span<std::uint8_t> pcm16, int channels);

}  // namespace kiv::vorbis
