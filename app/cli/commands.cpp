#include "app/cli/commands.h"

namespace kiv {

std::span<const CliCommand> Commands() {
    static const CliCommand commands[] = {
        {"convert", "convert audio files to another format", &RunConvert},
    };
    return commands;
}

}  // namespace kiv
