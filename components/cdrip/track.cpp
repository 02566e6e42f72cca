#include "components/cdrip/track.h"

#include "components/cdrip/cd_ripper.h"
#include "components/cdrip/cddb/file_name_template.h"
#include "platform/system/text.h"

namespace kiv::cdrip {
namespace {

constexpr char16_t kNoSuchTrack[] = u"No such track on the disk";
constexpr char16_t kControlGone[] = u"The CD extraction control has been released.";
constexpr char16_t kNoChecksums[] = u"The track has not been extracted completely from this disc.";

}  // namespace

ComPtr<Track> Track::Create(ComPtr<Drive> drive, int index) {
    return ComPtr<Track>::adopt(new Track(std::move(drive), index));
}

HRESULT Track::Bounds(TrackBounds& bounds) {
    const auto b = drive_->BoundsOf(index_);
    if (!b) return ReportCdError(kNoSuchTrack);
    bounds = *b;
    return S_OK;
}

HRESULT Track::get_Duration(LONG* value) {
    if (!value) return E_POINTER;
    TrackBounds b;
    if (HRESULT hr = Bounds(b); FAILED(hr)) return hr;
    *value = static_cast<LONG>(static_cast<DWORD>(b.end - b.start) / kFramesPerSecond);
    return S_OK;
}

HRESULT Track::get_Size(LONG* value) {
    if (!value) return E_POINTER;
    TrackBounds b;
    if (HRESULT hr = Bounds(b); FAILED(hr)) return hr;
    *value = static_cast<LONG>(static_cast<std::int64_t>(b.end - b.start) * kFrameBytes);
    return S_OK;
}

HRESULT Track::get_IsAudio(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    const TrackTable table = drive_->Table();
    if (!table.HasTrack(index_)) return ReportCdError(kNoSuchTrack);
    *value = table.IsAudio(index_) ? 1 : 0;
    return S_OK;
}

HRESULT Track::get_StartFrame(LONG* value) {
    if (!value) return E_POINTER;
    TrackBounds b;
    if (HRESULT hr = Bounds(b); FAILED(hr)) return hr;
    *value = b.start;
    return S_OK;
}

HRESULT Track::Checksum(std::uint32_t accuraterip::TrackChecksums::*which, LONG* value) {
    if (!value) return E_POINTER;
    const auto sums = drive_->ChecksumsOf(index_);
    if (!sums) return ReportCdError(kNoChecksums);
    *value = static_cast<LONG>((*sums).*which);
    return S_OK;
}

HRESULT Track::get_CRC32(LONG* value) { return Checksum(&accuraterip::TrackChecksums::crc32, value); }
HRESULT Track::get_AccurateRipV1(LONG* value) { return Checksum(&accuraterip::TrackChecksums::v1, value); }
HRESULT Track::get_AccurateRipV2(LONG* value) { return Checksum(&accuraterip::TrackChecksums::v2, value); }

HRESULT Track::MakeJob(BSTR name, ExtractionJob::Kind kind, VARIANT_BOOL writeTag, ExtractionJob& job) {
    if (!drive_->control()) return ReportCdError(kControlGone);
    job.drive = drive_;
    job.trackIndex = index_;
    job.kind = kind;
    job.fileName = std::u16string(BstrView(name));
    if (kind == ExtractionJob::Kind::Encoder && writeTag != 0) {
        if (auto active = drive_->ActiveMatch()) {
            job.writeTag = true;
            job.recordText = active->raw;
        }
    }
    return S_OK;
}

HRESULT Track::ExtractToWav(BSTR szFilename) {
    ExtractionJob job;
    if (HRESULT hr = MakeJob(szFilename, ExtractionJob::Kind::Wav, 0, job); FAILED(hr)) return hr;
    return drive_->control()->ExtractNow(std::move(job));
}

HRESULT Track::ExtractToEncoder(BSTR szFilename, VARIANT_BOOL bWriteTag) {
    ExtractionJob job;
    if (HRESULT hr = MakeJob(szFilename, ExtractionJob::Kind::Encoder, bWriteTag, job); FAILED(hr)) return hr;
    return drive_->control()->ExtractNow(std::move(job));
}

HRESULT Track::QueueExtractToWav(BSTR szFilename) {
    ExtractionJob job;
    if (HRESULT hr = MakeJob(szFilename, ExtractionJob::Kind::Wav, 0, job); FAILED(hr)) return hr;
    return drive_->control()->Enqueue(std::move(job));
}

HRESULT Track::QueueExtractToEncoder(BSTR szFilename, VARIANT_BOOL bWriteTag) {
    ExtractionJob job;
    if (HRESULT hr = MakeJob(szFilename, ExtractionJob::Kind::Encoder, bWriteTag, job); FAILED(hr)) return hr;
    return drive_->control()->Enqueue(std::move(job));
}

HRESULT Track::GenerateFilename(BSTR szTemplate, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    const auto active = drive_->ActiveMatch();
    if (!active) return ReportCdError(FromUtf8(cddb::kNoActiveRecordText));
    const cddb::Record record = cddb::ParseRecord(active->raw, active->category);
    *value = SysAllocString(cddb::ExpandFileNameTemplate(BstrView(szTemplate), record, index_));
    return S_OK;
}

}  // namespace kiv::cdrip
