// ondalo-cli play: plays audio files through the player component.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "components/player/player_interface.h"
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
    "chosen by the file's extension (.wav, .mp3, .ogg, .wma).\n"
    "\n"
    "Options:\n"
    "  -q, --quiet   no position display\n"
    "\n"
    "With KIV_SOUND=null nothing is played aloud; KIV_SOUND_CAPTURE=FILE.wav\n"
    "then records what would have been heard.\n"
    "\n"
    "Exit status: 0 when every file played to its end, 1 when any failed,\n"
    "2 for a usage error.\n";

std::string Reason(HRESULT hr) {
    std::u16string description = TakeErrorDescription();
    if (!description.empty()) return ToUtf8(description);
    char code[32];
    std::snprintf(code, sizeof code, "error 0x%08X", unsigned(hr));
    return code;
}

// Plays one file; an empty answer means it played to its end.
std::string PlayFile(const std::string& file, bool showPosition) {
    ComPtr<IKivAudioPlayer> player;
    HRESULT hr = CoCreateInstance(kClassAudioPlayer.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioPlayer, player.put_void());
    if (FAILED(hr)) return "cannot create the player: " + Reason(hr);
    Bstr name(FromUtf8(file));
    hr = player->CreateDecoderFor(name.get());
    if (FAILED(hr)) return "cannot open: " + Reason(hr);

    bool finished = false;
    std::string error;
    auto sink = DispatchSink::Create(DIID_IKivAudioPlayerEvents, [&](DISPID id, DISPPARAMS& p) {
        switch (id) {
            case DISPID_OnPlayError: error = ToUtf8(EventArgText(p, 0)); break;
            case DISPID_OnPlayPosition:
                if (showPosition) std::fprintf(stderr, "\r%4ld s  %s", long(EventArgLong(p, 0)), file.c_str());
                break;
            case DISPID_OnPlayFinish: finished = true; break;
            default: break;
        }
    });
    EventConnection events;
    events.Connect(player.get(), DIID_IKivAudioPlayerEvents, sink.get());
    hr = player->Start();
    if (FAILED(hr)) return "cannot play: " + Reason(hr);
    while (!finished) {
        MSG m;
        if (!GetMessage(&m, nullptr, 0, 0)) break;
        DispatchMessage(&m);
    }
    if (showPosition) std::fputs("\r\033[K", stderr);
    events.Disconnect();
    return error;
}

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
    int failed = 0;
    for (const std::string& file : files) {
        std::string error = PlayFile(file, showPosition);
        if (error.empty()) {
            if (!quiet) std::printf("%s: played\n", file.c_str());
        } else {
            ++failed;
            std::fprintf(stderr, "%s: failed: %s\n", file.c_str(), error.c_str());
        }
    }
    return failed ? 1 : 0;
}

}  // namespace kiv
