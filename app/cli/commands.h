// The commands of ondalo-cli. Each lives in a file of its own; the table in
// commands.cpp lists them for dispatch and for the help text.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kiv {

struct CliCommand {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);  // exit status
};

std::span<const CliCommand> Commands();

int RunConvert(const std::vector<std::string>& args);
int RunDrives(const std::vector<std::string>& args);
int RunToc(const std::vector<std::string>& args);
int RunCddb(const std::vector<std::string>& args);
int RunRip(const std::vector<std::string>& args);
int RunOffset(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);

}  // namespace kiv
