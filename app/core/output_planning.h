// Where a converted file goes, in which format, and which encoder writes it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/batch_core.h"
#include "app/core/settings.h"
#include "app/core/task_list.h"
#include "components/common/identities.h"

namespace kiv::app {

// "WAV", "MP3", "WMA", "OGG" from a user's word (any case); empty when unknown.
std::string NormaliseFormat(const std::string& word);

// The source file name without its extension (from its last '.') + "." +
// the format in lower case: Song.Mp3 with WAV gives Song.wav.
std::string DestinationFileName(const std::string& sourceFileName, const std::string& format);

// Both extensions compared in lower case: ".MP3" and ".mp3" are the same
// format, ".wave" and ".wav" are not.
bool SameFormat(const std::string& sourcePath, const std::string& destinationPath);

// The encoder class for a destination, by its extension in lower case:
// ".wav", ".mp3", ".wma", anything else Ogg Vorbis.
const ClassIdentity& EncoderForPath(const std::string& destinationPath);

// The folder text with a trailing '/' added unless it already ends in one;
// an empty text stays empty.
std::string WithTrailingSlash(const std::string& folder);

// One row of the conversion status list.
struct StatusRow {
    RowIcon icon = RowIcon::Ready;
    std::string sourceFile;         // "Source File"
    std::string sourcePath;         // "Source Path": no trailing '/' except the root
    std::string sourceSize;         // "Source Size": "1536KB"
    std::string sourceFormat;       // "Source Format"
    std::string destinationFile;    // "Destination File"
    std::string destinationPath;    // "Destination Path": always ends in '/' (or is empty)
    std::string destinationSize;    // "Destination Size": "Unknown", then "123KB" or "-"
    std::string destinationFormat;  // "Destination Format": empty in advanced mode without a choice
    std::string status;             // "Status": "Ready", "Converting", "Skip", "Failed", "Done"

    std::string SourceFilePath() const;       // folder + '/' + name
    std::string DestinationFilePath() const;  // destinationPath + destinationFile
};

// The sub-folder of a row below the folder the user added (with a trailing
// '/'), "" for a file added on its own or lying in that folder itself.
std::string RelativeSubFolder(const TaskRow& task);

// The destination folder of a task row under the step-2 choice: the
// application directory, the source's folder, or the custom folder (also
// when no choice is selected; an empty custom folder gives an empty folder).
// With "Keep the folder tree", an output folder (not the source's) gets
// the row's relative sub-folder appended.
std::string DestinationFolder(const Step2Settings& step2, const TaskRow& task, const std::string& applicationDirectory);
// The destination format: the normal mode's format (WAV, else MP3, else WMA,
// else OGG), or the row's own in advanced mode (possibly empty).
std::string DestinationFormat(const Step2Settings& step2, const TaskRow& task);

// One status row per task row, in task order, all "Ready".
std::vector<StatusRow> BuildStatusList(const std::vector<TaskRow>& tasks, const Step2Settings& step2,
                                       const std::string& applicationDirectory);

// What a batch does with its outputs, the same for converting and ripping:
// the existing-destination policy, the quality asked of the encoders, and
// the post-actions.
struct OutputChoices {
    ExistsPolicy exists = ExistsPolicy::Query;
    std::string renameRule = "%_copy";
    // Passed to the encoders for the modes their format offers.
    QualityMode quality = QualityMode::None;
    int cbrValue = 320, abrValue = 320, vbrValue = 100;
    Options::PostActions after;
    // Encoders with a place for ReplayGain values measure every file and
    // write its track gain and peak.
    bool replayGain = false;

    // The policy and the quality of a step-2 page.
    void TakeStep2(const Step2Settings& step2);
    // The value of the chosen mode: kbit/s for CBR and ABR, percent for VBR.
    int QualityValue() const;
};

// The output modes a format offers: WAV none; MP3 CBR, ABR, VBR; WMA CBR,
// VBR; OGG ABR, VBR.
bool FormatOffers(const std::string& format, QualityMode mode);

// The quality mode selected after a normal-mode format was chosen: WAV
// clears it; MP3 and WMA fall back to CBR, OGG to ABR, when the mode
// selected is not one the format offers.
QualityMode QualityAfterFormatChoice(OutputFormat format, QualityMode current);
// Choosing a format on the page: normal mode, that format, its quality mode.
void ChooseNormalFormat(Step2Settings& step2, OutputFormat format);

// The formats the advanced-mode chooser offers a file: the three other
// than its source format; any source but WAV, MP3 and WMA ("OGG", "WAVE",
// ...) gets WAV, MP3 and WMA.
std::vector<std::string> ChooserFormats(const std::string& sourceFormat);

// A quality slider of the step-2 page: the thumb runs over 121 positions
// from `low` (160 on the conversion page, 150 on the ripping page). CBR and
// ABR span 96..320 kbit/s, VBR 0..100 percent.
struct QualitySlider {
    int low = 160;
    int high() const { return low + 120; }
    // The value the thumb at `position` writes into the mode's edit.
    int ValueAt(QualityMode mode, int position) const;
    // Where an edited value puts the thumb; none when the value is out of range.
    std::optional<int> PositionOf(QualityMode mode, int value) const;
};

// The renaming rule applied to a file name: prefix + base + suffix + "." +
// format in lower case, where the rule's first '%' splits it into prefix
// and suffix (no '%': the whole rule is the suffix) and base is the name
// without its extension. "new_%" turns a.mp3 into new_a.mp3; "x" into ax.mp3.
std::string RenamedFileName(const std::string& rule, const std::string& currentName, const std::string& format);

// What to do with a destination that exists already.
struct PolicyContext {
    ExistsPolicy policy = ExistsPolicy::Query;
    std::string renameRule = "%_copy";
    std::string format;  // of the destination, for the new name's extension
    // A file is (or will be) at the path.
    std::function<bool(const std::string&)> exists;
    // A timed log line (text begins with a space).
    std::function<void(LogColour, const std::string&)> log;
    // The "Query" question; true for Yes.
    std::function<bool(const std::string&, const std::string&)> ask;
    // Called while waiting for a deleted destination to vanish.
    std::function<void()> processEvents;
    // The conversion batch logs " Destination file exists." each round; the
    // ripping batch does not.
    bool logExists = true;
    // The line logged after a renaming, from the new destination path.
    std::function<std::string(const std::string&)> startLine;
};

struct PolicyOutcome {
    enum class Kind { Write, Skip, Fail } kind = Kind::Write;
    std::string destination;  // the path to write (possibly renamed)
    std::string fileName;     // its file name
    bool replace = false;     // an existing file there is to be replaced
    std::string reason;       // Fail: the error text
};

// Applied while a file exists at the destination: skip, overwrite (delete
// and wait, bounded), ask, or rename by the rule (bounded: a rule that
// gives no new name, or names grown past the file system's limit, skip the
// file with a line saying so). No policy selected: ask the encoder's
// question; No fails the file with "Cancelled by user.".
PolicyOutcome ApplyDestinationPolicy(const PolicyContext& context, const std::string& folder,
                                     const std::string& fileName);

}  // namespace kiv::app
