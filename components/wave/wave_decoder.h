// KivWaveDecoder: delivers the data chunk of a RIFF/WAVE file, unchanged.
#pragma once

#include "components/common/decoder_object.h"
#include "components/common/wav_source_reader.h"

namespace kiv {

class WaveDecoder final : public DecoderObject {
public:
    WaveDecoder() : DecoderObject(kClassWaveDecoder) {}
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<WaveDecoder>(riid, ppv); }

    HRESULT Open(BSTR szFilename) override;
    HRESULT OpenHandle(void*) override { return E_NOTIMPL; }
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
    ~WaveDecoder() override = default;

    WavSourceReader reader_;
    std::u16string fileName_;
};

}  // namespace kiv
