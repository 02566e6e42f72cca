// A byte stream over a file descriptor that belongs to someone else.
#pragma once

#include "platform/media/byte_stream.h"

namespace kiv::media {

// Reads and seeks through the descriptor with 64-bit offsets; never
// closes it.
class HandleStream final : public ByteStream {
public:
    explicit HandleStream(int fd) : fd_(fd) {}

    HRESULT Read(void* buffer, ULONG size, ULONG* read) override;
    HRESULT Seek(LONGLONG move, DWORD origin, QWORD* newPosition) override;
    HRESULT Stat(QWORD* size) override;

private:
    int fd_;
};

}  // namespace kiv::media
