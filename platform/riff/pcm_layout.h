// The sample layout behind a WAV format record, for the code that has to
// look at samples (the converter's reduction, the WAV encoder's header, the
// player, the sound output): integer PCM of 8, 16, 24 or 32 bits or 32-bit
// float, written as the plain record (tags 1 and 3) or as
// WAVE_FORMAT_EXTENSIBLE.
#pragma once

#include <optional>

#include "platform/com/types.h"

namespace kiv {

// The highest rate and channel count taken as real audio. They bound every
// buffer sized from a format (a second of 32 channels of 32-bit samples at
// the highest rate is under 135 MB); a header beyond them is treated as
// damaged. The rate is the highest a FLAC stream header holds (20 bits),
// so whatever a lossless file can carry is taken in any WAV record.
inline constexpr DWORD kMaxPcmRate = 1048575;
inline constexpr WORD kMaxPcmChannels = 32;

// Speaker bits of the channel mask, in the order channels are stored.
inline constexpr DWORD kSpeakerFrontLeft = 0x1;
inline constexpr DWORD kSpeakerFrontRight = 0x2;
inline constexpr DWORD kSpeakerFrontCenter = 0x4;
inline constexpr DWORD kSpeakerLowFrequency = 0x8;
inline constexpr DWORD kSpeakerBackLeft = 0x10;
inline constexpr DWORD kSpeakerBackRight = 0x20;
inline constexpr DWORD kSpeakerFrontLeftOfCenter = 0x40;
inline constexpr DWORD kSpeakerFrontRightOfCenter = 0x80;
inline constexpr DWORD kSpeakerBackCenter = 0x100;
inline constexpr DWORD kSpeakerSideLeft = 0x200;
inline constexpr DWORD kSpeakerSideRight = 0x400;

struct PcmLayout {
    WORD channels = 0;
    DWORD rate = 0;
    WORD bits = 0;  // container bits of one sample
    bool isFloat = false;
    DWORD channelMask = 0;  // the record's own; 0 when it names none

    WORD FrameBytes() const { return static_cast<WORD>(channels * (bits / 8)); }
    DWORD ByteRate() const { return rate * FrameBytes(); }
    // Wider than the plain record is meant for: more than two channels or
    // more than 16 bits are written as WAVE_FORMAT_EXTENSIBLE.
    bool NeedsExtensible() const { return channels > 2 || bits > 16; }
    // The channel mask to go by: the record's own, else the usual layout
    // for the channel count.
    DWORD EffectiveMask() const;
    friend bool operator==(const PcmLayout&, const PcmLayout&) = default;
};

// The usual speaker layout of `channels` channels (mono is front centre,
// 6 is 5.1, 8 is 7.1); 0 for counts without one.
DWORD StandardChannelMask(WORD channels);

// The layout of `format`, which must be followed in memory by its cbSize
// extra bytes (a decoder's Format and a WAV file's format chunk are). No
// value for compressed formats, unknown sub-formats, sample sizes other
// than those above, a block alignment that does not match, or a rate or
// channel count out of range.
std::optional<PcmLayout> ReadPcmLayout(const WAVEFORMATEX& format);

// The format record of a layout: the plain 18-byte record (tag 1 or 3) when
// that says it all, else WAVE_FORMAT_EXTENSIBLE with the effective mask.
// `record.Format` is always filled in; `size` is 18 or 40.
struct PcmFormatRecord {
    WAVEFORMATEXTENSIBLE record{};
    std::size_t size = sizeof(WAVEFORMATEX);
    WAVEFORMATEX* get() { return &record.Format; }
};
PcmFormatRecord MakePcmFormatRecord(const PcmLayout& layout);

}  // namespace kiv
