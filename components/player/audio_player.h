// KivAudioPlayer: plays what a decoder delivers through the sound engine.
// A player thread reads the decoder block by block and feeds the channel;
// position, progress, errors and the end reach the client through the
// helper window.
//
// Choices of this player where the obvious behaviour would lose data or hang:
// - At the end of the source the queued audio plays out before the channel
//   stops and OnFinish is posted, so the last second of a file is heard.
// - When the sound output or a stream buffer cannot be made, OnError reports
//   it, playback stops (decoder at second 0) and OnFinish follows, instead
//   of the player waiting for room that never comes.
// - A source with a Duration of 0 reports progress 0.
// - Decoder (put) refuses a null decoder, one whose Format fails, and one
//   whose samples the sound output cannot play (not PCM or float, or a
//   rate or channel count beyond it); the attached decoder stays.
// - A source that ends in part of a sample frame plays to its last whole
//   frame and finishes.
// - Releasing a player stops only its own stream; the sound device closes
//   with the last channel and opens again for the next one.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "components/common/component.h"
#include "platform/riff/pcm_layout.h"
#include "components/player/player_interface.h"
#include "components/player/sound_channel.h"
#include "platform/sound/speaker_mixer.h"

namespace kiv {

class AudioPlayer final : public ComponentObject<IKivAudioPlayer, kDispAudioPlayer> {
public:
    enum State : int { kStopped = 0, kPaused = 1, kPlaying = 2, kClosing = 3 };

    AudioPlayer();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<AudioPlayer>(riid, ppv); }

    HRESULT Start() override;
    HRESULT Pause() override;
    HRESULT Resume() override;
    HRESULT Seek(LONG Position) override;
    HRESULT Stop() override;
    HRESULT CreateDecoderFor(BSTR szFilename) override;
    HRESULT get_Decoder(IKivAudioDecoder** value) override;
    HRESULT put_Decoder(IKivAudioDecoder* value) override;
    HRESULT get_Volume(float* value) override;
    HRESULT put_Volume(float value) override;

private:
    ~AudioPlayer() override = default;
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void OnDroppedMessage(UINT msg, WPARAM wp, LPARAM lp) override;

    bool HasDecoder();
    // Takes the decoder and a copy of its format, or refuses it.
    HRESULT Attach(ComPtr<IKivAudioDecoder> decoder);

    void PlayerThread();
    void PlayingTurn();
    void PausedTurn();
    // Ends playback: the channel stopped, the decoder at second 0, OnFinish.
    void Finish();
    void PostError(std::u16string_view text);

    std::recursive_mutex playerLock_;
    ComPtr<IKivAudioDecoder> decoder_;
    PcmLayout layout_;

    std::atomic<int> state_{kStopped};
    std::atomic<bool> pauseRequest_{false};
    std::atomic<bool> stopRequest_{false};
    std::atomic<bool> seekRequest_{false};
    std::atomic<LONG> seekTarget_{0};
    // The source has delivered everything; what is queued still plays.
    bool draining_ = false;

    sound::SpeakerMixer mixer_;
    std::unique_ptr<SoundChannel> channel_;
    std::thread thread_;
};

}  // namespace kiv
