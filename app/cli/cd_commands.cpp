// The CD commands of ondalo-cli: drives, toc, cddb and rip, all through the
// CD extraction control as any host would use it; rip runs the ripping
// batch of the application core with the desktop program's log.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/arg_reader.h"
#include "app/cli/batch_options.h"
#include "app/cli/commands.h"
#include "app/cli/terminal_view.h"
#include "app/core/cddb_lookup.h"
#include "app/core/rip_batch.h"
#include "app/core/rip_plan.h"
#include "app/core/settings.h"
#include "components/cdrip/cdrip_interfaces.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/msg/message_queue.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

constexpr char kDrivesHelp[] =
    "Usage: ondalo-cli drives\n"
    "\n"
    "Lists the CD drives with the number of tracks of the disc in each.\n";

constexpr char kTocHelp[] =
    "Usage: ondalo-cli toc [--drive N]\n"
    "\n"
    "Shows the tracks of the disc in drive N (default 1): start frame,\n"
    "length (minutes:seconds.frames), size in bytes of the audio, type,\n"
    "and the freedb disc id.\n";

constexpr char kCddbHelp[] =
    "Usage: ondalo-cli cddb [--drive N]\n"
    "\n"
    "Looks the disc in drive N (default 1) up in CDDB and shows the records\n"
    "found and the track titles of the first. The server is set by\n"
    "ONDALO_CDDB_SERVER, ONDALO_CDDB_PORT, ONDALO_CDDB_PATH, ONDALO_CDDB_EMAIL;\n"
    "http_proxy is honoured.\n";

struct DriveOptions {
    LONG drive = 1;
    bool help = false;
    bool ok = true;
};

// Reads "--drive N" and "--help"; anything else is left in `rest`.
DriveOptions ReadDriveOption(const std::vector<std::string>& args, std::vector<std::string>& rest,
                             const char* command) {
    DriveOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") {
            o.help = true;
        } else if (args[i] == "--drive") {
            if (i + 1 >= args.size() || std::atol(args[i + 1].c_str()) < 1) {
                std::fprintf(stderr, "ondalo-cli %s: --drive needs a drive number from 1\n", command);
                o.ok = false;
                return o;
            }
            o.drive = std::atol(args[++i].c_str());
        } else {
            rest.push_back(args[i]);
        }
    }
    return o;
}

std::string ErrorText(HRESULT hr) {
    std::u16string description = TakeErrorDescription();
    if (!description.empty()) return ToUtf8(description);
    char text[32];
    std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(hr));
    return text;
}

ComPtr<IKivCDRipper> OpenRipper(const char* command) {
    ComPtr<IKivCDRipper> ripper;
    const HRESULT hr = CoCreateInstance(kClassCdRipper.clsid, nullptr, CLSCTX_ALL, IID_IKivCDRipper, ripper.put_void());
    if (FAILED(hr)) {
        std::fprintf(stderr, "ondalo-cli %s: no CD drive can be used (%s)\n", command, ErrorText(hr).c_str());
        ripper.reset();
    }
    return ripper;
}

ComPtr<IDrive> OpenDrive(IKivCDRipper* ripper, LONG number, const char* command) {
    LONG count = 0;
    ripper->GetDriveNumber(&count);
    ComPtr<IDrive> drive;
    if (number > count || FAILED(ripper->GetDrive(number, drive.put()))) {
        std::fprintf(stderr, "ondalo-cli %s: there is no drive %ld (drives: %ld)\n", command, long(number), long(count));
        drive.reset();
    }
    return drive;
}

std::vector<ComPtr<ITrack>> TracksOf(IDrive* drive) {
    std::vector<ComPtr<ITrack>> tracks;
    LONG count = 0;
    drive->GetTrackNumber(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ITrack> track;
        if (SUCCEEDED(drive->GetTrack(i, track.put()))) tracks.push_back(track);
    }
    return tracks;
}

std::string Length(LONG bytes) {
    const long frames = bytes / 2352;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%02ld", frames / 4500, frames / 75 % 60, frames % 75);
    return text;
}

std::string DriveName(IDrive* drive) {
    Bstr name;
    drive->get_Name(name.put());
    return ToUtf8(name.view());
}

bool LoadRecords(IDrive* drive, const char* command) {
    const HRESULT hr = drive->LoadCDDBData();
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "ondalo-cli %s: CDDB: %s\n", command, ErrorText(hr).c_str());
    return false;
}

std::string TrackTitle(ITrack* track, const std::u16string& pattern) {
    Bstr in(pattern), out;
    if (FAILED(track->GenerateFilename(in.get(), out.put()))) {
        TakeErrorDescription();
        return {};
    }
    return ToUtf8(out.view());
}

}  // namespace

int RunDrives(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    if (!args.empty()) {
        std::fputs(kDrivesHelp, args[0] == "--help" || args[0] == "-h" ? stdout : stderr);
        return args[0] == "--help" || args[0] == "-h" ? 0 : 2;
    }
    ComPtr<IKivCDRipper> ripper = OpenRipper("drives");
    if (!ripper) return 1;
    LONG count = 0;
    ripper->GetDriveNumber(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<IDrive> drive;
        if (FAILED(ripper->GetDrive(i, drive.put()))) continue;
        LONG tracks = 0;
        drive->GetTrackNumber(&tracks);
        VARIANT_BOOL audio = 0;
        drive->HasAudioCD(&audio);
        std::string disc = tracks == 0 ? "no disc" : std::to_string(tracks) + (tracks == 1 ? " track" : " tracks");
        if (tracks > 0 && !audio) disc += ", no audio";
        std::printf("%ld: %s (%s)\n", long(i), DriveName(drive.get()).c_str(), disc.c_str());
    }
    return 0;
}

int RunToc(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    const DriveOptions o = ReadDriveOption(args, rest, "toc");
    if (o.help) {
        std::fputs(kTocHelp, stdout);
        return 0;
    }
    if (!o.ok || !rest.empty()) {
        std::fputs(kTocHelp, stderr);
        return 2;
    }
    ComPtr<IKivCDRipper> ripper = OpenRipper("toc");
    if (!ripper) return 1;
    ComPtr<IDrive> drive = OpenDrive(ripper.get(), o.drive, "toc");
    if (!drive) return 1;
    const auto tracks = TracksOf(drive.get());
    std::printf("Drive %ld: %s\n", long(o.drive), DriveName(drive.get()).c_str());
    if (tracks.empty()) {
        std::printf("No disc.\n");
        return 0;
    }
    std::printf("Track   Start   Length       Size  Type\n");
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        LONG start = 0, size = 0;
        VARIANT_BOOL audio = 0;
        tracks[i]->get_StartFrame(&start);
        tracks[i]->get_Size(&size);
        tracks[i]->get_IsAudio(&audio);
        std::printf("%5zu %7ld %8s %10ld  %s\n", i + 1, long(start), Length(size).c_str(), long(size),
                    audio ? "audio" : "data");
    }
    Bstr id;
    drive->get_DiscId(id.put());
    std::printf("Disc id: %s\n", ToUtf8(id.view()).c_str());
    return 0;
}

int RunCddb(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    const DriveOptions o = ReadDriveOption(args, rest, "cddb");
    if (o.help) {
        std::fputs(kCddbHelp, stdout);
        return 0;
    }
    if (!o.ok || !rest.empty()) {
        std::fputs(kCddbHelp, stderr);
        return 2;
    }
    ComPtr<IKivCDRipper> ripper = OpenRipper("cddb");
    if (!ripper) return 1;
    ComPtr<IDrive> drive = OpenDrive(ripper.get(), o.drive, "cddb");
    if (!drive) return 1;
    if (!LoadRecords(drive.get(), "cddb")) return 1;
    LONG count = 0;
    drive->GetCDDBRecordNumber(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ICDDBRecord> record;
        if (FAILED(drive->GetCDDBRecord(i, record.put()))) continue;
        Bstr description;
        record->get_Description(description.put());
        std::printf("Record %ld: %s\n", long(i), ToUtf8(description.view()).c_str());
    }
    const auto tracks = TracksOf(drive.get());
    for (std::size_t i = 0; i < tracks.size() && count > 0; ++i)
        std::printf("%5zu  %s\n", i + 1, TrackTitle(tracks[i].get(), u"%2").c_str());
    return 0;
}

namespace {

const char kRipHelp[] =
    "Usage: ondalo-cli rip [OPTIONS]\n"
    "\n"
    "Extracts tracks of the audio CD in a drive into audio files, one after\n"
    "another, each straight into the chosen encoder. Tracks are named from\n"
    "the disc's CDDB record (looked up on the CDDB server) or, without one,\n"
    "\"Track 01\", \"Track 02\"... The log shows every step; the summary line\n"
    "counts the tracks done, skipped and failed.\n"
    "\n"
    "Tracks and drive:\n"
    "  --drive N          the drive (default 1; see ondalo-cli drives)\n"
    "  --tracks LIST      track numbers such as 1,3-5 (default: every audio track)\n"
    "  --jitter           jitter correction (slower; for drives that need it)\n"
    "  --no-cddb          no CDDB lookup: \"Track NN\" names and no tags\n"
    "  --no-tags          no tags in the files (names still come from CDDB)\n"
    "\n"
    "Output:\n"
    "  --to FORMAT        wav, mp3, ogg or wma\n"
    "  --dest DIR         put the files into DIR (default: the current folder)\n"
    "  --template TEMPLATE  file names from the CDDB record (default \"%2\"):\n"
    "                     %1 artist, %2 title, %3 album, %4 year, %5 genre,\n"
    "                     %6 track number (01), %7 disc id, %% a percent sign.\n"
    "                     A '/' of the template makes a folder (\"%1/%3/%6 %2\");\n"
    "                     a '/' inside a record's value never does.\n"
    "  --exists POLICY    when the file exists already:\n"
    "                       skip       leave it, skip the track\n"
    "                       overwrite  replace it\n"
    "                       ask        ask on the terminal (default; without a\n"
    "                                  terminal the answer is No: skip)\n"
    "                       rename[=RULE]  a new name by RULE, where % stands\n"
    "                                  for the track's name (default %_copy:\n"
    "                                  Intro.mp3 becomes Intro_copy.mp3)\n"
    "  --overwrite        the same as --exists overwrite\n"
    "\n"
    ONDALO_CLI_QUALITY_HELP
    "\n"
    "At the end:\n"
    "  --eject            eject the disc\n"
    "  --open-folder      open the destination folder\n"
    "  --beep             sound the terminal bell\n"
    "  --sound FILE       play FILE\n"
    "  -q, --quiet        only failures and the summary; no progress line\n"
    "\n"
    "Defaults: the choices the desktop program remembers in its Option.ini\n"
    "(section RipperStep2: output folder, format, existing-file policy,\n"
    "renaming rule, quality; section Rip: WriteInformation for tags,\n"
    "AutoLoadCDDB for the lookup) are used when it saved them; without them\n"
    "the format is WAV into the current folder. Options override them for one\n"
    "run and are not saved. The CDDB server is set by ONDALO_CDDB_SERVER,\n"
    "ONDALO_CDDB_PORT, ONDALO_CDDB_PATH, ONDALO_CDDB_EMAIL; http_proxy is honoured.\n"
    "\n"
    "A track is written under a hidden temporary name and moved into place only\n"
    "when it was read without an error: a failed or cancelled track never leaves\n"
    "a partial file. Ctrl-C cancels the track in work and ends the batch; a\n"
    "second Ctrl-C ends at once.\n"
    "\n"
    "Exit status: 0 when no track failed (skipped tracks are not failures), 1\n"
    "when any failed, 2 for a usage error, 130 after Ctrl-C.\n"
    "\n"
    "Examples:\n"
    "  ondalo-cli rip --to mp3 --vbr 60 --dest ~/Music\n"
    "  ondalo-cli rip --to ogg --tracks 1,3-5 --template '%1/%3/%6 %2' --eject\n"
    "  ondalo-cli rip --to wav --no-cddb --exists rename\n";

// The wizard's lookup on its worker thread, with the lines its status bar
// shows. Nothing is written yet, so a Ctrl-C meanwhile ends at once.
void LookUpRecords(IDrive* drive, bool quiet) {
    if (!quiet) std::printf("%s\n", app::CddbLookup::kLoadingText);
    std::fflush(stdout);
    app::CddbLookup lookup;
    app::CddbLookupResult outcome;
    lookup.Start(drive, [&outcome](const app::CddbLookupResult& r) { outcome = r; });
    InterruptCounter interrupts(1);
    while (lookup.running()) {
        WaitMessage(100);
        PumpPendingMessages();
    }
    const app::CddbReport report = app::CddbLookup::Judge(outcome, false, true, false, {});
    if (!outcome.ok) {
        std::printf("%s\n", report.status.c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "ondalo-cli rip: CDDB: %s\n", outcome.error.c_str());
        return;
    }
    if (!quiet) {
        const app::CdInformation& cd = report.information;
        std::printf("%s\nArtist: %s\nAlbum: %s\nYear: %s\nGenre: %s\n", report.status.c_str(), cd.artist.c_str(),
                    cd.album.c_str(), cd.year.c_str(), cd.genre.c_str());
    }
}

std::string RipProgressLine(const app::RipBatch& batch) {
    const app::BatchCore& core = batch.core();
    const app::BatchCounters& c = core.counters();
    const int handled = c.done + c.skipped + c.failed;
    std::string line = ProgressBar(core.totalBar(), 24) + " " + std::to_string(core.totalBar()) + "%  " +
                       std::to_string(handled) + "/" + std::to_string(c.total) + " tracks  track " +
                       std::to_string(core.currentBar()) + "%  " + app::HoursMinutesSeconds(core.elapsedSeconds()) +
                       " elapsed";
    if (core.totalBar() > 0) line += ", " + app::HoursMinutesSeconds(core.remainingSeconds()) + " left";
    if (core.state() == app::BatchState::Paused) line += "  (pausing)";
    return line;
}

}  // namespace

int RunRip(const std::vector<std::string>& args) {
    app::SettingsStore store(app::OptionFilePath());
    const app::Options options = store.Load();
    app::Step2Settings step2;
    step2.format = app::OutputFormat::Wav;
    // Only a section the desktop program saved speaks for the user.
    const bool saved = !store.ReadString("RipperStep2", "NormalMode", "").empty();
    if (saved && app::RecordsStep2(options.recordSettings, app::Wizard::Rip))
        step2 = store.LoadStep2(app::Wizard::Rip, step2);
    // On a command line the application directory's place is the current folder.
    if (step2.folder != app::OutputFolder::Custom) {
        step2.folder = app::OutputFolder::Custom;
        step2.customDir = ".";
    }
    if (step2.format == app::OutputFormat::None) step2.format = app::OutputFormat::Wav;
    step2.mode = app::FormatMode::Normal;
    app::RipSettings settings = app::RipSettings::From(step2, options);
    settings.after = {};
    settings.after.playSound = false;
    settings.beepAtEnd = false;
    settings.eject = false;

    LONG driveNumber = 1;
    std::string trackList, pattern = "%2";
    bool jitter = false, cddb = options.rip.autoLoadCDDB;

    BatchChoices choices;
    choices.output = settings;

    ArgReader r("rip", args);
    while (r.ok() && r.Next()) {
        if (ReadBatchOption(r, choices)) {
            continue;
        } else if (!r.option()) {
            r.Error("unexpected argument '" + r.current() + "' (see --help)");
        } else if (r.Is("-h", "--help")) {
            std::fputs(kRipHelp, stdout);
            return 0;
        } else if (r.Is("--drive")) {
            if (auto n = r.Number(1, 99)) driveNumber = static_cast<LONG>(*n);
        } else if (r.Is("--tracks")) {
            if (auto v = r.Value()) trackList = *v;
        } else if (r.Is("--to")) {
            if (auto v = r.Value()) {
                step2.format = app::FormatFromName(*v);
                if (step2.format == app::OutputFormat::None)
                    r.Error("unknown format '" + *v + "' (use wav, mp3, ogg or wma)");
            }
        } else if (r.Is("--dest")) {
            if (auto v = r.Value()) step2.customDir = *v;
        } else if (r.Is("--template")) {
            if (auto v = r.Value()) pattern = *v;
        } else if (r.Is("--jitter")) {
            jitter = true;
        } else if (r.Is("--eject")) {
            settings.eject = true;
        } else if (r.Is("--no-cddb")) {
            cddb = false;
        } else if (r.Is("--no-tags")) {
            settings.writeTags = false;
        } else {
            r.Unknown();
        }
    }
    if (!r.ok()) return 2;
    static_cast<app::OutputChoices&>(settings) = choices.output;
    if (!CheckDestinationFolder("rip", step2.customDir)) return 2;

    ComPtr<IKivCDRipper> ripper = OpenRipper("rip");
    if (!ripper) return 1;
    ComPtr<IDrive> drive = OpenDrive(ripper.get(), driveNumber, "rip");
    if (!drive) return 1;
    const auto tracks = TracksOf(drive.get());
    if (tracks.empty()) {
        std::fprintf(stderr, "ondalo-cli rip: there is no disc in drive %ld\n", long(driveNumber));
        return 1;
    }
    std::vector<int> chosen;
    if (trackList.empty()) {
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            VARIANT_BOOL audio = 0;
            tracks[i]->get_IsAudio(&audio);
            if (audio) chosen.push_back(static_cast<int>(i + 1));
        }
    } else if (auto parsed = app::ParseTrackList(trackList, static_cast<int>(tracks.size()))) {
        chosen = *parsed;
    } else {
        std::fprintf(stderr, "ondalo-cli rip: '%s' is not a list of tracks 1 to %zu\n", trackList.c_str(),
                     tracks.size());
        return 2;
    }
    if (chosen.empty()) {
        std::fprintf(stderr, "ondalo-cli rip: the disc in drive %ld has no audio tracks\n", long(driveNumber));
        return 1;
    }

    // Without a record the tracks keep their "Track NN" names, and the
    // control writes no tags. The lookup reports in the wizard's words.
    if (cddb) LookUpRecords(drive.get(), choices.quiet);
    bool named = false;
    std::vector<app::TrackListRow> list = app::ReadTrackList(drive.get(), &named);
    if (!cddb) named = false;
    for (app::TrackListRow& row : list) {
        if (named) {
            const std::string title = TrackTitle(tracks[static_cast<std::size_t>(row.track - 1)].get(), FromUtf8(pattern));
            row.title = title.empty() ? app::UnnamedTrack(row.track) : title;
        } else {
            row.title = app::UnnamedTrack(row.track);
        }
    }
    // The batch takes the tracks in the order given.
    std::vector<app::TrackListRow> ordered;
    for (int number : chosen) {
        app::TrackListRow row = list[static_cast<std::size_t>(number - 1)];
        row.checked = true;
        ordered.push_back(std::move(row));
    }
    ripper->put_JitterCorrection(jitter ? 1 : 0);

    // The first Ctrl-C cancels the track in work and ends the batch; the
    // second ends at once.
    InterruptCounter interrupts(2);
    TerminalBatchView view(choices.quiet);
    app::SystemPostActions actions;
    app::RipBatch batch(view, actions);
    view.SetProgressText([&batch] { return RipProgressLine(batch); });
    batch.Attach(ripper.get(), driveNumber);
    batch.Prepare(app::BuildRipStatusList(ordered, step2, app::ApplicationDirectory()),
                  "Ondalo Version " + options.version);
    if (batch.Start(settings) != app::RipBatch::StartResult::Started) return 1;
    const int stops = RunUntilFinished(
        view, interrupts, [&batch] { return batch.Finished(); }, [&batch](int) { batch.Stop(); });
    if (stops > 0) return 130;
    return batch.core().counters().failed > 0 ? 1 : 0;
}

}  // namespace kiv
