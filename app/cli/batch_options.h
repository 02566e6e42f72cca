// The options `convert` and `rip` share: what happens to a destination that
// exists, the quality asked of the encoders, what happens at the end, and
// how much is shown.
#pragma once

#include <string>

#include "app/cli/arg_reader.h"
#include "app/core/output_planning.h"

namespace kiv {

// The help of the quality options, a string literal to splice into a
// command's help text.
#define ONDALO_CLI_QUALITY_HELP \
    "Quality (for the formats that offer the mode):\n" \
    "  --cbr KBPS         constant bitrate, 8 to 320 kbit/s (MP3, WMA, Opus)\n" \
    "  --abr KBPS         average bitrate in kbit/s (MP3, Ogg Vorbis, Opus)\n" \
    "  --vbr PERCENT      variable bitrate at a quality from 0 to 100 (MP3, Ogg\n" \
    "                     Vorbis, WMA, Opus); for FLAC the compression level\n" \
    "                     (0 fastest to 100 smallest; default level 5)\n" \
    "  --default-quality  each encoder's own default\n" \
    "                     A value the encoder refuses is logged and the\n" \
    "                     encoder's default is used.\n"

// The help of --replaygain and --no-replaygain, for the same splicing.
#define ONDALO_CLI_REPLAYGAIN_HELP \
    "  --replaygain       measure each new file's loudness and write its ReplayGain\n" \
    "                     track gain and peak (MP3, Ogg Vorbis, WMA, FLAC, Opus;\n" \
    "                     WAV files get none); --no-replaygain: do not\n" \
    "                     (default: Advanced/ReplayGain of Option.ini, else off)\n"

struct BatchChoices {
    app::OutputChoices output;
    bool qualityGiven = false;  // a quality option was on the command line
    bool quiet = false;
};

// Reads the reader's current option when it is one of --exists,
// --overwrite, --cbr, --abr, --vbr, --default-quality, --replaygain,
// --no-replaygain, --open-folder, --beep, --sound and -q/--quiet; false for
// any other option.
bool ReadBatchOption(ArgReader& reader, BatchChoices& choices);

// The destination folder of `command` ("convert", "rip") is there and is a
// folder; else false, after saying which of the two it is not.
bool CheckDestinationFolder(const char* command, const std::string& folder);

// "CBR", "ABR", "VBR".
const char* QualityModeName(app::QualityMode mode);

}  // namespace kiv
