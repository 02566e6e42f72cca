// ondalo-cli convert: converts audio files through the converter component.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/core/file_conversion.h"
#include "app/core/output_planning.h"

namespace kiv {
namespace fs = std::filesystem;

namespace {

const char kConvertHelp[] =
    "Usage: ondalo-cli convert [--to FORMAT] [--dest DIR] [--overwrite]\n"
    "                          [--cbr KBPS | --abr KBPS | --vbr QUALITY] FILE...\n"
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
    "  --cbr KBPS    constant bitrate in kbit/s (MP3, WMA)\n"
    "  --abr KBPS    average bitrate in kbit/s (MP3, Ogg Vorbis)\n"
    "  --vbr QUALITY variable bitrate at a quality from 0 to 1 (MP3, Ogg\n"
    "                Vorbis, WMA); without any of the three each format uses\n"
    "                its default (MP3 and Ogg Vorbis: VBR 0.5)\n"
    "                A mode the format does not offer is reported, and the\n"
    "                format's default is used instead.\n"
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

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
    std::string format = "WAV";
    std::string dest = ".";
    bool overwrite = false, keepTags = true, quiet = false;
    app::OutputMode mode = app::OutputMode::Default;
    double modeValue = 0;
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
        } else if (a == "--cbr" || a == "--abr" || a == "--vbr") {
            const std::string* v = value(a.c_str());
            if (!v) return 2;
            char* end = nullptr;
            double number = std::strtod(v->c_str(), &end);
            if (v->empty() || *end != 0 || !(number >= 0)) {
                std::fprintf(stderr, "ondalo-cli convert: %s needs a number, not '%s'\n", a.c_str(), v->c_str());
                return 2;
            }
            mode = a == "--cbr" ? app::OutputMode::Cbr : a == "--abr" ? app::OutputMode::Abr : app::OutputMode::Vbr;
            modeValue = number;
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
        request.mode = mode;
        request.value = modeValue;
        auto progress = [&](int percent) {
            if (showProgress) std::fprintf(stderr, "\r[%3d%%] %s", percent, file.c_str());
        };
        if (showProgress) progress(0);
        app::ConversionOutcome outcome = app::ConvertFile(request, progress);
        if (showProgress) std::fputs("\r\033[K", stderr);
        switch (outcome.status) {
            case app::ConversionOutcome::Status::Done:
                ++done;
                if (!outcome.warning.empty())
                    std::fprintf(stderr, "%s: the encoder refused the output mode (%s); its default was used\n",
                                 file.c_str(), outcome.warning.c_str());
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


}  // namespace kiv
