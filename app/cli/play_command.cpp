// ondalo-cli play: plays audio files through the player component.
//
// With standard input on a terminal the keys control the player while a file
// plays; the terminal is in non-canonical, no-echo mode only for that time
// and gets its own settings back on every way out, a fatal signal included.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/commands.h"
#include "app/core/file_conversion.h"
#include "components/player/player_interface.h"
#include "components/player/player_keys.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/com/error_info.h"
#include "platform/msg/message_queue.h"
#include "platform/system/text.h"

namespace kiv {

namespace {

const char kPlayHelp[] =
    "Usage: ondalo-cli play [-q] FILE...\n"
    "\n"
    "Plays each FILE to its end on the default sound output. The decoder is\n"
    "chosen by what the file holds (WAV, MP3, Ogg Vorbis, WMA, FLAC, Opus), or\n"
    "by its extension (.wav, .mp3, .ogg, .oga, .wma, .flac, .opus) when its\n"
    "first bytes say nothing.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet   no position display\n"
    "\n"
    "Keys, when standard input is a terminal:\n"
    "  space         pause / resume\n"
    "  left, right   seek 5 seconds back / forward\n"
    "  up, down      speaker volume up / down\n"
    "  n             stop this file and play the next\n"
    "  q, Escape     stop this file and end\n"
    "\n"
    "With KIV_SOUND=null nothing is played aloud; KIV_SOUND_CAPTURE=FILE.wav\n"
    "then records what would have been heard.\n"
    "\n"
    "A file with no audio that can be decoded counts as failed.\n"
    "\n"
    "Exit status: 0 when every file played to its end or was stopped by a key,\n"
    "1 when any failed, 2 for a usage error.\n";

const char kKeyHint[] = "space pause, \u2190/\u2192 seek 5 s, \u2191/\u2193 volume, n next, q quit\n";

constexpr LONG kSeekStep = 5;
constexpr float kVolumeStep = 0.05f;
// Keys are looked at between waits for player events this long.
constexpr int kKeyWaitMs = 20;

// The settings a fatal signal handler puts back; written before the handlers
// are installed, only read by them.
struct termios g_savedTerminal;

extern "C" void RestoreTerminalAndDie(int sig) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    // End as the signal would have ended the program without us.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// The terminal on standard input in non-canonical, no-echo mode for the
// lifetime of the object; Ctrl-C still interrupts (ISIG stays on).
class KeyboardMode {
public:
    KeyboardMode() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        g_savedTerminal = saved_;
        struct sigaction action {};
        action.sa_handler = RestoreTerminalAndDie;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
            ::sigaction(kFatalSignals[i], &action, &oldActions_[i]);
        struct termios raw = saved_;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
        if (!active_) RestoreHandlers();
    }
    ~KeyboardMode() {
        if (!active_) return;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        RestoreHandlers();
    }
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;

private:
    // The signals that end the program while it waits for keys.
    static constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

    void RestoreHandlers() {
        for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
            ::sigaction(kFatalSignals[i], &oldActions_[i], nullptr);
    }
    struct termios saved_ {};
    struct sigaction oldActions_[std::size(kFatalSignals)] {};
    bool active_ = false;
};

// The bytes waiting on standard input, without blocking; empty when none.
std::string ReadPendingKeys() {
    std::string keys;
    struct pollfd in {STDIN_FILENO, POLLIN, 0};
    while (::poll(&in, 1, 0) > 0 && (in.revents & POLLIN)) {
        char buffer[64];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) break;
        keys.append(buffer, std::size_t(n));
    }
    return keys;
}

std::string Clock(LONG seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", long(seconds / 60), long(seconds % 60));
    return text;
}

std::string Reason(HRESULT hr) { return app::ComponentErrorText(hr); }

enum class PlayEnd { Finished, Next, Quit };

struct PlayOutcome {
    std::string error;  // empty when the file played, or was stopped by a key
    PlayEnd end = PlayEnd::Finished;
};

// One file on one player: its events, the progress line and the keys.
class FilePlayback {
public:
    FilePlayback(const std::string& file, bool showPosition, bool keys)
        : file_(file), showPosition_(showPosition), keys_(keys) {}

    PlayOutcome Run() {
        PlayOutcome outcome;
        ComPtr<IKivAudioPlayer> player;
        HRESULT hr = CoCreateInstance(kClassAudioPlayer.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioPlayer,
                                      player.put_void());
        if (FAILED(hr)) return {"cannot create the player: " + Reason(hr)};
        Bstr name(FromUtf8(file_));
        hr = player->CreateDecoderFor(name.get());
        if (FAILED(hr)) return {"cannot open: " + Reason(hr)};
        player_ = player.get();
        ReadDuration();

        auto sink = DispatchSink::Create(DIID_IKivAudioPlayerEvents, [this](DISPID id, DISPPARAMS& p) {
            switch (id) {
                case DISPID_OnPlayError: error_ = ToUtf8(EventArgText(p, 0)); break;
                case DISPID_OnPlayPosition:
                    // Told once per block of sound handed to the output.
                    heardAudio_ = true;
                    position_ = EventArgLong(p, 0);
                    ShowProgress();
                    break;
                case DISPID_OnPlayFinish: finished_ = true; break;
                default: break;
            }
        });
        EventConnection events;
        events.Connect(player.get(), DIID_IKivAudioPlayerEvents, sink.get());
        // The decoder tells of a damaged or unreadable stream in its own words.
        auto decoderSink = DispatchSink::Create(DIID_IKivAudioDecoderEvents, [this](DISPID id, DISPPARAMS& p) {
            if (id == DISPID_OnError && decoderError_.empty()) decoderError_ = ToUtf8(EventArgText(p, 0));
        });
        EventConnection decoderEvents;
        if (ComPtr<IKivAudioDecoder> decoder; SUCCEEDED(player->get_Decoder(decoder.put())) && decoder)
            decoderEvents.Connect(decoder.get(), DIID_IKivAudioDecoderEvents, decoderSink.get());
        hr = player->Start();
        if (FAILED(hr)) return {"cannot play: " + Reason(hr)};
        if (keys_) {
            KeyboardMode mode;
            while (!finished_) {
                HandleKeys(ReadPendingKeys());
                WaitMessage(kKeyWaitMs);
                PumpPendingMessages();
            }
        } else {
            while (!finished_) {
                MSG m;
                if (!GetMessage(&m, nullptr, 0, 0)) break;
                DispatchMessage(&m);
            }
        }
        if (showPosition_) std::fputs("\r\033[K", stderr);
        // The decoder's words are posted before its stream ends, so they
        // are in by the time the player has finished.
        PumpPendingMessages();
        events.Disconnect();
        decoderEvents.Disconnect();
        outcome.error = error_.empty() ? decoderError_ : error_;
        // A file that ends before its first sample is not a file that played.
        if (outcome.error.empty() && end_ == PlayEnd::Finished && !heardAudio_)
            outcome.error = "the file holds no audio that could be decoded";
        outcome.end = end_;
        return outcome;
    }

private:
    void ReadDuration() {
        ComPtr<IKivAudioDecoder> decoder;
        if (SUCCEEDED(player_->get_Decoder(decoder.put())) && decoder) {
            LONG duration = 0;
            if (SUCCEEDED(decoder->get_Duration(&duration))) duration_ = std::max<LONG>(duration, 0);
        }
    }

    void ShowProgress() {
        if (!showPosition_) return;
        std::string line = Clock(position_);
        if (duration_ > 0) line += " / " + Clock(duration_);
        if (paused_) line += "  Paused";
        if (line == shown_) return;  // positions repeat ten times a second
        shown_ = line;
        std::fprintf(stderr, "\r\033[K%s  %s", line.c_str(), file_.c_str());
        std::fflush(stderr);
    }

    void HandleKeys(std::string_view keys) {
        while (!keys.empty() && !finished_ && end_ == PlayEnd::Finished) {
            DecodedKey k = DecodeKey(keys);
            keys.remove_prefix(k.length);
            Apply(k.key);
        }
    }

    void Apply(PlayerKey key) {
        switch (key) {
            case PlayerKey::PauseResume:
                // Pause toggles; Resume is named for what it does.
                if (paused_ ? player_->Resume() == S_OK : player_->Pause() == S_OK) paused_ = !paused_;
                break;
            case PlayerKey::SeekBack:
            case PlayerKey::SeekForward: {
                LONG step = key == PlayerKey::SeekBack ? -kSeekStep : kSeekStep;
                // A source that does not know its length is not held to 0.
                LONG last = duration_ > 0 ? duration_ : std::numeric_limits<LONG>::max() - kSeekStep;
                LONG target = std::clamp<LONG>(position_ + step, 0, last);
                // The next position event is a block away; a second press
                // before it goes on from this target, not from the old place.
                if (player_->Seek(target) == S_OK) position_ = target;
                break;
            }
            case PlayerKey::VolumeUp:
            case PlayerKey::VolumeDown: {
                float volume = 1.0f;
                player_->get_Volume(&volume);
                player_->put_Volume(volume + (key == PlayerKey::VolumeUp ? kVolumeStep : -kVolumeStep));
                break;
            }
            case PlayerKey::Next:
            case PlayerKey::Quit:
                end_ = key == PlayerKey::Next ? PlayEnd::Next : PlayEnd::Quit;
                // Already stopping on its own: its OnFinish is on the way.
                player_->Stop();
                break;
            case PlayerKey::None: break;
        }
        ShowProgress();
    }

    std::string file_;
    bool showPosition_, keys_;
    IKivAudioPlayer* player_ = nullptr;  // held by Run for the whole playback
    bool finished_ = false, paused_ = false;
    LONG position_ = 0, duration_ = 0;
    bool heardAudio_ = false;
    std::string error_, decoderError_, shown_;
    PlayEnd end_ = PlayEnd::Finished;
};

}  // namespace

int RunPlay(const std::vector<std::string>& args) {
    bool quiet = false;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kPlayHelp, stdout);
            return 0;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a == "--") {
            files.insert(files.end(), args.begin() + long(i) + 1, args.end());
            break;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "ondalo-cli play: unknown option '%s'\n%s", a.c_str(), kPlayHelp);
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fputs("ondalo-cli play: no files given\n\n", stderr);
        std::fputs(kPlayHelp, stderr);
        return 2;
    }
    const bool showPosition = !quiet && ::isatty(STDERR_FILENO);
    const bool keys = ::isatty(STDIN_FILENO);
    if (keys && !quiet) std::fputs(kKeyHint, stderr);
    int failed = 0;
    for (const std::string& file : files) {
        PlayOutcome outcome = FilePlayback(file, showPosition, keys).Run();
        if (!outcome.error.empty()) {
            ++failed;
            std::fprintf(stderr, "%s: failed: %s\n", file.c_str(), outcome.error.c_str());
        } else if (!quiet) {
            std::printf("%s: %s\n", file.c_str(), outcome.end == PlayEnd::Finished ? "played" : "stopped");
            std::fflush(stdout);
        }
        if (outcome.end == PlayEnd::Quit) break;
    }
    return failed ? 1 : 0;
}

}  // namespace kiv
