// The one-stream custom profiles the WMA encoder writes with: the codec
// format is picked from the runtime's enumeration by the input's channel
// count and rate and by the requested bitrate or quality.
#pragma once

#include <memory>
#include <optional>
#include <span>

#include "platform/media/profile.h"

namespace kiv::wma {

// The runtime's answer when no codec format fits the request.
constexpr HRESULT kNoMatchingFormat = MakeHResult(0xC00D0BC2);

// Selection rules, kept apart from the enumeration so the rules can be
// checked against any list of formats. Each returns the index of the chosen
// entry, or nothing.
//
// Constant bitrate: a 0x161 format of the channel count and rate whose
// bitrate (8 x nAvgBytesPerSec) lies within 249 bit/s of the request; of
// several, the one with the largest block, the later one on equal blocks.
std::optional<std::size_t> ChooseConstantBitrateFormat(std::span<const WAVEFORMATEX> formats, DWORD bitrate,
                                                       WORD channels, DWORD rate);
// The bitrate (8 x nAvgBytesPerSec) of the 0x161 format of the channel
// count and rate nearest to the request, the lower one on ties; nothing
// when the codec has no format for the input at all.
std::optional<DWORD> NearestConstantBitrate(std::span<const WAVEFORMATEX> formats, DWORD bitrate, WORD channels,
                                           DWORD rate);
// Variable bitrate: quality-level formats carry their level (0-255) in the
// low byte of nAvgBytesPerSec. The lowest level above 100 x quality - 1 is
// taken, the first one found on equal levels; when no level is that high
// (quality 1.0 with levels up to 98), the highest level there is.
std::optional<std::size_t> ChooseQualityFormat(std::span<const WAVEFORMATEX> formats, float quality, WORD channels,
                                               DWORD rate);

// Profiles named "Custom profile" with one audio stream numbered 1, named
// "Audio Stream" on the connection "Audio". Failures: the runtime's
// HRESULT, or kNoMatchingFormat. A constant bitrate that no format offers
// for the input is replaced by the nearest one that does; `used` receives
// the bitrate of the stream.
HRESULT BuildConstantBitrateProfile(DWORD bitrate, WORD channels, DWORD rate, std::unique_ptr<media::Profile>& out,
                                    DWORD* used = nullptr);
HRESULT BuildQualityProfile(float quality, WORD channels, DWORD rate, std::unique_ptr<media::Profile>& out);

}  // namespace kiv::wma
