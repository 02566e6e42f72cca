#include "components/mp3/mp3_decoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "components/mp3/mp3_texts.h"
#include "platform/system/system_error.h"

namespace kiv {
namespace {

constexpr int kPipeSize = 4096;
constexpr std::size_t kAccumulation = 16384;
constexpr std::size_t kFileRead = 512;
// How far before the point where the library gave up a change of format
// may lie: the input it buffers, with room to spare.
constexpr std::int64_t kLookBack = 16384;

HRESULT FromErrno(int err) { return err ? HRESULT_FROM_WIN32(static_cast<std::uint32_t>(err)) : E_FAIL; }

}  // namespace

HRESULT Mp3Decoder::FinalConstruct() {
    if (HRESULT hr = DecoderObject::FinalConstruct(); FAILED(hr)) return hr;
    const mp3::BindStatus status = mp3::BindMpglib(mpglib_);
    if (status == mp3::BindStatus::bound) return S_OK;
    constructionFailed_ = true;
    return ReportError(status == mp3::BindStatus::notLoaded ? mp3::texts::kMpglibNotLoaded
                                                            : mp3::texts::kCannotInitDecoder);
}

void Mp3Decoder::FinalRelease() {
    // A failed creation ends in this release; the creator's caller must
    // still find the reason in the error info.
    ComPtr<IErrorInfo> reason;
    if (constructionFailed_) GetErrorInfo(0, reason.put());
    DecoderObject::FinalRelease();
    if (reason) SetErrorInfo(0, reason.get());
}

HRESULT Mp3Decoder::OpenHandle(void*) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    return E_NOTIMPL;
}

HRESULT Mp3Decoder::Open(BSTR szFilename) {
    if (HRESULT hr = Close(); FAILED(hr)) return hr;
    SetTags(TagRecord{});
    SetFields({});
    SetPictures({});
    std::string path;
    if (HRESULT hr = FileNameToPath(identity().clsid, szFilename, path); FAILED(hr)) return hr;

    mp3::Mp3ScanResult scan = mp3::scanMp3File(path);
    switch (scan.status) {
        case mp3::ScanStatus::ok: break;
        case mp3::ScanStatus::unexpectedEndOfFile: return ReportError(mp3::texts::kUnexpectedEnd);
        case mp3::ScanStatus::streamNotFound: return ReportError(mp3::texts::kStreamNotFound);
        case mp3::ScanStatus::systemError: return FromErrno(scan.systemError);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FromErrno(errno);
    file_.reset(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    info_ = scan.info;
    const WORD channels = static_cast<WORD>(info_.channels);
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = channels;
    format_.nSamplesPerSec = static_cast<DWORD>(info_.sampleRate);
    format_.wBitsPerSample = 16;
    format_.nBlockAlign = static_cast<WORD>(2 * channels);
    format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;
    format_.cbSize = 0;
    SetTags(info_.tags);
    SetFields(info_.fields);
    SetPictures(info_.pictures);

    fileName_ = std::u16string(BstrView(szFilename));
    ForgetDamage();
    filePos_ = info_.firstFrameOffset;
    positionMs_ = 0;
    pendingSeekMs_ = -1;
    stop_ = false;
    startThread_ = true;
    open_ = true;
    return S_OK;
}

HRESULT Mp3Decoder::get_Position(LONG* value) {
    if (HRESULT hr = CheckGet(value, open_); FAILED(hr)) return hr;
    *value = static_cast<LONG>(positionMs_.load() * 0.001);
    return S_OK;
}

HRESULT Mp3Decoder::get_Format(WAVEFORMATEX** value) {
    if (HRESULT hr = CheckGet(value, open_); FAILED(hr)) return hr;
    *value = &format_;
    return S_OK;
}

HRESULT Mp3Decoder::get_Bitrate(LONG* value) {
    if (HRESULT hr = CheckGet(value, open_); FAILED(hr)) return hr;
    *value = info_.bitrate;
    return S_OK;
}

HRESULT Mp3Decoder::get_Duration(LONG* value) {
    if (HRESULT hr = CheckGet(value, open_); FAILED(hr)) return hr;
    *value = static_cast<LONG>(info_.durationSeconds);
    return S_OK;
}

HRESULT Mp3Decoder::get_Filename(BSTR* value) {
    if (HRESULT hr = CheckGet(value, open_); FAILED(hr)) return hr;
    *value = SysAllocString(std::u16string_view(fileName_));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT Mp3Decoder::Seek(LONG position) {
    if (!open_) return ReportError(texts::kDecoderSeekNotOpen);
    // A seek starts clean: the PCM decoded ahead, and the failure or end
    // that the last run met, belong to the old position. The next Read
    // starts a new thread, which takes the target before it decodes. A time
    // before the start means the start.
    StopThread();
    pendingSeekMs_ = std::int64_t(position < 0 ? 0 : position) * 1000;
    return S_OK;
}

void Mp3Decoder::StopThread() {
    // Closing the read end first makes a thread that waits on a full pipe
    // fail its write and end, so the join below never waits for a reader.
    stop_ = true;
    if (pipe_) pipe_->CloseRead();
    pipe_.reset();
    if (thread_.joinable()) thread_.join();
    ForgetStreamFailure();
    startThread_ = true;
    stop_ = false;
}

HRESULT Mp3Decoder::StartThread() {
    startThread_ = false;
    if (thread_.joinable()) thread_.join();  // the last one has closed its side of the pipe: it is ending
    stop_ = false;
    try {
        pipe_ = std::make_shared<ByteChannel>(kPipeSize);
        thread_ = std::thread(&Mp3Decoder::DecodingThread, this, pipe_);
    } catch (const std::system_error& e) {
        pipe_.reset();
        startThread_ = true;
        return FromErrno(e.code().value());
    } catch (const std::bad_alloc&) {
        pipe_.reset();
        startThread_ = true;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT Mp3Decoder::Read(BYTE* data, LONG count, LONG* read) {
    if (!read || !data) return E_POINTER;
    if (!open_) return ReportError(texts::kDecoderReadNotOpen);
    if (count < 0) return E_INVALIDARG;
    *read = 0;
    if (!pipe_) {
        if (!startThread_) return S_OK;
        if (HRESULT hr = StartThread(); FAILED(hr)) return hr;
    }
    if (count == 0) return S_OK;  // a read of 0 bytes would look like the end
    // Filled whole unless the stream ends: one wake-up per block asked for,
    // not one per decoded chunk.
    const std::size_t n = pipe_->Read(data, static_cast<std::size_t>(count));
    if (n == 0) {
        pipe_.reset();  // the end of the stream
        if (HRESULT hr = TakeStreamFailure(); FAILED(hr)) return hr;
    }
    *read = static_cast<LONG>(n);
    return S_OK;
}

HRESULT Mp3Decoder::Close() {
    if (!open_) return S_OK;
    StopThread();
    file_.reset();
    format_ = WAVEFORMATEX{};
    info_ = mp3::Mp3StreamInfo{};
    fileName_.clear();
    open_ = false;
    return S_OK;
}

bool Mp3Decoder::ResyncAfterDamage(int fd) {
    // The library gave up somewhere in what it was fed last; the stream
    // goes on at the next run of its frames, however far the damage goes.
    const std::int64_t lost = filePos_;
    const auto at = mp3::resyncStreamFrame(fd, lost, info_.audioEnd, info_.firstFrame);
    // Frames of another format near the break are a second stream, not
    // damage: going on would skip it, decoding it would mislabel it.
    const std::int64_t lookBack = std::max<std::int64_t>(info_.firstFrameOffset, lost - kLookBack);
    if (const auto other = mp3::findForeignFrameRun(fd, lookBack, at ? *at : info_.audioEnd, info_.firstFrame)) {
        FailStream(FormatChangeText(info_.sampleRate, info_.channels, other->sampleRate, other->channels,
                                   long(positionMs_.load() / 1000)));
        return false;
    }
    // Whatever follows the last frame (an appended tag of another kind, a
    // picture, padding) ends the stream and costs no audio.
    if (!at) return false;
    const std::int64_t skipped = *at - lost;
    const double seconds = info_.bitrate > 0 ? double(skipped) * 8.0 / info_.bitrate : 0.0;
    NoteDamage(seconds, skipped);
    // The position follows the file: the time of what was passed over
    // counts as played.
    positionMs_ = positionMs_.load() + seconds * 1000.0;
    filePos_ = *at;
    return true;
}

void Mp3Decoder::DecodingThread(std::shared_ptr<ByteChannel> out) {
    const int fd = file_.get();
    const std::size_t chunk = std::size_t(info_.channels) * 1152;  // 576 sample frames
    const double chunkMs = 576000.0 / info_.sampleRate;

    mpglib::MPSTR state{};
    bool libraryReady = false;
    bool reset = true;
    int last = mpglib::MP3_ERR;
    bool endOfFile = false;
    std::vector<BYTE> pcm(kAccumulation);
    std::size_t readIndex = 0, writeIndex = 0;
    BYTE input[kFileRead];

    auto restartLibrary = [&]() -> bool {
        if (libraryReady) mpglib_->exit(&state);
        state = mpglib::MPSTR{};
        libraryReady = mpglib_->init(&state) != 0;
        last = mpglib::MP3_ERR;
        reset = false;
        return libraryReady;
    };

    // Whether this run started at the first frame and has not moved since.
    bool fromStart = filePos_ == info_.firstFrameOffset && pendingSeekMs_ < 0;
    bool producedAny = false;
    while (!stop_) {
        if (const std::int64_t target = pendingSeekMs_.exchange(-1); target >= 0) {
            fromStart = false;
            const std::int64_t offset = mp3::seekOffsetForTime(info_, target);
            positionMs_ = double(target);
            const auto at = mp3::findStreamFrame(fd, info_.firstFrameOffset + offset, info_.firstFrame);
            if (!at) break;
            filePos_ = *at;
            readIndex = writeIndex = 0;
            endOfFile = false;
            reset = true;
        }
        if (reset && !restartLibrary()) {
            FailStream(mp3::texts::kCannotInitDecoder);
            break;
        }
        bool readFailed = false;
        while (writeIndex - readIndex < chunk) {
            if (readIndex > 0) {
                std::memmove(pcm.data(), pcm.data() + readIndex, writeIndex - readIndex);
                writeIndex -= readIndex;
                readIndex = 0;
            }
            int done = 0;
            const int space = static_cast<int>(pcm.size() - writeIndex);
            char* into = reinterpret_cast<char*>(pcm.data() + writeIndex);
            int result;
            if (last != mpglib::MP3_OK) {
                if (endOfFile) break;
                // The audio ends where an ID3v1 tag begins; it is no input for the decoder.
                const std::int64_t left = info_.audioEnd - filePos_;
                const std::size_t want = left <= 0 ? 0 : std::size_t(std::min<std::int64_t>(left, kFileRead));
                ssize_t got = want ? ::pread(fd, input, want, filePos_) : 0;
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) {
                    FailStream(FormatMessageText(mp3::texts::kDecoderReadFailed, SystemErrorText(errno)));
                    readFailed = true;
                    break;
                }
                if (got == 0) {
                    endOfFile = true;
                    break;
                }
                filePos_ += got;
                result = mpglib_->decode(&state, input, static_cast<int>(got), into, space, &done);
            } else {
                result = mpglib_->decode(&state, nullptr, 0, into, space, &done);
                // Output without input is all a library may claim; anything
                // else counts as needing more, so the loop cannot spin.
                if (result == mpglib::MP3_OK && done <= 0) result = mpglib::MP3_NEED_MORE;
            }
            if (done > 0) writeIndex += std::size_t(done);
            last = result;
            if (result == mpglib::MP3_ERR) break;
        }
        if (readFailed) break;
        if (last == mpglib::MP3_ERR) {
            if (!ResyncAfterDamage(fd)) break;
            endOfFile = false;
            reset = true;
            continue;
        }
        const std::size_t n = std::min(writeIndex - readIndex, chunk);
        if (n == 0) {
            // A file cut inside its first frames would read as an empty
            // stream and pass for a finished one.
            if (!producedAny && fromStart) FailStream(mp3::texts::kNoCompleteFrame);
            break;
        }
        producedAny = true;
        if (!out->Write(pcm.data() + readIndex, n)) break;  // Close has let go of the read end
        readIndex += n;
        positionMs_ = positionMs_.load() + chunkMs;
    }
    if (libraryReady) mpglib_->exit(&state);
    // Set before the write end closes, so a Read that sees the end already
    // finds the flag for a new start.
    startThread_ = true;
    out->CloseWrite();
}

}  // namespace kiv
