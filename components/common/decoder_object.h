// What every decoder shares: the refusals of a decoder with nothing open.
#pragma once

#include "components/common/codec_object.h"
#include "components/common/texts.h"

namespace kiv {

class DecoderObject : public CodecObject<IKivAudioDecoder, kDispAudioDecoder> {
public:
    explicit DecoderObject(const ClassIdentity& identity) : CodecObject(identity, DIID_IKivAudioDecoderEvents) {}

protected:
    ~DecoderObject() override = default;

    void FinalRelease() override {
        Close();
        SetErrorInfo(0, nullptr);
        CodecObject::FinalRelease();
    }

    // Property gets check the out-pointer first, then that a file is open.
    template <class T>
    HRESULT CheckGet(T* out, bool open) {
        if (!out) return E_POINTER;
        return open ? S_OK : ReportError(texts::kDecoderPropertyNotOpen);
    }
};

}  // namespace kiv
