// The CD commands of ondalo-cli: drives, toc, cddb and rip, all through the
// CD extraction control as any host would use it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/core/rip_plan.h"
#include "components/cdrip/cdrip_interfaces.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
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

constexpr char kRipHelp[] =
    "Usage: ondalo-cli rip [--drive N] [--tracks LIST] [--to FORMAT] [--dest DIR]\n"
    "                      [--template TEMPLATE] [--jitter] [--overwrite] [--no-cddb]\n"
    "\n"
    "Extracts tracks of the disc in drive N (default 1) into audio files.\n"
    "\n"
    "  --tracks LIST        track numbers such as 1,3-5 (default: every audio track)\n"
    "  --to FORMAT          wav (default), mp3, ogg or wma\n"
    "  --dest DIR           where the files go (default: the current folder)\n"
    "  --template TEMPLATE  file names from the CDDB record (default \"%6 %2\"):\n"
    "                       %1 artist, %2 title, %3 album, %4 year, %5 genre,\n"
    "                       %6 track number, %7 disc id, %% a percent sign;\n"
    "                       '/' makes folders. Without a record: \"Track NN\".\n"
    "  --jitter             jitter correction (slower; for drives that need it)\n"
    "  --overwrite          replace files that exist already\n"
    "  --no-cddb            no CDDB lookup: no names from it, no tags\n";

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

// What one track's run told the host.
struct TrackRun {
    bool started = false;
    bool ended = false;
    std::vector<std::string> errors;
    int jitter = 0;
};

}  // namespace

int RunRip(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    const DriveOptions o = ReadDriveOption(args, rest, "rip");
    if (o.help) {
        std::fputs(kRipHelp, stdout);
        return 0;
    }
    if (!o.ok) return 2;
    std::string trackList, dest = ".", pattern = "%6 %2";
    const app::RipFormat* format = app::FindRipFormat("wav");
    bool jitter = false, overwrite = false, cddb = true;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string& a = rest[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= rest.size()) {
                std::fprintf(stderr, "ondalo-cli rip: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return &rest[++i];
        };
        if (a == "--tracks" || a == "--to" || a == "--dest" || a == "--template") {
            const std::string* v = value();
            if (!v) return 2;
            if (a == "--tracks") trackList = *v;
            if (a == "--dest") dest = *v;
            if (a == "--template") pattern = *v;
            if (a == "--to" && !(format = app::FindRipFormat(*v))) {
                std::fprintf(stderr, "ondalo-cli rip: unknown format '%s' (wav, mp3, ogg or wma)\n", v->c_str());
                return 2;
            }
        } else if (a == "--jitter") {
            jitter = true;
        } else if (a == "--overwrite") {
            overwrite = true;
        } else if (a == "--no-cddb") {
            cddb = false;
        } else {
            std::fprintf(stderr, "ondalo-cli rip: unknown option '%s'\n\n%s", a.c_str(), kRipHelp);
            return 2;
        }
    }
    std::error_code ec;
    if (!fs::is_directory(dest, ec)) {
        std::fprintf(stderr, "ondalo-cli rip: the destination folder '%s' does not exist\n", dest.c_str());
        return 2;
    }

    ComPtr<IKivCDRipper> ripper = OpenRipper("rip");
    if (!ripper) return 1;
    ComPtr<IDrive> drive = OpenDrive(ripper.get(), o.drive, "rip");
    if (!drive) return 1;
    const auto tracks = TracksOf(drive.get());
    if (tracks.empty()) {
        std::fprintf(stderr, "ondalo-cli rip: there is no disc in drive %ld\n", long(o.drive));
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

    bool named = cddb && LoadRecords(drive.get(), "rip");
    if (named) {
        LONG records = 0;
        drive->GetCDDBRecordNumber(&records);
        named = records > 0;
    }
    ripper->put_JitterCorrection(jitter ? 1 : 0);

    TrackRun current;
    int lastPercent = -1;
    auto sink = DispatchSink::Create(DIID_IKivCDRipperEvents, [&](DISPID id, DISPPARAMS& p) {
        switch (id) {
            case DISPID_OnExtractionStart: current.started = true; break;
            case DISPID_OnExtractionEnd: current.ended = true; break;
            case DISPID_OnExtractionError: current.errors.push_back(ToUtf8(EventArgText(p, 0))); break;
            case DISPID_OnJitterDetected: ++current.jitter; break;
            case DISPID_OnProgress: {
                const int percent = EventArgLong(p, 0);
                if (percent / 10 != lastPercent / 10 || percent == 100) {
                    std::printf(" %d%%", percent);
                    std::fflush(stdout);
                }
                lastPercent = percent;
                break;
            }
            default: break;
        }
    });
    EventConnection events;
    events.Connect(ripper.get(), DIID_IKivCDRipperEvents, sink.get());

    int ripped = 0, failed = 0;
    const std::string folder = dest.back() == '/' ? dest : dest + "/";
    for (int number : chosen) {
        ITrack* track = tracks[static_cast<std::size_t>(number - 1)].get();
        std::string name = named ? TrackTitle(track, FromUtf8(pattern)) : std::string();
        if (name.empty()) name = app::UnnamedTrack(number);
        const std::string path = folder + name;

        ComPtr<IKivAudioEncoder> encoder;
        HRESULT hr = CoCreateInstance(format->encoder->clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder,
                                      encoder.put_void());
        if (FAILED(hr)) {
            std::fprintf(stderr, "ondalo-cli rip: no %s encoder (%s)\n", format->name, ErrorText(hr).c_str());
            return 1;
        }
        encoder->put_OverwritePrompt(overwrite ? 0 : 1);
        ripper->put_Encoder(encoder.get());

        std::printf("Track %d -> %s%s:", number, path.c_str(), format->extension);
        std::fflush(stdout);
        current = TrackRun{};
        lastPercent = -1;
        Bstr target(FromUtf8(path));
        hr = track->ExtractToEncoder(target.get(), 1);
        if (FAILED(hr)) {
            current.errors.push_back(ErrorText(hr));
        } else {
            for (;;) {
                VARIANT_BOOL busy = 1;
                ripper->get_InProgress(&busy);
                if (!busy) break;
                WaitMessage(100);
                PumpPendingMessages();
            }
            PumpPendingMessages();  // the run's last events
        }
        ripper->put_Encoder(nullptr);
        const bool ok = current.ended && current.errors.empty();
        std::printf("%s\n", ok ? " done" : " failed");
        for (const std::string& e : current.errors) std::fprintf(stderr, "  %s\n", e.c_str());
        if (current.jitter > 0) std::fprintf(stderr, "  jitter was detected %d times\n", current.jitter);
        ok ? ++ripped : ++failed;
    }
    std::printf("%d ripped, %d failed\n", ripped, failed);
    return failed ? 1 : 0;
}

}  // namespace kiv
