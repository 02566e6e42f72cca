// KivVorbisEncoder: compresses PCM into an Ogg Vorbis stream. The encoding
// pipeline runs the analysis on its own thread; this class sets the stream
// up at the first Write (mode, comment header, header pages), feeds blocks
// to the analysis and writes every page libogg releases.
#pragma once

#include <cstdint>
#include <memory>

#include "components/pipeline/compressed_encoder.h"
#include "components/vorbis/ogg_comment_header.h"

namespace kiv {

namespace vorbis {
struct AnalysisState;
}

class VorbisEncoder final : public CompressedEncoder {
public:
    VorbisEncoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<VorbisEncoder>(riid, ppv); }

    HRESULT SetOutputFormatVBR(float fQuality) override;
    HRESULT SetOutputFormatABR(LONG nAvgBitrate) override;
    HRESULT SetOutputFormatCBR(LONG nBitrate) override;

private:
    ~VorbisEncoder() override;

    enum class Mode { AverageBitrate = 1, Quality = 2 };

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }

    HRESULT PrepareStream() override;
    std::size_t BlockSize() const override;
    bool EncodeBlock(const BYTE* data, std::size_t size) override;
    void EndOfStream() override;
    HRESULT FinishStream(bool streamStarted) override;

    // Analyses what the library has buffered and writes the pages it
    // releases; false when a page could not be written.
    bool Drain();

    Mode mode_ = Mode::Quality;
    float quality_ = 0.5f;
    LONG bitrate_ = 0;
    // Drawn afresh for every stream: links of one physical stream (several
    // streams written to one handle) must not share a serial number.
    std::uint32_t serial_ = 0;
    // Live from the first Write until the encoding thread ends; owned by the
    // caller's thread before the thread starts and after Close has joined it.
    std::unique_ptr<vorbis::AnalysisState> state_;
    bool pageWriteFailed_ = false;
    // The header pages as written, while the stream measures its gain.
    vorbis::OggCommentHeader header_;
};

}  // namespace kiv
