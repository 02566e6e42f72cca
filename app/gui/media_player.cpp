#include "app/gui/media_player.h"

#include "components/common/identities.h"
#include "components/common/interfaces.h"
#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/system/text.h"

namespace kiv::gui {

bool MediaPlayer::Play(const QString& path) {
    Stop();
    ComPtr<IKivAudioPlayer> player;
    if (FAILED(CoCreateInstance(kClassAudioPlayer.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioPlayer, player.put_void())))
        return false;
    Bstr name(path.toStdU16String());
    if (FAILED(player->CreateDecoderFor(name.get()))) return false;
    return StartPlaying(std::move(player));
}

bool MediaPlayer::PlayWith(const CLSID& decoderClass, const QString& path) {
    Stop();
    ComPtr<IKivAudioPlayer> player;
    if (FAILED(CoCreateInstance(kClassAudioPlayer.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioPlayer, player.put_void())))
        return false;
    ComPtr<IKivAudioDecoder> decoder;
    if (FAILED(CoCreateInstance(decoderClass, nullptr, CLSCTX_ALL, IID_IKivAudioDecoder, decoder.put_void())))
        return false;
    Bstr name(path.toStdU16String());
    if (FAILED(decoder->Open(name.get())) || FAILED(player->put_Decoder(decoder.get()))) return false;
    return StartPlaying(std::move(player));
}

bool MediaPlayer::StartPlaying(ComPtr<IKivAudioPlayer> player) {
    // The player's own end (or failure) stops it; events arrive on this
    // thread through the message pump.
    auto sink = DispatchSink::Create(DIID_IKivAudioPlayerEvents, [this](DISPID id, DISPPARAMS& p) {
        if (id == DISPID_OnPlayProgress && onProgress) onProgress(EventArgLong(p, 0));
        if (id == DISPID_OnPlayFinish || id == DISPID_OnPlayError) {
            mode_ = Mode::Stopped;
            if (id == DISPID_OnPlayFinish && onFinish) onFinish();
        }
    });
    events_.Connect(player.get(), DIID_IKivAudioPlayerEvents, sink.get());
    if (FAILED(player->Start())) {
        events_.Disconnect();
        return false;
    }
    player_ = std::move(player);
    mode_ = Mode::Playing;
    return true;
}

void MediaPlayer::Pause() {
    if (mode_ == Mode::Playing && player_ && SUCCEEDED(player_->Pause())) mode_ = Mode::Paused;
}

void MediaPlayer::Resume() {
    if (mode_ == Mode::Paused && player_ && SUCCEEDED(player_->Resume())) mode_ = Mode::Playing;
}

void MediaPlayer::Stop() {
    if (player_) player_->Stop();
    events_.Disconnect();
    player_.reset();
    mode_ = Mode::Stopped;
}

}  // namespace kiv::gui
