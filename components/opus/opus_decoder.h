// KivOpusDecoder: reads Ogg Opus through opusfile over our own descriptor
// callbacks. The audio comes out as 16-bit PCM at 48 kHz, the codec's own
// rate, with the pre-skip and the end trimming of the stream applied, so
// the decoded length is the length that was encoded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/common/decoder_object.h"
#include "platform/system/pipe.h"

struct OggOpusFile;

namespace kiv {

namespace opus {
struct FileDeleter {
    void operator()(OggOpusFile* f) const;
};
}  // namespace opus

class OpusDecoder final : public DecoderObject {
public:
    OpusDecoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<OpusDecoder>(riid, ppv); }

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
    ~OpusDecoder() override;

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }
    HRESULT OpenStream();
    bool IsOpen() const { return file_ != nullptr; }

    DecoderInput input_;
    std::unique_ptr<OggOpusFile, opus::FileDeleter> file_;
    WAVEFORMATEX format_{};
    LONG bitrate_ = 0;
    std::int64_t totalFrames_ = -1;  // -1: not seekable
    std::vector<std::int16_t> pcm_;  // decoded and not yet handed out, WAV order
    std::size_t pcmTaken_ = 0;       // samples of pcm_ handed out
    std::vector<float> step_;        // one step of the library's output
    std::int64_t position_ = 0;      // sample frames handed out
    std::u16string formatChange_;
};

}  // namespace kiv
