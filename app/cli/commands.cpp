#include "app/cli/commands.h"

namespace kiv {

std::span<const CliCommand> Commands() {
    static const CliCommand commands[] = {
        {"convert", "convert audio files to another format", &RunConvert},
        {"drives", "list the CD drives", &RunDrives},
        {"toc", "show the tracks of the CD in a drive", &RunToc},
        {"cddb", "look the CD in a drive up in CDDB", &RunCddb},
        {"rip", "extract tracks of a CD into audio files", &RunRip},
        {"offset", "find a drive's read offset with AccurateRip", &RunOffset},
        {"play", "play audio files", &RunPlay},
    };
    return commands;
}

}  // namespace kiv
