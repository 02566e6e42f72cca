// A block of sample bytes handed between a caller and the writer or reader.
#pragma once

#include <vector>

#include "platform/com/types.h"

namespace kiv::media {

// A buffer of fixed capacity with a used length, as the writer allocates
// it for input PCM and the reader fills it with decoded PCM.
class SampleBuffer {
public:
    explicit SampleBuffer(DWORD maxLength) : bytes_(maxLength), length_(0) {}

    BYTE* GetBuffer() { return bytes_.data(); }
    const BYTE* GetBuffer() const { return bytes_.data(); }
    DWORD GetLength() const { return length_; }
    DWORD GetMaxLength() const { return static_cast<DWORD>(bytes_.size()); }

    // A length beyond the capacity is refused (E_INVALIDARG).
    HRESULT SetLength(DWORD length) {
        if (length > bytes_.size()) return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }

    void GetBufferAndLength(BYTE** buffer, DWORD* length) {
        if (buffer) *buffer = bytes_.data();
        if (length) *length = length_;
    }

private:
    std::vector<BYTE> bytes_;
    DWORD length_;
};

}  // namespace kiv::media
