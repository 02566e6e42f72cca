#include "components/converter/audio_converter.h"

#include <chrono>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "components/common/decoder_selection.h"
#include "components/converter/pcm_reduction.h"
#include "platform/system/pipe.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

constexpr char16_t kInProgressProperty[] = u"Error: cannot set property: conversion in progress.";
constexpr char16_t kInProgressMethod[] = u"Error: method mustn't be called when conversion is in progress.";
constexpr char16_t kNoDecoder[] = u"Cannot run conversion: no decoder connected.";
constexpr char16_t kNoEncoder[] = u"Cannot run conversion: no encoder connected.";
constexpr char16_t kNothingToCancel[] = u"Cannot cancel conversion because there's no conversion process running...";
constexpr char16_t kWriteFailed[] = u"Cannot write samples, encoder failed.";
constexpr char16_t kReadFailed[] = u"Cannot read samples, decoder failed.";

constexpr char16_t kOutOfMemory[] = u"Cannot proceed: out of memory.";

constexpr LONG kBufferSize = 65536;

// The seven tags, in their order; results are not looked at.
void CopyTags(IKivAudioDecoder* source, IKivAudioEncoder* destination) {
    ComPtr<IAudioTag> from, to;
    source->get_TagData(from.put());
    destination->get_TagData(to.put());
    if (!from || !to) return;
    using Get = HRESULT (IAudioTag::*)(BSTR*);
    using Put = HRESULT (IAudioTag::*)(BSTR);
    static constexpr std::pair<Get, Put> kFields[] = {
        {&IAudioTag::get_Title, &IAudioTag::put_Title},     {&IAudioTag::get_Artist, &IAudioTag::put_Artist},
        {&IAudioTag::get_Album, &IAudioTag::put_Album},     {&IAudioTag::get_Year, &IAudioTag::put_Year},
        {&IAudioTag::get_Genre, &IAudioTag::put_Genre},     {&IAudioTag::get_TrackNo, &IAudioTag::put_TrackNo},
        {&IAudioTag::get_Comment, &IAudioTag::put_Comment},
    };
    for (auto [get, put] : kFields) {
        Bstr value;
        (from.get()->*get)(value.put());
        (to.get()->*put)(value.get());
    }
}

// The named fields, when both sides carry them. The source's ReplayGain
// values describe its loudness, which a mix-down changes: they are not
// carried then.
void CopyFields(IKivAudioDecoder* source, IKivAudioEncoder* destination, const PcmReduction& reduction) {
    ComPtr<IKivTagFields> from, to;
    source->QueryInterface(IID_IKivTagFields, from.put_void());
    destination->QueryInterface(IID_IKivTagFields, to.put_void());
    if (!from || !to) return;
    to->ClearFields();
    LONG count = 0;
    from->get_FieldCount(&count);
    for (LONG i = 0; i < count; ++i) {
        Bstr name, value;
        if (FAILED(from->GetField(i, name.put(), value.put()))) continue;
        if (reduction.mixesChannels() && BstrView(name.get()).starts_with(u"REPLAYGAIN_")) continue;
        to->SetField(name.get(), value.get());
    }
}

// The pictures, when both sides carry them. A picture too large to carry is
// left out whole (a cut image is worse than none); the text says so for
// the log, and is empty when everything was copied.
std::u16string CopyPictures(IKivAudioDecoder* source, IKivAudioEncoder* destination) {
    ComPtr<IKivTagPictures> from, to;
    source->QueryInterface(IID_IKivTagPictures, from.put_void());
    destination->QueryInterface(IID_IKivTagPictures, to.put_void());
    if (!from || !to) return {};
    to->ClearPictures();
    LONG count = 0;
    from->get_PictureCount(&count);
    int left = 0;
    for (LONG i = 0; i < count; ++i) {
        TagPicture picture;
        if (FAILED(from->GetPicture(i, &picture)) || picture.data.empty()) continue;
        if (picture.data.size() > kMaxTagPictureBytes || FAILED(to->AddPicture(&picture))) ++left;
    }
    if (left == 0) return {};
    return FromUtf8(std::to_string(left) + (left == 1 ? " picture" : " pictures") +
                    " larger than 16 MiB left out of the tags.");
}

// What the client is told once, before any progress: the reduction of the
// samples and the pictures left out, whichever happened.
std::u16string JoinNotices(std::u16string a, const std::u16string& b) {
    if (a.empty()) return b;
    if (!b.empty()) a += u" " + b;
    return a;
}

// A block for the encoder, reduced when the encoder needs it so. A block
// that leaves only part of a frame has nothing to write yet.
HRESULT WriteBlock(IKivAudioEncoder* destination, PcmReduction& reduction, BYTE* data, LONG n) {
    if (!reduction.active()) return destination->Write(data, n);
    std::span<const BYTE> out = reduction.Convert(data, std::size_t(n));
    if (out.empty()) return S_OK;
    return destination->Write(const_cast<BYTE*>(out.data()), LONG(out.size()));
}

}  // namespace

AudioConverter::AudioConverter() : ComponentObject(kClassAudioConverter, DIID_IKivAudioConverterEvents) {}

void AudioConverter::FinalRelease() {
    // A running conversion is cancelled and waited for. Messages sent to this
    // thread meanwhile are handled, so a codec that needs this thread while
    // it finishes cannot hold the worker up.
    if (inProgress_) {
        cancel_ = true;
        while (inProgress_) {
            MSG m;
            PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    // The worker lowers the flag just before it lets go of the lock.
    { std::lock_guard wait(runLock_); }
    ComponentObject::FinalRelease();
    source_.reset();
    destination_.reset();
}

HRESULT AudioConverter::get_Source(IKivAudioDecoder** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (source_) source_->QueryInterface(IID_IKivAudioDecoder, reinterpret_cast<void**>(value));
    return S_OK;
}

HRESULT AudioConverter::put_Source(IKivAudioDecoder* value) {
    if (inProgress_) return ReportError(kInProgressProperty);
    source_ = ComPtr<IKivAudioDecoder>(value);
    return S_OK;
}

HRESULT AudioConverter::get_Destination(IKivAudioEncoder** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (destination_) destination_->QueryInterface(IID_IKivAudioEncoder, reinterpret_cast<void**>(value));
    return S_OK;
}

HRESULT AudioConverter::put_Destination(IKivAudioEncoder* value) {
    if (inProgress_) return ReportError(kInProgressProperty);
    destination_ = ComPtr<IKivAudioEncoder>(value);
    return S_OK;
}

HRESULT AudioConverter::get_KeepTags(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = keepTags_;
    return S_OK;
}

HRESULT AudioConverter::put_KeepTags(VARIANT_BOOL value) {
    if (inProgress_) return ReportError(kInProgressProperty);
    keepTags_ = value;
    return S_OK;
}

HRESULT AudioConverter::Guards() {
    if (!source_) return ReportError(kNoDecoder);
    if (!destination_) return ReportError(kNoEncoder);
    if (inProgress_) return ReportError(kInProgressMethod);
    return S_OK;
}

HRESULT AudioConverter::OpenDestination() {
    if (HRESULT hr = Guards(); FAILED(hr)) return hr;
    Bstr name;
    if (HRESULT hr = source_->get_Filename(name.put()); FAILED(hr)) return hr;
    // Cut at the last dot, wherever it is: a dot in a folder name cuts there
    // when the file name has none.
    std::u16string cut = name.str();
    if (auto dot = cut.rfind(u'.'); dot != std::u16string::npos) cut.resize(dot);
    Bstr target(cut);
    return destination_->Open(target.get());
}

HRESULT AudioConverter::CreateDecoderFor(BSTR szFilename) {
    if (inProgress_) return ReportError(kInProgressMethod);
    source_.reset();
    ComPtr<IKivAudioDecoder> decoder;
    HRESULT hr = kiv::CreateDecoderFor(identity().clsid, szFilename, decoder);
    if (SUCCEEDED(hr)) source_ = std::move(decoder);
    return hr;
}

HRESULT AudioConverter::CancelConversion() {
    if (!inProgress_) return ReportError(kNothingToCancel);
    cancel_ = true;
    return S_OK;
}

HRESULT AudioConverter::Go() {
    std::lock_guard lock(runLock_);
    if (HRESULT hr = Guards(); FAILED(hr)) return hr;
    // Raised here, before the worker exists, so a second Go is refused at once.
    inProgress_ = true;
    cancel_ = false;
    // The worker keeps the module loaded until its very end, which comes
    // after the object may already be gone.
    module_state::Lock(true);
    std::thread(&AudioConverter::Worker, this, source_, destination_).detach();
    return S_OK;
}

void AudioConverter::CodecTexts::Set(bool encoder, std::u16string text) {
    std::lock_guard lock(lock_);
    (encoder ? encoder_ : decoder_) = std::move(text);
}

std::u16string AudioConverter::CodecTexts::Get(bool encoder) {
    std::lock_guard lock(lock_);
    return encoder ? encoder_ : decoder_;
}

bool AudioConverter::CodecTexts::WaitFor(bool encoder) {
    for (int i = 0; i < 10; ++i) {
        if (!Get(encoder).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !Get(encoder).empty();
}

void AudioConverter::Report(Run& run, std::u16string_view text) {
    run.reported = true;
    PostText(WMH_CONV_ERROR, text);
}

void AudioConverter::PostText(UINT msg, std::u16string_view text) {
    BSTR copy = SysAllocString(text);
    if (!PostMessage(helper(), msg, reinterpret_cast<WPARAM>(copy), 0)) SysFreeString(copy);
}

void AudioConverter::ReportWithInfo(Run& run, std::u16string_view withInfo, std::u16string_view without) {
    std::u16string description = TakeErrorDescription();
    if (description.empty()) Report(run, without);
    else Report(run, std::u16string(withInfo) + description);
}

void AudioConverter::Worker(ComPtr<IKivAudioDecoder> source, ComPtr<IKivAudioEncoder> destination) {
    // Go has cleared the cancel flag and raised the in-progress flag before
    // this thread started, so a cancel issued right after Go is not lost.
    PostMessage(helper(), WMH_CONV_START, 0, 0);
    // The codecs write their files (or a caller's pipe) on this thread.
    HoldPipeSignalOnThisThread();
    auto run = std::make_unique<Run>();
    // The sinks only store the codecs' texts, for this run to read.
    auto sinkFor = [texts = run->texts](const IID& events, bool encoder) {
        return DispatchSink::Create(events, [texts, encoder](DISPID id, DISPPARAMS& p) {
            if (id == DISPID_OnError) texts->Set(encoder, EventArgText(p, 0));
        });
    };
    run->decoderEvents.Connect(source.get(), DIID_IKivAudioDecoderEvents,
                               sinkFor(DIID_IKivAudioDecoderEvents, false).get());
    run->encoderEvents.Connect(destination.get(), DIID_IKivAudioEncoderEvents,
                               sinkFor(DIID_IKivAudioEncoderEvents, true).get());
    CodecTexts& texts = *run->texts;
    auto encoderError = [&texts] { return texts.Get(true); };
    auto decoderError = [&texts] { return texts.Get(false); };

    auto convert = [&] {
        WAVEFORMATEX* format = nullptr;
        if (FAILED(source->get_Format(&format)) || !format) {
            ReportWithInfo(*run, u"Cannot proceed: decoder failed: ", u"Cannot proceed: decoder failed.");
            return;
        }
        PcmReduction reduction;
        if (FAILED(reduction.Negotiate(destination.get(), format))) {
            ReportWithInfo(*run, u"Cannot proceed: encoder failed: ", u"Cannot proceed: encoder failed.");
            return;
        }
        std::u16string pictureNotice;
        if (keepTags_ != 0) {
            CopyTags(source.get(), destination.get());
            CopyFields(source.get(), destination.get(), reduction);
            pictureNotice = CopyPictures(source.get(), destination.get());
        }
        const std::u16string notice =
            JoinNotices(reduction.active() ? std::u16string(reduction.Describe()) : std::u16string(), pictureNotice);
        if (!notice.empty()) PostText(WMH_CONV_NOTICE, notice);

        std::vector<BYTE> buffer(kBufferSize);
        LONG n = 0;
        HRESULT readHr = source->Read(buffer.data(), kBufferSize, &n);
        LONG lastPercent = -1;
        while (SUCCEEDED(readHr) && n > 0 && encoderError().empty()) {
            if (!decoderError().empty() || cancel_) break;
            HRESULT writeHr = WriteBlock(destination.get(), reduction, buffer.data(), n);
            if (FAILED(writeHr)) texts.WaitFor(true);
            if (!encoderError().empty()) break;
            if (FAILED(writeHr)) {
                ReportWithInfo(*run, u"Cannot write samples, encoder failed: ", kWriteFailed);
                return;
            }
            LONG duration = 0, position = 0;
            source->get_Duration(&duration);
            source->get_Position(&position);
            // A source shorter than a second has no whole second to count:
            // it reports 0 until it finishes.
            LONG percent = duration > 0 ? static_cast<LONG>(std::int64_t(position) * 100 / duration) : 0;
            if (percent != lastPercent) {
                PostMessage(helper(), WMH_CONV_PROGRESS, static_cast<WPARAM>(percent), 0);
                lastPercent = percent;
            }
            readHr = source->Read(buffer.data(), kBufferSize, &n);
            if (FAILED(readHr)) texts.WaitFor(false);
            if (!decoderError().empty()) break;
            if (FAILED(readHr)) {
                ReportWithInfo(*run, u"Cannot read samples, decoder failed: ", kReadFailed);
                return;
            }
        }
        if (std::u16string e = encoderError(); !e.empty()) {
            Report(*run, FormatMessageText(u"Error: encoder failed: %s", e));
        } else if (std::u16string d = decoderError(); !d.empty()) {
            Report(*run, FormatMessageText(u"Error: decoder failed: %s", d));
        } else if (FAILED(readHr)) {
            SetErrorInfo(0, nullptr);
            Report(*run, kReadFailed);
        } else if (FAILED(source->Close())) {
            ReportWithInfo(*run, u"Decoder error: ", u"Decoder error.");
        } else if (FAILED(destination->Close())) {
            ReportWithInfo(*run, u"Encoder error: ", u"Encoder error.");
        }
    };
    // An exception must not leave this thread: it would end the process and
    // every other file of the client's batch with it.
    try {
        convert();
    } catch (const std::bad_alloc&) {
        Report(*run, kOutOfMemory);
    }

    SetErrorInfo(0, nullptr);
    // A codec's OnError posted before its last call returned is still queued
    // on the client's thread, ahead of OnFinish. The sinks stay connected
    // until the client's thread handles OnFinish, so such a text is seen
    // there whatever the threads' timing (see OnHelperMessage).
    source.reset();
    destination.reset();
    // The flag is lowered and OnFinish posted under the lock that Go takes:
    // a client that starts the next conversion from its OnFinish handler is
    // never refused, and one that starts it as soon as the flag is down gets
    // the next run's events after this OnFinish. Letting go of the lock is
    // the last touch of the object (a releasing client waits for it, then
    // may free the object).
    {
        std::lock_guard lock(runLock_);
        inProgress_ = false;
        if (PostMessage(helper(), WMH_CONV_FINISH, reinterpret_cast<WPARAM>(run.get()), 0)) run.release();
    }
    module_state::Lock(false);
}

HRESULT AudioConverter::GoSync() {
    if (HRESULT hr = Guards(); FAILED(hr)) return hr;
    WAVEFORMATEX* format = nullptr;
    if (HRESULT hr = source_->get_Format(&format); FAILED(hr)) return hr;
    PcmReduction reduction;
    if (HRESULT hr = reduction.Negotiate(destination_.get(), format); FAILED(hr)) return hr;
    if (keepTags_ != 0) {
        CopyTags(source_.get(), destination_.get());
        CopyFields(source_.get(), destination_.get(), reduction);
        CopyPictures(source_.get(), destination_.get());
    }
    std::vector<BYTE> buffer(kBufferSize);
    for (;;) {
        LONG n = 0;
        if (FAILED(source_->Read(buffer.data(), kBufferSize, &n))) return ReportError(kReadFailed);
        if (n <= 0) break;
        if (FAILED(WriteBlock(destination_.get(), reduction, buffer.data(), n))) return ReportError(kWriteFailed);
    }
    if (HRESULT hr = source_->Close(); FAILED(hr)) return hr;
    return destination_->Close();
}

LRESULT AudioConverter::OnHelperMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WMH_CONV_ERROR: {
            Bstr text = Bstr::adopt(reinterpret_cast<BSTR>(wp));
            FireText(DISPID_OnError, text.view());
            return 0;
        }
        case WMH_CONV_NOTICE: {
            Bstr text = Bstr::adopt(reinterpret_cast<BSTR>(wp));
            FireText(DISPID_OnConvNotice, text.view());
            return 0;
        }
        case WMH_CONV_START: Fire(DISPID_OnConvStart); return 0;
        case WMH_CONV_PROGRESS: FireLong(DISPID_OnConvProgress, static_cast<LONG>(wp)); return 0;
        case WMH_CONV_FINISH: {
            std::unique_ptr<Run> run(reinterpret_cast<Run*>(wp));
            if (run && !run->reported) {
                // The worker ended cleanly, but a codec's failure arrived
                // after its last look: the file is not what it seems.
                if (std::u16string e = run->texts->Get(true); !e.empty())
                    FireText(DISPID_OnError, FormatMessageText(u"Error: encoder failed: %s", e));
                else if (std::u16string d = run->texts->Get(false); !d.empty())
                    FireText(DISPID_OnError, FormatMessageText(u"Error: decoder failed: %s", d));
            }
            run.reset();
            Fire(DISPID_OnConvFinish);
            return 0;
        }
        default: return 0;
    }
}

void AudioConverter::OnDroppedMessage(UINT msg, WPARAM wp, LPARAM) {
    if (msg == WMH_CONV_ERROR || msg == WMH_CONV_NOTICE) SysFreeString(reinterpret_cast<BSTR>(wp));
    if (msg == WMH_CONV_FINISH) delete reinterpret_cast<Run*>(wp);
}

}  // namespace kiv
