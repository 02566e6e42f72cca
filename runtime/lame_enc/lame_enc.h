// Public interface of lame_enc.so, the MP3 encoder library that the MP3
// component binds by name at run time.
//
// The library speaks the BladeEnc-compatible interface of the classic LAME
// encoder DLL: a packed 331-byte configuration record, six C entry points,
// and BE_ERR result codes. Callers load it with dlopen and resolve every
// entry point by the names below; nothing here needs to be linked.
//
// Record fields the library honours (LAME form, dwConfig = BE_CONFIG_LAME):
//   dwSampleRate     input rate; the encoder resamples when it must
//   dwReSampleRate   output rate, 0 = encoder decides
//   nMode            BE_MP3_MODE_*; MONO also means one input channel, every
//                    other mode two interleaved channels
//   nPreset          LQP_*: HIGH_QUALITY / LOW_QUALITY / VERYHIGH_QUALITY
//                    pick the algorithm quality; MEDIUM, STANDARD, EXTREME,
//                    INSANE (and their FAST forms) the tuned VBR presets;
//                    ABR the tuned average-bitrate preset at dwVbrAbr_bps;
//                    CBR the tuned constant-bitrate preset at dwBitrate
//   dwBitrate        kbps: constant bitrate, or minimum bitrate with VBR
//   dwMaxBitrate     kbps: maximum bitrate with VBR, 0 = free
//   dwVbrAbr_bps     bits per second: non-zero selects average bitrate
//   bEnableVBR, nVBRQuality (0 best .. 9), nVbrMethod   plain VBR
//   bPrivate, bCRC, bCopyright, bOriginal, bNoRes, bStrictIso   stream flags
//   bWriteVBRHeader  reserve the first frame for the Xing/Info + LAME tag
//   nQuality         algorithm quality 0..9 in the low byte, honoured only
//                    when the high byte is its complement
// The short BE_CONFIG_MP3 form (rate, mode, bitrate, flags) is accepted too.
//
// The VBR header: with bWriteVBRHeader set, the stream's first frame is a
// placeholder. Once the caller has written every byte the stream produced
// (beEncodeChunk and beDeinitStream output, in order) to a file and called
// beCloseStream, beWriteVBRHeader(file) overwrites that placeholder with the
// final Xing/Info frame and LAME tag (frame count, byte count, seek table,
// encoder delay and padding). The library recognises the file by its audio
// bytes, so several streams may finish in any order, and the file may carry
// an ID3v2 tag in front and an ID3v1 tag behind the audio by then.
#pragma once

#include <cstddef>

#include "platform/com/types.h"

namespace kiv::lame_enc {

// File the component loads; the entry points below are looked up in it.
inline constexpr const char* kLibraryFileName = "lame_enc.so";
inline constexpr const char* kInitStreamName = "beInitStream";
inline constexpr const char* kEncodeChunkName = "beEncodeChunk";
inline constexpr const char* kDeinitStreamName = "beDeinitStream";
inline constexpr const char* kCloseStreamName = "beCloseStream";
inline constexpr const char* kVersionName = "beVersion";
inline constexpr const char* kWriteVBRHeaderName = "beWriteVBRHeader";

using BE_ERR = unsigned long;
using HBE_STREAM = unsigned long;
using PHBE_STREAM = HBE_STREAM*;

inline constexpr BE_ERR BE_ERR_SUCCESSFUL = 0x00000000;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT = 0x00000001;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 0x00000002;
inline constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 0x00000003;
inline constexpr BE_ERR BE_ERR_INVALID_HANDLE = 0x00000004;
inline constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 0x00000005;

inline constexpr DWORD BE_CONFIG_MP3 = 0;
inline constexpr DWORD BE_CONFIG_LAME = 256;

inline constexpr LONG BE_MP3_MODE_STEREO = 0;
inline constexpr LONG BE_MP3_MODE_JSTEREO = 1;
inline constexpr LONG BE_MP3_MODE_DUALCHANNEL = 2;
inline constexpr LONG BE_MP3_MODE_MONO = 3;

inline constexpr DWORD MPEG1 = 1;
inline constexpr DWORD MPEG2 = 0;

inline constexpr DWORD CURRENT_STRUCT_VERSION = 1;
inline constexpr std::size_t BE_MAX_HOMEPAGE = 128;

enum VBRMETHOD : std::int32_t {
    VBR_METHOD_NONE = -1,
    VBR_METHOD_DEFAULT = 0,
    VBR_METHOD_OLD = 1,
    VBR_METHOD_NEW = 2,
    VBR_METHOD_MTRH = 3,
    VBR_METHOD_ABR = 4,
};

enum LAME_QUALITY_PRESET : std::int32_t {
    LQP_NOPRESET = -1,
    LQP_NORMAL_QUALITY = 0,
    LQP_LOW_QUALITY = 1,
    LQP_HIGH_QUALITY = 2,
    LQP_VOICE_QUALITY = 3,
    LQP_R3MIX = 4,
    LQP_VERYHIGH_QUALITY = 5,
    LQP_STANDARD = 6,
    LQP_FAST_STANDARD = 7,
    LQP_EXTREME = 8,
    LQP_FAST_EXTREME = 9,
    LQP_INSANE = 10,
    LQP_ABR = 11,
    LQP_CBR = 12,
    LQP_MEDIUM = 13,
    LQP_FAST_MEDIUM = 14,
};

#pragma pack(push, 1)

struct BE_CONFIG_MP3_FORM {
    DWORD dwSampleRate;
    BYTE byMode;
    WORD wBitrate;
    BOOL bPrivate;
    BOOL bCRC;
    BOOL bCopyright;
    BOOL bOriginal;
};

struct BE_CONFIG_LHV1 {
    DWORD dwStructVersion;
    DWORD dwStructSize;

    DWORD dwSampleRate;
    DWORD dwReSampleRate;
    LONG nMode;
    DWORD dwBitrate;
    DWORD dwMaxBitrate;
    LONG nPreset;
    DWORD dwMpegVersion;
    DWORD dwPsyModel;
    DWORD dwEmphasis;

    BOOL bPrivate;
    BOOL bCRC;
    BOOL bCopyright;
    BOOL bOriginal;

    BOOL bWriteVBRHeader;
    BOOL bEnableVBR;
    std::int32_t nVBRQuality;
    DWORD dwVbrAbr_bps;
    std::int32_t nVbrMethod;  // VBRMETHOD
    BOOL bNoRes;

    BOOL bStrictIso;
    WORD nQuality;

    BYTE btReserved[255 - 4 * sizeof(DWORD) - sizeof(WORD)];
};

struct BE_CONFIG {
    DWORD dwConfig;
    union {
        BE_CONFIG_MP3_FORM mp3;
        BE_CONFIG_LHV1 LHV1;
    } format;
};

struct BE_VERSION {
    BYTE byDLLMajorVersion;
    BYTE byDLLMinorVersion;
    BYTE byMajorVersion;  // encoder engine
    BYTE byMinorVersion;
    BYTE byDay;  // release date of the library
    BYTE byMonth;
    WORD wYear;
    char zHomepage[BE_MAX_HOMEPAGE + 1];
    BYTE byAlphaLevel;
    BYTE byBetaLevel;
    BYTE byMMXEnabled;
    BYTE btReserved[125];
};

#pragma pack(pop)

// The record is exchanged byte for byte with callers built elsewhere.
static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG must stay 331 packed bytes");
inline constexpr DWORD CURRENT_STRUCT_SIZE = sizeof(BE_CONFIG);
static_assert(offsetof(BE_CONFIG, format) == 4);
static_assert(offsetof(BE_CONFIG_LHV1, dwSampleRate) == 8);
static_assert(offsetof(BE_CONFIG_LHV1, nPreset) == 28);
static_assert(offsetof(BE_CONFIG_LHV1, bWriteVBRHeader) == 60);
static_assert(offsetof(BE_CONFIG_LHV1, dwVbrAbr_bps) == 72);
static_assert(offsetof(BE_CONFIG_LHV1, nQuality) == 88);

using PBE_CONFIG = BE_CONFIG*;
using PBE_VERSION = BE_VERSION*;

// Entry points, as resolved with dlsym. Samples are signed 16-bit,
// interleaved for two channels; counts are 16-bit samples of all channels.
using PFN_beInitStream = BE_ERR (*)(PBE_CONFIG config, DWORD* samplesPerChunk, DWORD* outputBufferSize,
                                    PHBE_STREAM stream);
using PFN_beEncodeChunk = BE_ERR (*)(HBE_STREAM stream, DWORD sampleCount, const std::int16_t* samples,
                                     BYTE* output, DWORD* outputBytes);
using PFN_beDeinitStream = BE_ERR (*)(HBE_STREAM stream, BYTE* output, DWORD* outputBytes);
using PFN_beCloseStream = BE_ERR (*)(HBE_STREAM stream);
using PFN_beVersion = void (*)(PBE_VERSION version);
using PFN_beWriteVBRHeader = BE_ERR (*)(const char* fileName);

}  // namespace kiv::lame_enc
