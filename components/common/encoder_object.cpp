#include "components/common/encoder_object.h"

#include <algorithm>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

#include "components/common/wav_source_reader.h"
#include "platform/riff/pcm_layout.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv {

HRESULT FileNameToPath(const CLSID& clsid, BSTR name, std::string& path) {
    std::u16string_view view = BstrView(name);
    if (view.find(u'\0') != std::u16string_view::npos) return ReportComponentError(clsid, texts::kNameInvalid);
    path = ToUtf8(view);
    if (path.size() >= PATH_MAX) return ReportComponentError(clsid, texts::kNameTooLong);
    return S_OK;
}

EncoderObject::EncoderObject(const ClassIdentity& identity, const EncoderTraits& traits)
    : CodecObject(identity, DIID_IKivAudioEncoderEvents), traits_(traits) {}

void EncoderObject::SetOutputName(std::u16string name, bool byHandle) {
    fileName_ = std::move(name);
    openedByHandle_ = byHandle;
}

void EncoderObject::ClearOutputName() {
    fileName_.clear();
    openedByHandle_ = false;
}

HRESULT EncoderObject::Open(BSTR szFilename) {
    if (IsOutputOpen()) {
        HRESULT hr = Close();
        if (FAILED(hr)) return hr;
    }
    std::u16string name(BstrView(szFilename));
    if (addExtension_) {
        const std::u16string_view ext = traits_.extension;
        bool has = name.size() >= ext.size() && EqualsNoCase(std::u16string_view(name).substr(name.size() - ext.size()), ext);
        if (!has) name += ext;
    }
    std::string path;
    Bstr checked(name);
    if (HRESULT hr = FileNameToPath(identity().clsid, checked.get(), path); FAILED(hr)) return hr;

    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && overwritePrompt_) {
        int answer = MessageBox(helper(), texts::kOverwriteQuestion, traits_.caption, MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES) return ReportError(texts::kCancelledByUser);
        ::unlink(path.c_str());
    }
    HRESULT hr = CreateOutput(path);
    if (FAILED(hr)) return hr;
    SetOutputName(std::move(name), false);
    return S_OK;
}

HRESULT EncoderObject::CheckFormat(LONG channels, LONG rate, LONG bits) {
    if (channels < 1 || channels > traits_.maxChannels) {
        if (traits_.maxChannels == 2) return ReportError(texts::kBadChannels);
        // Formats that take more than stereo name their own limit.
        const std::string text = "Input must have 1 to " + std::to_string(traits_.maxChannels) + " channels.";
        return ReportError(std::u16string(text.begin(), text.end()));
    }
    // Formats that take more than the classic depths and rates name their
    // own; the classic ones keep their texts.
    if (std::ranges::find(traits_.depths, bits) == traits_.depths.end()) {
        if (std::ranges::equal(traits_.depths, kCommonDepths)) return ReportError(texts::kBadBits);
        std::string text = "Input must have ";
        for (std::size_t i = 0; i < traits_.depths.size(); ++i) {
            if (i > 0) text += i + 1 == traits_.depths.size() ? " or " : ", ";
            text += std::to_string(traits_.depths[i]);
        }
        text += " bits per sample.";
        return ReportError(std::u16string(text.begin(), text.end()));
    }
    if (traits_.maxRate == 0) {
        if (std::ranges::find(kCommonRates, rate) != std::end(kCommonRates)) return S_OK;
        return ReportError(texts::kBadRate);
    }
    if (rate >= 1 && rate <= traits_.maxRate) return S_OK;
    const std::string text = "Wrong input sample rate. Possible values are: 1 to " + std::to_string(traits_.maxRate) + " Hz.";
    return ReportError(std::u16string(text.begin(), text.end()));
}

HRESULT EncoderObject::SetInputFormat(LONG nChannels, LONG nSamplesPerSec, LONG nBitsPerSample) {
    if (HRESULT hr = CheckFormat(nChannels, nSamplesPerSec, nBitsPerSample); FAILED(hr)) return hr;
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(nChannels);
    f.nSamplesPerSec = static_cast<DWORD>(nSamplesPerSec);
    f.wBitsPerSample = static_cast<WORD>(nBitsPerSample);
    f.nBlockAlign = static_cast<WORD>(nChannels * (nBitsPerSample / 8));
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.cbSize = 0;
    input_ = WAVEFORMATEXTENSIBLE{};
    input_.Format = f;
    return S_OK;
}

HRESULT EncoderObject::SetInputFormatWFX(WAVEFORMATEX* pWfx) {
    if (!pWfx) return E_POINTER;
    WAVEFORMATEX f;
    std::memcpy(&f, pWfx, sizeof f);
    if (traits_.checkWfx) {
        // Integer PCM, in the plain record or in WAVE_FORMAT_EXTENSIBLE,
        // which is how more than two channels arrive.
        const auto layout = ReadPcmLayout(*pWfx);
        const bool extensiblePcm = f.wFormatTag == WAVE_FORMAT_EXTENSIBLE && layout && !layout->isFloat;
        if (f.wFormatTag != WAVE_FORMAT_PCM && !extensiblePcm) return ReportError(texts::kOnlyPcm);
        if (HRESULT hr = CheckFormat(f.nChannels, LONG(f.nSamplesPerSec), f.wBitsPerSample); FAILED(hr)) return hr;
    }
    input_ = WAVEFORMATEXTENSIBLE{};
    input_.Format = f;
    // The extension travels with the record when the record announces it
    // (whoever hands over such a record keeps its cbSize bytes behind it).
    if (f.wFormatTag == WAVE_FORMAT_EXTENSIBLE && f.cbSize >= sizeof input_ - sizeof f)
        std::memcpy(&input_, pWfx, sizeof input_);
    return S_OK;
}

HRESULT EncoderObject::get_Filename(BSTR* value) {
    if (!IsOutputOpen()) return ReportError(texts::kEncoderPropertyNotOpen);
    if (!value) return E_POINTER;
    *value = SysAllocString(std::u16string_view(fileName_));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT EncoderObject::get_AddExtension(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = CodecBool(addExtension_);
    return S_OK;
}

HRESULT EncoderObject::put_AddExtension(VARIANT_BOOL value) {
    addExtension_ = value != 0;
    return S_OK;
}

HRESULT EncoderObject::get_OverwritePrompt(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = CodecBool(overwritePrompt_);
    return S_OK;
}

HRESULT EncoderObject::put_OverwritePrompt(VARIANT_BOOL value) {
    overwritePrompt_ = value != 0;
    return S_OK;
}

HRESULT EncoderObject::EncodeFromWave(BSTR waveFile) {
    if (!IsOutputOpen()) return ReportError(texts::kEncoderConvertNotOpen);
    std::string path;
    if (HRESULT hr = FileNameToPath(identity().clsid, waveFile, path); FAILED(hr)) return hr;
    // The worker holds a reference, so a client that lets go of the encoder
    // early cannot pull it from under the running worker.
    AddRef();
    std::thread([this, path] {
        EncodeWorker(path);
        Release();
    }).detach();
    return S_OK;
}

void EncoderObject::EncodeWorker(std::string path) {
    SetPipeSize(traits_.asyncBlock);
    WavSourceReader source;
    if (FAILED(source.Open(path))) {
        PostError(texts::kUnableToOpenWave);
        return;
    }
    if (FAILED(SetInputFormatWFX(source.formatPtr()))) {
        std::u16string text = TakeErrorDescription();
        PostError(text.empty() ? std::u16string_view(texts::kUnableToOpenWave) : std::u16string_view(text));
        return;
    }
    PostMessage(helper(), WMH_ENCODE_START, 0, 0);
    std::vector<BYTE> block(static_cast<std::size_t>(traits_.asyncBlock));
    std::int64_t done = 0;
    LONG lastPercent = -1;
    const std::int64_t total = source.dataSize();
    bool first = true;
    for (;;) {
        long n = source.Read(block.data(), block.size());
        if (n <= 0) break;
        bool counted = true;
        HRESULT hr = WriteWholeFileBlock(block.data(), n, first, counted);
        first = false;
        if (FAILED(hr) && traits_.checkWriteResult) {
            SetErrorInfo(0, nullptr);
            PostError(texts::kEncodingAborted);
            break;
        }
        if (!counted) continue;
        done += n;
        LONG percent = total > 0 ? static_cast<LONG>(done * 100 / total) : 100;
        if (percent > lastPercent) {
            PostMessage(helper(), WMH_ENCODE_PROGRESS, static_cast<WPARAM>(percent), 0);
            lastPercent = percent;
        }
    }
    PostMessage(helper(), WMH_ENCODE_FINISH, 0, 0);
}

HRESULT EncoderObject::EncodeFromWaveSync(BSTR waveFile) {
    if (!IsOutputOpen()) return ReportError(texts::kEncoderConvertNotOpen);
    std::string path;
    if (HRESULT hr = FileNameToPath(identity().clsid, waveFile, path); FAILED(hr)) return hr;
    WavSourceReader source;
    if (FAILED(source.Open(path))) return ReportError(texts::kUnableToOpenWave);
    if (HRESULT hr = SetInputFormatWFX(source.formatPtr()); FAILED(hr)) return hr;
    SetPipeSize(traits_.syncBlock);
    std::vector<BYTE> block(static_cast<std::size_t>(traits_.syncBlock));
    for (;;) {
        long n = source.Read(block.data(), block.size());
        if (n <= 0) break;
        HRESULT hr = Write(block.data(), n);
        if (FAILED(hr) && traits_.checkWriteResult) return hr;
    }
    SetErrorInfo(0, nullptr);
    return S_OK;
}

LRESULT EncoderObject::OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WMH_ENCODE_START: Fire(DISPID_OnWaveEncodeStart); return 0;
        case WMH_ENCODE_PROGRESS: FireLong(DISPID_OnWaveEncodeProgress, static_cast<LONG>(wp)); return 0;
        case WMH_ENCODE_FINISH: Fire(DISPID_OnWaveEncodeFinish); return 0;
        default: return CodecObject::OnHelperMessage(msg, wp, lp);
    }
}

void EncoderObject::FinalRelease() {
    // A client that forgot to close still gets a complete file.
    Close();
    SetErrorInfo(0, nullptr);
    CodecObject::FinalRelease();
}

}  // namespace kiv
