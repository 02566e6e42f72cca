// KivCDRipper: the CD extraction control. It finds the drives at creation,
// keeps the extraction queue, and runs jobs on an extraction thread that
// reads the disc (see block_loop.h) into a WAV file or the host's encoder.
// Worker threads post their events to the helper window; the host's thread
// fires them. The overwrite question is sent, so the host answers it on its
// own thread.
//
// Event order of one job: OnExtractionStart, OnProgress and
// OnJitterDetected in block order, OnProgress(100) when the job read every
// frame and was not cancelled, then OnExtractionEnd, which comes after the
// output file is finished, so a host may use the file as soon as it hears
// the event. A job whose frames could not all be read posts
// OnExtractionError("Unreadable frames in track N: a-b, ... Silence was
// written in their place.") just before its OnExtractionEnd. A sink or
// finishing failure posts its OnExtractionError before OnExtractionEnd and
// stops the run after that job.
#pragma once

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "components/cdrip/cdrip_interfaces.h"
#include "components/cdrip/drive.h"
#include "components/cdrip/extraction_job.h"
#include "components/common/component.h"

namespace kiv::cdrip {

using DrivesCollection = ObjectCollection<IDrivesCollection, IDrive, kDispDrivesCollection>;

class CdRipper final : public ComponentObject<IKivCDRipper, kDispCdRipper> {
public:
    CdRipper();
    static HRESULT Create(REFIID riid, void** ppv) { return CreateInstance<CdRipper>(riid, ppv); }

    HRESULT get_Drives(IDrivesCollection** value) override;
    HRESULT CancelExtraction() override;
    HRESULT get_Encoder(IKivAudioEncoder** value) override;
    HRESULT put_Encoder(IKivAudioEncoder* value) override;
    HRESULT get_JitterCorrection(VARIANT_BOOL* value) override;
    HRESULT put_JitterCorrection(VARIANT_BOOL value) override;
    HRESULT RunQueue() override;
    HRESULT ClearQueue() override;
    HRESULT GetDriveNumber(LONG* dwDriveNumber) override;
    HRESULT GetDrive(LONG dwNumber, IDrive** lpDrive) override;
    HRESULT get_OverwritePrompt(VARIANT_BOOL* value) override;
    HRESULT put_OverwritePrompt(VARIANT_BOOL value) override;
    HRESULT get_InProgress(VARIANT_BOOL* value) override;

    // From the tracks: one job now, or one more in the queue.
    HRESULT ExtractNow(ExtractionJob job);
    HRESULT Enqueue(ExtractionJob job);
    bool HasEncoder();

private:
    ~CdRipper() override = default;
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    LRESULT OnHelperMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void OnDroppedMessage(UINT msg, WPARAM wp, LPARAM lp) override;

    HRESULT StartRun(std::vector<ExtractionJob> jobs);
    void RunJobs(std::vector<ExtractionJob> jobs);
    void PostError(std::u16string_view text);
    void Post(UINT msg, WPARAM wp = 0);
    bool AskOverwrite();

    std::shared_ptr<RunState> run_ = std::make_shared<RunState>();
    ComPtr<DrivesCollection> drives_;
    std::atomic<VARIANT_BOOL> jitterCorrection_{0};
    std::atomic<VARIANT_BOOL> overwritePrompt_{1};

    std::mutex lock_;  // encoder, queue, encoder error text
    ComPtr<IKivAudioEncoder> encoder_;
    std::vector<ExtractionJob> queue_;
    std::u16string encoderError_;
    ComPtr<DispatchSink> encoderSink_;
    std::thread thread_;
};

}  // namespace kiv::cdrip
