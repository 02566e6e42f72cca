// KivVorbisDecoder: reads Ogg Vorbis through the library's file layer over
// our own descriptor callbacks (a file we open, or a descriptor the caller
// hands over, which may be a pipe), exposes the comments as tag fields and
// delivers 16-bit PCM through a first-in-first-out buffer.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "components/common/decoder_object.h"
#include "components/vorbis/pcm_fifo.h"
#include "platform/system/pipe.h"

struct OggVorbis_File;

namespace kiv {

class VorbisDecoder final : public DecoderObject {
public:
    VorbisDecoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<VorbisDecoder>(riid, ppv); }

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
    ~VorbisDecoder() override;

    bool CarriesPictures() const override { return true; }
    bool CarriesFields() const override { return true; }

    // Hands the descriptor to the library and reads the stream's format,
    // bitrate, duration and comments.
    HRESULT OpenStream();
    bool IsOpen() const { return vf_ != nullptr; }

    DecoderInput input_;
    std::unique_ptr<OggVorbis_File> vf_;  // set while a stream is open
    WAVEFORMATEX format_{};
    LONG bitrate_ = 0;
    double duration_ = 0;
    std::optional<vorbis::PcmFifo> pcm_;
    // The stream changed its format: the text the read at the change fails
    // with, once what came before is handed out.
    std::u16string formatChange_;  // from the first Read until the end is handed out
};

}  // namespace kiv
