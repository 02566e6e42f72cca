// The encoders that compress: Write hands the caller's PCM to an anonymous
// pipe and returns as soon as the pipe has taken it; an encoding thread of
// the encoder's own reads the pipe block by block and compresses. Close
// closes the pipe, waits for the thread to drain it, then lets the format
// finish the stream. The pipe is the only buffer between the two, so a
// caller that produces faster than the encoder consumes is held up in Write.
//
// A format supplies its stream preparation (run at the first Write), its
// block step (run on the encoding thread), and its finishing step (run by
// Close after the thread has ended).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <optional>

#include "components/common/encoder_object.h"
#include "components/pipeline/loudness_meter.h"
#include "platform/system/pipe.h"

namespace kiv {

// Every compressed format also measures ReplayGain on request: the encoding
// thread measures the blocks it encodes, and the format writes the values
// with its tags (see FieldsToWrite).
class CompressedEncoder : public EncoderObject, public IKivReplayGain {
public:
    using EncoderObject::EncoderObject;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return EncoderObject::AddRef(); }
    ULONG Release() override { return EncoderObject::Release(); }

    HRESULT get_MeasureTrackGain(VARIANT_BOOL* value) override;
    HRESULT put_MeasureTrackGain(VARIANT_BOOL value) override;
    HRESULT GetTrackGain(double* gainDb, double* peak) override;

    HRESULT Write(BYTE* data, LONG count) override;
    HRESULT Close() override;
    // Offered by the encoders that write to a file: the caller's descriptor
    // becomes the output and stays the caller's.
    HRESULT OpenHandle(void* hSource) override;

protected:
    ~CompressedEncoder() override = default;

    // --- what a format supplies ---
    // First Write: set the stream up from the input and output formats in
    // force now. Returns S_OK or its reported error.
    virtual HRESULT PrepareStream() = 0;
    // Bytes asked of the pipe per read on the encoding thread.
    virtual std::size_t BlockSize() const = 0;
    // Encoding thread: compress `size` bytes (always whole sample frames)
    // and write what is ready. False ends the thread; the step has reported
    // its failure itself (PostError) where the format reports any.
    virtual bool EncodeBlock(const BYTE* data, std::size_t size) = 0;
    // Encoding thread, once the pipe is drained and closed (formats that
    // flush in the thread).
    virtual void EndOfStream() {}
    // Before each pipe write (a format whose writer fails asynchronously
    // refuses further data here).
    virtual HRESULT BeforePipeWrite() { return S_OK; }
    // Close, after the thread has ended: flush, trailer, tags, and close or
    // let go of the output. `streamStarted` tells whether a first Write
    // prepared the stream.
    virtual HRESULT FinishStream(bool streamStarted) = 0;

    // --- the file output of the file-based formats ---
    bool IsOutputOpen() const override { return output_.get() >= 0; }
    HRESULT CreateOutput(const std::string& path) override;
    int outputFd() const { return output_.get(); }
    // Closes the output file (or lets go of the caller's descriptor);
    // false with errno set when the system reported an error at close.
    bool ReleaseOutput();
    const std::string& outputPath() const { return outputPath_; }

    void SetPipeSize(LONG size) override { pipeSize_ = size; }

    // The named fields to write with the tags. With measuring on, any
    // track gain and peak given as fields are left out, and the measured
    // values take their place once the encoding thread has ended (so a
    // format writing its tags before the audio gets none, and puts them in
    // afterwards; see RewritesTrackGain).
    std::vector<TagField> FieldsToWrite() const;
    // Whether this stream measures: the setting as it was at its first Write.
    bool measuringStream() const { return measuring_; }
    // The measured values as the track gain and peak fields, once the
    // encoding thread has ended (FinishStream); empty when not measuring or
    // nothing was measurable.
    std::vector<TagField> MeasuredFields() const;
    // A format that could not put the measured values into its file says so
    // here (FinishStream); the caller is then not told of values.
    void TrackGainNotWritten() { measured_.reset(); }

    // Encoding thread: the stream cannot be completed (a failed write, a
    // failed block). Close then fails with `text`, so a caller that wrote
    // every byte into the pipe still learns the file is incomplete.
    void FailStream(std::u16string text);
    // The same, also told through OnError at once.
    void PostStreamError(std::u16string text);

private:
    void EncodingThread();
    void ResetPipeline();

    UniqueFd output_;
    std::string outputPath_;
    Pipe pipe_;
    std::atomic<bool> started_{false};
    Event finished_{false, false};
    std::u16string StreamFailure();

    // Set by the encoding thread before it ends; read by Write (after the
    // pipe broke) and by Close (after waiting for the thread).
    std::atomic<bool> streamFailed_{false};
    std::atomic<bool> streamFailureTold_{false};  // through OnError already
    std::mutex failureLock_;
    std::u16string streamFailure_;
    LONG pipeSize_ = 0;

    std::atomic<bool> measureTrackGain_{false};
    bool measuring_ = false;  // of the running stream
    LoudnessMeter meter_;     // encoding thread only
    std::optional<TrackGain> measured_;
    std::optional<TrackGain> lastGain_;  // of the stream closed last
};

}  // namespace kiv
