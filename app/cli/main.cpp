// ondalo-cli: the command-line front end of Ondalo.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/core/file_conversion.h"
#include "app/core/output_planning.h"
#include "platform/com/class_registry.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace fs = std::filesystem;
using namespace kiv;

namespace {

const char kMainHelp[] =
    "Usage: ondalo-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Ondalo converts audio files between WAV, MP3, Ogg Vorbis and WMA.\n"
    "\n"
    "Commands:\n"
    "  convert    convert audio files to another format\n"
    "\n"
    "Run 'ondalo-cli COMMAND --help' to learn a command.\n";

const char kConvertHelp[] =
    "Usage: ondalo-cli convert [--to FORMAT] [--dest DIR] [--overwrite] FILE...\n"
    "\n"
    "Converts each FILE to FORMAT. The decoder is chosen by the file's\n"
    "extension (.wav, .mp3, .ogg, .wma); the new file takes the source's name\n"
    "with the new format's extension and keeps its tags.\n"
    "\n"
    "Options:\n"
    "  --to FORMAT   wav (default), mp3, ogg or wma\n"
    "  --dest DIR    where the new files go (default: the current folder)\n"
    "  --overwrite   replace destination files that exist already\n"
    "                (without it, such files are left alone and reported)\n"
    "  --no-tags     do not copy the source's tags\n"
    "  -q, --quiet   no progress display\n"
    "\n"
    "A file is written under a temporary name and moved into place only when\n"
    "its conversion succeeded, so a failure never leaves a partial file.\n"
    "\n"
    "Exit status: 0 when every file was converted or skipped, 1 when any file\n"
    "failed, 2 for a usage error.\n"
    "\n"
    "Example:\n"
    "  ondalo-cli convert --to wav --dest out/ song.wav other.wav\n";

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

int Convert(const std::vector<std::string>& args) {
    std::string format = "WAV";
    std::string dest = ".";
    bool overwrite = false, keepTags = true, quiet = false;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* option) -> const std::string* {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "ondalo-cli convert: %s needs a value\n", option);
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kConvertHelp, stdout);
            return 0;
        } else if (a == "--to") {
            const std::string* v = value("--to");
            if (!v) return 2;
            format = app::NormaliseFormat(*v);
            if (format.empty()) {
                std::fprintf(stderr, "ondalo-cli convert: unknown format '%s' (use wav, mp3, ogg or wma)\n", v->c_str());
                return 2;
            }
        } else if (a == "--dest") {
            const std::string* v = value("--dest");
            if (!v) return 2;
            dest = *v;
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (a == "--no-tags") {
            keepTags = false;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a == "--") {
            files.insert(files.end(), args.begin() + long(i) + 1, args.end());
            break;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "ondalo-cli convert: unknown option '%s'\n%s", a.c_str(), kConvertHelp);
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fputs("ondalo-cli convert: no files given\n\n", stderr);
        std::fputs(kConvertHelp, stderr);
        return 2;
    }
    std::error_code ec;
    if (!fs::is_directory(dest, ec)) {
        std::fprintf(stderr, "ondalo-cli convert: the destination folder '%s' does not exist\n", dest.c_str());
        return 2;
    }

    const bool showProgress = !quiet && ::isatty(STDERR_FILENO);
    int done = 0, skipped = 0, failed = 0;
    for (const std::string& file : files) {
        app::ConversionRequest request;
        request.source = file;
        request.destination =
            app::WithTrailingSlash(dest) + app::DestinationFileName(fs::path(file).filename().string(), format);
        request.overwrite = overwrite;
        request.keepTags = keepTags;
        auto progress = [&](int percent) {
            if (showProgress) std::fprintf(stderr, "\r[%3d%%] %s", percent, file.c_str());
        };
        if (showProgress) progress(0);
        app::ConversionOutcome outcome = app::ConvertFile(request, progress);
        if (showProgress) std::fputs("\r\033[K", stderr);
        switch (outcome.status) {
            case app::ConversionOutcome::Status::Done:
                ++done;
                if (!quiet) std::printf("%s -> %s\n", file.c_str(), request.destination.c_str());
                break;
            case app::ConversionOutcome::Status::Skipped:
                ++skipped;
                std::fprintf(stderr, "%s: skipped: %s\n", file.c_str(), outcome.message.c_str());
                break;
            case app::ConversionOutcome::Status::Failed:
                ++failed;
                std::fprintf(stderr, "%s: failed: %s\n", file.c_str(), outcome.message.c_str());
                break;
        }
    }
    if (!quiet) std::printf("%d converted, %d skipped, %d failed\n", done, skipped, failed);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        std::fputs(kMainHelp, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    CoInitialize(nullptr);
    InstallTerminalQuestions();
    int rc;
    if (command == "convert") {
        rc = Convert(args);
    } else {
        std::fprintf(stderr, "ondalo-cli: unknown command '%s'\n\n%s", command.c_str(), kMainHelp);
        rc = 2;
    }
    CoUninitialize();
    return rc;
}
