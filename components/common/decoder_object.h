// What every decoder shares: the refusals of a decoder with nothing open,
// and the account of damage read over (IKivDecodeReport).
#pragma once

#include <fcntl.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "components/common/codec_object.h"
#include "components/common/texts.h"
#include "platform/system/pipe.h"
#include "platform/system/text.h"

namespace kiv {

// The log line for damage read over. Time is what the listener misses;
// where a decoder can only estimate it from the bytes passed over, the
// bytes come first and the time is an upper bound (junk inserted into a
// stream costs no audio at all).
// The detail, when there is one, is the decoding library's own first
// complaint about the data.
inline std::string DamageNoteText(double seconds, std::int64_t bytes, const std::string& detail = {}) {
    char time[48];
    if (seconds < 0.05) std::snprintf(time, sizeof time, "less than 0.1 s");
    else std::snprintf(time, sizeof time, "%.1f s", seconds);
    char line[128];
    if (bytes > 0) {
        const long long kb = (bytes + 1023) / 1024;
        std::snprintf(line, sizeof line, "Source damaged: %lld KB skipped (up to %s of audio).", kb, time);
    } else {
        std::snprintf(line, sizeof line, "Source damaged: about %s skipped.", time);
    }
    std::string text = line;
    if (!detail.empty()) text += " First problem: " + detail + (detail.back() == '.' ? "" : ".");
    return text;
}

// A stream whose format changes part-way cannot go on under the format the
// decoder announced at Open: its rest would play at the wrong speed.
inline std::u16string FormatChangeText(int fromRate, int fromChannels, int toRate, int toChannels, long seconds) {
    auto layout = [](int channels) {
        return channels == 1 ? std::string("mono") : channels == 2 ? std::string("stereo")
                                                                   : std::to_string(channels) + " channels";
    };
    char line[200];
    std::snprintf(line, sizeof line,
                  "The stream changes from %d Hz %s to %d Hz %s after %ld s; a change of format "
                  "within a file is not supported.",
                  fromRate, layout(fromChannels).c_str(), toRate, layout(toChannels).c_str(), seconds);
    return FromUtf8(line);
}

// Where a decoder reads from: a file it opened by name, or a caller's
// descriptor (OpenHandle), which stays the caller's to close.
struct DecoderInput {
    UniqueFd own;  // our own file; empty for a caller's descriptor
    int fd = -1;   // what the library reads
    bool byHandle = false;
    std::u16string fileName;

    // Opens a named file for reading from start to end: S_OK, E_FAIL when
    // it cannot be opened, or the error reported for a name the system
    // cannot take.
    HRESULT OpenNamed(const CLSID& clsid, BSTR name) {
        Reset();
        std::string path;
        if (HRESULT hr = FileNameToPath(clsid, name, path); FAILED(hr)) return hr;
        UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) return E_FAIL;
        ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        own = std::move(file);
        fd = own.get();
        fileName = std::u16string(BstrView(name));
        return S_OK;
    }
    // The handle is the descriptor's number; one that cannot be a
    // descriptor reads as none (the stream's open then fails).
    void TakeHandle(void* handle) {
        Reset();
        const auto number = static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(handle));
        fd = number < 0 || number > INT_MAX ? -1 : int(number);
        byHandle = true;
        fileName = u"<software handle>";
    }
    void Reset() {
        own.reset();
        fd = -1;
        byHandle = false;
        fileName.clear();
    }
};

class DecoderObject : public CodecObject<IKivAudioDecoder, kDispAudioDecoder>, public IKivDecodeReport {
    using Base = CodecObject<IKivAudioDecoder, kDispAudioDecoder>;

public:
    explicit DecoderObject(const ClassIdentity& identity) : Base(identity, DIID_IKivAudioDecoderEvents) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv && riid == IID_IKivDecodeReport) {
            *ppv = static_cast<IKivDecodeReport*>(this);
            AddRef();
            return S_OK;
        }
        return Base::QueryInterface(riid, ppv);
    }
    ULONG AddRef() override { return Base::AddRef(); }
    ULONG Release() override { return Base::Release(); }

    HRESULT get_DamageNote(BSTR* note) override {
        if (!note) return E_POINTER;
        std::string text;
        {
            std::lock_guard lock(damageLock_);
            if (damaged_) text = DamageNoteText(skippedSeconds_, skippedBytes_, detail_);
        }
        *note = SysAllocString(std::u16string_view(FromUtf8Text(text)));
        return *note ? S_OK : E_OUTOFMEMORY;
    }

protected:
    ~DecoderObject() override = default;

    void FinalRelease() override {
        Close();
        SetErrorInfo(0, nullptr);
        Base::FinalRelease();
    }

    // Property gets check the out-pointer first, then that a file is open.
    template <class T>
    HRESULT CheckGet(T* out, bool open) {
        if (!out) return E_POINTER;
        return open ? S_OK : ReportError(texts::kDecoderPropertyNotOpen);
    }

    // A new file starts with a clean account.
    void ForgetDamage() {
        std::lock_guard lock(damageLock_);
        damaged_ = false;
        skippedSeconds_ = 0;
        skippedBytes_ = 0;
        detail_.clear();
    }
    // From any thread: a stretch of the source was passed over. bytes is
    // given by a decoder that estimates the time from them.
    void NoteDamage(double seconds, std::int64_t bytes = 0) {
        std::lock_guard lock(damageLock_);
        damaged_ = true;
        if (seconds > 0) skippedSeconds_ += seconds;
        if (bytes > 0) skippedBytes_ += bytes;
    }
    // For a decoder whose library keeps the whole account since the open.
    void SetDamage(double seconds, std::string detail) {
        std::lock_guard lock(damageLock_);
        damaged_ = true;
        skippedSeconds_ = seconds;
        skippedBytes_ = 0;
        detail_ = std::move(detail);
    }

    // On a decoding thread: the stream ends in a failure. It goes out as
    // OnError, and the Read that meets the end returns it too: a client that
    // reads on without pumping messages would otherwise take the early end
    // for the whole.
    void FailStream(std::u16string_view text) {
        {
            std::lock_guard lock(failureLock_);
            failure_ = text;
        }
        this->PostError(text);
    }
    // For Read at the end of the stream (S_OK when the stream ended well)
    // and for Close (which forgets it).
    HRESULT TakeStreamFailure() {
        std::u16string text;
        {
            std::lock_guard lock(failureLock_);
            text.swap(failure_);
        }
        return text.empty() ? S_OK : ReportError(text);
    }
    void ForgetStreamFailure() {
        std::lock_guard lock(failureLock_);
        failure_.clear();
    }

private:
    std::mutex failureLock_;
    std::u16string failure_;
    std::mutex damageLock_;
    bool damaged_ = false;
    double skippedSeconds_ = 0;
    std::int64_t skippedBytes_ = 0;
    std::string detail_;
};

}  // namespace kiv
