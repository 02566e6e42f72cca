#include "components/pipeline/compressed_encoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/riff/pcm_layout.h"
#include "platform/system/system_error.h"

namespace kiv {
namespace {

constexpr char16_t kCannotCreatePipe[] = u"Internal error #7. Cannot create pipe. System error message: %s.";
constexpr char16_t kCannotCreateThread[] =
    u"Internal error #8. Cannot create encoding thread. System error message: %s.";
constexpr char16_t kPipeBroken[] = u"Internal error #9. Pipe broken. System error message: %s.";
constexpr char16_t kStreamIncomplete[] = u"Error: encoding stopped early; the file is incomplete.";

}  // namespace

HRESULT CompressedEncoder::CreateOutput(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return ReportError(FormatMessageText(texts::kCannotCreateFile, SystemErrorText(errno)));
    output_.reset(fd);
    outputPath_ = path;
    return S_OK;
}

HRESULT CompressedEncoder::OpenHandle(void* hSource) {
    if (IsOutputOpen()) {
        if (HRESULT hr = Close(); FAILED(hr)) return hr;
    }
    // A handle here is a file descriptor; -1 is the invalid value. Descriptor
    // 0 is a real descriptor on this system and is taken like any other.
    const auto fd = static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(hSource));
    if (fd == -1) return ReportError(texts::kNullHandle);
    if (fd < 0 || fd > INT32_MAX) return ReportError(texts::kNullHandle);
    output_.reset(static_cast<int>(fd));
    outputPath_.clear();
    SetOutputName(u"<Custom Application Handle>", true);
    return S_OK;
}

bool CompressedEncoder::ReleaseOutput() {
    bool ok = true;
    if (openedByHandle()) output_.release();  // the caller's descriptor stays open
    else ok = output_.reset() == 0;
    ClearOutputName();
    return ok;
}

HRESULT CompressedEncoder::QueryInterface(REFIID riid, void** ppv) {
    if (ppv && riid == IID_IKivReplayGain) {
        *ppv = static_cast<IKivReplayGain*>(this);
        AddRef();
        return S_OK;
    }
    return EncoderObject::QueryInterface(riid, ppv);
}

HRESULT CompressedEncoder::get_MeasureTrackGain(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = CodecBool(measureTrackGain_);
    return S_OK;
}

HRESULT CompressedEncoder::put_MeasureTrackGain(VARIANT_BOOL value) {
    measureTrackGain_ = value != 0;
    return S_OK;
}

HRESULT CompressedEncoder::GetTrackGain(double* gainDb, double* peak) {
    if (!gainDb || !peak) return E_POINTER;
    *gainDb = lastGain_ ? lastGain_->gainDb : 0.0;
    *peak = lastGain_ ? lastGain_->peak : 0.0;
    return lastGain_ ? S_OK : S_FALSE;
}

std::vector<TagField> CompressedEncoder::MeasuredFields() const {
    if (!measured_) return {};
    return {{std::u16string(kTrackGainField), measured_->GainText()},
            {std::u16string(kTrackPeakField), measured_->PeakText()}};
}

std::vector<TagField> CompressedEncoder::FieldsToWrite() const {
    std::vector<TagField> fields = Fields();
    if (!measuring_) return fields;
    std::erase_if(fields, [](const TagField& f) {
        return f.name == kTrackGainField || f.name == kTrackPeakField;
    });
    for (TagField& f : MeasuredFields()) fields.push_back(std::move(f));
    return fields;
}

HRESULT CompressedEncoder::Write(BYTE* data, LONG count) {
    if (!data) return E_POINTER;
    if (!IsOutputOpen()) return ReportError(texts::kEncoderWriteNotOpen);
    if (count < 0) return E_INVALIDARG;
    if (!started_) {
        measuring_ = measureTrackGain_;
        measured_.reset();
        lastGain_.reset();
        if (HRESULT hr = PrepareStream(); FAILED(hr)) return hr;
        if (measuring_) {
            const WAVEFORMATEX& f = inputFormat();
            const DWORD mask = f.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? inputRecord().dwChannelMask : 0;
            measuring_ = meter_.Start(f.nChannels, f.nSamplesPerSec, f.wBitsPerSample,
                                      mask ? mask : StandardChannelMask(f.nChannels));
        }
        if (!pipe_.Create(pipeSize_)) return ReportError(FormatMessageText(kCannotCreatePipe, SystemErrorText(errno)));
        finished_.Reset();
        try {
            std::thread(&CompressedEncoder::EncodingThread, this).detach();
        } catch (const std::system_error& e) {
            // Both pipe ends stay open; Close closes them without waiting.
            return ReportError(FormatMessageText(kCannotCreateThread, SystemErrorText(e.code().value())));
        }
        started_ = true;
    }
    if (HRESULT hr = BeforePipeWrite(); FAILED(hr)) return hr;
    if (count > 0 && !WriteAll(pipe_.write.get(), data, static_cast<std::size_t>(count))) {
        // The thread has ended. A reason it kept to itself (it told nobody
        // through OnError) says more than the broken pipe does.
        const int err = errno;
        if (std::u16string reason = StreamFailure(); !reason.empty() && !streamFailureTold_)
            return ReportError(reason);
        return ReportError(FormatMessageText(kPipeBroken, SystemErrorText(err)));
    }
    return S_OK;
}

void CompressedEncoder::EncodingThread() {
    // The thread writes the output, which may be a caller's pipe.
    HoldPipeSignalOnThisThread();
    const std::size_t frame = inputFormat().nBlockAlign ? inputFormat().nBlockAlign : 1;
    // Whole sample frames per block, at least one.
    const std::size_t block = std::max(BlockSize() / frame, std::size_t{1}) * frame;
    // Every block but the last is filled whole before the block step sees
    // it: how the caller cut its Writes, and how the pipe split them, must
    // not change the output, and encoders (the Vorbis analysis among them)
    // decide by how much input they are given at once.
    std::vector<BYTE> buffer(block);
    const int fd = pipe_.read.get();
    for (;;) {
        const long n = ReadFull(fd, buffer.data(), block);
        if (n <= 0) break;
        // A stream cut inside a sample frame loses the part frame at the end.
        const std::size_t whole = std::size_t(n) - std::size_t(n) % frame;
        if (measuring_) meter_.Add(buffer.data(), whole);
        if (whole > 0 && !EncodeBlock(buffer.data(), whole)) {
            streamFailed_ = true;
            break;
        }
        if (std::size_t(n) < block) break;  // the write end is closed and the pipe drained
    }
    // Closing the read end makes every later Write fail as a broken pipe.
    pipe_.read.reset();
    if (measuring_) measured_ = meter_.Finish();
    EndOfStream();
    finished_.Set();
}

void CompressedEncoder::FailStream(std::u16string text) {
    streamFailed_ = true;
    std::lock_guard lock(failureLock_);
    if (streamFailure_.empty()) streamFailure_ = std::move(text);
}

std::u16string CompressedEncoder::StreamFailure() {
    std::lock_guard lock(failureLock_);
    return streamFailure_;
}

void CompressedEncoder::PostStreamError(std::u16string text) {
    PostError(text);
    streamFailureTold_ = true;
    FailStream(std::move(text));
}

HRESULT CompressedEncoder::Close() {
    if (!IsOutputOpen()) return S_OK;
    const bool streamStarted = started_;
    if (streamStarted && pipe_.write) {
        pipe_.write.reset();
        finished_.Wait();
    }
    if (!streamStarted) measured_.reset();
    HRESULT hr = FinishStream(streamStarted);
    // A stream whose thread gave up holds only part of what was written.
    if (streamFailed_ && SUCCEEDED(hr)) {
        const std::u16string reason = StreamFailure();
        hr = ReportError(reason.empty() ? kStreamIncomplete : reason);
    }
    if (SUCCEEDED(hr)) lastGain_ = measured_;
    ResetPipeline();
    return hr;
}

void CompressedEncoder::ResetPipeline() {
    pipe_.write.reset();
    pipe_.read.reset();
    started_ = false;
    pipeSize_ = 0;
    streamFailed_ = false;
    streamFailureTold_ = false;
    measuring_ = false;
    measured_.reset();
    std::lock_guard lock(failureLock_);
    streamFailure_.clear();
}

}  // namespace kiv
