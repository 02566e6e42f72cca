#include "app/core/conversion_batch.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "app/core/file_conversion.h"
#include "components/common/interfaces.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/msg/message_queue.h"
#include "platform/system/text.h"

namespace kiv::app {

namespace {
// Posted to the batch's own window: go on with the next rows once the
// event that finished a file has returned (a converter is never released
// from inside its own event).
constexpr UINT kAdvanceMessage = WM_USER + 1;

// The decoder's account of damage it read over (kept after its Close);
// empty when the source read whole or the decoder keeps no account.
std::string DamageNoteOf(IKivAudioConverter* converter) {
    ComPtr<IKivAudioDecoder> source;
    if (FAILED(converter->get_Source(source.put())) || !source) return {};
    ComPtr<IKivDecodeReport> report;
    if (FAILED(source->QueryInterface(IID_IKivDecodeReport, report.put_void()))) return {};
    Bstr note;
    if (FAILED(report->get_DamageNote(note.put()))) return {};
    return ToUtf8(note.view());
}
}  // namespace

ConversionSettings ConversionSettings::From(const Step2Settings& step2, const Options& options) {
    ConversionSettings s;
    s.keepTags = options.conversion.keepTag;
    s.deleteSource = options.conversion.deleteSourceFile;
    s.TakeStep2(step2);
    s.createFolders = step2.keepFolders;
    s.after = options.conversion.after;
    s.replayGain = options.replayGain;
    return s;
}

// One converter at work on one row.
struct ConversionBatch::Job {
    ComPtr<IKivAudioConverter> converter;
    ComPtr<DispatchSink> sink;
    EventConnection events;
    bool active = false;
    std::size_t row = 0;
    std::string destination;  // where the finished file goes
    std::string temporary;    // where it is written meanwhile
    bool replace = false;     // the destination may be replaced when moving into place
    bool qualitySet = false;  // a user's output mode was accepted at first
    bool retried = false;     // already converting again with the encoder's default
    bool samples = false;     // the converter passed samples on (it tells progress after each block)
    bool retryWanted = false;
    bool cancelled = false;
    int percent = 0;
    std::string error;  // the converter's OnError text
    std::string damageNote;  // what the decoder read over, taken at the finish
    // The destination's measuring, when asked for and its format has a
    // place for the values, and its log line, taken at the finish.
    ComPtr<IKivReplayGain> replayGain;
    std::string replayGainLine;
    bool finished = false;

    void Release() {
        events.Disconnect();
        sink.reset();
        converter.reset();
        replayGain.reset();
    }
};

ConversionBatch::ConversionBatch(BatchView& view, PostActions& actions, BatchCore::Clock clock)
    : core_(view, actions, std::move(clock)) {
    window_ = CreateHelperWindow(u"Conversion batch", [this](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == kAdvanceMessage) {
            advancePosted_ = false;
            Continue();
        }
        return 0;
    });
}

ConversionBatch::~ConversionBatch() {
    for (auto& job : jobs_) {
        if (!job->active) continue;
        job->Release();
        ::unlink(job->temporary.c_str());
    }
    if (window_) DestroyWindow(window_);
}

void ConversionBatch::Prepare(std::vector<StatusRow> rows, const std::string& applicationTitle) {
    core_.StopTimer();
    rows_ = std::move(rows);
    long long total = 0;
    for (const StatusRow& row : rows_) total += SizeTextKilobytes(row.sourceSize);
    core_.ResetProgress(total);
    core_.Banner(applicationTitle);
}

ConversionBatch::StartResult ConversionBatch::Start(const ConversionSettings& settings) {
    switch (core_.CheckRows(rows_, kEmptyListMessage)) {
        case BatchCore::RowsCheck::Empty: return StartResult::EmptyList;
        case BatchCore::RowsCheck::MissingFormat: return StartResult::MissingFormat;
        case BatchCore::RowsCheck::Ok: break;
    }
    if (!Idle()) return StartResult::Busy;
    settings_ = settings;
    if (settings_.jobs < 1) settings_.jobs = 1;
    core_.SetGrouping(settings_.jobs > 1);
    next_ = 0;
    lastHandled_ = 0;
    swept_.clear();
    core_.Begin(static_cast<int>(rows_.size()), [this] { Tick(); });
    Advance();
    return StartResult::Started;
}

void ConversionBatch::Pause() {
    // With nothing in work the pause takes hold at once.
    if (core_.TogglePause(" Resume converting")) Advance();
}

void ConversionBatch::Stop() {
    if (core_.ended()) return;
    core_.SetState(BatchState::Stopped);
    core_.Log(LogColour::Green, " Finishing current converting before stop. Please wait...");
    EndBatch();
}

void ConversionBatch::Cancel() {
    Stop();
    for (auto& job : jobs_) {
        if (!job->active || job->finished || !job->converter) continue;
        job->cancelled = true;
        job->converter->CancelConversion();
    }
}

void ConversionBatch::Tick() { core_.Tick(RunningUnits()); }

bool ConversionBatch::Idle() const { return JobsInWork() == 0; }

std::size_t ConversionBatch::JobsInWork() const {
    std::size_t n = 0;
    for (const auto& job : jobs_) n += job->active ? 1 : 0;
    return n;
}

int ConversionBatch::RowPercent(std::size_t row) const {
    for (const auto& job : jobs_)
        if (job->active && job->row == row) return job->percent;
    return 0;
}

int ConversionBatch::LivePercent() const {
    const long long total = core_.totalUnits();
    if (total <= 0) return Idle() && core_.ended() ? 100 : 0;
    long long finished = RunningUnits();
    for (const StatusRow& row : rows_)
        if (IsFinal(row.icon)) finished += SizeTextKilobytes(row.sourceSize);
    return static_cast<int>(std::min<long long>(100, finished * 100 / total));
}

long long ConversionBatch::RunningUnits() const {
    double units = 0;
    for (const auto& job : jobs_)
        if (job->active && !IsFinal(rows_[job->row].icon))
            units += double(SizeTextKilobytes(rows_[job->row].sourceSize)) * job->percent / 100.0;
    return RoundEven(units);
}

std::string ConversionBatch::RowSource(std::size_t index) const { return rows_[index].SourceFilePath(); }

bool ConversionBatch::Reserved(const std::string& path) const {
    for (const auto& job : jobs_)
        if (job->active && job->destination == path) return true;
    return false;
}

bool ConversionBatch::DestinationTaken(const std::string& path) const {
    return ::access(path.c_str(), F_OK) == 0 || Reserved(path);
}

ConversionBatch::Job& ConversionBatch::NewJob() {
    for (auto& job : jobs_) {
        if (job->active) continue;
        job = std::make_unique<Job>();
        return *job;
    }
    jobs_.push_back(std::make_unique<Job>());
    return *jobs_.back();
}

void ConversionBatch::RequestContinue() {
    if (advancePosted_ || !window_) return;
    advancePosted_ = PostMessage(window_, kAdvanceMessage, 0, 0) != FALSE;
}

// After a file's last event: let its converter go (or convert it again with
// the encoder's default when the user's output mode was refused late), then
// go on with the batch.
void ConversionBatch::Continue() {
    for (std::size_t k = 0; k < jobs_.size(); ++k) {
        Job& job = *jobs_[k];
        if (!job.active || !job.finished) continue;
        job.Release();
        const std::size_t index = job.row;
        if (job.retryWanted) {
            ::unlink(job.temporary.c_str());
            job.active = false;
            const std::string destination = job.destination;
            const bool replace = job.replace;
            std::string error;  // `job` is reused from here on
            if (!TryStartConversion(index, destination, replace, false, error)) {
                MarkFailed(index, error);
                RowFinished(index);
            }
            continue;
        }
        if (!job.cancelled && !job.damageNote.empty()) core_.LogFor(index, LogColour::Orange, " " + job.damageNote);
        if (job.cancelled) {
            // The converter ends a cancelled file like a finished one; what
            // it wrote is only the start of the source.
            ::unlink(job.temporary.c_str());
            StatusRow& row = rows_[index];
            row.icon = RowIcon::Ready;
            row.status = "Ready";
            core_.view().RowChanged(index);
            core_.LogFor(index, LogColour::Orange, " Cancelled; nothing was written.");
        } else if (!job.error.empty()) {
            ::unlink(job.temporary.c_str());
            MarkFailed(index, job.error);
        } else if (!job.samples) {
            // A source that ends before its first sample (not audio at all,
            // or cut before its audio) would leave an empty file looking
            // like a converted one.
            ::unlink(job.temporary.c_str());
            MarkFailed(index, kNoAudioMessage);
        } else {
            FinishFile(index, job);
        }
        job.active = false;
        RowFinished(index);
    }
    Advance();
}

void ConversionBatch::Advance() {
    if (advancing_) return;
    advancing_ = true;
    while (core_.state() == BatchState::Running && next_ < rows_.size()) {
        if (JobsInWork() >= static_cast<std::size_t>(settings_.jobs)) break;
        // A file still in work writes where this one would: its result
        // decides what this one's policy sees, as it would one after another.
        if (Reserved(rows_[next_].DestinationFilePath())) break;
        HandleRow(next_++);
    }
    if (!core_.ended() && core_.state() == BatchState::Running && next_ >= rows_.size() && Idle()) EndBatch();
    if (Idle()) core_.NotePaused();
    advancing_ = false;
}

void ConversionBatch::HandleRow(std::size_t index) {
    StatusRow& row = rows_[index];
    row.icon = RowIcon::Working;
    row.status = "Converting";
    core_.view().RowChanged(index);
    lastHandled_ = index;
    const std::string source = RowSource(index);
    const std::string destination = row.DestinationFilePath();
    core_.SetPanel(0, "Converting " + row.sourceFile + "  Please wait...");
    core_.LogFor(index, LogColour::Blue, " Start converting " + source + " -> " + destination);

    if (SameFormat(source, destination)) {
        MarkSkipped(index);
        RowFinished(index);
        return;
    }

    PolicyContext policy;
    policy.policy = settings_.exists;
    policy.renameRule = settings_.renameRule;
    policy.format = row.destinationFormat;
    policy.exists = [this](const std::string& path) { return DestinationTaken(path); };
    policy.log = [this, index](LogColour colour, const std::string& text) { core_.LogFor(index, colour, text); };
    policy.ask = [this](const std::string& text, const std::string& caption) {
        return core_.view().Ask(text, caption);
    };
    policy.processEvents = [] { PumpPendingMessages(); };
    policy.startLine = [source](const std::string& path) { return " Start converting " + source + " -> " + path; };
    PolicyOutcome outcome = ApplyDestinationPolicy(policy, row.destinationPath, row.destinationFile);
    if (outcome.kind == PolicyOutcome::Kind::Skip) {
        MarkSkipped(index);
        RowFinished(index);
        return;
    }
    if (outcome.kind == PolicyOutcome::Kind::Fail) {
        MarkFailed(index, outcome.reason);
        RowFinished(index);
        return;
    }
    if (outcome.fileName != row.destinationFile) {
        row.destinationFile = outcome.fileName;
        core_.view().RowChanged(index);
    }
    std::string error;
    if (!TryStartConversion(index, outcome.destination, outcome.replace, true, error)) {
        MarkFailed(index, error);
        RowFinished(index);
    }
}

bool ConversionBatch::TryStartConversion(std::size_t index, const std::string& destination, bool replace,
                                         bool withQuality, std::string& error) {
    // The last line of defence: a file that asks for more memory than there
    // is fails alone, and the batch goes on with the next.
    try {
        return StartConversion(index, destination, replace, withQuality, error);
    } catch (const std::bad_alloc&) {
        for (auto& job : jobs_) {
            if (job->row != index || job->temporary.empty()) continue;
            job->Release();
            job->active = false;
            ::unlink(job->temporary.c_str());
        }
        error = "Out of memory.";
        return false;
    }
}

bool ConversionBatch::StartConversion(std::size_t index, const std::string& destination, bool replace,
                                      bool withQuality, std::string& error) {
    const StatusRow& row = rows_[index];
    Job& job = NewJob();
    job.row = index;
    job.destination = destination;
    job.replace = replace;
    job.retried = !withQuality;
    job.temporary = TemporaryPathFor(destination);
    if (const std::string folder = DirectoryOf(destination); swept_.insert(folder).second) {
        if (const std::string line = SweepStaleTemporaries(folder); !line.empty()) core_.LogFor(index, LogColour::Orange, line);
    }

    // With the folder tree kept, a sub-folder of the output folder may not
    // exist yet; a failure here shows as the encoder's own when it opens.
    if (settings_.createFolders) {
        std::error_code ec;
        std::filesystem::create_directories(DirectoryOf(destination), ec);
    }

    const ClassIdentity& encoderClass = EncoderForPath(destination);
    ComPtr<IKivAudioEncoder> encoder;
    HRESULT hr = CoCreateInstance(encoderClass.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder, encoder.put_void());
    if (FAILED(hr)) {
        error = std::string(encoderClass.name) + ": " + ComponentErrorText(hr);
        return false;
    }
    if (withQuality) {
        const QualityOutcome quality = ApplyQuality(encoder.get(), settings_, row.destinationFormat);
        job.qualitySet = quality.taken;
        if (!quality.refusal.empty()) core_.LogFor(index, LogColour::Orange, quality.refusal);
    }
    encoder->put_AddExtension(0);
    encoder->put_OverwritePrompt(0);
    if (settings_.replayGain) job.replayGain = MeasureTrackGain(encoder.get());
    Bstr target(FromUtf8(job.temporary));
    hr = encoder->Open(target.get());
    if (FAILED(hr)) {
        error = ComponentErrorText(hr);
        ::unlink(job.temporary.c_str());
        return false;
    }
    auto fail = [&](HRESULT result) {
        error = ComponentErrorText(result);
        job.Release();
        encoder.reset();  // closes the temporary file before it goes
        ::unlink(job.temporary.c_str());
        return false;
    };
    hr = CoCreateInstance(kClassAudioConverter.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioConverter,
                          job.converter.put_void());
    if (FAILED(hr)) return fail(hr);
    Job* self = &job;
    job.sink = DispatchSink::Create(DIID_IKivAudioConverterEvents, [this, self, withQuality](DISPID id, DISPPARAMS& p) {
        switch (id) {
            case DISPID_OnConvProgress: OnProgress(*self, EventArgLong(p, 0)); break;
            case DISPID_OnError: OnError(*self, ToUtf8(EventArgText(p, 0))); break;
            case DISPID_OnConvFinish: OnFinish(*self); break;
            case DISPID_OnConvNotice:
                // Once per file: a second run of the file (with the encoder's
                // default) would only say it again.
                if (withQuality && self->active) core_.LogFor(self->row, LogColour::Orange, " " + ToUtf8(EventArgText(p, 0)));
                break;
            default: break;
        }
    });
    job.events.Connect(job.converter.get(), DIID_IKivAudioConverterEvents, job.sink.get());
    Bstr source(FromUtf8(row.SourceFilePath()));
    if (FAILED(hr = job.converter->CreateDecoderFor(source.get()))) return fail(hr);
    if (FAILED(hr = job.converter->put_Destination(encoder.get()))) return fail(hr);
    if (FAILED(hr = job.converter->put_KeepTags(settings_.keepTags ? VARIANT_TRUE : VARIANT_FALSE)))
        return fail(hr);
    job.active = true;
    if (FAILED(hr = job.converter->Go())) {
        job.active = false;
        return fail(hr);
    }
    return true;
}

void ConversionBatch::OnProgress(Job& job, int percent) {
    if (!job.active) return;
    job.percent = percent;
    job.samples = true;
    core_.SetPanel(1, std::to_string(percent) + "%");
    // The current bar follows the earliest file in work.
    for (const auto& other : jobs_) {
        if (!other->active) continue;
        if (other.get() == &job || other->row > job.row) core_.SetCurrentBar(percent);
        break;
    }
}

void ConversionBatch::OnError(Job& job, const std::string& message) {
    if (!job.active) return;
    // An output mode the encoder took at first but could not set up (a
    // rate its format lacks for this input, say) fails at the first block:
    // that file is converted again with the encoder's default. Any other
    // failure (a full disk, a folder that cannot be written) is the file's.
    if (job.qualitySet && !job.retried && !job.cancelled && IsOutputModeRefusal(message)) {
        job.retryWanted = true;
        core_.LogFor(job.row, LogColour::Orange,
                     LateRefusalLine(settings_, message, "Converting again with its default."));
        return;
    }
    job.error = message.empty() ? "unknown error" : message;
}

void ConversionBatch::OnFinish(Job& job) {
    if (!job.active) return;
    job.damageNote = DamageNoteOf(job.converter.get());
    // The converter closed the destination before telling of the finish.
    if (job.replayGain) job.replayGainLine = ReplayGainLine(job.replayGain.get());
    job.finished = true;
    RequestContinue();
}

void ConversionBatch::FinishFile(std::size_t index, Job& job) {
    // The finished file takes its place; a destination that appeared
    // meanwhile is not replaced unless the user said so.
    const unsigned flags = job.replace ? 0 : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, job.temporary.c_str(), AT_FDCWD, job.destination.c_str(), flags) != 0) {
        const std::string reason = errno == EEXIST ? std::string("the destination appeared meanwhile")
                                                   : std::string(std::strerror(errno));
        ::unlink(job.temporary.c_str());
        MarkFailed(index, "Cannot move the converted file to " + job.destination + ": " + reason);
        return;
    }
    core_.SetPanel(1, "100%");
    StatusRow& row = rows_[index];
    if (job.qualitySet) {
        const std::string substituted = SubstitutedBitrateLine(settings_, row.destinationFormat, job.destination);
        if (!substituted.empty()) core_.LogFor(index, LogColour::Orange, substituted);
    }
    if (settings_.deleteSource) {
        const std::string source = RowSource(index);
        if (::unlink(source.c_str()) == 0)
            core_.LogFor(index, LogColour::Green, " Source file deleted.");
        else
            core_.LogFor(index, LogColour::Orange,
                         " Source file not deleted: " + std::string(std::strerror(errno)));
    }
    row.icon = RowIcon::Done;
    struct stat st;
    row.destinationSize = ::stat(job.destination.c_str(), &st) == 0 ? SizeText(std::uint64_t(st.st_size)) : "-";
    row.status = "Done";
    core_.view().RowChanged(index);
    core_.LogFor(index, LogColour::Green, " Done.");
    if (!job.replayGainLine.empty()) core_.LogFor(index, LogColour::Green, job.replayGainLine);
    core_.SetPanel(0, "Conversion finished.");
    core_.CountSuccess();
}

void ConversionBatch::MarkSkipped(std::size_t index) {
    StatusRow& row = rows_[index];
    row.icon = RowIcon::Skipped;
    row.status = "Skip";
    core_.view().RowChanged(index);
    core_.LogFor(index, LogColour::Orange, " Skip " + RowSource(index));
    core_.CountSkip();
}

void ConversionBatch::MarkFailed(std::size_t index, const std::string& message) {
    StatusRow& row = rows_[index];
    row.icon = RowIcon::Failed;
    row.destinationSize = "-";
    row.status = "Failed";
    core_.view().RowChanged(index);
    core_.LogFor(index, LogColour::Red, " Converting Failed. An error occurs - " + message);
    core_.CountFailure();
}

void ConversionBatch::RowFinished(std::size_t index) {
    core_.FlushRow(index);
    long long finished = 0;
    for (const StatusRow& row : rows_)
        if (IsFinal(row.icon)) finished += SizeTextKilobytes(row.sourceSize);
    core_.SetFinishedUnits(finished);
    core_.SetCurrentBar(0);
}

void ConversionBatch::EndBatch() {
    core_.End();
    const std::string folder = rows_.empty() ? std::string() : rows_[lastHandled_].destinationPath;
    core_.RunPostActions(settings_.after, folder);
}

}  // namespace kiv::app
