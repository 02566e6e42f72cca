// The options dialog's media player: plays a sound file through the
// player component, with the modes stopped, playing and paused.
#pragma once

#include <QObject>
#include <QString>

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
    void Pause();
    void Resume();
    void Stop();
    Mode mode() const { return mode_; }

private:
    ComPtr<IKivAudioPlayer> player_;
    EventConnection events_;
    Mode mode_ = Mode::Stopped;
};

}  // namespace kiv::gui
