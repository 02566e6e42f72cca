// Constants, result codes and records of the sound-output layer.
//
// The player's streaming engine was designed against a well-known sound API,
// so the layer keeps that API's vocabulary: the same flag bits, the same
// result values (0x8878xxxx) and the same records. Code that logs or compares
// these numbers therefore means the same thing here as anywhere else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/types.h"

namespace kiv::sound {

constexpr HRESULT MakeSoundResult(std::uint32_t code) { return MakeHResult(0x88780000u | code); }

constexpr HRESULT DS_OK = S_OK;
constexpr HRESULT DSERR_ALLOCATED = MakeSoundResult(10);
constexpr HRESULT DSERR_CONTROLUNAVAIL = MakeSoundResult(30);
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = MakeSoundResult(50);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_PRIOLEVELNEEDED = MakeSoundResult(70);
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_BADFORMAT = MakeSoundResult(100);
constexpr HRESULT DSERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DSERR_NODRIVER = MakeSoundResult(120);
constexpr HRESULT DSERR_ALREADYINITIALIZED = MakeSoundResult(130);
constexpr HRESULT DSERR_NOAGGREGATION = CLASS_E_NOAGGREGATION;
constexpr HRESULT DSERR_BUFFERLOST = MakeSoundResult(150);
constexpr HRESULT DSERR_OTHERAPPHASPRIO = MakeSoundResult(160);
constexpr HRESULT DSERR_UNINITIALIZED = MakeSoundResult(170);

// Cooperative levels.
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

// Buffer capabilities (DSBUFFERDESC::dwFlags).
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr DWORD DSBCAPS_STATIC = 0x00000002;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x00000004;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr DWORD DSBCAPS_CTRL3D = 0x00000010;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr DWORD DSBCAPS_CTRLPAN = 0x00000040;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
constexpr DWORD DSBCAPS_CTRLFX = 0x00000200;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x00004000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x00020000;
constexpr DWORD DSBCAPS_LOCDEFER = 0x00040000;

// Play flags, lock flags and status bits.
constexpr DWORD DSBPLAY_LOOPING = 0x00000001;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;
constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;
constexpr DWORD DSBSTATUS_LOCSOFTWARE = 0x00000010;

// Volume in hundredths of a decibel; the minimum is treated as silence.
constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;

constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;

// The default output device, for callers that name it rather than pass null.
constexpr GUID DSDEVID_DefaultPlayback = MakeGuid("{DEF00000-9C6D-47ED-AAF1-4DDA8F2B5C03}");

// WAVE_FORMAT_IEEE_FLOAT, WAVE_FORMAT_EXTENSIBLE, WAVEFORMATEXTENSIBLE and its
// sub-format ids live beside WAVEFORMATEX in platform/com/types.h.

// The short form of the buffer description ends after lpwfxFormat; the long
// form adds the 3-D algorithm. dwSize says which one the caller filled in.
struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    const WAVEFORMATEX* lpwfxFormat;
    GUID guid3DAlgorithm;
};

// dwSize values accepted: this platform's sizes of the two forms, and the
// 20 and 36 bytes that the 32-bit layout of the same records has, since code
// written from a 32-bit description puts those numbers in literally.
constexpr DWORD DSBUFFERDESC1_SIZE = offsetof(DSBUFFERDESC, guid3DAlgorithm);
constexpr DWORD DSBUFFERDESC_SIZE = sizeof(DSBUFFERDESC);
constexpr DWORD DSBUFFERDESC1_SIZE_32 = 20;
constexpr DWORD DSBUFFERDESC_SIZE_32 = 36;

struct DSBCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwUnlockTransferRate;
    DWORD dwPlayCpuOverhead;
};

// The window the cooperative level is set for. The layer only checks that
// one is given; it is the host's helper-window handle.
using WindowHandle = const void*;

}  // namespace kiv::sound
