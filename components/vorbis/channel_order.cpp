#include "components/vorbis/channel_order.h"

#include <array>
#include <cstring>

namespace kiv::vorbis {

const std::uint8_t* VorbisChannelOfWav(int channels) {
    // Vorbis:  3 L C R; 5 FL C FR RL RR; 6 FL C FR RL RR LFE;
    //          7 FL C FR SL SR RC LFE; 8 FL C FR SL SR RL RR LFE.
    // WAV:     3 FL FR FC; 5 FL FR FC BL BR; 6 FL FR FC LFE BL BR;
    //          7 FL FR FC LFE BC SL SR; 8 FL FR FC LFE BL BR SL SR.
    static constexpr std::uint8_t k3[] = {0, 2, 1};
    static constexpr std::uint8_t k5[] = {0, 2, 1, 3, 4};
    static constexpr std::uint8_t k6[] = {0, 2, 1, 5, 3, 4};
    static constexpr std::uint8_t k7[] = {0, 2, 1, 6, 5, 3, 4};
    static constexpr std::uint8_t k8[] = {0, 2, 1, 7, 5, 6, 3, 4};
    switch (channels) {
        case 3: return k3;
        case 5: return k5;
        case 6: return k6;
        case 7: return k7;
        case 8: return k8;
        default: return nullptr;
    }
}

void VorbisToWavOrder(std::span<std::uint8_t> pcm16, int channels) {
    const std::uint8_t* map = VorbisChannelOfWav(channels);
    if (!map) return;
    const std::size_t frameBytes = std::size_t(channels) * 2;
    std::array<std::uint8_t, kMaxChannels * 2> frame;
    for (std::size_t at = 0; at + frameBytes <= pcm16.size(); at += frameBytes) {
        std::uint8_t* p = pcm16.data() + at;
        std::memcpy(frame.data(), p, frameBytes);
        for (int c = 0; c < channels; ++c) std::memcpy(p + 2 * c, frame.data() + 2 * map[c], 2);
    }
}

}  // namespace kiv::vorbis
