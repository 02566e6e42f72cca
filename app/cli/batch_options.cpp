#include "app/cli/batch_options.h"

#include <sys/stat.h>

#include <cstdio>

namespace kiv {

bool ReadBatchOption(ArgReader& r, BatchChoices& choices) {
    app::OutputChoices& c = choices.output;
    if (r.Is("--exists")) {
        auto value = r.Value();  // "--exists=rename=RULE" arrives as "rename=RULE"
        if (!value) return true;
        const std::string& v = *value;
        if (v == "skip") {
            c.exists = app::ExistsPolicy::Skip;
        } else if (v == "overwrite") {
            c.exists = app::ExistsPolicy::Overwrite;
        } else if (v == "ask") {
            c.exists = app::ExistsPolicy::Query;
        } else if (v == "rename") {
            c.exists = app::ExistsPolicy::Rename;
        } else if (v.rfind("rename=", 0) == 0 && v.size() > 7) {
            c.exists = app::ExistsPolicy::Rename;
            c.renameRule = v.substr(7);
        } else {
            r.Error("--exists takes skip, overwrite, ask or rename[=RULE], not '" + v + "'");
        }
    } else if (r.Is("--overwrite")) {
        c.exists = app::ExistsPolicy::Overwrite;
    } else if (r.Is("--cbr")) {
        // MP3 goes down to 8 kbit/s (low rates), nothing goes above 320.
        if (auto n = r.Number(8, 320)) c.quality = app::QualityMode::Cbr, c.cbrValue = int(*n), choices.qualityGiven = true;
    } else if (r.Is("--abr")) {
        if (auto n = r.Number(8, 640)) c.quality = app::QualityMode::Abr, c.abrValue = int(*n), choices.qualityGiven = true;
    } else if (r.Is("--vbr")) {
        if (auto n = r.Number(0, 100)) c.quality = app::QualityMode::Vbr, c.vbrValue = int(*n), choices.qualityGiven = true;
    } else if (r.Is("--default-quality")) {
        c.quality = app::QualityMode::None;
        choices.qualityGiven = false;
    } else if (r.Is("--replaygain")) {
        c.replayGain = true;
    } else if (r.Is("--no-replaygain")) {
        c.replayGain = false;
    } else if (r.Is("--open-folder")) {
        c.after.openFolder = true;
    } else if (r.Is("--beep")) {
        c.after.playSound = true;
        c.after.soundDefault = true;
    } else if (r.Is("--sound")) {
        if (auto v = r.Value()) {
            c.after.playSound = true;
            c.after.soundDefault = false;
            c.after.customSound = *v;
        }
    } else if (r.Is("-q", "--quiet")) {
        choices.quiet = true;
    } else {
        return false;
    }
    return true;
}

const char* QualityModeName(app::QualityMode mode) {
    switch (mode) {
        case app::QualityMode::Cbr: return "CBR";
        case app::QualityMode::Abr: return "ABR";
        case app::QualityMode::Vbr: return "VBR";
        case app::QualityMode::None: break;
    }
    return "default";
}

bool CheckDestinationFolder(const char* command, const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) {
        std::fprintf(stderr, "ondalo-cli %s: Path %s is not existent. Please check it out.\n", command, folder.c_str());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "ondalo-cli %s: %s is not a folder: --dest names the folder the new files go into.\n",
                     command, folder.c_str());
        return false;
    }
    return true;
}

}  // namespace kiv
