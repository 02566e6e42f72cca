// Drive: one CD drive of the control, with the tracks of the disc in it,
// the CDDB records of the last lookup, and a poller that notices a disc
// change while no extraction runs.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <map>

#include "components/cdrip/accuraterip/accuraterip.h"
#include "components/cdrip/block_loop.h"
#include "components/cdrip/cddb/cddb_client.h"
#include "components/cdrip/dispatch_object.h"
#include "components/cdrip/drive_record.h"
#include "components/cdrip/extraction_job.h"
#include "components/cdrip/object_collection.h"
#include "platform/system/pipe.h"

namespace kiv::cdrip {

class CdRipper;
class Track;
class CddbRecordObject;

using TracksCollection = ObjectCollection<ITracksCollection, ITrack, kDispTracksCollection>;
using CddbRecordsCollection = ObjectCollection<ICDDBRecordsCollection, ICDDBRecord, kDispCddbRecordsCollection>;

constexpr int kPollIntervalMs = 5000;

class Drive final : public DispatchObject<IDrive, kDispDrive> {
public:
    static ComPtr<Drive> Create(CdRipper* control, std::shared_ptr<RunState> run,
                                std::shared_ptr<DriveRecord> record);

    HRESULT get_Name(BSTR* value) override;
    HRESULT get_Tracks(ITracksCollection** value) override;
    HRESULT OpenTray() override;
    HRESULT CloseTray() override;
    HRESULT Eject() override;
    HRESULT SetReadSpeed(LONG Speed) override;
    HRESULT get_CDDBRecords(ICDDBRecordsCollection** value) override;
    HRESULT Refresh() override;
    HRESULT get_AutoRefresh(VARIANT_BOOL* value) override;
    HRESULT put_AutoRefresh(VARIANT_BOOL value) override;
    HRESULT LoadCDDBData() override;
    HRESULT HasAudioCD(VARIANT_BOOL* value) override;
    HRESULT GetTrackNumber(LONG* dwTrackNumber) override;
    HRESULT GetTrack(LONG dwNumber, ITrack** lpTrack) override;
    HRESULT GetCDDBRecordNumber(LONG* value) override;
    HRESULT GetCDDBRecord(LONG dwNumber, ICDDBRecord** value) override;
    HRESULT get_DiscId(BSTR* value) override;
    HRESULT get_ReadOffset(LONG* value) override;
    HRESULT put_ReadOffset(LONG value) override;
    HRESULT get_AccurateRipId(BSTR* value) override;

    // Starts the disc-change poller; false with errno set when it cannot.
    bool StartPoller();
    // The control is going away: the poller stops, tracks and records are
    // let go (they hold this drive), and the drive no longer reaches the
    // control.
    void Detach();

    CdRipper* control() const { return control_; }
    DriveRecord& record() { return *record_; }
    TrackTable Table();
    std::optional<TrackBounds> BoundsOf(int index);

    // CDDB matches of the last lookup, read by the record objects and the
    // file-name templates.
    std::optional<cddb::Match> MatchAt(std::size_t index);
    void SetActiveRecord(std::size_t index);
    // The active record, when the index designates one.
    std::optional<cddb::Match> ActiveMatch();

    std::int32_t readOffset() const { return readOffset_; }
    // What the extraction thread learnt of the disc in the drive; both are
    // forgotten when the disc changes. The continuation holds only for
    // the read offset it was read with.
    Continuation TakeContinuation(std::int32_t offset);
    void KeepContinuation(Continuation continuation, std::int32_t offset);
    std::optional<accuraterip::TrackChecksums> ChecksumsOf(int index);
    void KeepChecksums(int index, const accuraterip::TrackChecksums& sums);
    void ForgetChecksums(int index);

private:
    Drive(CdRipper* control, std::shared_ptr<RunState> run, std::shared_ptr<DriveRecord> record);
    ~Drive() override;
    void Poll();
    void StopPoller();

    CdRipper* control_;
    std::shared_ptr<RunState> run_;
    std::shared_ptr<DriveRecord> record_;
    std::atomic<VARIANT_BOOL> autoRefresh_{1};
    std::atomic<std::int32_t> readOffset_{0};

    std::mutex lock_;  // the TOC cache, the table, the matches, the active index
    TocBuffer tocCache_{};
    TrackTable table_;
    std::vector<cddb::Match> matches_;
    std::size_t activeRecord_ = 0;
    Continuation continuation_;
    std::int32_t continuationOffset_ = 0;
    std::map<int, accuraterip::TrackChecksums> checksums_;
    ComPtr<TracksCollection> tracks_;
    ComPtr<CddbRecordsCollection> records_;

    Event stopPolling_;
    std::thread poller_;
};

}  // namespace kiv::cdrip
