// KivAudioConverter: pumps PCM from any decoder into any encoder, on a
// worker thread with events (Go) or on the caller's thread (GoSync).
#pragma once

#include <atomic>
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
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void OnDroppedMessage(UINT msg, WPARAM wp, LPARAM lp) override;

    HRESULT Guards();
    void Worker(ComPtr<IKivAudioDecoder> source, ComPtr<IKivAudioEncoder> destination);
    void Report(std::u16string_view text);
    void PostText(UINT msg, std::u16string_view text);
    void ReportWithInfo(std::u16string_view withInfo, std::u16string_view without);
    std::u16string EncoderError();
    std::u16string DecoderError();
    // Waits up to a second for a codec's OnError text (it arrives only while
    // the client pumps).
    bool WaitForText(bool encoder);

    // Handed from the worker to the client's thread with OnFinish: the
    // codecs' event connections, and whether the worker reported an error.
    struct Ending {
        EventConnection decoderEvents, encoderEvents;
        bool reported = false;
    };

    ComPtr<IKivAudioDecoder> source_;
    ComPtr<IKivAudioEncoder> destination_;
    std::atomic<VARIANT_BOOL> keepTags_{1};
    std::atomic<bool> inProgress_{false};
    std::atomic<bool> cancel_{false};
    bool reported_ = false;  // the worker's own

    std::mutex textLock_;
    std::u16string encoderError_;
    std::u16string decoderError_;
    ComPtr<DispatchSink> encoderSink_;
    ComPtr<DispatchSink> decoderSink_;
};

}  // namespace kiv
