#include "components/cdrip/drive.h"

#include <cstring>

#include "components/cdrip/cd_ripper.h"
#include "components/cdrip/cddb_record_object.h"
#include "components/cdrip/musicbrainz/disc_lookup.h"
#include "components/cdrip/offset_reader.h"
#include "components/cdrip/track.h"
#include "platform/system/text.h"

namespace kiv::cdrip {

ComPtr<Drive> Drive::Create(CdRipper* control, std::shared_ptr<RunState> run, std::shared_ptr<DriveRecord> record) {
    return ComPtr<Drive>::adopt(new Drive(control, std::move(run), std::move(record)));
}

Drive::Drive(CdRipper* control, std::shared_ptr<RunState> run, std::shared_ptr<DriveRecord> record)
    : control_(control),
      run_(std::move(run)),
      record_(std::move(record)),
      tracks_(TracksCollection::Create()),
      records_(CddbRecordsCollection::Create()) {}

Drive::~Drive() { StopPoller(); }

HRESULT Drive::get_Name(BSTR* value) {
    if (!value) return E_POINTER;
    *value = SysAllocString(FromUtf8(record_->name()));
    return S_OK;
}

HRESULT Drive::get_Tracks(ITracksCollection** value) { return HandOut(tracks_, value); }
HRESULT Drive::get_CDDBRecords(ICDDBRecordsCollection** value) { return HandOut(records_, value); }

// Tray and speed commands keep the drive's answer in its last status only.
HRESULT Drive::OpenTray() {
    record_->StartStop(false);
    return S_OK;
}

HRESULT Drive::CloseTray() {
    record_->StartStop(true);
    return S_OK;
}

HRESULT Drive::Eject() { return OpenTray(); }

HRESULT Drive::SetReadSpeed(LONG Speed) {
    if (Speed == 0) return S_OK;
    const WORD value = Speed == -1 ? 0xFFFF : static_cast<WORD>(static_cast<DWORD>(Speed) * 176u);
    record_->SetSpeed(value);
    return S_OK;
}

HRESULT Drive::Refresh() {
    TocBuffer toc;
    record_->ReadToc(toc);
    {
        std::lock_guard lock(lock_);
        if (toc == tocCache_) return S_OK;
        table_ = TrackTable::FromToc(toc.data());
        tocCache_ = toc;
        activeRecord_ = 0;
        continuation_ = {};
        checksums_.clear();
    }
    records_->Replace({});
    std::vector<ComPtr<ITrack>> tracks;
    if (record_->TestUnitReady()) {
        const int count = TrackTable::FromToc(toc.data()).TrackCount();
        for (int i = 0; i < count; ++i) tracks.emplace_back(Track::Create(ComPtr<Drive>(this), i).get());
    }
    tracks_->Replace(std::move(tracks));
    return S_OK;
}

HRESULT Drive::get_AutoRefresh(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = autoRefresh_;
    return S_OK;
}

HRESULT Drive::put_AutoRefresh(VARIANT_BOOL value) {
    autoRefresh_ = value;
    return S_OK;
}

HRESULT Drive::HasAudioCD(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(lock_);
    *value = table_.HasAudio() ? 1 : 0;
    return S_OK;
}

HRESULT Drive::GetTrackNumber(LONG* value) { return tracks_->get_Count(value); }
HRESULT Drive::GetTrack(LONG number, ITrack** value) { return tracks_->get_Item(number, value); }
HRESULT Drive::GetCDDBRecordNumber(LONG* value) { return records_->get_Count(value); }
HRESULT Drive::GetCDDBRecord(LONG number, ICDDBRecord** value) { return records_->get_Item(number, value); }

namespace {

// The disc as the CDDB server identifies it: every track's start and the
// lead-out, data tracks included.
cddb::DiscToc DiscTocOf(const TrackTable& table) {
    cddb::DiscToc toc;
    if (table.count < 2) return toc;
    for (int i = 0; i < table.count - 1; ++i) toc.trackStarts.push_back(table.start[i]);
    toc.leadOut = table.start[table.count - 1];
    return toc;
}

// The number of audio tracks before a data track that ends the disc
// (enhanced CD); 0 when the disc ends with audio.
int LastAudioTrack(const TrackTable& table) {
    const int tracks = table.TrackCount();
    if (tracks < 2 || table.IsAudio(tracks - 1)) return 0;
    int last = tracks - 1;
    while (last > 0 && !table.IsAudio(last - 1)) --last;
    return last;
}

}  // namespace

HRESULT Drive::get_DiscId(BSTR* value) {
    if (!value) return E_POINTER;
    const cddb::DiscToc toc = DiscTocOf(Table());
    *value = SysAllocString(toc.IsUsable() ? FromUtf8(cddb::DiscIdText(cddb::DiscId(toc))) : std::u16string());
    return S_OK;
}

HRESULT Drive::get_ReadOffset(LONG* value) {
    if (!value) return E_POINTER;
    *value = readOffset_;
    return S_OK;
}

HRESULT Drive::put_ReadOffset(LONG value) {
    if (value < -kMaxReadOffset || value > kMaxReadOffset)
        return ReportCdError(FromUtf8("The read offset must lie between -" + std::to_string(kMaxReadOffset) + " and " +
                                      std::to_string(kMaxReadOffset) + " samples."));
    readOffset_ = static_cast<std::int32_t>(value);
    return S_OK;
}

HRESULT Drive::get_AccurateRipId(BSTR* value) {
    if (!value) return E_POINTER;
    const TrackTable table = Table();
    const cddb::DiscToc toc = DiscTocOf(table);
    std::vector<std::int32_t> starts;
    std::int32_t end = 0;
    for (int i = 0; i < table.TrackCount(); ++i) {
        if (!table.IsAudio(i)) continue;
        const auto b = table.BoundsOf(i);
        if (!b) continue;
        starts.push_back(b->start);
        end = b->end;
    }
    std::u16string text;
    if (!starts.empty() && toc.IsUsable())
        text = FromUtf8(accuraterip::FileName(accuraterip::IdsOf(starts, end, cddb::DiscId(toc))));
    *value = SysAllocString(text);
    return S_OK;
}

Continuation Drive::TakeContinuation(std::int32_t offset) {
    std::lock_guard lock(lock_);
    Continuation c = std::move(continuation_);
    continuation_ = {};
    if (offset != continuationOffset_) return {};
    return c;
}

void Drive::KeepContinuation(Continuation continuation, std::int32_t offset) {
    std::lock_guard lock(lock_);
    continuation_ = std::move(continuation);
    continuationOffset_ = offset;
}

std::optional<accuraterip::TrackChecksums> Drive::ChecksumsOf(int index) {
    std::lock_guard lock(lock_);
    const auto it = checksums_.find(index);
    if (it == checksums_.end()) return std::nullopt;
    return it->second;
}

void Drive::KeepChecksums(int index, const accuraterip::TrackChecksums& sums) {
    std::lock_guard lock(lock_);
    checksums_[index] = sums;
}

void Drive::ForgetChecksums(int index) {
    std::lock_guard lock(lock_);
    checksums_.erase(index);
}

HRESULT Drive::LoadCDDBData() {
    records_->Replace({});
    {
        std::lock_guard lock(lock_);
        activeRecord_ = 0;
    }
    const TrackTable table = Table();
    const cddb::DiscToc toc = DiscTocOf(table);
    // The lookup runs on a connector thread of its own; the caller waits
    // for it, as the lookup is meant to block its caller. The clients keep
    // their own limits on connecting and answering, so the wait ends. The
    // source (CDDB, MusicBrainz or both) is the environment's choice, like
    // the servers.
    musicbrainz::DiscLookupResult result;
    std::thread connector([&] {
        result = musicbrainz::LookupDisc(toc, musicbrainz::LookupSourceFromEnvironment(), LastAudioTrack(table));
    });
    connector.join();

    std::vector<ComPtr<ICDDBRecord>> records;
    {
        std::lock_guard lock(lock_);
        matches_ = result.matches;
        activeRecord_ = 0;
    }
    for (std::size_t i = 0; i < result.recordsRead && i < result.matches.size(); ++i)
        records.emplace_back(CddbRecordObject::Create(ComPtr<Drive>(this), i).get());
    records_->Replace(std::move(records));
    if (!result.ok()) return ReportCdError(FromUtf8(result.message));
    return S_OK;
}

TrackTable Drive::Table() {
    std::lock_guard lock(lock_);
    return table_;
}

std::optional<TrackBounds> Drive::BoundsOf(int index) {
    std::lock_guard lock(lock_);
    return table_.BoundsOf(index);
}

std::optional<cddb::Match> Drive::MatchAt(std::size_t index) {
    std::lock_guard lock(lock_);
    if (index >= matches_.size()) return std::nullopt;
    return matches_[index];
}

void Drive::SetActiveRecord(std::size_t index) {
    std::lock_guard lock(lock_);
    activeRecord_ = index;
}

std::optional<cddb::Match> Drive::ActiveMatch() {
    std::lock_guard lock(lock_);
    if (activeRecord_ >= matches_.size()) return std::nullopt;
    return matches_[activeRecord_];
}

bool Drive::StartPoller() {
    try {
        poller_ = std::thread(&Drive::Poll, this);
    } catch (const std::system_error& e) {
        errno = e.code().value();
        return false;
    }
    return true;
}

void Drive::Poll() {
    while (!stopPolling_.Wait(kPollIntervalMs)) {
        if (run_->inProgress || autoRefresh_ == 0) continue;
        TocBuffer toc;
        record_->ReadToc(toc);
        bool changed;
        {
            std::lock_guard lock(lock_);
            changed = toc != tocCache_;
        }
        // The run may have started while the TOC was read; it has the
        // drive to itself from then on.
        if (!changed || run_->inProgress) continue;
        Refresh();
        PostMessage(run_->window, WMH_CD_DISK_CHANGED, 0, 0);
    }
}

void Drive::StopPoller() {
    stopPolling_.Set();
    if (poller_.joinable()) poller_.join();
}

void Drive::Detach() {
    StopPoller();
    control_ = nullptr;
    tracks_->Replace({});
    records_->Replace({});
}

}  // namespace kiv::cdrip
