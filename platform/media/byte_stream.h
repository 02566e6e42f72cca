// A readable, seekable source of bytes that the reader can open instead
// of a named file.
#pragma once

#include "platform/com/types.h"

namespace kiv::media {

// Seek origins, as numbered by the stream interface of the object model.
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

// Positions and sizes are 64-bit throughout: sources of 4 GB and more are
// ordinary.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Reads up to `size` bytes; *read = 0 at the end of the data.
    virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
    // Any origin other than the three above gives E_INVALIDARG.
    virtual HRESULT Seek(LONGLONG move, DWORD origin, QWORD* newPosition) = 0;
    virtual HRESULT Stat(QWORD* size) = 0;
};

}  // namespace kiv::media
