// Every identity of the component modules, in one place: modules and their
// type libraries, creatable classes, interface ids and helper-window
// messages. Registration, decoder selection, the application and the tests
// all read these tables; an id is never reused.
#pragma once

#include <span>
#include <string_view>

#include "platform/com/types.h"
#include "platform/msg/message_queue.h"

namespace kiv {

struct ModuleIdentity {
    const char* baseName;         // file name without ".so": kivwave, kivmp3, ...
    const char* typeLibName;      // KIVWAVELib, ...
    GUID libId;
    const char* libDescription;   // "Wave Encoder & Decoder Controls 1.0", ...
    const char* fileDescription;  // "Wave Encoder & Decoder Controls", ...
};

struct ClassIdentity {
    const char* name;  // KivWaveEncoder, ...
    CLSID clsid;
    const char* progId;           // versioned: ZEMOR.WaveEncoder.1
    const char* viProgId;         // ZEMOR.WaveEncoder
    const char* description;      // registry description
    int toolboxBitmap;
    bool insertableProgId;        // the empty "Insertable" under the versioned ProgID key
    const ModuleIdentity* module;
    const char16_t* helperTitle;  // title of the hidden helper window
};

// Modules.
extern const ModuleIdentity kModuleWave;
extern const ModuleIdentity kModuleMp3;
extern const ModuleIdentity kModuleVorbis;
extern const ModuleIdentity kModuleWma;
extern const ModuleIdentity kModuleFlac;
extern const ModuleIdentity kModuleOpus;
extern const ModuleIdentity kModuleConverter;
extern const ModuleIdentity kModulePlayer;
extern const ModuleIdentity kModuleCdRip;
std::span<const ModuleIdentity* const> AllModules();

// Creatable classes.
extern const ClassIdentity kClassWaveEncoder;
extern const ClassIdentity kClassWaveDecoder;
extern const ClassIdentity kClassMp3Encoder;
extern const ClassIdentity kClassMp3Decoder;
extern const ClassIdentity kClassVorbisEncoder;
extern const ClassIdentity kClassVorbisDecoder;
extern const ClassIdentity kClassWmaEncoder;
extern const ClassIdentity kClassWmaDecoder;
extern const ClassIdentity kClassFlacEncoder;
extern const ClassIdentity kClassFlacDecoder;
extern const ClassIdentity kClassOpusEncoder;
extern const ClassIdentity kClassOpusDecoder;
extern const ClassIdentity kClassAudioConverter;
extern const ClassIdentity kClassAudioPlayer;
extern const ClassIdentity kClassCdRipper;
std::span<const ClassIdentity* const> AllClasses();
const ClassIdentity* FindClass(const CLSID& clsid);

// Interfaces shared across type libraries.
inline constexpr IID IID_IKivAudioEncoder = MakeGuid("{9A45E4AB-68A2-4C85-B317-394351CC3330}");
inline constexpr IID IID_IKivAudioDecoder = MakeGuid("{F2E3A291-FEB6-4D01-BF4B-E69EC9DCAB96}");
inline constexpr IID IID_IAudioTag = MakeGuid("{FEE7660B-D849-4106-A401-63CFB8735FBB}");
inline constexpr IID DIID_IKivAudioEncoderEvents = MakeGuid("{F9ADEB91-8A20-4CB8-9D2D-3B7E96A09E8A}");
inline constexpr IID DIID_IKivAudioDecoderEvents = MakeGuid("{AD6A6218-BEF3-481E-8E4A-95B312CCF418}");
inline constexpr IID IID_IKivAudioConverter = MakeGuid("{1E63BADF-F954-4A15-916A-0DADF37FFBDF}");
inline constexpr IID DIID_IKivAudioConverterEvents = MakeGuid("{3F23B375-9850-4A75-8673-E1E191474F14}");
inline constexpr IID IID_IKivAudioPlayer = MakeGuid("{EC949F6B-7F99-436D-B432-D9DDEEAC0C2C}");
inline constexpr IID DIID_IKivAudioPlayerEvents = MakeGuid("{89A6257A-36B7-469A-9B26-CD8CC7DDE277}");
// Optional interface of the decoders: damage passed over while reading.
inline constexpr IID IID_IKivDecodeReport = MakeGuid("{5C0B7E52-3D8A-4F61-9E27-B4A1D06C8F93}");
// Optional interface of the tag objects of formats that carry pictures.
inline constexpr IID IID_IKivTagPictures = MakeGuid("{7B4D2E91-A6C3-4F08-B51E-3C9D84A2F6E7}");
// Optional interface of the tag objects of formats that carry named fields.
inline constexpr IID IID_IKivTagFields = MakeGuid("{C3E85A14-92D7-4B6F-8A01-6F4D2B97E5C8}");
// Optional interface of the encoders that write ReplayGain values.
inline constexpr IID IID_IKivReplayGain = MakeGuid("{4E9B1C27-58D3-4A6E-9F12-A7C0E3B5D861}");
// The tag coclass only names IAudioTag; it has no class object.
inline constexpr CLSID CLSID_AudioTag = MakeGuid("{2F62CF6C-CC77-41DB-AE9A-679F9986D736}");

// Event dispids.
enum : DISPID {
    DISPID_OnError = 1,
    DISPID_OnWaveEncodeStart = 2,
    DISPID_OnWaveEncodeProgress = 3,
    DISPID_OnWaveEncodeFinish = 4,
    DISPID_OnConvStart = 2,
    DISPID_OnConvProgress = 3,
    DISPID_OnConvFinish = 4,
    // OnNotice(Message): something the client should log about this
    // conversion that is not an error (the samples were reduced to what the
    // destination format holds). Fired at most once per conversion, before
    // the first OnProgress.
    DISPID_OnConvNotice = 5,
};

// Helper-window messages of the codecs and the converter.
enum : UINT {
    WMH_ERROR = WM_USER + 50,
    WMH_ENCODE_START = WM_USER + 51,
    WMH_ENCODE_PROGRESS = WM_USER + 52,
    WMH_ENCODE_FINISH = WM_USER + 53,
    WMH_CONV_ERROR = WM_USER + 90,
    WMH_CONV_START = WM_USER + 91,
    WMH_CONV_PROGRESS = WM_USER + 92,
    WMH_CONV_FINISH = WM_USER + 93,
    WMH_CONV_NOTICE = WM_USER + 94,
};

}  // namespace kiv
