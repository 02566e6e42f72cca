// ondalo-cli convert: the batch converter on a terminal. Files and folders
// become a task list, the step-2 choices come from "Option.ini" (when the
// desktop program saved them) overridden by the options, and the batch runs
// through the converter component with the desktop program's log.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/arg_reader.h"
#include "app/cli/batch_options.h"
#include "app/cli/commands.h"
#include "app/cli/terminal_view.h"
#include "app/core/conversion_batch.h"
#include "app/core/output_planning.h"
#include "app/core/settings.h"
#include "app/core/task_list.h"
#include "platform/msg/message_queue.h"
#include "platform/system/message_box.h"
#include "platform/system/text.h"

namespace kiv {
namespace fs = std::filesystem;

namespace {

const char kConvertHelp[] =
    "Usage: ondalo-cli convert [OPTIONS] FILE|FOLDER...\n"
    "\n"
    "Converts audio files between WAV, MP3, Ogg Vorbis, WMA, FLAC and Opus.\n"
    "Each FILE is added to the task list; each FOLDER adds its .wav, .wave,\n"
    ".mp3, .wma, .ogg (.oga), .flac and .opus files. The new file takes the\n"
    "source's name with the new format's extension. A file whose format is\n"
    "already the destination's is skipped.\n"
    "\n"
    "Output:\n"
    "  --to FORMAT        wav, mp3, ogg, wma, flac or opus for every file\n"
    "  --as FORMAT FILE   FILE (or FOLDER) alone to FORMAT; other files follow --to\n"
    "  --dest DIR         put the new files into DIR (default: the current folder)\n"
    "  --same-folder      put each new file beside its source\n"
    "  --keep-folders     a file found under a FOLDER goes to the same\n"
    "                     sub-folder of the output folder (created as needed);\n"
    "                     files named on their own go to the output folder\n"
    "  --exists POLICY    when the new file exists already:\n"
    "                       skip       leave it, skip the source\n"
    "                       overwrite  replace it\n"
    "                       ask        ask on the terminal (default; without a\n"
    "                                  terminal the answer is No: skip)\n"
    "                       rename[=RULE]  a new name by RULE, where % stands\n"
    "                                  for the source's name (default %_copy:\n"
    "                                  song.mp3 becomes song_copy.mp3)\n"
    "  --overwrite        the same as --exists overwrite\n"
    "\n"
    ONDALO_CLI_QUALITY_HELP
    "\n"
    "Files:\n"
    "  --recursive        search the sub-folders of each FOLDER too\n"
    "  --no-recursive     only the files directly in each FOLDER\n"
    "                     (without either: ask when a folder has sub-folders,\n"
    "                     or follow the desktop program's query option)\n"
    "  --task FILE.otk    add the files listed in a task file\n"
    "  --save-task FILE.otk  write the task list to a task file, then convert\n"
    "  --no-tags          do not copy the tags of the sources\n"
    "  --delete-source    delete each source after its successful conversion\n"
    ONDALO_CLI_REPLAYGAIN_HELP
    "\n"
    "Running:\n"
    "  --jobs N           convert up to N files at once (default: the number of\n"
    "                     processor cores); each file's log lines stay together\n"
    "  --open-folder      open the destination folder at the end\n"
    "  --beep             sound the terminal bell at the end\n"
    "  --sound FILE       play FILE at the end\n"
    "  -q, --quiet        only failures and the summary; no progress line\n"
    "\n"
    "Defaults: the choices the desktop program remembers in its Option.ini\n"
    "(output folder mode, format, existing-file policy, renaming rule, quality,\n"
    "tags) are used when it saved them; without them the format is MP3 at\n"
    "CBR 320 kbit/s. Options override them for one run and are not saved.\n"
    "Option.ini is looked for in the folder named by ONDALO_CONFIG_DIR, else\n"
    "beside the program when that folder is writable, else in\n"
    "$XDG_CONFIG_HOME/ondalo (~/.config/ondalo).\n"
    "\n"
    "A file is written under a hidden temporary name and moved into place\n"
    "only when its conversion succeeded: a failure or Ctrl-C never leaves a\n"
    "partial file, and a source is deleted only after success. The first\n"
    "Ctrl-C stops after the files in work, a second one cancels them.\n"
    "\n"
    "Exit status: 0 when no file failed (skipped files are not failures), 1\n"
    "when any file failed or nothing was found to convert, 2 for a usage error,\n"
    "130 after Ctrl-C (or SIGTERM, SIGHUP).\n"
    "\n"
    "Examples:\n"
    "  ondalo-cli convert --to mp3 --vbr 60 --dest out/ song.wav live.wma\n"
    "  ondalo-cli convert --to ogg --same-folder --recursive ~/Music\n"
    "  ondalo-cli convert --to wav --exists rename=old_% --jobs 2 *.mp3\n";

// Questions and messages of the folder search, on the terminal.
class TerminalTaskHost : public app::TaskListHost {
public:
    explicit TerminalTaskHost(const InterruptCounter& interrupts) : interrupts_(interrupts) {}
    void Inform(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    bool Ask(const std::string& question, const std::string& caption) override {
        return MessageBox(nullptr, FromUtf8(question), FromUtf8(caption), MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    bool SearchCancelled() override { return interrupts_.count() > 0; }

private:
    const InterruptCounter& interrupts_;
};

struct Input {
    std::string path;
    std::string format;  // --as; empty: the batch's format
};

std::string ProgressLine(const app::ConversionBatch& batch) {
    const app::BatchCore& core = batch.core();
    const app::BatchCounters& c = core.counters();
    const int handled = c.done + c.skipped + c.failed;
    const int percent = batch.LivePercent();
    std::string line = ProgressBar(percent, 24) + " " + std::to_string(percent) + "%  " +
                       std::to_string(handled) + "/" + std::to_string(c.total) + " files  " +
                       app::HoursMinutesSeconds(core.elapsedSeconds()) + " elapsed";
    if (core.totalBar() > 0) line += ", " + app::HoursMinutesSeconds(core.remainingSeconds()) + " left";
    if (core.state() == app::BatchState::Paused) line += "  (pausing)";
    return line;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
    const std::string settingsPath = app::OptionFilePath();
    app::SettingsStore store(settingsPath);
    const app::Options options = store.Load();
    app::Step2Settings step2;
    if (app::RecordsStep2(options.recordSettings, app::Wizard::Conversion))
        step2 = store.LoadStep2(app::Wizard::Conversion, step2);
    // On a command line the application directory's place is the current folder.
    if (step2.folder == app::OutputFolder::Default || step2.folder == app::OutputFolder::None) {
        step2.folder = app::OutputFolder::Custom;
        step2.customDir = ".";
    }
    app::ConversionSettings settings = app::ConversionSettings::From(step2, options);
    settings.deleteSource = false;  // only on request here
    settings.after = {};
    settings.after.playSound = false;
    settings.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    std::vector<Input> inputs;
    std::vector<std::string> taskFiles;
    std::string saveTask;
    app::TaskList::Recursion recursion = app::TaskList::Recursion::Ask;

    BatchChoices choices;
    choices.output = settings;

    ArgReader r("convert", args);
    while (r.ok() && r.Next()) {
        if (ReadBatchOption(r, choices)) {
            continue;
        } else if (!r.option()) {
            inputs.push_back({r.current(), {}});
        } else if (r.Is("-h", "--help")) {
            std::fputs(kConvertHelp, stdout);
            return 0;
        } else if (r.Is("--to")) {
            if (auto v = r.Value()) {
                step2.format = app::FormatFromName(*v);
                step2.mode = app::FormatMode::Normal;
                if (step2.format == app::OutputFormat::None)
                    r.Error("unknown format '" + *v + "' (use wav, mp3, ogg, wma, flac or opus)");
            }
        } else if (r.Is("--as")) {
            auto format = r.Value();
            if (!format) break;
            app::OutputFormat f = app::FormatFromName(*format);
            if (f == app::OutputFormat::None) {
                r.Error("unknown format '" + *format + "' (use wav, mp3, ogg, wma, flac or opus)");
            } else if (!r.Next() || r.option()) {
                r.Error("--as FORMAT needs a file or folder after it");
            } else {
                inputs.push_back({r.current(), app::FormatName(f)});
            }
        } else if (r.Is("--dest")) {
            if (auto v = r.Value()) {
                step2.folder = app::OutputFolder::Custom;
                step2.customDir = *v;
            }
        } else if (r.Is("--same-folder")) {
            step2.folder = app::OutputFolder::Source;
        } else if (r.Is("--keep-folders")) {
            step2.keepFolders = true;
        } else if (r.Is("--recursive")) {
            recursion = app::TaskList::Recursion::Yes;
        } else if (r.Is("--no-recursive")) {
            recursion = app::TaskList::Recursion::No;
        } else if (r.Is("--task")) {
            if (auto v = r.Value()) taskFiles.push_back(*v);
        } else if (r.Is("--save-task")) {
            if (auto v = r.Value()) saveTask = *v;
        } else if (r.Is("--no-tags")) {
            settings.keepTags = false;
        } else if (r.Is("--delete-source")) {
            settings.deleteSource = true;
        } else if (r.Is("--jobs")) {
            if (auto n = r.Number(1, 256)) settings.jobs = int(*n);
        } else {
            r.Unknown();
        }
    }
    if (!r.ok()) return 2;
    static_cast<app::OutputChoices&>(settings) = choices.output;
    settings.createFolders = step2.keepFolders;
    if (inputs.empty() && taskFiles.empty()) {
        std::fputs("ondalo-cli convert: no files given\n\n", stderr);
        std::fputs(kConvertHelp, stderr);
        return 2;
    }
    if (step2.folder == app::OutputFolder::Custom && !CheckDestinationFolder("convert", step2.customDir)) return 2;

    // The task list, in the order given.
    // The first Ctrl-C stops (a search, or the batch after the files in
    // work), the second cancels the files in work, the third ends at once.
    InterruptCounter interrupts(3);
    TerminalTaskHost host(interrupts);
    app::TaskList tasks;
    bool perFile = false;
    int missing = 0;  // named on the command line but not there: a failure too
    for (const std::string& taskFile : taskFiles) {
        std::string error = app::LoadTaskFile(taskFile, tasks, host);
        if (!error.empty()) {
            std::fprintf(stderr, "ondalo-cli convert: %s\n", error.c_str());
            return 1;
        }
    }
    for (const Input& input : inputs) {
        const std::size_t before = tasks.size();
        std::error_code ec;
        if (fs::is_directory(input.path, ec)) {
            tasks.AddFolder(input.path, host, store, recursion);
        } else if (!tasks.AddFile(input.path, host)) {
            std::fprintf(stderr, "ondalo-cli convert: %s: no such file\n", input.path.c_str());
            ++missing;
        }
        if (!input.format.empty()) {
            perFile = true;
            for (std::size_t i = before; i < tasks.size(); ++i) tasks.rows()[i].destinationFormat = input.format;
        }
    }
    if (interrupts.count() > 0) {
        std::fputs("ondalo-cli convert: cancelled\n", stderr);
        return 1;
    }
    if (!saveTask.empty()) {
        std::string error = app::SaveTaskFile(saveTask, tasks);
        if (!error.empty()) {
            std::fprintf(stderr, "ondalo-cli convert: %s\n", error.c_str());
            return 1;
        }
    }
    if (perFile) {
        // Files without --as follow the batch's format.
        const std::string common = app::DestinationFormat(step2, app::TaskRow{});
        for (app::TaskRow& row : tasks.rows())
            if (row.destinationFormat.empty()) row.destinationFormat = common;
        step2.mode = app::FormatMode::Advanced;
    } else {
        step2.mode = app::FormatMode::Normal;
        if (step2.format == app::OutputFormat::None) step2.format = app::OutputFormat::Mp3;
    }

    if (choices.qualityGiven) {
        // Say so once when a mode asked for on the command line does not
        // exist for a format the files go to; those files get the default.
        std::set<std::string> formats;
        for (const app::TaskRow& row : tasks.rows())
            formats.insert(perFile ? row.destinationFormat : app::DestinationFormat(step2, row));
        for (const std::string& f : formats)
            if (f != "WAV" && !app::FormatOffers(f, settings.quality))
                std::fprintf(stderr, "ondalo-cli convert: %s has no %s mode; its files use the format's default quality\n",
                             f.c_str(), QualityModeName(settings.quality));
    }

    TerminalBatchView view(choices.quiet);
    app::SystemPostActions actions;
    app::ConversionBatch batch(view, actions);
    batch.Prepare(app::BuildStatusList(tasks.rows(), step2, app::ApplicationDirectory()),
                  "Ondalo Version " + options.version);
    view.SetProgressText([&batch] { return ProgressLine(batch); });
    if (batch.Start(settings) != app::ConversionBatch::StartResult::Started) return 1;
    const int handledInterrupts = RunUntilFinished(
        view, interrupts, [&batch] { return batch.Finished(); },
        [&batch](int n) {
            if (n == 1) {
                batch.Stop();
                if (!batch.Finished())
                    std::fputs("ondalo-cli convert: finishing the files in work; Ctrl-C again cancels them\n", stderr);
            } else {
                batch.Cancel();
            }
        });
    const app::BatchCounters& c = batch.core().counters();
    if (handledInterrupts > 0) return 130;
    return c.failed > 0 || missing > 0 ? 1 : 0;
}

}  // namespace kiv
