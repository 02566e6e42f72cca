#include "components/wave/wave_encoder.h"

#include <cerrno>

#include "platform/riff/pcm_layout.h"
#include "platform/system/system_error.h"

namespace kiv {
namespace {

constexpr EncoderTraits kWaveTraits{
    .extension = u".wav",
    .caption = u"Wave Encoder Control",
    .checkWfx = false,
    .asyncBlock = 65536,
    .syncBlock = 65536,
    .checkWriteResult = true,
};

constexpr char16_t kOpenHandleRefused[] = u"OpenHandle is not available for Wave Format.";
constexpr char16_t kHeaderFailed[] = u"Internal error #9. Cannot write wav-header. System error message: %s.";
constexpr char16_t kWriteFailed[] = u"Write error. System error message: %s.";

}  // namespace

WaveEncoder::WaveEncoder() : EncoderObject(kClassWaveEncoder, kWaveTraits) {}

HRESULT WaveEncoder::CreateOutput(const std::string& path) {
    if (!file_.Open(path, RiffFile::Mode::Create))
        return ReportError(FormatMessageText(texts::kCannotCreateFile, SystemErrorText(errno)));
    headerWritten_ = false;
    return S_OK;
}

HRESULT WaveEncoder::OpenHandle(void*) { return ReportError(kOpenHandleRefused); }

HRESULT WaveEncoder::WriteHeader() {
    riff_ = ChunkInfo{};
    riff_.fccType = kFourCC_WAVE;
    ChunkInfo fmt;
    fmt.ckid = kFourCC_fmt;
    data_ = ChunkInfo{};
    data_.ckid = kFourCC_data;
    // The record in force at the first Write, as given, in the plain 18
    // bytes; only what the plain record cannot say (more than two channels,
    // more than 16 bits, a sub-format) goes into the extensible record, with
    // the speaker layout that readers need to place the channels.
    PcmFormatRecord format;
    format.record.Format = inputFormat();
    const WAVEFORMATEXTENSIBLE& input = inputRecord();
    if (auto layout = ReadPcmLayout(input.Format);
        layout && (layout->NeedsExtensible() || input.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE)) {
        format = MakePcmFormatRecord(*layout);
    } else if (input.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && input.Format.cbSize >= 22) {
        format.record = input;
        format.size = sizeof input;
    }
    bool ok = file_.CreateChunk(riff_, true) && file_.CreateChunk(fmt) && file_.Write(format.get(), format.size) &&
              file_.Ascend(fmt) && file_.CreateChunk(data_);
    if (!ok) return ReportError(FormatMessageText(kHeaderFailed, SystemErrorText(errno)));
    headerWritten_ = true;
    return S_OK;
}

HRESULT WaveEncoder::Write(BYTE* data, LONG count) {
    if (!file_.IsOpen()) return ReportError(texts::kEncoderWriteNotOpen);
    if (count < 0) return E_INVALIDARG;
    if (!data && count > 0) return E_POINTER;
    if (!headerWritten_) {
        if (HRESULT hr = WriteHeader(); FAILED(hr)) return hr;
    }
    if (count > 0 && !file_.Write(data, static_cast<std::size_t>(count)))
        return ReportError(FormatMessageText(kWriteFailed, SystemErrorText(errno)));
    return S_OK;
}

HRESULT WaveEncoder::Close() {
    if (!file_.IsOpen()) return S_OK;
    HRESULT hr = S_OK;
    if (headerWritten_ && (!file_.Ascend(data_) || !file_.Ascend(riff_)))
        hr = ReportError(FormatMessageText(kWriteFailed, SystemErrorText(errno)));
    if (!file_.CloseChecked() && SUCCEEDED(hr)) hr = ReportError(FormatMessageText(kWriteFailed, SystemErrorText(errno)));
    headerWritten_ = false;
    ClearOutputName();
    return hr;
}

}  // namespace kiv
