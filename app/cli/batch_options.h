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

// The choices held by a batch's settings (ConversionSettings, RipSettings)
// and back.
template <class Settings>
BatchChoices ChoicesOf(const Settings& s) {
    BatchChoices c;
    c.exists = s.exists;
    c.renameRule = s.renameRule;
    c.quality = s.quality;
    c.cbrValue = s.cbrValue;
    c.abrValue = s.abrValue;
    c.vbrValue = s.vbrValue;
    c.after = s.after;
    return c;
}

template <class Settings>
void ApplyChoices(const BatchChoices& c, Settings& s) {
    s.exists = c.exists;
    s.renameRule = c.renameRule;
    s.quality = c.quality;
    s.cbrValue = c.cbrValue;
    s.abrValue = c.abrValue;
    s.vbrValue = c.vbrValue;
    s.after = c.after;
}

// Reads the reader's current option when it is one of --exists,
// --overwrite, --cbr, --abr, --vbr, --default-quality, --open-folder,
// --beep, --sound and -q/--quiet; false for any other option.
bool ReadBatchOption(ArgReader& reader, BatchChoices& choices);

// "CBR", "ABR", "VBR".
const char* QualityModeName(app::QualityMode mode);

}  // namespace kiv
