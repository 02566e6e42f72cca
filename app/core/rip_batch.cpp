#include "app/core/rip_batch.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "app/core/file_conversion.h"
#include "app/core/rip_plan.h"
#include "app/core/rip_report.h"
#include "app/core/rip_verification.h"
#include "app/core/task_list.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/msg/message_queue.h"
#include "platform/system/text.h"

namespace kiv::app {

// --- pure helpers

std::vector<std::string> StartTimes(const std::vector<long long>& lengthSeconds) {
    std::vector<std::string> starts;
    starts.reserve(lengthSeconds.size());
    long long start = 0;
    for (std::size_t i = 0; i < lengthSeconds.size(); ++i) {
        if (i > 0) start += lengthSeconds[i - 1] + 1;
        starts.push_back(HoursMinutesSeconds(start));
    }
    return starts;
}

std::string MegabyteText(long long bytes) {
    return std::to_string(RoundEven(double(bytes) / 1048576.0)) + " Mb";
}

std::vector<TrackListRow> ReadTrackList(IDrive* drive, bool* hasCddb) {
    std::vector<TrackListRow> rows;
    if (hasCddb) *hasCddb = false;
    if (!drive) return rows;
    LONG records = 0;
    if (FAILED(drive->GetCDDBRecordNumber(&records))) records = 0;
    const bool named = records != 0;
    if (hasCddb) *hasCddb = named;
    LONG count = 0;
    if (FAILED(drive->GetTrackNumber(&count))) return rows;
    std::vector<long long> lengths;
    for (LONG n = 1; n <= count; ++n) {
        ComPtr<ITrack> track;
        if (FAILED(drive->GetTrack(n, track.put())) || !track) {
            TakeErrorDescription();
            continue;
        }
        TrackListRow row;
        row.track = static_cast<int>(n);
        if (named) {
            Bstr pattern(u"%2"), title;
            if (SUCCEEDED(track->GenerateFilename(pattern.get(), title.put()))) row.title = ToUtf8(title.view());
            else TakeErrorDescription();
        }
        if (row.title.empty()) row.title = UnnamedTrack(row.track);
        VARIANT_BOOL audio = VARIANT_TRUE;
        track->get_IsAudio(&audio);
        row.audio = audio != 0;
        LONG duration = 0, size = 0;
        track->get_Duration(&duration);
        track->get_Size(&size);
        row.lengthSeconds = duration;
        row.length = HoursMinutesSeconds(duration);
        row.size = MegabyteText(size);
        lengths.push_back(duration);
        rows.push_back(std::move(row));
    }
    const std::vector<std::string> starts = StartTimes(lengths);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].startTime = starts[i];
    return rows;
}

std::string ReportNameOf(IDrive* drive) {
    LONG records = 0;
    ComPtr<ITrack> first;
    if (!drive || FAILED(drive->GetCDDBRecordNumber(&records)) || records == 0 ||
        FAILED(drive->GetTrack(1, first.put())) || !first) {
        TakeErrorDescription();
        return {};
    }
    Bstr pattern(u"%1 - %3"), name;
    if (FAILED(first->GenerateFilename(pattern.get(), name.put()))) {
        TakeErrorDescription();
        return {};
    }
    return ToUtf8(name.view());
}

namespace {

std::string Trim(std::string_view text) {
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// The text after the line's first '='; the whole line when it has none.
std::string_view AfterEquals(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

}  // namespace

CdInformation ParseCdInformation(const std::string& rawData, CdInformation info) {
    std::string_view rest = rawData;
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find("DTITLE") != std::string_view::npos) {
            const std::string_view value = AfterEquals(line);
            const auto slash = value.find('/');
            info.artist = Trim(value.substr(0, slash));
            info.album = slash == std::string_view::npos ? std::string() : Trim(value.substr(slash + 1));
        } else if (line.find("DYEAR") != std::string_view::npos) {
            info.year = std::string(AfterEquals(line));
        } else if (line.find("DGENRE") != std::string_view::npos) {
            info.genre = std::string(AfterEquals(line));
        }
    }
    return info;
}

std::vector<RipStatusRow> BuildRipStatusList(const std::vector<TrackListRow>& tracks, const Step2Settings& step2,
                                             const std::string& applicationDirectory) {
    const std::string folder = step2.folder == OutputFolder::Default ? WithTrailingSlash(applicationDirectory)
                                                                      : WithTrailingSlash(step2.customDir);
    std::vector<RipStatusRow> rows;
    for (const TrackListRow& track : tracks) {
        if (!track.checked) continue;
        RipStatusRow row;
        row.title = track.title;
        row.track = track.track;
        row.length = track.length;
        row.lengthSeconds = track.lengthSeconds;
        TaskRow task;
        task.destinationFormat = track.advancedFormat;
        row.destinationFormat = DestinationFormat(step2, task);
        std::string name = track.title;
        row.destinationPath = folder;
        if (const auto slash = name.rfind('/'); slash != std::string::npos) {
            row.destinationPath += name.substr(0, slash + 1);
            name.erase(0, slash + 1);
        }
        row.destinationFile = name + "." + AsciiLower(row.destinationFormat);
        rows.push_back(std::move(row));
    }
    return rows;
}

RipSettings RipSettings::From(const Step2Settings& step2, const Options& options) {
    RipSettings s;
    s.writeTags = options.rip.writeInformation;
    s.TakeStep2(step2);
    s.eject = options.rip.ejectDrive;
    s.verify = options.rip.accurateRip;
    s.writeReport = options.rip.ripLog;
    s.after = options.rip.after;
    s.replayGain = options.replayGain;
    return s;
}

// --- the batch

namespace {
// Posted to the batch's own window: go on once the event that ended a
// track has returned (the encoder is never let go inside the control's event).
constexpr UINT kContinueMessage = WM_USER + 1;
// Asks the control again for an extraction it refused while busy.
constexpr UINT_PTR kRetryTimer = 1;
// Watches a failed run for its end when the control may send no end event.
constexpr UINT_PTR kWatchTimer = 2;
constexpr UINT kWatchMs = 50;
// Posted by the verifier's worker: the AccurateRip database has arrived.
constexpr UINT kLookupMessage = WM_USER + 2;
}  // namespace

// The track in work.
struct RipBatch::Job {
    std::size_t row = 0;
    std::string destination;  // where the finished file goes
    std::string temporary;    // where it is written meanwhile
    bool replace = false;     // the destination may be replaced when moving into place
    ComPtr<IKivAudioEncoder> encoder;
    // The encoder's measuring, when asked for and its format has a place
    // for the values.
    ComPtr<IKivReplayGain> replayGain;
    ComPtr<ITrack> track;
    std::chrono::steady_clock::time_point firstTry;
    bool extracting = false;  // the control took the extraction
    bool started = false;     // OnExtractionStart came
    bool qualitySet = false;  // the user's output mode was taken at first
    bool retried = false;     // already ripping again with the encoder's default
    bool retryWanted = false;
    bool failed = false;      // an error was reported; the row is failed
    bool ended = false;       // OnExtractionEnd came
    bool runOver = false;     // the control's run is over (a failed start sends no end)
    bool stoppedAtEnd = false;
    int percent = 0;
};

RipBatch::RipBatch(BatchView& view, PostActions& actions, BatchCore::Clock clock)
    : core_(view, actions, std::move(clock)) {
    window_ = CreateHelperWindow(u"Ripping batch", [this](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
        if (msg == kContinueMessage) {
            continuePosted_ = false;
            Continue();
        } else if (msg == WM_TIMER && wp == kRetryTimer) {
            KillTimer(window_, kRetryTimer);
            TryExtract();
        } else if (msg == WM_TIMER && wp == kWatchTimer) {
            WatchRun();
        } else if (msg == kLookupMessage) {
            LookupArrived();
        }
        return 0;
    });
    sink_ = DispatchSink::Create(DIID_IKivCDRipperEvents, [this](DISPID id, DISPPARAMS& p) {
        switch (id) {
            case DISPID_OnProgress: OnProgress(EventArgLong(p, 0)); break;
            case DISPID_OnExtractionStart:
                if (job_ && job_->extracting) job_->started = true;
                break;
            case DISPID_OnExtractionError: OnError(ToUtf8(EventArgText(p, 0))); break;
            case DISPID_OnExtractionEnd: OnEnd(); break;
            default: break;
        }
    });
}

RipBatch::~RipBatch() {
    // A database lookup in flight gives up; its answer is not wanted.
    verifier_.reset();
    awaiting_.reset();
    if (window_) {
        KillTimer(window_, kRetryTimer);
        KillTimer(window_, kWatchTimer);
    }
    if (job_ && job_->extracting && ripper_) {
        // The control may still be writing the temporary file; let it end
        // (an encoder job needs nothing from this thread to finish).
        ripper_->CancelExtraction();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ControlBusy() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    events_.Disconnect();
    if (job_) {
        if (ripper_) ripper_->put_Encoder(nullptr);
        job_->encoder.reset();
        ::unlink(job_->temporary.c_str());
        job_.reset();
    }
    if (window_) DestroyWindow(window_);
}

void RipBatch::Attach(IKivCDRipper* ripper, LONG driveNumber) {
    events_.Disconnect();
    drive_.reset();
    ripper_ = ComPtr<IKivCDRipper>(ripper);
    if (!ripper_) return;
    if (FAILED(ripper_->GetDrive(driveNumber, drive_.put()))) {
        TakeErrorDescription();
        drive_.reset();
    }
    events_.Connect(ripper_.get(), DIID_IKivCDRipperEvents, sink_.get());
}

void RipBatch::Prepare(std::vector<RipStatusRow> rows, const std::string& applicationTitle) {
    core_.StopTimer();
    rows_ = std::move(rows);
    long long total = 0;
    for (const RipStatusRow& row : rows_) total += row.lengthSeconds;
    core_.ResetProgress(total);
    core_.Banner(applicationTitle);
}

RipBatch::StartResult RipBatch::Start(const RipSettings& settings) {
    switch (core_.CheckRows(rows_, kEmptyListMessage)) {
        case BatchCore::RowsCheck::Empty: return StartResult::EmptyList;
        case BatchCore::RowsCheck::MissingFormat: return StartResult::MissingFormat;
        case BatchCore::RowsCheck::Ok: break;
    }
    if (!ripper_ || !drive_) return StartResult::NoDrive;
    if (!Idle()) return StartResult::Busy;
    settings_ = settings;
    verifier_.reset();
    if (settings_.verify)
        verifier_ = std::make_unique<RipVerifier>(
            drive_.get(), settings_.accurateRipServer.empty() ? AccurateRipServer() : settings_.accurateRipServer);
    next_ = 0;
    lastHandled_ = 0;
    swept_.clear();
    reports_.clear();
    core_.Begin(static_cast<int>(rows_.size()), [this] { Tick(); });
    Advance();
    return StartResult::Started;
}

void RipBatch::Pause() {
    // With nothing in work the pause takes hold at once.
    if (core_.TogglePause(" Resume ripping")) Advance();
}

void RipBatch::Stop() {
    if (core_.ended()) return;
    core_.SetState(BatchState::Stopped);
    // The verdict waiting for the database comes at once, without one.
    if (awaiting_) verifier_->CancelLookup();
    if (job_ && job_->extracting) {
        // The control ends the track with OnExtractionEnd; the batch ends then.
        ripper_->CancelExtraction();
        return;
    }
    if (job_) {
        // Still waiting for the control to take the track: it never started.
        KillTimer(window_, kRetryTimer);
        const std::size_t index = job_->row;
        job_.reset();
        ripper_->put_Encoder(nullptr);
        RipStatusRow& row = rows_[index];
        row.icon = RowIcon::Ready;
        row.status = "Ready";
        core_.view().RowChanged(index);
        core_.SetPanel(1, "");
        core_.Log(LogColour::Green, " Stop.");
        RowFinished();
    }
    Advance();
}

void RipBatch::Tick() {
    long long running = 0;
    if (job_) running = RoundEven(double(rows_[job_->row].lengthSeconds) * job_->percent / 100.0);
    core_.Tick(running);
}

bool RipBatch::ControlBusy() const {
    VARIANT_BOOL busy = 0;
    if (!ripper_ || FAILED(ripper_->get_InProgress(&busy))) return false;
    return busy != 0;
}

void RipBatch::RequestContinue() {
    if (continuePosted_ || !window_) return;
    continuePosted_ = PostMessage(window_, kContinueMessage, 0, 0) != FALSE;
}

void RipBatch::Continue() {
    if (job_ && (job_->ended || job_->runOver)) FinishJob();
    Advance();
}

void RipBatch::Advance() {
    if (advancing_) return;
    advancing_ = true;
    while (core_.state() == BatchState::Running && Idle() && next_ < rows_.size()) HandleRow(next_++);
    if (!core_.ended() && Idle() &&
        (core_.state() == BatchState::Stopped || (core_.state() == BatchState::Running && next_ >= rows_.size())))
        EndBatch();
    if (Idle()) core_.NotePaused();
    advancing_ = false;
}

void RipBatch::HandleRow(std::size_t index) {
    RipStatusRow& row = rows_[index];
    row.icon = RowIcon::Working;
    row.status = "Ripping";
    core_.view().RowChanged(index);
    lastHandled_ = index;
    const std::string destination = row.DestinationFilePath();
    const std::string title = row.title;
    if (IsDataTrack(row.track)) {
        // A data track holds no audio: nothing to rip, nothing failed.
        reports_[index].dataTrack = true;
        core_.Log(LogColour::Orange, " Skip " + title + ": track " + std::to_string(row.track) + " is a data track");
        row.icon = RowIcon::Skipped;
        row.status = "Skip";
        core_.view().RowChanged(index);
        core_.CountSkip();
        RowFinished();
        return;
    }
    core_.SetPanel(0, "Ripping " + title + "  Please wait...");
    core_.Log(LogColour::Blue, " Start ripping " + title + " -> " + destination);

    PolicyContext policy;
    policy.policy = settings_.exists;
    policy.renameRule = settings_.renameRule;
    policy.format = row.destinationFormat;
    policy.exists = [](const std::string& path) { return ::access(path.c_str(), F_OK) == 0; };
    policy.log = [this](LogColour colour, const std::string& text) { core_.Log(colour, text); };
    policy.ask = [this](const std::string& text, const std::string& caption) {
        return core_.view().Ask(text, caption);
    };
    policy.processEvents = [] { PumpPendingMessages(); };
    policy.logExists = false;
    policy.startLine = [title](const std::string& path) { return " Start ripping " + title + " -> " + path; };
    // The row keeps the name it was built with, whatever the policy renames.
    const PolicyOutcome outcome = ApplyDestinationPolicy(policy, row.destinationPath, row.destinationFile);
    if (outcome.kind == PolicyOutcome::Kind::Skip) {
        MarkSkipped(index);
        RowFinished();
        return;
    }
    if (outcome.kind == PolicyOutcome::Kind::Fail) {
        MarkFailed(index, outcome.reason);
        RowFinished();
        return;
    }
    StartExtraction(index, outcome.destination, outcome.replace);
}

void RipBatch::StartExtraction(std::size_t index, const std::string& destination, bool replace) {
    const bool retry = job_ && job_->retryWanted;
    job_ = std::make_unique<Job>();
    Job& job = *job_;
    job.row = index;
    job.destination = destination;
    job.replace = replace;
    job.retried = retry;
    job.temporary = TemporaryPathFor(destination);
    if (const std::string folder = DirectoryOf(destination); swept_.insert(folder).second) {
        if (const std::string line = SweepStaleTemporaries(folder); !line.empty()) core_.Log(LogColour::Orange, line);
    }
    job.firstTry = std::chrono::steady_clock::now();

    auto fail = [&](const std::string& message) {
        job_.reset();
        MarkFailed(index, message);
        RowFinished();
    };
    if (FAILED(drive_->GetTrack(rows_[index].track, job.track.put())) || !job.track)
        return fail(ComponentErrorText(E_FAIL));
    const ClassIdentity& encoderClass = EncoderForPath(destination);
    const HRESULT hr =
        CoCreateInstance(encoderClass.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder, job.encoder.put_void());
    if (FAILED(hr)) return fail(std::string(encoderClass.name) + ": " + ComponentErrorText(hr));
    const std::string& format = rows_[index].destinationFormat;
    if (!retry) {
        const QualityOutcome quality = ApplyQuality(job.encoder.get(), settings_, format);
        job.qualitySet = quality.taken;
        if (!quality.refusal.empty()) core_.Log(LogColour::Orange, quality.refusal);
    }
    job.encoder->put_AddExtension(0);
    job.encoder->put_OverwritePrompt(0);
    if (settings_.replayGain) job.replayGain = MeasureTrackGain(job.encoder.get());
    if (settings_.cover && settings_.writeTags) {
        ComPtr<IKivTagPictures> pictures;
        if (SUCCEEDED(job.encoder->QueryInterface(IID_IKivTagPictures, pictures.put_void())) && pictures)
            pictures->AddPicture(settings_.cover.get());
    }
    ripper_->put_Encoder(job.encoder.get());
    TryExtract();
}

void RipBatch::TryExtract() {
    if (!job_ || job_->extracting) return;
    Job& job = *job_;
    Bstr target(FromUtf8(job.temporary));
    // The control clears its busy flag a moment after its last event, so
    // a refusal is put down to that when the flag was up before the call.
    const bool busy = ControlBusy();
    const HRESULT hr = job.track->ExtractToEncoder(target.get(), settings_.writeTags ? VARIANT_TRUE : VARIANT_FALSE);
    if (SUCCEEDED(hr)) {
        job.extracting = true;
        return;
    }
    const std::string error = ComponentErrorText(hr);
    // The control is still ending its previous run: ask again shortly, but
    // not for ever.
    const auto waited = std::chrono::steady_clock::now() - job.firstTry;
    if ((busy || ControlBusy()) && waited < std::chrono::milliseconds(kRetryLimitMs)) {
        SetTimer(window_, kRetryTimer, kRetryMs);
        return;
    }
    const std::size_t index = job.row;
    ripper_->put_Encoder(nullptr);
    job_.reset();
    MarkFailed(index, error);
    RowFinished();
    Advance();
}

void RipBatch::OnProgress(int percent) {
    if (!job_ || !job_->extracting) return;
    job_->percent = percent;
    core_.SetPanel(1, std::to_string(percent) + "%");
    core_.SetCurrentBar(percent);
}

void RipBatch::OnError(const std::string& message) {
    if (!job_ || !job_->extracting || job_->ended) return;
    Job& job = *job_;
    if (!job.failed && !job.retryWanted) {
        // An output mode the encoder took at first but could not set up
        // fails the track before any sample: rip it again with its default.
        // Any other failure is the track's own.
        if (job.qualitySet && !job.retried && !job.started && IsOutputModeRefusal(message)) {
            job.retryWanted = true;
            core_.Log(LogColour::Orange, LateRefusalLine(settings_, message, "Ripping again with its default."));
        } else {
            job.failed = true;
            // Whatever the component says it wrote, a failed track keeps no file.
            std::string text = message.empty() ? std::string("unknown error") : message;
            if (job.started) text += " The track's file was not kept.";
            MarkFailed(job.row, text);
        }
    }
    // A track that fails to start gets no end event; watch for the run's end.
    SetTimer(window_, kWatchTimer, kWatchMs);
}

void RipBatch::WatchRun() {
    if (!job_ || job_->ended) {
        KillTimer(window_, kWatchTimer);
        return;
    }
    if (ControlBusy()) return;
    KillTimer(window_, kWatchTimer);
    // The control posts its end event before it clears its busy flag, so an
    // end event of this run is queued ahead of this request.
    job_->runOver = true;
    RequestContinue();
}

void RipBatch::OnEnd() {
    if (!job_ || !job_->extracting || job_->ended) return;
    job_->ended = true;
    job_->stoppedAtEnd = core_.state() == BatchState::Stopped;
    RequestContinue();
}

void RipBatch::FinishJob() {
    KillTimer(window_, kWatchTimer);
    std::unique_ptr<Job> job = std::move(job_);
    ripper_->put_Encoder(nullptr);
    job->encoder.reset();
    const std::size_t index = job->row;
    RipStatusRow& row = rows_[index];

    if (job->retryWanted && !job->failed && core_.state() != BatchState::Stopped) {
        ::unlink(job->temporary.c_str());
        const std::string destination = job->destination;
        const bool replace = job->replace;
        job_ = std::move(job);  // tells StartExtraction that this is the retry
        StartExtraction(index, destination, replace);
        return;
    }
    if (job->failed) {
        ::unlink(job->temporary.c_str());
    } else if (job->stoppedAtEnd || job->retryWanted) {
        ::unlink(job->temporary.c_str());
        row.icon = RowIcon::Ready;
        row.status = "Ready";
        core_.view().RowChanged(index);
        core_.SetPanel(1, "");
        core_.Log(LogColour::Green, " Stop.");
    } else {
        // The finished file takes its place; a destination that appeared
        // meanwhile is not replaced unless the user said so.
        const unsigned flags = job->replace ? 0 : RENAME_NOREPLACE;
        if (::renameat2(AT_FDCWD, job->temporary.c_str(), AT_FDCWD, job->destination.c_str(), flags) != 0) {
            const std::string reason = errno == EEXIST ? std::string("the destination appeared meanwhile")
                                                       : std::string(std::strerror(errno));
            ::unlink(job->temporary.c_str());
            MarkFailed(index, "Cannot move the ripped file to " + job->destination + ": " + reason);
        } else {
            core_.SetPanel(1, "100%");
            row.icon = RowIcon::Done;
            row.status = "Done";
            core_.view().RowChanged(index);
            core_.Log(LogColour::Green, " Done.");
            // The control closes the encoder before it tells of the end.
            if (const std::string line = ReplayGainLine(job->replayGain.get()); !line.empty())
                core_.Log(LogColour::Green, line);
            reports_[index].file = job->destination;
            core_.CountSuccess();
            core_.SetPanel(0, "Rip finished.");
            if (verifier_) VerifyTrack(index, row.track, job->track.get());
            else if (settings_.writeReport) reports_[index].check = ReadChecksums(drive_.get(), job->track.get(), row.track);
        }
    }
    RowFinished();
}

void RipBatch::VerifyTrack(std::size_t row, int track, ITrack* item) {
    if (verifier_->lookupDone()) {
        LogVerification(row, track, item);
        return;
    }
    // The control keeps the track's checksums until its next extraction,
    // which waits for this verdict.
    awaiting_ = AwaitedCheck{row, track, ComPtr<ITrack>(item)};
    core_.SetPanel(0, "Asking the AccurateRip database, please wait...");
    verifier_->StartLookup(window_, kLookupMessage);
    if (core_.state() == BatchState::Stopped) verifier_->CancelLookup();
}

void RipBatch::LookupArrived() {
    if (!verifier_ || !awaiting_) return;
    verifier_->LookupArrived();
    const AwaitedCheck awaited = std::move(*awaiting_);
    awaiting_.reset();
    LogVerification(awaited.row, awaited.track, awaited.item.get());
    core_.SetPanel(0, "Rip finished.");
    Advance();
}

void RipBatch::LogVerification(std::size_t row, int track, ITrack* item) {
    const bool first = verifier_->checks().empty();
    const TrackCheck check = verifier_->Check(item, track);
    reports_[row].check = check;
    if (first) core_.Log(verifier_->lookup().found ? LogColour::Blue : LogColour::Orange, " " + verifier_->LookupLine());
    const bool accurate = check.haveSums && check.verdict.kind == accuraterip::Verdict::Kind::Accurate;
    const bool mismatch = check.haveSums && check.verdict.kind == accuraterip::Verdict::Kind::Mismatch;
    core_.Log(accurate ? LogColour::Green : mismatch ? LogColour::Red : LogColour::Orange,
              " Track " + std::to_string(track) + ": " + TrackCheckText(check));
}

bool RipBatch::IsDataTrack(int number) const {
    ComPtr<ITrack> track;
    VARIANT_BOOL audio = 1;
    if (!drive_ || FAILED(drive_->GetTrack(number, track.put())) || !track || FAILED(track->get_IsAudio(&audio))) {
        TakeErrorDescription();
        return false;
    }
    return audio == 0;
}

void RipBatch::WriteReport() {
    RipReport report;
    report.program = settings_.programName;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char date[32] = "";
    if (localtime_r(&now, &local)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    report.date = date;
    Bstr text;
    if (SUCCEEDED(drive_->get_Name(text.put()))) report.drive = ToUtf8(text.view());
    LONG offset = 0;
    drive_->get_ReadOffset(&offset);
    report.readOffset = static_cast<int>(offset);
    VARIANT_BOOL jitter = 0;
    ripper_->get_JitterCorrection(&jitter);
    report.jitterCorrection = jitter != 0;
    if (SUCCEEDED(drive_->get_DiscId(text.put()))) report.discId = ToUtf8(text.view());
    if (SUCCEEDED(drive_->get_AccurateRipId(text.put()))) report.accurateRipId = ToUtf8(text.view());
    if (verifier_) {
        report.lookupLine = verifier_->LookupLine();
        if (!verifier_->checks().empty()) report.accurateRipSummary = verifier_->SummaryText();
    }
    LONG count = 0;
    drive_->GetTrackNumber(&count);
    for (LONG n = 1; n <= count; ++n) {
        ComPtr<ITrack> track;
        if (FAILED(drive_->GetTrack(n, track.put())) || !track) continue;
        RipReport::TocTrack t;
        t.number = static_cast<int>(n);
        LONG start = 0, size = 0;
        VARIANT_BOOL audio = 0;
        track->get_StartFrame(&start);
        track->get_Size(&size);
        track->get_IsAudio(&audio);
        t.start = start;
        t.frames = size / 2352;
        t.audio = audio != 0;
        report.toc.push_back(t);
    }
    std::string folder;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const RipStatusRow& row = rows_[i];
        RipReport::Track t;
        t.number = row.track;
        t.title = row.title;
        t.outcome = row.status;
        if (const auto it = reports_.find(i); it != reports_.end()) {
            t.file = it->second.file;
            t.error = it->second.error;
            t.check = it->second.check;
            t.dataTrack = it->second.dataTrack;
        }
        if (folder.empty() && !t.file.empty()) folder = DirectoryOf(t.file);
        report.tracks.push_back(std::move(t));
    }
    if (folder.empty()) {
        core_.Log(LogColour::Orange, " No track was ripped: no rip log or cue sheet written.");
        return;
    }
    const BatchCounters& c = core_.counters();
    report.summary = "Total Files: " + std::to_string(c.total) + "   Done: " + std::to_string(c.done) +
                     "   Remaining: " + std::to_string(c.total - c.done - c.failed - c.skipped) +
                     "   Skip: " + std::to_string(c.skipped) + "   Failed: " + std::to_string(c.failed);
    const std::string base =
        WithTrailingSlash(folder) + (settings_.reportName.empty() ? "Disc " + report.discId : settings_.reportName);
    const std::pair<std::string, std::string> files[] = {
        {base + ".log", RipLogText(report)},
        {base + ".cue", CueSheetText(report, folder)},
    };
    for (const auto& [path, content] : files) {
        if (const auto error = WriteTextFile(path, content)) {
            core_.Log(LogColour::Red, " Cannot write " + path + ": " + *error);
        } else {
            core_.Log(LogColour::Navy, " Wrote " + path, false);
        }
    }
}

void RipBatch::MarkSkipped(std::size_t index) {
    RipStatusRow& row = rows_[index];
    row.icon = RowIcon::Skipped;
    row.status = "Skip";
    core_.view().RowChanged(index);
    core_.Log(LogColour::Orange, " Skip " + row.title);
    core_.CountSkip();
}

void RipBatch::MarkFailed(std::size_t index, const std::string& message) {
    reports_[index].error = message;
    RipStatusRow& row = rows_[index];
    row.icon = RowIcon::Failed;
    row.status = "Failed";
    core_.view().RowChanged(index);
    core_.Log(LogColour::Red, " Rip Failed. An error occurs - " + message);
    core_.CountFailure();
}

void RipBatch::RowFinished() {
    long long finished = 0;
    for (const RipStatusRow& row : rows_)
        if (IsFinal(row.icon)) finished += row.lengthSeconds;
    core_.SetFinishedUnits(finished);
    core_.SetCurrentBar(0);
}

void RipBatch::EndBatch() {
    core_.End();
    if (verifier_ && !verifier_->checks().empty()) core_.Log(LogColour::Navy, verifier_->SummaryText(), false);
    if (settings_.writeReport) WriteReport();
    if (settings_.beepAtEnd) core_.actions().Beep();
    const std::string folder = rows_.empty() ? std::string() : rows_[lastHandled_].destinationPath;
    ComPtr<IDrive> drive = drive_;
    std::function<void()> eject;
    if (settings_.eject && drive) eject = [drive] { drive->Eject(); };
    core_.RunPostActions(settings_.after, folder, eject);
}

}  // namespace kiv::app
