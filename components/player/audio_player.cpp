#include "components/player/audio_player.h"

#include <chrono>
#include <vector>

#include "components/common/decoder_selection.h"
#include "platform/riff/pcm_layout.h"
#include "platform/sound/sound_types.h"
#include "platform/com/error_info.h"

namespace kiv {

namespace {

constexpr LONG kBlockBytes = 16384;
constexpr auto kBusyTurn = std::chrono::milliseconds(10);
constexpr auto kIdleTurn = std::chrono::milliseconds(100);

constexpr char16_t kNoDecoderStart[] = u"Cannot play: no decoder attached.";
constexpr char16_t kNoDecoderPause[] = u"Cannot pause: no decoder attached.";
constexpr char16_t kNoDecoderResume[] = u"Cannot resume: no decoder attached.";
constexpr char16_t kNoDecoderSeek[] = u"Cannot seek: no decoder attached.";
constexpr char16_t kSeekWhenStopped[] = u"Cannot seek: only when playing or paused.";
constexpr char16_t kNoDecoderStop[] = u"Cannot stop: no decoder attached.";
constexpr char16_t kNullDecoder[] = u"Cannot attach decoder: no decoder given.";
constexpr char16_t kNoFormat[] = u"Cannot attach decoder: its format is not available.";
constexpr char16_t kUnplayable[] = u"Cannot attach decoder: its sample format cannot be played.";
// The channel counts the sound output takes (7.1 at most).
constexpr WORD kMaxPlayableChannels = 8;
constexpr char16_t kReadFailed[] = u"Cannot read samples decoder failed";
constexpr char16_t kOutputFailed[] = u"Cannot play: the sound output could not be opened.";

}  // namespace

AudioPlayer::AudioPlayer() : ComponentObject(kClassAudioPlayer, DIID_IKivAudioPlayerEvents) {}

HRESULT AudioPlayer::FinalConstruct() {
    if (HRESULT hr = ComponentObject::FinalConstruct(); FAILED(hr)) return hr;
    mixer_ = sound::SpeakerMixer::OpenDefault();
    channel_ = std::make_unique<SoundChannel>(static_cast<sound::WindowHandle>(helper()));
    try {
        thread_ = std::thread([this] { PlayerThread(); });
    } catch (const std::system_error& e) {
        return HRESULT_FROM_WIN32(DWORD(e.code().value()));
    }
    return S_OK;
}

void AudioPlayer::FinalRelease() {
    if (thread_.joinable()) {
        if (state_ != kStopped && state_ != kClosing) {
            stopRequest_ = true;
            while (state_ != kStopped) std::this_thread::sleep_for(kBusyTurn);
        }
        state_ = kClosing;
        // The thread ends at its next turn; a decoder call in progress is
        // waited for rather than left running against a freed object.
        thread_.join();
    }
    channel_.reset();
    {
        std::lock_guard lock(playerLock_);
        decoder_.reset();
    }
    ComponentObject::FinalRelease();
}

bool AudioPlayer::HasDecoder() {
    std::lock_guard lock(playerLock_);
    return decoder_.get() != nullptr;
}

HRESULT AudioPlayer::Start() {
    if (!HasDecoder()) return ReportError(kNoDecoderStart);
    int s = state_;
    if (s == kClosing) return S_FALSE;
    if (s == kPaused) return Resume();
    state_ = kPlaying;
    return S_OK;
}

HRESULT AudioPlayer::Pause() {
    if (!HasDecoder()) return ReportError(kNoDecoderPause);
    int s = state_;
    if (s == kStopped || s == kClosing) return S_FALSE;
    if (s == kPaused) return Resume();
    pauseRequest_ = true;
    return S_OK;
}

HRESULT AudioPlayer::Resume() {
    if (!HasDecoder()) return ReportError(kNoDecoderResume);
    if (state_ != kPaused) return S_FALSE;
    pauseRequest_ = true;
    Fire(DISPID_OnPlayStart);
    return S_OK;
}

HRESULT AudioPlayer::Seek(LONG Position) {
    if (!HasDecoder()) return ReportError(kNoDecoderSeek);
    int s = state_;
    if (s == kStopped || s == kClosing) return ReportError(kSeekWhenStopped);
    seekTarget_ = Position;
    seekRequest_ = true;
    return S_OK;
}

HRESULT AudioPlayer::Stop() {
    if (!HasDecoder()) return ReportError(kNoDecoderStop);
    int s = state_;
    if (s == kStopped || s == kClosing) return S_FALSE;
    stopRequest_ = true;
    return S_OK;
}

HRESULT AudioPlayer::Attach(ComPtr<IKivAudioDecoder> decoder) {
    if (!decoder.get()) return ReportError(kNullDecoder);
    WAVEFORMATEX* format = nullptr;
    // The refused decoder goes before the reason is set: its release must
    // not take the reason with it.
    if (FAILED(decoder->get_Format(&format)) || !format) {
        decoder.reset();
        return ReportError(kNoFormat);
    }
    // Every buffer of the sound output is sized from the rate and frame
    // size: samples it cannot take, or more of them a second than it can
    // play, are refused here rather than sized for (a damaged header can
    // claim any rate). A rate too low for the output costs nothing to try;
    // the output reports it when playback starts.
    const std::optional<PcmLayout> layout = ReadPcmLayout(*format);
    if (!layout || layout->rate > sound::DSBFREQUENCY_MAX || layout->channels > kMaxPlayableChannels) {
        decoder.reset();
        return ReportError(kUnplayable);
    }
    std::lock_guard lock(playerLock_);
    layout_ = *layout;
    decoder_ = std::move(decoder);
    return S_OK;
}

HRESULT AudioPlayer::CreateDecoderFor(BSTR szFilename) {
    std::lock_guard lock(playerLock_);
    ComPtr<IKivAudioDecoder> created;
    HRESULT hr = kiv::CreateDecoderFor(identity().clsid, szFilename, created);
    if (FAILED(hr)) return hr;  // the current decoder stays attached
    return Attach(std::move(created));
}

HRESULT AudioPlayer::get_Decoder(IKivAudioDecoder** value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(playerLock_);
    *value = decoder_.get();
    if (*value) (*value)->AddRef();
    return S_OK;
}

HRESULT AudioPlayer::put_Decoder(IKivAudioDecoder* value) {
    ComPtr<IKivAudioDecoder> decoder;
    if (value) {
        if (HRESULT hr = value->QueryInterface(IID_IKivAudioDecoder, decoder.put_void()); FAILED(hr)) return hr;
    }
    return Attach(std::move(decoder));
}

HRESULT AudioPlayer::get_Volume(float* value) {
    if (!value) return E_POINTER;
    *value = mixer_.Level();
    return S_OK;
}

HRESULT AudioPlayer::put_Volume(float value) { return mixer_.SetLevel(value); }

void AudioPlayer::PostError(std::u16string_view text) {
    BSTR copy = SysAllocString(text);
    if (!PostMessage(helper(), WMH_PLAY_ERROR, reinterpret_cast<WPARAM>(copy), 0)) SysFreeString(copy);
}

void AudioPlayer::Finish() {
    channel_->Stop();
    draining_ = false;
    {
        std::lock_guard lock(playerLock_);
        if (decoder_.get()) decoder_->Seek(0);
    }
    // Requests raised while playback was ending belong to a run that is over.
    pauseRequest_ = false;
    seekRequest_ = false;
    stopRequest_ = false;
    state_ = kStopped;
    PostMessage(helper(), WMH_PLAY_FINISH, 0, 0);
}

void AudioPlayer::PlayerThread() {
    for (;;) {
        switch (state_.load()) {
            case kClosing: return;
            case kStopped: std::this_thread::sleep_for(kIdleTurn); break;
            case kPaused:
                PausedTurn();
                std::this_thread::sleep_for(kBusyTurn);
                break;
            default:
                PlayingTurn();
                std::this_thread::sleep_for(kBusyTurn);
                break;
        }
    }
}

void AudioPlayer::PausedTurn() {
    if (seekRequest_) {
        std::lock_guard lock(playerLock_);
        seekRequest_ = false;
        draining_ = false;
        if (decoder_.get()) decoder_->Seek(seekTarget_);
    }
    if (pauseRequest_.exchange(false)) {
        channel_->FadePause(false);
        state_ = kPlaying;
    }
    if (stopRequest_.exchange(false)) Finish();
}

void AudioPlayer::PlayingTurn() {
    SoundChannel::PumpResult pumped = channel_->Pump();
    if (pumped == SoundChannel::PumpResult::Failure || channel_->OutputFailed()) {
        PostError(kOutputFailed);
        Finish();
        return;
    }
    if (draining_) {
        // The end of the source is heard before the player says it is over.
        if (pumped != SoundChannel::PumpResult::NotDone && channel_->QueuedBytes() == 0) {
            Finish();
            return;
        }
    } else if (pumped != SoundChannel::PumpResult::NotDone) {
        std::vector<BYTE> block(kBlockBytes);
        LONG n = 0;
        HRESULT hr;
        LONG position = 0, duration = 0;
        PcmLayout format;
        {
            std::lock_guard lock(playerLock_);
            if (!decoder_.get()) {
                Finish();
                return;
            }
            hr = decoder_->Read(block.data(), kBlockBytes, &n);
            format = layout_;
        }
        if (FAILED(hr)) {
            std::u16string text = kReadFailed;
            if (std::u16string info = TakeErrorDescription(); !info.empty()) text += u": " + info;
            PostError(text);
            Finish();
            return;
        }
        if (n <= 0) {
            draining_ = true;
            channel_->PlayNow();
        } else {
            channel_->Load(block.data(), std::size_t(n), format.rate, format.channels, format.bits, format.isFloat);
            {
                std::lock_guard lock(playerLock_);
                decoder_->get_Duration(&duration);
                decoder_->get_Position(&position);
            }
            // A source shorter than a second reports no duration; its progress
            // is unknown rather than a division by zero.
            LONG percent = duration > 0 ? LONG(std::int64_t(position) * 100 / duration) : 0;
            PostMessage(helper(), WMH_PLAY_POSITION, WPARAM(position), 0);
            PostMessage(helper(), WMH_PLAY_PROGRESS, WPARAM(percent), 0);
        }
    }
    if (pauseRequest_.exchange(false)) {
        channel_->FadePause(true);
        state_ = kPaused;
    }
    if (stopRequest_.exchange(false)) {
        Finish();
        return;
    }
    if (seekRequest_) {
        std::lock_guard lock(playerLock_);
        seekRequest_ = false;
        draining_ = false;
        channel_->Stop();
        if (decoder_.get()) decoder_->Seek(seekTarget_);
    }
}

LRESULT AudioPlayer::OnHelperMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WMH_PLAY_ERROR: {
            Bstr text = Bstr::adopt(reinterpret_cast<BSTR>(wp));
            FireText(DISPID_OnPlayError, text.view());
            return 0;
        }
        case WMH_PLAY_PROGRESS: FireLong(DISPID_OnPlayProgress, static_cast<LONG>(wp)); return 0;
        case WMH_PLAY_POSITION: FireLong(DISPID_OnPlayPosition, static_cast<LONG>(wp)); return 0;
        case WMH_PLAY_FINISH: Fire(DISPID_OnPlayFinish); return 0;
        default: return 0;
    }
}

void AudioPlayer::OnDroppedMessage(UINT msg, WPARAM wp, LPARAM) {
    if (msg == WMH_PLAY_ERROR) SysFreeString(reinterpret_cast<BSTR>(wp));
}

}  // namespace kiv
