// The options dialog's media player: plays a sound file through the
// player component, with the modes stopped, playing and paused.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "components/player/player_interface.h"
#include "platform/com/connection_point.h"

namespace kiv::gui {

class MediaPlayer {
public:
    enum class Mode { Stopped, Playing, Paused };

    MediaPlayer() = default;
    ~MediaPlayer() { Stop(); }
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Opens the file and starts playing; false when it cannot be played.
    bool Play(const QString& path);
    // The same with a decoder of the given class (the task list's preview
    // picks it by the row's format); false when it cannot be played.
    bool PlayWith(const CLSID& decoderClass, const QString& path);
    void Pause();
    void Resume();
    void Stop();
    Mode mode() const { return mode_; }

    // The player's progress in percent, and its end (after which the mode
    // is Stopped); both arrive on the window thread.
    std::function<void(int)> onProgress;
    std::function<void()> onFinish;

private:
    bool StartPlaying(ComPtr<IKivAudioPlayer> player);

    ComPtr<IKivAudioPlayer> player_;
    EventConnection events_;
    Mode mode_ = Mode::Stopped;
};

}  // namespace kiv::gui
