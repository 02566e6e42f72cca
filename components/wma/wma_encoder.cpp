#include "components/wma/wma_encoder.h"

#include <cstring>
#include <thread>
#include <vector>

#include "components/common/wav_source_reader.h"
#include "components/wma/profile_builder.h"
#include "components/wma/tag_attributes.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv {

using namespace kiv::media;

namespace {

constexpr EncoderTraits kWmaTraits{u".wma", u"WMA Encoder Control", true, 65536, 4096, true};

constexpr char16_t kOpenHandleRefused[] =
    u"Sorry. OpenHandle method is not implemented. Contact Tolvane support for details.";
constexpr char16_t kBadQuality[] = u"fQuality must be between 0 and 1.";
constexpr char16_t kNoAverageBitrate[] = u"WMA does not support Average Bitrate mode.";
constexpr char16_t kWriterError[] = u"Internal error #75. Writer error.";
constexpr char16_t kCannotAllocate[] = u"Internal error #76. Cannot allocate memory.";
constexpr char16_t kCannotWriteSample[] = u"Internal error #77. Cannot write sample.";
constexpr char16_t kNoFittingFormat[] =
    u"Internal error #78. The codec has no format for this bitrate or quality at this sample rate and channel count.";
constexpr char16_t kCannotWriteFile[] = u"Internal error #79. Cannot write file. System error message: %s.";


}  // namespace

WmaEncoder::WmaEncoder() : CompressedEncoder(kClassWmaEncoder, kWmaTraits) {}

HRESULT WmaEncoder::OpenHandle(void*) { return ReportError(kOpenHandleRefused); }

HRESULT WmaEncoder::WithText(HRESULT hr) const {
    // The runtime's bare failure codes get a text the user can act on; the
    // code itself stays the result, so callers that test it see it as is.
    if (SUCCEEDED(hr) || hr == DISP_E_EXCEPTION) return hr;
    const auto code = static_cast<std::uint32_t>(hr);
    if (hr == wma::kNoMatchingFormat) ReportError(kNoFittingFormat);
    else if ((code & 0xFFFF0000u) == 0x80070000u)
        ReportError(FormatMessageText(kCannotWriteFile, SystemErrorText(int(code & 0xFFFFu))));
    else ReportError(kWriterError);
    return hr;
}

HRESULT WmaEncoder::SetOutputFormatVBR(float fQuality) {
    // Written so that a NaN fails too.
    if (!(fQuality >= 0.0f && fQuality <= 1.0f)) return ReportError(kBadQuality);
    mode_ = Mode::Quality;
    quality_ = fQuality;
    return S_OK;
}

HRESULT WmaEncoder::SetOutputFormatABR(LONG) { return ReportError(kNoAverageBitrate); }

HRESULT WmaEncoder::SetOutputFormatCBR(LONG nBitrate) {
    // Checked only when the stream is prepared: the codec's formats decide.
    mode_ = Mode::ConstantBitrate;
    bitrate_ = nBitrate;
    return S_OK;
}

HRESULT WmaEncoder::CreateOutput(const std::string& path) {
    if (!comInitialised_) {
        CoInitialize(nullptr);
        comInitialised_ = true;
        comThread_ = std::this_thread::get_id();
    }
    std::unique_ptr<Writer> writer;
    HRESULT hr = Writer::Create(writer);
    if (SUCCEEDED(hr)) hr = writer->SetOutputFilename(FromUtf8(path));
    if (FAILED(hr)) {
        CoUninitialize();
        comInitialised_ = false;
        return hr;
    }
    // The writer creates the file only once writing begins.
    writer_ = std::move(writer);
    writingBegun_ = false;
    tagsWritten_ = false;
    sampleClockMs_ = 0;
    return S_OK;
}

HRESULT WmaEncoder::PrepareStream() {
    // The writer must be set up on the thread that created the component,
    // whichever thread writes first; from that thread this is a plain call.
    HRESULT result = E_UNEXPECTED;
    SendMessage(helper(), kPrepareWriter, reinterpret_cast<WPARAM>(&result), 0);
    // The text is set on this thread, the caller's, not the helper's.
    return WithText(result);
}

HRESULT WmaEncoder::PrepareWriter() {
    // A first Write that failed after the writer began (no pipe or thread)
    // comes back here; the writer is ready and stays as it is.
    if (writingBegun_) return S_OK;
    const WAVEFORMATEX input = inputFormat();
    avgBytesPerSec_ = input.nAvgBytesPerSec;

    std::unique_ptr<Profile> profile;
    HRESULT hr = mode_ == Mode::ConstantBitrate
                     ? wma::BuildConstantBitrateProfile(static_cast<DWORD>(bitrate_), input.nChannels,
                                                        input.nSamplesPerSec, profile)
                     : wma::BuildQualityProfile(quality_, input.nChannels, input.nSamplesPerSec, profile);
    if (FAILED(hr)) return hr;
    if (hr = writer_->SetProfile(*profile); FAILED(hr)) return hr;

    DWORD inputs = 0;
    if (hr = writer_->GetInputCount(&inputs); FAILED(hr)) return hr;
    if (inputs == 0) return NS_E_INVALID_REQUEST;
    std::unique_ptr<MediaProps> props;
    if (hr = writer_->GetInputProps(0, props); FAILED(hr)) return hr;
    WAVEFORMATEX pcm = input;
    pcm.cbSize = 0;
    MediaType type = MediaType::ForWaveFormat(WMMEDIASUBTYPE_PCM, pcm);
    type.sampleSize = 0;
    if (hr = props->SetMediaType(type); FAILED(hr)) return hr;
    if (hr = writer_->SetInputProps(0, *props); FAILED(hr)) return hr;

    // Attributes are added, not replaced: a preparation that failed later on
    // and runs again must not add them twice.
    if (!tagsWritten_) {
        hr = wma::WriteTagAttributes(Tags(), FieldsToWrite(), Pictures(),
                                     [this](std::u16string_view name, AttrType t, const BYTE* v, DWORD len) {
                                         return writer_->AddAttribute(0, name, nullptr, t, v, len);
                                     });
        if (FAILED(hr)) return hr;
        tagsWritten_ = true;
    }

    if (hr = writer_->BeginWriting(); FAILED(hr)) return hr;
    writingBegun_ = true;
    sampleClockMs_ = 0;
    hr = writer_->Advise([this](Status s, HRESULT code) { OnWriterStatus(s, code); }, &callbackCookie_);
    callbackRegistered_ = SUCCEEDED(hr);
    writerFailed_ = false;
    writerFailure_ = S_OK;
    return S_OK;
}

void WmaEncoder::OnWriterStatus(Status status, HRESULT hr) {
    if (status != Status::Error) return;
    writerFailure_ = hr;
    writerFailed_ = true;
}

HRESULT WmaEncoder::BeforePipeWrite() { return writerFailed_ ? WithText(writerFailure_.load()) : S_OK; }

bool WmaEncoder::EncodeBlock(const BYTE* data, std::size_t size) {
    if (writerFailed_) {
        PostStreamError(kWriterError);
        return false;
    }
    std::unique_ptr<SampleBuffer> sample;
    if (FAILED(writer_->AllocateSample(static_cast<DWORD>(size), sample)) || !sample) {
        PostStreamError(kCannotAllocate);
        return false;
    }
    std::memcpy(sample->GetBuffer(), data, size);
    sample->SetLength(static_cast<DWORD>(size));
    if (FAILED(writer_->WriteSample(0, sampleClockMs_ * 10000, 0, *sample))) {
        PostStreamError(kCannotWriteSample);
        return false;
    }
    // Each block's duration is rounded by itself. A record that claims no
    // bytes per second would divide by zero: its samples get no time.
    if (avgBytesPerSec_ != 0) sampleClockMs_ += (std::uint64_t{size} * 1000 + avgBytesPerSec_ / 2) / avgBytesPerSec_;
    return true;
}

HRESULT WmaEncoder::FinishStream(bool) {
    HRESULT result = S_OK;
    if (writingBegun_) {
        if (const std::vector<TagField> values = MeasuredFields(); !values.empty()) {
            const HRESULT added = wma::WriteTagAttributes(
                TagRecord{}, values, {}, [this](std::u16string_view name, AttrType t, const BYTE* v, DWORD len) {
                    return writer_->AddClosingAttribute(name, t, v, len);
                });
            if (FAILED(added)) TrackGainNotWritten();
        }
        // A file that could not be completed is not a success: the caller
        // would otherwise keep a broken file as a finished one.
        result = WithText(writer_->EndWriting());
        if (callbackRegistered_) writer_->Unadvise(callbackCookie_);
        callbackRegistered_ = false;
    }
    writer_.reset();
    writingBegun_ = false;
    sampleClockMs_ = 0;
    writerFailed_ = false;
    writerFailure_ = S_OK;
    ClearOutputName();
    if (comInitialised_) {
        if (comThread_ == std::this_thread::get_id()) CoUninitialize();
        comInitialised_ = false;
    }
    return result;
}

HRESULT WmaEncoder::WriteWholeFileBlock(BYTE* data, LONG size, bool first, bool& counted) {
    counted = !first;
    if (!first) return Write(data, size);
    // The writer is started on the component's thread: the first block goes
    // there, and this thread waits until it has been taken before it touches
    // the block again. The handed-over block is not counted in the percent.
    return static_cast<HRESULT>(SendMessage(helper(), kWriteFirstBlock, reinterpret_cast<WPARAM>(data), LPARAM{size}));
}

LRESULT WmaEncoder::OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kPrepareWriter:
            *reinterpret_cast<HRESULT*>(wp) = PrepareWriter();
            return 0;
        case kWriteFirstBlock: {
            HRESULT hr = Write(reinterpret_cast<BYTE*>(wp), static_cast<LONG>(lp));
            // Its text, if any, belongs to the worker's report, not to
            // whatever the client calls next on this thread.
            if (FAILED(hr)) SetErrorInfo(0, nullptr);
            return static_cast<LRESULT>(hr);
        }
        default: return CompressedEncoder::OnHelperMessage(msg, wp, lp);
    }
}

}  // namespace kiv
