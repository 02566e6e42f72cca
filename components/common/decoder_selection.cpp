#include "components/common/decoder_selection.h"

#include "components/common/component.h"
#include "components/common/wav_source_reader.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/system/text.h"

namespace kiv {

bool SelectDecoderClass(std::u16string_view name, CLSID& clsid) {
    if (name.size() <= 4) return false;
    std::u16string_view ext = name.substr(name.size() - 4);
    struct Row {
        const char16_t* ext;
        const ClassIdentity* cls;
    };
    static const Row byName[] = {
        {u".wma", &kClassWmaDecoder},
        {u".mp3", &kClassMp3Decoder},
        {u".ogg", &kClassVorbisDecoder},
    };
    for (const Row& r : byName) {
        if (EqualsNoCase(ext, r.ext)) {
            clsid = r.cls->clsid;
            return true;
        }
    }
    // ".wave" is a WAV file too: the application lists such files as
    // sources and converts them, so they are looked into like ".wav".
    const bool wave = name.size() > 5 && EqualsNoCase(name.substr(name.size() - 5), u".wave");
    if (!EqualsNoCase(ext, u".wav") && !wave) return false;
    WORD tag = 0;
    if (!ReadWaveFormatTag(ToUtf8(name), tag)) return false;
    // Float samples are PCM for every purpose here: the WAV decoder delivers
    // them as they are and the converter reduces them where needed.
    if (tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT) clsid = kClassWaveDecoder.clsid;
    else if (tag == WAVE_FORMAT_MPEGLAYER3) clsid = kClassMp3Decoder.clsid;
    else return false;
    return true;
}

HRESULT CreateDecoderFor(const CLSID& owner, BSTR fileName, ComPtr<IKivAudioDecoder>& decoder) {
    decoder.reset();
    CLSID clsid;
    if (!SelectDecoderClass(BstrView(fileName), clsid)) return ReportComponentError(owner, kNoDecoderText);
    ComPtr<IKivAudioDecoder> created;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IKivAudioDecoder, created.put_void());
    if (FAILED(hr)) return hr;
    hr = created->Open(fileName);
    if (FAILED(hr)) {
        // Letting the decoder go runs its own clean-up, which may leave error
        // info of its own or clear the thread's; the caller is owed the text
        // of the failed Open.
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.put());
        created.reset();
        SetErrorInfo(0, info.get());
        return hr;
    }
    decoder = std::move(created);
    return S_OK;
}

}  // namespace kiv
