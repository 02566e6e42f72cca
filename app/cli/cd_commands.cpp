// The CD commands of ondalo-cli: drives, toc, cddb and rip, all through the
// CD extraction control as any host would use it; rip runs the ripping
// batch of the application core with the desktop program's log.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/arg_reader.h"
#include "app/cli/batch_options.h"
#include "app/cli/commands.h"
#include "app/cli/terminal_view.h"
#include "app/core/cddb_lookup.h"
#include "app/core/rip_batch.h"
#include "app/core/rip_plan.h"
#include "app/core/rip_verification.h"
#include "app/core/settings.h"
#include "components/cdrip/cddb/cddb_record.h"
#include "components/cdrip/cdrip_interfaces.h"
#include "components/cdrip/musicbrainz/musicbrainz_client.h"
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
    "http_proxy is honoured. ONDALO_LOOKUP=musicbrainz (or both) asks MusicBrainz\n"
    "instead (or when CDDB does not know the disc).\n";

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

// The text of the drive's first record, empty when it has none.
std::string FirstRecordText(IDrive* drive) {
    ComPtr<ICDDBRecord> first;
    Bstr raw;
    if (SUCCEEDED(drive->GetCDDBRecord(1, first.put())) && SUCCEEDED(first->get_RawData(raw.put())))
        return ToUtf8(raw.view());
    TakeErrorDescription();
    return {};
}

bool LoadRecords(IDrive* drive, const char* command) {
    const HRESULT hr = drive->LoadCDDBData();
    if (SUCCEEDED(hr)) {
        // What the record's maker wants said, such as which of several
        // MusicBrainz releases was taken.
        for (const std::string& note : cddb::RecordNotes(FirstRecordText(drive)))
            std::fprintf(stderr, "ondalo-cli %s: %s\n", command, note.c_str());
        return true;
    }
    // MusicBrainz says its own name; the CDDB client's texts need it.
    const std::string text = ErrorText(hr);
    std::fprintf(stderr, "ondalo-cli %s: %s%s\n", command, text.rfind("MusicBrainz", 0) == 0 ? "" : "CDDB: ",
                 text.c_str());
    return false;
}

// The front cover of the MusicBrainz release the names came from; nothing
// (and a line that says why) when there is none to be had.
std::shared_ptr<const TagPicture> FetchCover(IDrive* drive, bool named) {
    const std::string release = named ? cddb::ParseRecord(FirstRecordText(drive)).musicBrainzReleaseId : "";
    if (release.empty()) {
        std::fprintf(stderr, "ondalo-cli rip: no front cover: the names do not come from MusicBrainz\n");
        return nullptr;
    }
    musicbrainz::CoverResult cover =
        musicbrainz::FetchFrontCover(musicbrainz::SettingsFromEnvironment(), release, kMaxTagPictureBytes);
    if (!cover.ok()) {
        std::fprintf(stderr, "ondalo-cli rip: %s\n", cover.message.c_str());
        return nullptr;
    }
    std::fprintf(stderr, "ondalo-cli rip: front cover from the Cover Art Archive (%s, %zu bytes)\n",
                 cover.mimeType.c_str(), cover.data.size());
    auto picture = std::make_shared<TagPicture>();
    picture->type = 3;  // front cover
    picture->mimeType = cover.mimeType;
    picture->data = std::move(cover.data);
    return picture;
}

constexpr long kMaxOffsetSamples = app::kMaxReadOffset;

bool SetReadOffset(IDrive* drive, int samples) {
    const HRESULT hr = drive->put_ReadOffset(samples);
    if (FAILED(hr)) std::fprintf(stderr, "ondalo-cli: read offset %d: %s\n", samples, ErrorText(hr).c_str());
    return SUCCEEDED(hr);
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
    "  --lookup SOURCE    where names come from: cddb, musicbrainz, or both\n"
    "                     (CDDB first; the first that knows the disc wins)\n"
    "  --no-cddb          no lookup at all: \"Track NN\" names and no tags\n"
    "  --cover            the release's front cover from the Cover Art Archive\n"
    "                     into the files (names from MusicBrainz; formats whose\n"
    "                     files keep pictures)\n"
    "  --no-tags          no tags in the files (names still come from CDDB)\n"
    "  --offset N         the drive's read offset correction in samples (signed;\n"
    "                     default: the one saved for the drive, else 0; see\n"
    "                     ondalo-cli offset find)\n"
    "  --verify           check every ripped track against the AccurateRip\n"
    "                     database (server: ONDALO_ACCURATERIP_URL, default\n"
    "                     http://www.accuraterip.com); --no-verify: do not\n"
    "                     (default: Rip/AccurateRip of Option.ini, else off)\n"
    "  --log              write a rip log (drive, read offset, jitter correction,\n"
    "                     table of contents, each track's CRC32, AccurateRip\n"
    "                     results and read errors) and a cue sheet of the ripped\n"
    "                     files beside them: ALBUM.log and ALBUM.cue (\"%1 - %3\"\n"
    "                     of the CDDB record, else \"Disc \" and the disc id)\n"
    "                     (default: Rip/RipLog of Option.ini, else off)\n"
    ONDALO_CLI_REPLAYGAIN_HELP
    "\n"
    "Output:\n"
    "  --to FORMAT        wav, mp3, ogg, wma, flac or opus\n"
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
    "AutoLoadCDDB for the lookup, LookupSource for its source) are used when\n"
    "it saved them; without them the format is WAV into the current folder.\n"
    "Options override them for one run and are not saved. The CDDB server is\n"
    "set by ONDALO_CDDB_SERVER, ONDALO_CDDB_PORT, ONDALO_CDDB_PATH,\n"
    "ONDALO_CDDB_EMAIL; MusicBrainz by ONDALO_MUSICBRAINZ_URL,\n"
    "ONDALO_MUSICBRAINZ_CONTACT, ONDALO_MUSICBRAINZ_TIMEOUT, the Cover Art\n"
    "Archive by ONDALO_COVERART_URL; http_proxy is honoured.\n"
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
        // MusicBrainz says its own name; the CDDB client's texts need it.
        std::fprintf(stderr, "ondalo-cli rip: %s%s\n", outcome.error.rfind("MusicBrainz", 0) == 0 ? "" : "CDDB: ",
                     outcome.error.c_str());
        return;
    }
    // What the record's maker wants said, such as which of several
    // MusicBrainz releases was taken.
    for (const std::string& note : cddb::RecordNotes(FirstRecordText(drive)))
        std::fprintf(stderr, "ondalo-cli rip: %s\n", note.c_str());
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
    bool jitter = false, cddb = options.rip.autoLoadCDDB, cover = false;
    // The file's choice only when it has one: else the environment's stands.
    std::string lookup = store.ReadString("Rip", "LookupSource", "").empty() ? "" : options.rip.lookupSource;
    std::optional<long> offset;

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
                    r.Error("unknown format '" + *v + "' (use wav, mp3, ogg, wma, flac or opus)");
            }
        } else if (r.Is("--dest")) {
            if (auto v = r.Value()) step2.customDir = *v;
        } else if (r.Is("--template")) {
            if (auto v = r.Value()) pattern = *v;
        } else if (r.Is("--jitter")) {
            jitter = true;
        } else if (r.Is("--eject")) {
            settings.eject = true;
        } else if (r.Is("--lookup")) {
            if (auto v = r.Value()) {
                lookup = app::LookupSourceName(*v);
                if (lookup.empty()) r.Error("unknown lookup source '" + *v + "' (use cddb, musicbrainz or both)");
            }
        } else if (r.Is("--cover")) {
            cover = true;
        } else if (r.Is("--no-cddb")) {
            cddb = false;
        } else if (r.Is("--no-tags")) {
            settings.writeTags = false;
        } else if (r.Is("--offset")) {
            offset = r.Number(-kMaxOffsetSamples, kMaxOffsetSamples);
        } else if (r.Is("--verify")) {
            settings.verify = true;
        } else if (r.Is("--no-verify")) {
            settings.verify = false;
        } else if (r.Is("--log")) {
            settings.writeReport = true;
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
        // Data tracks stay in the list so that the log says they were skipped.
        bool anyAudio = false;
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            VARIANT_BOOL audio = 0;
            tracks[i]->get_IsAudio(&audio);
            anyAudio = anyAudio || audio;
            chosen.push_back(static_cast<int>(i + 1));
        }
        if (!anyAudio) chosen.clear();
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
    if (!lookup.empty()) app::ApplyLookupSource(lookup);
    if (cddb) LookUpRecords(drive.get(), choices.quiet);
    bool named = false;
    std::vector<app::TrackListRow> list = app::ReadTrackList(drive.get(), &named);
    if (!cddb) named = false;
    if (cover) settings.cover = FetchCover(drive.get(), named);
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
    if (named) settings.reportName = app::ReportNameOf(drive.get());
    settings.programName = "Ondalo " ONDALO_VERSION;
    ripper->put_JitterCorrection(jitter ? 1 : 0);
    if (!SetReadOffset(drive.get(), offset ? static_cast<int>(*offset) : store.ReadOffsetOf(DriveName(drive.get()))))
        return 2;

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

namespace {

const char kOffsetHelp[] =
    "Usage: ondalo-cli offset find [--drive N] [--from A] [--to B] [--track T]\n"
    "                              [--jitter] [--save]\n"
    "\n"
    "Finds the read offset correction of a drive: reads one track of the disc\n"
    "in the drive (a disc the AccurateRip database knows) and tries every\n"
    "offset from A to B samples (default -1200 to 1200) against the track's\n"
    "AccurateRip v1 checksums. Prints the offset that matches, with the\n"
    "database's confidence; --save stores it for the drive in Option.ini\n"
    "(section ReadOffset), where rip takes it from. The track (default: the\n"
    "second audio track, or the first on a one-track disc) must be longer\n"
    "than the range. The server is set by ONDALO_ACCURATERIP_URL.\n"
    "\n"
    "Exit status: 0 when an offset matched, 1 when none did or the disc is not\n"
    "in the database, 2 for a usage error.\n";

// Extracts one track into a WAV file and waits for the run to end.
bool ExtractTrack(IKivCDRipper* ripper, ITrack* track, const std::string& file) {
    Bstr name(FromUtf8(file));
    if (HRESULT hr = track->ExtractToWav(name.get()); FAILED(hr)) {
        std::fprintf(stderr, "ondalo-cli offset: %s\n", ErrorText(hr).c_str());
        return false;
    }
    for (;;) {
        PumpPendingMessages();
        VARIANT_BOOL busy = 0;
        if (FAILED(ripper->get_InProgress(&busy)) || !busy) break;
        WaitMessage(50);
    }
    PumpPendingMessages();
    return true;
}

// The samples of the "data" chunk of a WAV file, as little-endian words.
std::vector<std::uint32_t> WavWords(const std::string& file) {
    std::vector<std::uint32_t> words;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return words;
    std::vector<unsigned char> bytes;
    unsigned char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    auto le32 = [&](std::size_t at) {
        return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
               std::uint32_t{bytes[at + 3]} << 24;
    };
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::size_t size = le32(at + 4);
        if (std::equal(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4, "data")) {
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            for (std::size_t i = at + 8; i + 4 <= end; i += 4) words.push_back(le32(i));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return words;
}

}  // namespace

int RunOffset(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "-h" || args[0] == "--help") {
        const bool help = !args.empty();
        std::fputs(kOffsetHelp, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    if (args[0] != "find") {
        std::fprintf(stderr, "ondalo-cli offset: unknown action '%s' (see --help)\n", args[0].c_str());
        return 2;
    }
    LONG driveNumber = 1;
    long from = -1200, to = 1200, trackNumber = 0;
    bool jitter = false, save = false;
    const std::vector<std::string> options(args.begin() + 1, args.end());
    ArgReader r("offset", options);
    while (r.ok() && r.Next()) {
        if (r.Is("-h", "--help")) {
            std::fputs(kOffsetHelp, stdout);
            return 0;
        } else if (r.Is("--drive")) {
            if (auto n = r.Number(1, 99)) driveNumber = static_cast<LONG>(*n);
        } else if (r.Is("--from")) {
            if (auto n = r.Number(-kMaxOffsetSamples, kMaxOffsetSamples)) from = *n;
        } else if (r.Is("--to")) {
            if (auto n = r.Number(-kMaxOffsetSamples, kMaxOffsetSamples)) to = *n;
        } else if (r.Is("--track")) {
            if (auto n = r.Number(1, 99)) trackNumber = *n;
        } else if (r.Is("--jitter")) {
            jitter = true;
        } else if (r.Is("--save")) {
            save = true;
        } else if (!r.option()) {
            r.Error("unexpected argument '" + r.current() + "' (see --help)");
        } else {
            r.Unknown();
        }
    }
    if (r.ok() && from > to) r.Error("--from must not be above --to");
    if (!r.ok()) return 2;

    ComPtr<IKivCDRipper> ripper = OpenRipper("offset");
    if (!ripper) return 1;
    ComPtr<IDrive> drive = OpenDrive(ripper.get(), driveNumber, "offset");
    if (!drive) return 1;
    const auto tracks = TracksOf(drive.get());
    std::vector<int> audio;  // disc track numbers of the audio tracks
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        VARIANT_BOOL isAudio = 0;
        tracks[i]->get_IsAudio(&isAudio);
        if (isAudio) audio.push_back(static_cast<int>(i + 1));
    }
    if (audio.empty()) {
        std::fprintf(stderr, "ondalo-cli offset: the disc in drive %ld has no audio tracks\n", long(driveNumber));
        return 1;
    }
    if (trackNumber == 0) trackNumber = audio.size() > 1 ? audio[1] : audio[0];
    const auto position = std::find(audio.begin(), audio.end(), static_cast<int>(trackNumber));
    if (position == audio.end()) {
        std::fprintf(stderr, "ondalo-cli offset: track %ld is not an audio track of the disc\n", trackNumber);
        return 2;
    }
    const int audioTrack = static_cast<int>(position - audio.begin()) + 1;
    ITrack* track = tracks[static_cast<std::size_t>(trackNumber - 1)].get();
    LONG size = 0;
    track->get_Size(&size);
    const std::size_t count = static_cast<std::size_t>(size) / 4;
    if (static_cast<std::size_t>(to - from) >= count) {
        std::fprintf(stderr, "ondalo-cli offset: track %ld is too short for a range of %ld samples\n", trackNumber,
                     to - from);
        return 2;
    }

    Bstr id;
    drive->get_AccurateRipId(id.put());
    const app::AccurateRipLookup lookup = app::LookUpAccurateRip(app::AccurateRipServer(), ToUtf8(id.view()));
    std::printf("%s\n", lookup.line.c_str());
    if (!lookup.found) return 1;

    // The track read twice, at both ends of the range: the first read and
    // the second's last (to - from) samples hold every offset's rip.
    char pattern[] = "/tmp/ondalo-offset-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::fprintf(stderr, "ondalo-cli offset: no temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    const fs::path folder(pattern);
    ripper->put_JitterCorrection(jitter ? 1 : 0);
    std::vector<std::uint32_t> words;
    bool read = SetReadOffset(drive.get(), static_cast<int>(from)) &&
                ExtractTrack(ripper.get(), track, (folder / "low.wav").string());
    if (read) words = WavWords((folder / "low.wav").string());
    read = read && words.size() == count && SetReadOffset(drive.get(), static_cast<int>(to)) &&
           ExtractTrack(ripper.get(), track, (folder / "high.wav").string());
    if (read) {
        const std::vector<std::uint32_t> high = WavWords((folder / "high.wav").string());
        read = high.size() == count;
        if (read) words.insert(words.end(), high.end() - (to - from), high.end());
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (!read) {
        std::fprintf(stderr, "ondalo-cli offset: track %ld could not be read whole\n", trackNumber);
        return 1;
    }

    const auto matches = app::FindReadOffsets(lookup.database, lookup.ids, audioTrack, audioTrack == 1,
                                              audioTrack == static_cast<int>(audio.size()), words, count,
                                              static_cast<int>(from), static_cast<int>(to));
    if (matches.empty()) {
        std::printf("No read offset from %+ld to %+ld matches AccurateRip for track %ld.\n", from, to, trackNumber);
        return 1;
    }
    for (const app::OffsetMatch& m : matches)
        std::printf("Read offset %+d: track %ld matches AccurateRip (confidence %d)\n", m.offset, trackNumber,
                    m.confidence);
    if (save) {
        app::SettingsStore store(app::OptionFilePath());
        if (!store.WriteReadOffset(DriveName(drive.get()), matches.front().offset)) {
            std::fprintf(stderr, "ondalo-cli offset: cannot write %s\n", store.path().c_str());
            return 1;
        }
        std::printf("Saved %+d for %s in %s\n", matches.front().offset, app::DriveKey(DriveName(drive.get())).c_str(),
                    store.path().c_str());
    }
    return 0;
}

}  // namespace kiv
