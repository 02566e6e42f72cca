// KivMP3Encoder: compresses PCM to MP3 through the encoder library bound at
// creation, on the encoding thread of the compressed encoders, and finishes
// the file with the library's VBR header and ID3v1/ID3v2 tags.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "components/mp3/encoder_config.h"
#include "components/mp3/runtime_library.h"
#include "components/pipeline/compressed_encoder.h"

namespace kiv {

class Mp3Encoder final : public CompressedEncoder {
public:
    Mp3Encoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<Mp3Encoder>(riid, ppv); }

    HRESULT SetOutputFormatVBR(float fQuality) override;
    HRESULT SetOutputFormatABR(LONG nAvgBitrate) override;
    HRESULT SetOutputFormatCBR(LONG nBitrate) override;

private:
    ~Mp3Encoder() override = default;

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }

    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    HRESULT PrepareStream() override;
    std::size_t BlockSize() const override { return 2 * std::size_t(samplesPerChunk_); }
    bool EncodeBlock(const BYTE* data, std::size_t size) override;
    HRESULT FinishStream(bool streamStarted) override;

    bool EncodeSamples(const std::int16_t* samples, DWORD count, const char16_t* encodeFailed,
                       const char16_t* writeFailed);
    // Hands the library stream back and lets go of the buffers.
    void CloseLibraryStream();
    HRESULT FinishFile();

    const mp3::LameEntryPoints* lame_ = nullptr;
    bool constructionFailed_ = false;
    mp3::OutputSetting output_;
    DWORD samplesPerChunk_ = 0;
    lame_enc::HBE_STREAM stream_ = 0;
    // The library stream is open: set by the preparation, cleared by whoever
    // closes it (the encoding thread after a failed chunk, or Close), so a
    // closed stream is never handed to the library again.
    std::atomic<bool> streamOpen_{false};
    std::vector<BYTE> outputBuffer_;
    std::vector<std::int16_t> widening_;
    WORD inputBits_ = 16;
};

}  // namespace kiv
