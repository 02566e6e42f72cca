#include "platform/media/handle_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kiv::media {

namespace {

HRESULT LastError() { return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(errno)); }

}  // namespace

static_assert(sizeof(off_t) == 8, "descriptor offsets must be 64-bit");

HRESULT HandleStream::Read(void* buffer, ULONG size, ULONG* read) {
    if (buffer == nullptr && size != 0) return E_POINTER;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (read) *read = 0;
        return LastError();
    }
    if (read) *read = static_cast<ULONG>(n);
    return S_OK;
}

HRESULT HandleStream::Seek(LONGLONG move, DWORD origin, QWORD* newPosition) {
    int whence;
    switch (origin) {
        case STREAM_SEEK_SET: whence = SEEK_SET; break;
        case STREAM_SEEK_CUR: whence = SEEK_CUR; break;
        case STREAM_SEEK_END: whence = SEEK_END; break;
        default: return E_INVALIDARG;
    }
    off_t pos = ::lseek(fd_, static_cast<off_t>(move), whence);
    if (pos < 0) return LastError();
    if (newPosition) *newPosition = static_cast<QWORD>(pos);
    return S_OK;
}

HRESULT HandleStream::Stat(QWORD* size) {
    if (size == nullptr) return E_POINTER;
    struct stat st{};
    if (::fstat(fd_, &st) != 0) return LastError();
    *size = static_cast<QWORD>(st.st_size);
    return S_OK;
}

}  // namespace kiv::media
