#include "components/cdrip/cd_ripper.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "components/cdrip/block_loop.h"
#include "components/cdrip/cddb/cddb_record.h"
#include "components/cdrip/offset_reader.h"
#include "components/cdrip/output_folders.h"
#include "components/cdrip/wav_file_writer.h"
#include "platform/system/message_box.h"
#include "platform/system/system_error.h"
#include "platform/system/text.h"

namespace kiv::cdrip {
namespace {

constexpr char16_t kNoDrives[] = u"Seems like you don't have any CD drives...";
constexpr char16_t kInProgress[] = u"Extraction is already in progress.";
constexpr char16_t kNoEncoder[] = u"External encoder is not set.";
constexpr char16_t kQueueEmpty[] = u"Extraction queue is empty.";
constexpr char16_t kOverwriteQuestion[] = u"File already exists. Do you wish to overwrite it?";
constexpr char16_t kCaption[] = u"CD Extractor Control";
constexpr char16_t kCancelled[] = u"Cancelled by user.";
constexpr char16_t kNoSuchTrack[] = u"No such track on the disk";
constexpr char16_t kUnknownJob[] = u"Internal error #7603";
constexpr char16_t kEncoderOpen[] = u"Internal error #7653. External encoder was unable to start.";
constexpr char16_t kEncoderFormat[] = u"Internal error #7654. Cannot start encoding.";
constexpr char16_t kEncoderWrite[] = u"Internal error #7655. Error writing to external encoder.";
constexpr char16_t kEncoderClose[] = u"Internal error #7656. External encoder problem.";

bool EndsWithWav(std::u16string_view name) {
    return name.size() >= 4 && EqualsNoCase(name.substr(name.size() - 4), u".wav");
}

std::u16string ErrorInfoOr(std::u16string_view fallback) {
    std::u16string description = TakeErrorDescription();
    return description.empty() ? std::u16string(fallback) : description;
}

std::u16string UnreadableText(int trackIndex, const std::vector<FrameSpan>& spans) {
    std::string text = "Unreadable frames in track " + std::to_string(trackIndex + 1) + ": ";
    for (std::size_t i = 0; i < spans.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(spans[i].first);
        if (spans[i].last != spans[i].first) text += "-" + std::to_string(spans[i].last);
    }
    text += ". Silence was written in their place.";
    return FromUtf8(text);
}

// The output of one job, WAV file or encoder, behind one face.
struct JobOutput {
    std::unique_ptr<WavFileWriter> wav;
    ComPtr<IKivAudioEncoder> encoder;
};

}  // namespace

CdRipper::CdRipper() : ComponentObject(kClassCdRipper, DIID_IKivCDRipperEvents) {}

HRESULT CdRipper::FinalConstruct() {
    HRESULT hr = ComponentObject::FinalConstruct();
    if (FAILED(hr)) return hr;
    run_->window = helper();
    encoderSink_ = DispatchSink::Create(DIID_IKivAudioEncoderEvents, [this](DISPID id, DISPPARAMS& p) {
        if (id != DISPID_OnError) return;
        std::lock_guard lock(lock_);
        encoderError_ = EventArgText(p, 0);
    });

    std::shared_ptr<scsi::ScsiTransport> transport = scsi::ScsiTransport::Open(scsi::ScsiTransport::AspiLibraryName());
    if (!transport) return E_FAIL;
    if (scsi::SupportStatus(transport->SupportInfo()) != scsi::SS_COMP) return E_FAIL;
    const std::vector<scsi::DiscoveredDrive> found = transport->Discover();
    if (found.empty()) return ReportError(kNoDrives);

    drives_ = DrivesCollection::Create();
    std::vector<ComPtr<IDrive>> drives;
    for (const scsi::DiscoveredDrive& d : found) {
        ComPtr<Drive> drive = Drive::Create(this, run_, std::make_shared<DriveRecord>(transport, d));
        drive->Refresh();
        drives.emplace_back(drive.get());
        if (!drive->StartPoller()) {
            const int err = errno;
            drives_->Replace(std::move(drives));
            return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(err));
        }
    }
    drives_->Replace(std::move(drives));
    return S_OK;
}

void CdRipper::FinalRelease() {
    // A run still going is cancelled and waited for; messages sent to this
    // thread meanwhile (the overwrite question) are answered.
    if (run_->inProgress) {
        run_->cancel = true;
        while (run_->inProgress) {
            MSG m;
            PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
            WaitMessage(50);
        }
    }
    if (thread_.joinable()) thread_.join();
    if (drives_) {
        for (const auto& item : drives_->Items()) static_cast<Drive*>(item.get())->Detach();
        drives_->Replace({});
    }
    ComponentObject::FinalRelease();
    std::lock_guard lock(lock_);
    encoder_.reset();
    queue_.clear();
    encoderSink_.reset();
}

HRESULT CdRipper::get_Drives(IDrivesCollection** value) { return HandOut(drives_, value); }
HRESULT CdRipper::GetDriveNumber(LONG* value) { return drives_->get_Count(value); }
HRESULT CdRipper::GetDrive(LONG number, IDrive** value) { return drives_->get_Item(number, value); }

HRESULT CdRipper::CancelExtraction() {
    if (!run_->inProgress) return S_FALSE;
    run_->cancel = true;
    return S_OK;
}

HRESULT CdRipper::get_Encoder(IKivAudioEncoder** value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    std::lock_guard lock(lock_);
    if (encoder_) encoder_->QueryInterface(IID_IKivAudioEncoder, reinterpret_cast<void**>(value));
    return S_OK;
}

HRESULT CdRipper::put_Encoder(IKivAudioEncoder* value) {
    ComPtr<IKivAudioEncoder> old;
    {
        std::lock_guard lock(lock_);
        old = std::move(encoder_);
        encoder_ = ComPtr<IKivAudioEncoder>(value);
    }
    return S_OK;
}

bool CdRipper::HasEncoder() {
    std::lock_guard lock(lock_);
    return bool(encoder_);
}

HRESULT CdRipper::get_JitterCorrection(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = jitterCorrection_;
    return S_OK;
}

HRESULT CdRipper::put_JitterCorrection(VARIANT_BOOL value) {
    jitterCorrection_ = value;
    return S_OK;
}

HRESULT CdRipper::get_OverwritePrompt(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = overwritePrompt_;
    return S_OK;
}

HRESULT CdRipper::put_OverwritePrompt(VARIANT_BOOL value) {
    overwritePrompt_ = value;
    return S_OK;
}

HRESULT CdRipper::get_InProgress(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = run_->inProgress ? 1 : 0;
    return S_OK;
}

HRESULT CdRipper::ClearQueue() {
    std::lock_guard lock(lock_);
    queue_.clear();
    return S_OK;
}

HRESULT CdRipper::Enqueue(ExtractionJob job) {
    if (job.kind == ExtractionJob::Kind::Encoder && !HasEncoder()) return ReportError(kNoEncoder);
    std::lock_guard lock(lock_);
    queue_.push_back(std::move(job));
    return S_OK;
}

HRESULT CdRipper::ExtractNow(ExtractionJob job) {
    if (run_->inProgress) return ReportError(kInProgress);
    if (job.kind == ExtractionJob::Kind::Encoder && !HasEncoder()) return ReportError(kNoEncoder);
    std::vector<ExtractionJob> jobs;
    jobs.push_back(std::move(job));
    return StartRun(std::move(jobs));
}

HRESULT CdRipper::RunQueue() {
    if (run_->inProgress) return ReportError(kInProgress);
    std::vector<ExtractionJob> jobs;
    {
        std::lock_guard lock(lock_);
        jobs = queue_;
    }
    if (jobs.empty()) return ReportError(kQueueEmpty);
    return StartRun(std::move(jobs));
}

HRESULT CdRipper::StartRun(std::vector<ExtractionJob> jobs) {
    // The flag is raised here, on the host's thread, so that a second call
    // right after this one is refused rather than racing the thread start.
    if (run_->inProgress.exchange(true)) return ReportError(kInProgress);
    if (thread_.joinable()) thread_.join();  // the previous run, done posting
    run_->cancel = false;
    try {
        thread_ = std::thread(&CdRipper::RunJobs, this, std::move(jobs));
    } catch (const std::system_error& e) {
        run_->inProgress = false;
        return HRESULT_FROM_WIN32(static_cast<std::uint32_t>(e.code().value()));
    }
    return S_OK;
}

void CdRipper::Post(UINT msg, WPARAM wp) { PostMessage(run_->window, msg, wp, 0); }

void CdRipper::PostError(std::u16string_view text) {
    BSTR copy = SysAllocString(text);
    if (!PostMessage(run_->window, WMH_CD_EXTRACTION_ERROR, reinterpret_cast<WPARAM>(copy), 0)) SysFreeString(copy);
}

bool CdRipper::AskOverwrite() { return SendMessage(run_->window, WMH_CD_OVERWRITE_QUERY, 0, 0) != 0; }

void CdRipper::RunJobs(std::vector<ExtractionJob> jobs) {
    {
        std::lock_guard lock(lock_);
        encoderError_.clear();
    }
    EventConnection encoderEvents;
    bool advised = false;

    for (const ExtractionJob& job : jobs) {
        Drive& drive = *job.drive.get();
        const std::optional<TrackBounds> bounds = drive.BoundsOf(job.trackIndex);
        const std::string path = ToUtf8(job.fileName);
        JobOutput out;

        // Opening. A failure stops the run before the job's start event.
        std::u16string error;
        if (!bounds) {
            error = kNoSuchTrack;
        } else if (job.kind == ExtractionJob::Kind::Wav) {
            std::string file = path;
            if (!EndsWithWav(job.fileName)) file += ".wav";
            CreateParentFolders(file);
            struct stat st;
            if (::stat(file.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !AskOverwrite()) {
                error = kCancelled;
            } else {
                out.wav = std::make_unique<WavFileWriter>();
                if (!out.wav->Open(file, error)) out.wav.reset();
            }
        } else if (job.kind == ExtractionJob::Kind::Encoder) {
            {
                std::lock_guard lock(lock_);
                out.encoder = encoder_;
            }
            CreateParentFolders(path);
            Bstr name(job.fileName);
            WAVEFORMATEX wfx{};
            wfx.wFormatTag = WAVE_FORMAT_PCM;
            wfx.nChannels = 2;
            wfx.nSamplesPerSec = 44100;
            wfx.nAvgBytesPerSec = 176400;
            wfx.nBlockAlign = 4;
            wfx.wBitsPerSample = 16;
            if (!out.encoder) {
                error = kEncoderOpen;
            } else if (FAILED(out.encoder->Open(name.get()))) {
                error = ErrorInfoOr(kEncoderOpen);
            } else if (FAILED(out.encoder->SetInputFormatWFX(&wfx))) {
                error = ErrorInfoOr(kEncoderFormat);
                out.encoder->Close();
            } else {
                if (!advised) {
                    advised = true;
                    encoderEvents.Connect(out.encoder.get(), DIID_IKivAudioEncoderEvents, encoderSink_.get());
                }
                if (job.writeTag) {
                    const cddb::Record record = cddb::ParseRecord(job.recordText);
                    const TagRecord tags = cddb::TrackTags(record, job.trackIndex);
                    ComPtr<IAudioTag> tag;
                    if (SUCCEEDED(out.encoder->QueryInterface(IID_IAudioTag, tag.put_void())) && tag) {
                        const std::pair<HRESULT (IAudioTag::*)(BSTR), const std::u16string*> fields[] = {
                            {&IAudioTag::put_Title, &tags.title}, {&IAudioTag::put_Artist, &tags.artist},
                            {&IAudioTag::put_Album, &tags.album}, {&IAudioTag::put_Year, &tags.year},
                            {&IAudioTag::put_Genre, &tags.genre}, {&IAudioTag::put_TrackNo, &tags.trackNo},
                            {&IAudioTag::put_Comment, &tags.comment},
                        };
                        for (const auto& [put, value] : fields) {
                            // A record that carries no comment leaves the encoder's own.
                            if (put == &IAudioTag::put_Comment && value->empty()) continue;
                            Bstr text(*value);
                            (tag.get()->*put)(text.get());
                        }
                    }
                    // Only a format with a place for the MusicBrainz ids gets them.
                    ComPtr<IKivTagFields> named;
                    if (SUCCEEDED(out.encoder->QueryInterface(IID_IKivTagFields, named.put_void())) && named) {
                        for (const TagField& field : cddb::TrackFields(record, job.trackIndex)) {
                            Bstr name(field.name), value(field.value);
                            named->SetField(name.get(), value.get());
                        }
                    }
                }
            }
        } else {
            error = kUnknownJob;
        }
        if (!error.empty()) {
            SetErrorInfo(0, nullptr);
            PostError(error);
            break;
        }
        Post(WMH_CD_EXTRACTION_START);

        const TrackTable table = drive.Table();
        const std::vector<FrameSpan> audio = AudioSpans(table);
        const std::int32_t offset = drive.readOffset();
        const ReadRange range = RangeOf(*bounds);
        accuraterip::Checksummer checksums(
            static_cast<std::uint64_t>(range.last - range.first) * (kFrameBytes / 4),
            !audio.empty() && bounds->start == audio.front().first, !audio.empty() && bounds->end == audio.back().last + 1);

        BlockLoopHooks hooks;
        std::u16string sinkError;
        hooks.read = [&drive, &audio, offset](std::int32_t lba, std::uint32_t frames, BYTE* buffer) {
            const FrameReader read = [&drive](std::int32_t at, std::uint32_t count, BYTE* into) {
                return drive.record().ReadFrames(at, count, into);
            };
            return ReadWithOffset(read, audio, offset, lba, frames, buffer);
        };
        hooks.sink = [&](const BYTE* data, std::size_t size) {
            checksums.Add(data, size);
            if (out.wav) return out.wav->Write(data, size, sinkError);
            if (SUCCEEDED(out.encoder->Write(const_cast<BYTE*>(data), static_cast<LONG>(size)))) return true;
            // The encoder's own words: its Write's error info, or its OnError.
            std::u16string own = ErrorInfoOr(kEncoderWrite);
            std::lock_guard lock(lock_);
            sinkError = advised && !encoderError_.empty() ? encoderError_ : own;
            return false;
        };
        hooks.jitterCorrection = [this] { return jitterCorrection_ != 0; };
        hooks.cancelled = [this] { return run_->cancel.load(); };
        hooks.progress = [this](int percent) { Post(WMH_CD_PROGRESS, static_cast<WPARAM>(percent)); };
        hooks.jitterDetected = [this] { Post(WMH_CD_JITTER); };
        const Continuation carried = drive.TakeContinuation(offset);
        BlockLoopOutcome outcome = RunBlockLoop(range, hooks, &carried);
        bool stop = outcome.end == BlockLoopOutcome::End::SinkFailed;

        // Finishing comes before the end event, so the file is complete
        // by the time the host hears of it.
        std::u16string finishError;
        if (out.wav) {
            out.wav->Finish(finishError);
        } else if (FAILED(out.encoder->Close())) {
            finishError = ErrorInfoOr(kEncoderClose);
        }
        SetErrorInfo(0, nullptr);
        // Only a track read whole and kept has checksums, and only its end
        // is where the next track may continue.
        const bool whole = outcome.end == BlockLoopOutcome::End::Done && !run_->cancel && !stop &&
                           outcome.unreadable.empty() && finishError.empty();
        if (whole) {
            drive.KeepChecksums(job.trackIndex, checksums.Result());
            drive.KeepContinuation(std::move(outcome.continuation), offset);
        } else {
            drive.ForgetChecksums(job.trackIndex);
            // The previous track still ends where it did: a second try of
            // this one joins it as well.
            drive.KeepContinuation(carried, offset);
        }
        if (!run_->cancel && !stop && outcome.unreadable.empty() && finishError.empty()) Post(WMH_CD_PROGRESS, 100);
        if (stop) PostError(sinkError);
        if (!outcome.unreadable.empty()) PostError(UnreadableText(job.trackIndex, outcome.unreadable));
        if (!finishError.empty()) {
            PostError(finishError);
            stop = true;
        }
        Post(WMH_CD_EXTRACTION_END);
        if (run_->cancel || stop) break;
    }
    encoderEvents.Disconnect();
    jobs.clear();
    run_->inProgress = false;
}

LRESULT CdRipper::OnHelperMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WMH_CD_DISK_CHANGED: Fire(DISPID_OnDiskChanged); return 0;
        case WMH_CD_EXTRACTION_START: Fire(DISPID_OnExtractionStart); return 0;
        case WMH_CD_EXTRACTION_END: Fire(DISPID_OnExtractionEnd); return 0;
        case WMH_CD_EXTRACTION_ERROR: {
            Bstr text = Bstr::adopt(reinterpret_cast<BSTR>(wp));
            FireText(DISPID_OnExtractionError, text.view());
            return 0;
        }
        case WMH_CD_JITTER: Fire(DISPID_OnJitterDetected); return 0;
        case WMH_CD_PROGRESS: FireLong(DISPID_OnProgress, static_cast<LONG>(wp)); return 0;
        case WMH_CD_OVERWRITE_QUERY:
            if (overwritePrompt_ == 0) return 1;
            return MessageBox(helper(), kOverwriteQuestion, kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
        default: return 0;
    }
}

void CdRipper::OnDroppedMessage(UINT msg, WPARAM wp, LPARAM) {
    if (msg == WMH_CD_EXTRACTION_ERROR) SysFreeString(reinterpret_cast<BSTR>(wp));
}

}  // namespace kiv::cdrip
