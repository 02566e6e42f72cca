// KivAudioConverter: pumps PCM from any decoder into any encoder, on a
// worker thread with events (Go) or on the caller's thread (GoSync).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "components/common/component.h"

namespace kiv {

class AudioConverter final : public ComponentObject<IKivAudioConverter, kDispAudioConverter> {
public:
    AudioConverter();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<AudioConverter>(riid, ppv); }

    HRESULT get_Source(IKivAudioDecoder** value) override;
    HRESULT put_Source(IKivAudioDecoder* value) override;
    HRESULT get_Destination(IKivAudioEncoder** value) override;
    HRESULT put_Destination(IKivAudioEncoder* value) override;
    HRESULT get_KeepTags(VARIANT_BOOL* value) override;
    HRESULT put_KeepTags(VARIANT_BOOL value) override;
    HRESULT OpenDestination() override;
    HRESULT Go() override;
    HRESULT GoSync() override;
    HRESULT CancelConversion() override;
    HRESULT CreateDecoderFor(BSTR szFilename) override;

private:
    ~AudioConverter() override = default;
    void FinalRelease() override;
    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void OnDroppedMessage(UINT msg, WPARAM wp, LPARAM lp) override;

    // The OnError texts of one run's codecs: stored by its sinks on the
    // client's thread, read by its worker and by its OnFinish.
    class CodecTexts {
    public:
        void Set(bool encoder, std::u16string text);
        std::u16string Get(bool encoder);
        // Waits up to a second for a text (it arrives only while the
        // client pumps).
        bool WaitFor(bool encoder);

    private:
        std::mutex lock_;
        std::u16string encoder_, decoder_;
    };

    // One run of Go, handed from the worker to the client's thread with
    // OnFinish. Each run has its own texts: a codec's OnError fires only
    // while the client pumps, which may be after the next Go, and then
    // counts for the run whose codec raised it, not for the next one.
    struct Run {
        std::shared_ptr<CodecTexts> texts = std::make_shared<CodecTexts>();
        EventConnection decoderEvents, encoderEvents;
        bool reported = false;  // the worker reported an error
    };

    HRESULT Guards();
    void Worker(ComPtr<IKivAudioDecoder> source, ComPtr<IKivAudioEncoder> destination);
    void Report(Run& run, std::u16string_view text);
    void PostText(UINT msg, std::u16string_view text);
    void ReportWithInfo(Run& run, std::u16string_view withInfo, std::u16string_view without);

    ComPtr<IKivAudioDecoder> source_;
    ComPtr<IKivAudioEncoder> destination_;
    std::atomic<VARIANT_BOOL> keepTags_{1};
    std::atomic<bool> inProgress_{false};
    std::atomic<bool> cancel_{false};
    // Held by Go while it starts a run and by a worker while it ends one:
    // a run started right after the last one ended posts its first event
    // after the last one's OnFinish.
    std::mutex runLock_;
};

}  // namespace kiv
