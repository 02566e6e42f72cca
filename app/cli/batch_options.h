// The options `convert` and `rip` share: what happens to a destination that
// exists, the quality asked of the encoders, what happens at the end, and
// how much is shown.
#pragma once

#include <string>

#include "app/cli/arg_reader.h"
#include "app/core/settings.h"

namespace kiv {

struct BatchChoices {
    app::ExistsPolicy exists = app::ExistsPolicy::Query;
    std::string renameRule = "%_copy";
    app::QualityMode quality = app::QualityMode::None;
    int cbrValue = 320, abrValue = 320, vbrValue = 100;
    bool qualityGiven = false;  // a quality option was on the command line
    app::Options::PostActions after;
    bool quiet = false;
};

// Reads the reader's current option when it is one of --exists,
// --overwrite, --cbr, --abr, --vbr, --default-quality, --open-folder,
// --beep, --sound and -q/--quiet; false for any other option.
bool ReadBatchOption(ArgReader& reader, BatchChoices& choices);

// "CBR", "ABR", "VBR".
const char* QualityModeName(app::QualityMode mode);

}  // namespace kiv
