// KivOpusEncoder: compresses PCM into an Ogg Opus stream through
// libopusenc, which resamples to the codec's 48 kHz and writes the pre-skip
// and the end trimming that make the decoded length exact. The encoding
// pipeline runs the compression on its own thread.
#pragma once

#include <memory>

#include "components/pipeline/compressed_encoder.h"
#include "components/vorbis/ogg_comment_header.h"

namespace kiv {

namespace opus {
struct EncoderState;
}

class OpusEncoder final : public CompressedEncoder {
public:
    OpusEncoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<OpusEncoder>(riid, ppv); }

    HRESULT SetOutputFormatVBR(float fQuality) override;
    HRESULT SetOutputFormatABR(LONG nAvgBitrate) override;
    HRESULT SetOutputFormatCBR(LONG nBitrate) override;

    // The bitrate a quality 0..1 stands for, for `channels` channels:
    // 32 to 256 kbit/s for a stereo pair, in proportion for other counts.
    static long BitrateOfQuality(float quality, int channels);

private:
    ~OpusEncoder() override;

    enum class Mode { Default, Quality, Average, Constant };

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }
    HRESULT PrepareStream() override;
    std::size_t BlockSize() const override;
    bool EncodeBlock(const BYTE* data, std::size_t size) override;
    void EndOfStream() override;
    HRESULT FinishStream(bool streamStarted) override;

    Mode mode_ = Mode::Default;
    float quality_ = 0;
    LONG bitrate_ = 0;
    std::unique_ptr<opus::EncoderState> state_;
};

}  // namespace kiv
