#include "components/wma/wma_decoder.h"

#include <unistd.h>

#include <cerrno>
#include <new>

#include "components/wma/tag_attributes.h"
#include "platform/media/handle_stream.h"
#include "platform/system/system_error.h"

namespace kiv {

using namespace kiv::media;

namespace {

constexpr char16_t kNoAudioStreams[] = u"Cannot open: no audio streams found in file.";
constexpr char16_t kNoDuration[] = u"Cannot detect stream duration. Stream is non-seekable.";
constexpr char16_t kHandleName[] = u"<software handle>";
constexpr char16_t kNoPacketSize[] = u"Cannot open: the file's packet size is 0; the file is damaged.";
constexpr char16_t kNoDecodableAudio[] = u"Cannot read: the file holds no audio that can be decoded; it is damaged.";
constexpr char16_t kCannotReadFile[] = u"Internal error #80. Cannot read file. System error message: %s.";
constexpr std::uint64_t kUnknownDuration = ~std::uint64_t{0};
constexpr std::uint64_t kUnitsPerSecond = 10000000;
constexpr std::size_t kPipeCapacity = 65536;  // a Linux pipe of the default size

HRESULT ErrnoResult(int err) { return err ? HRESULT_FROM_WIN32(static_cast<std::uint32_t>(err)) : E_FAIL; }

}  // namespace

HRESULT WmaDecoder::Open(BSTR szFilename) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    std::string path;
    if (HRESULT hr = FileNameToPath(identity().clsid, szFilename, path); FAILED(hr)) return hr;
    std::unique_ptr<SyncReader> reader;
    if (HRESULT hr = SyncReader::Create(reader); FAILED(hr)) return hr;
    if (HRESULT hr = reader->Open(BstrView(szFilename)); FAILED(hr)) return hr;
    return FinishOpen(std::move(reader), std::u16string(BstrView(szFilename)));
}

HRESULT WmaDecoder::OpenHandle(void* hSource) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    // The descriptor stays the caller's whatever happens here: closing it,
    // even after a failed open, could close a file that has since taken
    // its number.
    const auto fd = static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(hSource));
    if (fd < 0 || fd > INT32_MAX) return E_HANDLE;
    std::unique_ptr<SyncReader> reader;
    if (HRESULT hr = SyncReader::Create(reader); FAILED(hr)) return hr;
    if (HRESULT hr = reader->OpenStream(std::make_unique<HandleStream>(static_cast<int>(fd))); FAILED(hr)) return hr;
    return FinishOpen(std::move(reader), kHandleName);
}

HRESULT WmaDecoder::FinishOpen(std::unique_ptr<SyncReader> reader, std::u16string name) {
    std::unique_ptr<Profile> profile;
    if (HRESULT hr = reader->GetProfile(profile); FAILED(hr)) return hr;
    bool found = false;
    for (DWORD i = 0; i < profile->GetStreamCount(); ++i) {
        std::unique_ptr<StreamConfig> config;
        if (HRESULT hr = profile->GetStream(i, config); FAILED(hr)) return hr;
        if (config->GetStreamType() == WMMEDIATYPE_Audio) {
            audioStream_ = config->GetStreamNumber();  // the last audio stream wins
            found = true;
        }
    }
    if (!found) return ReportError(kNoAudioStreams);
    if (reader->GetPacketSize() == 0) return ReportError(kNoPacketSize);

    WORD stream = 0;
    AttrType type{};
    BYTE bytes[8] = {};
    WORD length = sizeof bytes;
    if (HRESULT hr = reader->GetAttributeByName(&stream, u"Duration", &type, bytes, &length); FAILED(hr)) return hr;
    duration_ = 0;
    for (int i = 7; i >= 0; --i) duration_ = (duration_ << 8) | bytes[i];

    const wma::AttributeLister attributes = wma::ListAttributesOf(*reader);
    SetTags(wma::ReadTagAttributes(attributes));
    SetFields(wma::ReadFieldAttributes(attributes));
    SetPictures(wma::ReadPictureAttributes(attributes));
    ForgetDamage();
    reader_ = std::move(reader);
    fileName_ = std::move(name);
    position_ = 0;
    startThread_ = true;
    fromOpen_ = true;
    return S_OK;
}

HRESULT WmaDecoder::get_Position(LONG* value) {
    if (HRESULT hr = CheckGet(value, reader_ != nullptr); FAILED(hr)) return hr;
    *value = position_;
    return S_OK;
}

HRESULT WmaDecoder::get_Format(WAVEFORMATEX** value) {
    if (HRESULT hr = CheckGet(value, reader_ != nullptr); FAILED(hr)) return hr;
    DWORD output = 0;
    if (HRESULT hr = reader_->GetOutputNumberForStream(audioStream_, &output); FAILED(hr)) return hr;
    std::unique_ptr<MediaProps> props;
    if (HRESULT hr = reader_->GetOutputProps(output, props); FAILED(hr)) return hr;
    WAVEFORMATEX w{};
    if (!props->GetMediaType().GetWaveFormat(w)) return E_FAIL;
    format_ = w;
    *value = &format_;
    return S_OK;
}

HRESULT WmaDecoder::get_Bitrate(LONG* value) {
    if (HRESULT hr = CheckGet(value, reader_ != nullptr); FAILED(hr)) return hr;
    std::unique_ptr<Profile> profile;
    if (FAILED(reader_->GetProfile(profile))) return E_FAIL;
    const StreamConfig* config = profile->FindStream(audioStream_);
    if (!config) return E_FAIL;
    *value = static_cast<LONG>(config->GetBitrate());
    return S_OK;
}

HRESULT WmaDecoder::get_Duration(LONG* value) {
    if (HRESULT hr = CheckGet(value, reader_ != nullptr); FAILED(hr)) return hr;
    if (duration_ == kUnknownDuration) return ReportError(kNoDuration);
    *value = static_cast<LONG>(duration_ / kUnitsPerSecond);
    return S_OK;
}

HRESULT WmaDecoder::get_Filename(BSTR* value) {
    if (HRESULT hr = CheckGet(value, reader_ != nullptr); FAILED(hr)) return hr;
    *value = SysAllocString(std::u16string_view(fileName_));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT WmaDecoder::Seek(LONG position) {
    if (!reader_) return ReportError(texts::kDecoderSeekNotOpen);
    // Seconds count as unsigned, and the product needs all 64 bits: ten
    // minutes are already 6e9 units.
    const std::uint64_t start = std::uint64_t{static_cast<DWORD>(position)} * kUnitsPerSecond;
    // A seek starts clean: the PCM decoded ahead, and the failure or end
    // that the last run met, belong to the old position. The thread ends
    // before the range moves, so none of the new range goes down with its
    // pipe; the next Read starts a new one.
    StopThread();
    fromOpen_ = false;
    return reader_->SetRange(start, 0);
}

HRESULT WmaDecoder::Read(BYTE* data, LONG count, LONG* read) {
    if (!data || !read) return E_POINTER;
    if (!reader_) return ReportError(texts::kDecoderReadNotOpen);
    if (count < 0) return E_INVALIDARG;
    *read = 0;
    if (startThread_ && !pipe_) {
        // A thread that ended on its own is done; collect it before the next.
        if (thread_.joinable()) thread_.join();
        startThread_ = false;
        try {
            // The capacity of a pipe of the system's default size.
            pipe_ = std::make_shared<ByteChannel>(kPipeCapacity);
            thread_ = std::thread(&WmaDecoder::DecodingThread, this, pipe_);
        } catch (const std::system_error& e) {
            pipe_.reset();
            startThread_ = true;
            return ErrnoResult(e.code().value());
        } catch (const std::bad_alloc&) {
            pipe_.reset();
            startThread_ = true;
            return E_OUTOFMEMORY;
        }
    }
    if (!pipe_ || count == 0) return S_OK;
    // Filled whole unless the stream ends: one wake-up per block asked for.
    const std::size_t n = pipe_->Read(data, static_cast<std::size_t>(count));
    if (n == 0) {
        // End of the stream: the next Read after a Seek starts a new thread.
        pipe_.reset();
        return TakeStreamFailure();
    }
    *read = static_cast<LONG>(n);
    return S_OK;
}

void WmaDecoder::DecodingThread(std::shared_ptr<ByteChannel> out) {
    const StreamSelection on{audioStream_, true};
    // Only the first run from the open can tell an empty file: later ones
    // start after the end or at a seek.
    const bool fromOpen = fromOpen_.exchange(false);
    bool delivered = false;
    bool stopped = false;  // Close let go of the pipe
    HRESULT ended = S_OK;
    if (SUCCEEDED(reader_->SetStreamsSelected({&on, 1})) &&
        SUCCEEDED(reader_->SetReadStreamSamples(audioStream_, false))) {
        for (;;) {
            std::unique_ptr<SampleBuffer> sample;
            QWORD time = 0, duration = 0;
            if (ended = reader_->GetNextSample(audioStream_, sample, &time, &duration); FAILED(ended)) break;
            BYTE* bytes = nullptr;
            DWORD length = 0;
            sample->GetBufferAndLength(&bytes, &length);
            if (length && !out->Write(bytes, length)) {
                stopped = true;
                break;
            }
            delivered = delivered || length > 0;
            position_ = static_cast<LONG>(time / kUnitsPerSecond);
        }
    }
    // A source that cannot be read further would pass for a shorter file.
    const auto code = static_cast<std::uint32_t>(ended);
    if (!stopped && (code & 0xFFFF0000u) == 0x80070000u) {
        FailStream(FormatMessageText(kCannotReadFile, SystemErrorText(int(code & 0xFFFFu))));
    } else if (!delivered && !stopped && fromOpen && duration_ != 0) {
        // A file whose every packet is damaged would read as empty and pass
        // for a finished one.
        const std::string complaint = reader_->GetDamage().firstComplaint;
        std::u16string text = kNoDecodableAudio;
        if (!complaint.empty()) text += u" First problem: " + FromUtf8Text(complaint) + u".";
        FailStream(text);
    }
    // The flag goes up before the end of data shows in the pipe: a Read
    // that sees the end and is followed by Seek and Read must find it set.
    startThread_ = true;
    out->CloseWrite();
}

void WmaDecoder::StopThread() {
    // Closing the read end makes a write the thread is blocked in fail, so
    // the thread ends promptly; it is joined without a time limit because
    // the reader it is using is released right after.
    if (pipe_) pipe_->CloseRead();
    pipe_.reset();
    if (thread_.joinable()) thread_.join();
    ForgetStreamFailure();
    startThread_ = true;
}

void WmaDecoder::TakeDamageAccount() {
    const SyncReader::Damage damage = reader_->GetDamage();
    if (damage.damaged) SetDamage(double(damage.skippedTime) / double(kUnitsPerSecond), damage.firstComplaint);
}

HRESULT WmaDecoder::get_DamageNote(BSTR* note) {
    if (reader_) TakeDamageAccount();
    return DecoderObject::get_DamageNote(note);
}

HRESULT WmaDecoder::Close() {
    if (!reader_) return S_OK;
    StopThread();
    TakeDamageAccount();  // the account outlives the reader
    reader_->Close();
    reader_.reset();
    fileName_.clear();
    position_ = 0;
    fromOpen_ = false;
    return S_OK;
}

}  // namespace kiv
