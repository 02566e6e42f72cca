#include "components/wave/wave_decoder.h"

#include <new>

namespace kiv {

HRESULT WaveDecoder::Open(BSTR szFilename) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    std::string path;
    if (HRESULT hr = FileNameToPath(identity().clsid, szFilename, path); FAILED(hr)) return hr;
    try {
        if (FAILED(reader_.Open(path))) return E_FAIL;
    } catch (const std::bad_alloc&) {
        reader_.Close();
        return E_OUTOFMEMORY;
    }
    fileName_ = std::u16string(BstrView(szFilename));
    return S_OK;
}

HRESULT WaveDecoder::get_Position(LONG* value) {
    if (HRESULT hr = CheckGet(value, reader_.IsOpen()); FAILED(hr)) return hr;
    std::int64_t pos = reader_.Position();
    *value = static_cast<LONG>((pos < 0 ? 0 : pos) / reader_.format().nAvgBytesPerSec);
    return S_OK;
}

HRESULT WaveDecoder::get_Format(WAVEFORMATEX** value) {
    if (HRESULT hr = CheckGet(value, reader_.IsOpen()); FAILED(hr)) return hr;
    *value = reader_.formatPtr();
    return S_OK;
}

HRESULT WaveDecoder::get_Bitrate(LONG* value) {
    if (HRESULT hr = CheckGet(value, reader_.IsOpen()); FAILED(hr)) return hr;
    *value = static_cast<LONG>(reader_.format().nAvgBytesPerSec * 8);
    return S_OK;
}

HRESULT WaveDecoder::get_Duration(LONG* value) {
    if (HRESULT hr = CheckGet(value, reader_.IsOpen()); FAILED(hr)) return hr;
    *value = static_cast<LONG>(reader_.dataSize() / reader_.format().nAvgBytesPerSec);
    return S_OK;
}

HRESULT WaveDecoder::get_Filename(BSTR* value) {
    if (HRESULT hr = CheckGet(value, reader_.IsOpen()); FAILED(hr)) return hr;
    *value = SysAllocString(std::u16string_view(fileName_));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT WaveDecoder::Seek(LONG position) {
    if (!reader_.IsOpen()) return ReportError(texts::kDecoderSeekNotOpen);
    // Seconds count as unsigned, as the position does; past the end, reads
    // deliver nothing.
    std::int64_t offset = std::int64_t(static_cast<DWORD>(position)) * reader_.format().nAvgBytesPerSec;
    reader_.SeekData(offset);
    return S_OK;
}

HRESULT WaveDecoder::Read(BYTE* data, LONG count, LONG* read) {
    if (!data || !read) return E_POINTER;
    if (!reader_.IsOpen()) return ReportError(texts::kDecoderReadNotOpen);
    if (count < 0) return E_INVALIDARG;
    long n = reader_.Read(data, static_cast<std::size_t>(count));
    *read = n < 0 ? -1 : static_cast<LONG>(n);
    return S_OK;
}

HRESULT WaveDecoder::Close() {
    reader_.Close();
    fileName_.clear();
    return S_OK;
}

}  // namespace kiv
