// What every decoder shares: the refusals of a decoder with nothing open,
// and the account of damage read over (IKivDecodeReport).
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "components/common/codec_object.h"
#include "components/common/texts.h"
#include "platform/system/text.h"

namespace kiv {

// The log line for damage read over. Time is what the listener misses;
// bytes are added where the decoder can only estimate the time from them.
inline std::string DamageNoteText(double seconds, std::int64_t bytes) {
    char time[48];
    if (seconds < 0.05) std::snprintf(time, sizeof time, "less than 0.1 s");
    else std::snprintf(time, sizeof time, "%.1f s", seconds);
    char line[128];
    if (bytes > 0) {
        const long long kb = (bytes + 1023) / 1024;
        std::snprintf(line, sizeof line, "Source damaged: %lld KB skipped (about %s).", kb, time);
    } else {
        std::snprintf(line, sizeof line, "Source damaged: about %s skipped.", time);
    }
    return line;
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
                  "Error: the stream changes from %d Hz %s to %d Hz %s after %ld s; a change of format "
                  "within a file is not supported.",
                  fromRate, layout(fromChannels).c_str(), toRate, layout(toChannels).c_str(), seconds);
    return FromUtf8(line);
}

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
            if (damaged_) text = DamageNoteText(skippedSeconds_, skippedBytes_);
        }
        *note = SysAllocString(std::u16string_view(FromUtf8(text)));
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
    }
    // From any thread: a stretch of the source was passed over. bytes is
    // given by a decoder that estimates the time from them.
    void NoteDamage(double seconds, std::int64_t bytes = 0) {
        std::lock_guard lock(damageLock_);
        damaged_ = true;
        if (seconds > 0) skippedSeconds_ += seconds;
        if (bytes > 0) skippedBytes_ += bytes;
    }

private:
    std::mutex damageLock_;
    bool damaged_ = false;
    double skippedSeconds_ = 0;
    std::int64_t skippedBytes_ = 0;
};

}  // namespace kiv
