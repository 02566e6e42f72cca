// KivFlacEncoder: lossless FLAC over libFLAC's stream encoder. The encoding
// pipeline runs the compression on its own thread; the stream is set up at
// the first Write (tags and pictures go into the metadata in front of the
// audio), and finishing it writes the sample count and the MD5 signature of
// the audio back into the stream header where the output can seek.
#pragma once

#include <memory>

#include "components/pipeline/compressed_encoder.h"

namespace kiv {

namespace flac {
struct EncoderState;
}

class FlacEncoder final : public CompressedEncoder {
public:
    FlacEncoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<FlacEncoder>(riid, ppv); }

    HRESULT SetOutputFormatVBR(float fQuality) override;
    HRESULT SetOutputFormatABR(LONG nAvgBitrate) override;
    HRESULT SetOutputFormatCBR(LONG nBitrate) override;

    // Quality 0..1 to compression level 0..8.
    static unsigned LevelOfQuality(float quality);

private:
    ~FlacEncoder() override;

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }
    HRESULT PrepareStream() override;
    std::size_t BlockSize() const override;
    bool EncodeBlock(const BYTE* data, std::size_t size) override;
    void EndOfStream() override;
    HRESULT FinishStream(bool streamStarted) override;

    unsigned level_ = 5;
    // Live from the first Write until Close; used by the encoding thread
    // while it runs.
    std::unique_ptr<flac::EncoderState> state_;
    bool finishFailed_ = false;
};

}  // namespace kiv
