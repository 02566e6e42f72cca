// Vocabulary of the media runtime: media types, attribute types, result
// codes and the identities of the stream and format kinds.
//
// The values are those of the Windows Media runtime that the WMA codec was
// first written against, so results and identities read the same in logs,
// tests and the component code that compares them.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/com/types.h"

namespace kiv::media {

// Result codes of the runtime (facility 13).
constexpr HRESULT NS_E_INVALID_REQUEST = MakeHResult(0xC00D002B);
constexpr HRESULT NS_E_INVALID_DATA = MakeHResult(0xC00D002F);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MakeHResult(0xC00D0BB8);
constexpr HRESULT NS_E_INVALID_OUTPUT_FORMAT = MakeHResult(0xC00D0BBB);
constexpr HRESULT NS_E_AUDIO_CODEC_NOT_INSTALLED = MakeHResult(0xC00D0BC2);
constexpr HRESULT NS_E_NO_MORE_SAMPLES = MakeHResult(0xC00D0BCF);
constexpr HRESULT ASF_E_BUFFERTOOSMALL = MakeHResult(0xC00D07D1);
constexpr HRESULT ASF_E_NOTFOUND = MakeHResult(0xC00D07F0);

// Stream kinds, sub-types and the format-block kind.
inline constexpr GUID WMMEDIATYPE_Audio = MakeGuid("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr GUID WMMEDIATYPE_Video = MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");
inline constexpr GUID WMMEDIASUBTYPE_PCM = MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV8 = MakeGuid("{00000161-0000-0010-8000-00AA00389B71}");
inline constexpr GUID WMFORMAT_WaveFormatEx = MakeGuid("{05589F81-C356-11CE-BF01-00AA0055595A}");

// Format tag of the Windows Media Audio (version 2 to 9 "standard") codec.
constexpr WORD WAVE_FORMAT_WMAUDIO2 = 0x161;

// The profile version the writer understands.
constexpr DWORD WMT_VER_9_0 = 0x00090000;

// Types of header attributes and codec enumeration settings.
enum class AttrType : int {
    Dword = 0,
    String = 1,
    Binary = 2,
    Bool = 3,
    Qword = 4,
    Word = 5,
    Guid = 6,
};

// What a status callback is told. Only failures are reported: the writer
// does its work synchronously, so there is nothing else to wait for.
enum class Status : int {
    Error = 0,
};

// A media type: stream kind, sub-type, sample properties and the format
// block (a WAVEFORMATEX with its extra bytes for audio).
struct MediaType {
    GUID majorType = GUID_NULL;
    GUID subtype = GUID_NULL;
    bool fixedSizeSamples = false;
    bool temporalCompression = false;
    ULONG sampleSize = 0;
    GUID formatType = GUID_NULL;
    std::vector<BYTE> format;

    // The format block as a WAVEFORMATEX; false when the block is of another
    // kind or too short to hold one.
    bool GetWaveFormat(WAVEFORMATEX& out) const;

    // An audio media type whose format block is `wfx` followed by `extra`
    // (cbSize is set to the size of `extra`).
    static MediaType ForWaveFormat(const GUID& subtype, const WAVEFORMATEX& wfx,
                                   const BYTE* extra = nullptr, std::size_t extraSize = 0);

    friend bool operator==(const MediaType&, const MediaType&) = default;
};

}  // namespace kiv::media
