// ondalo-cli: the command-line front end of Ondalo.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "platform/com/class_registry.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

using namespace kiv;

namespace {

const char kMainHelp[] =
    "Usage: ondalo-cli COMMAND [OPTIONS] ...\n"
    "  or:  ondalo-cli --help | --version\n"
    "\n"
    "Ondalo converts audio files between WAV, MP3, Ogg Vorbis, WMA, FLAC and\n"
    "Opus.\n"
    "\n"
    "Commands:\n"
    "%s"
    "\n"
    "Run 'ondalo-cli COMMAND --help' to learn a command.\n";

// Questions from the components go to the terminal when there is one; with
// no terminal the safe answer is taken (see the message-box provider).
void InstallTerminalQuestions() {
    if (!::isatty(STDIN_FILENO)) return;
    SetMessageBoxProvider([](HWND, const std::u16string& text, const std::u16string& caption, UINT type) -> int {
        UINT kind = type & MB_TYPEMASK;
        std::fprintf(stderr, "%s: %s", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
        if (kind != MB_YESNO && kind != MB_YESNOCANCEL) {
            std::fputc('\n', stderr);
            return IDOK;
        }
        std::fputs(" [y/N] ", stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) return SafeAnswer(type);
        return (answer == "y" || answer == "Y" || answer == "yes") ? IDYES : SafeAnswer(type);
    });
}


void PrintMainHelp(FILE* out) {
    std::string list;
    for (const CliCommand& c : Commands()) {
        std::string name = c.name;
        name.resize(11, ' ');
        list += "  " + name + c.summary + "\n";
    }
    std::fprintf(out, kMainHelp, list.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        PrintMainHelp(args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::printf("ondalo-cli %s\n", ONDALO_VERSION);
        return 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    CoInitialize(nullptr);
    InstallTerminalQuestions();
    int rc = -1;
    for (const CliCommand& c : Commands()) {
        if (command == c.name) {
            rc = c.run(args);
            break;
        }
    }
    if (rc == -1) {
        std::fprintf(stderr, "ondalo-cli: unknown command '%s'\n\n", command.c_str());
        PrintMainHelp(stderr);
        rc = 2;
    }
    CoUninitialize();
    return rc;
}
