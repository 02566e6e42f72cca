// KivFlacDecoder: reads FLAC through libFLAC's stream decoder over our own
// descriptor callbacks (a file we open, or a descriptor the caller hands
// over, which may be a pipe). 8- and 16-bit streams come out at their own
// depth; deeper ones in the next whole-byte container (24 or 32 bits),
// scaled up to fill it, so no sample is cut or wrapped.
#pragma once

#include <FLAC/stream_decoder.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/common/decoder_object.h"
#include "platform/riff/pcm_layout.h"
#include "platform/system/pipe.h"


namespace kiv {

namespace flac {
struct DecoderCallbacks;
struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* d) const;
};
}  // namespace flac

class FlacDecoder final : public DecoderObject {
public:
    FlacDecoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<FlacDecoder>(riid, ppv); }

    HRESULT Open(BSTR szFilename) override;
    HRESULT OpenHandle(void* hSource) override;
    HRESULT get_Position(LONG* value) override;
    HRESULT put_Position(LONG value) override { return Seek(value); }
    HRESULT get_Format(WAVEFORMATEX** value) override;
    HRESULT get_Bitrate(LONG* value) override;
    HRESULT get_Duration(LONG* value) override;
    HRESULT get_Filename(BSTR* value) override;
    HRESULT Seek(LONG position) override;
    HRESULT Read(BYTE* data, LONG count, LONG* read) override;
    HRESULT Close() override;

private:
    friend struct flac::DecoderCallbacks;
    ~FlacDecoder() override;

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }
    HRESULT OpenStream();
    bool IsOpen() const { return decoder_ != nullptr; }

    DecoderInput input_;
    std::unique_ptr<FLAC__StreamDecoder, flac::DecoderDeleter> decoder_;

    // From the stream header.
    bool haveInfo_ = false;
    unsigned channels_ = 0, rate_ = 0, sourceBits_ = 0;
    std::uint64_t totalFrames_ = 0;  // 0: the header does not know
    PcmFormatRecord format_;
    std::int64_t fileBytes_ = -1;  // of the stream, from streamStart_ on
    std::int64_t streamStart_ = 0;  // file offset of "fLaC"

    // Decoded and not yet handed out.
    std::vector<BYTE> pcm_;
    std::size_t pcmTaken_ = 0;
    std::uint64_t position_ = 0;  // sample frames handed out (from the last seek)
    bool ended_ = false;
    std::u16string formatChange_;
    std::string firstProblem_;
};

}  // namespace kiv
