// KivWaveEncoder: writes the PCM it is given into a RIFF/WAVE file, unchanged.
#pragma once

#include "components/common/encoder_object.h"
#include "platform/riff/riff.h"

namespace kiv {

class WaveEncoder final : public EncoderObject {
public:
    WaveEncoder();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<WaveEncoder>(riid, ppv); }

    HRESULT OpenHandle(void* hSource) override;
    HRESULT SetOutputFormatVBR(float) override { return S_OK; }
    HRESULT SetOutputFormatABR(LONG) override { return S_OK; }
    HRESULT SetOutputFormatCBR(LONG) override { return S_OK; }
    HRESULT Write(BYTE* data, LONG count) override;
    HRESULT Close() override;

private:
    ~WaveEncoder() override = default;
    bool IsOutputOpen() const override { return file_.IsOpen(); }
    HRESULT CreateOutput(const std::string& path) override;
    HRESULT WriteHeader();

    RiffFile file_;
    ChunkInfo riff_;
    ChunkInfo data_;
    bool headerWritten_ = false;
};

}  // namespace kiv
