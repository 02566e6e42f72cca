// Track: one track of the disc in a drive, by its position in the drive's
// table of contents. It keeps its drive alive but not the disc: after a
// disc change it answers with its position against the new table.
#pragma once

#include "components/cdrip/dispatch_object.h"
#include "components/cdrip/drive.h"

namespace kiv::cdrip {

class Track final : public DispatchObject<ITrack, kDispTrack> {
public:
    static ComPtr<Track> Create(ComPtr<Drive> drive, int index);

    HRESULT get_Duration(LONG* value) override;
    HRESULT get_Size(LONG* value) override;
    HRESULT get_IsAudio(VARIANT_BOOL* value) override;
    HRESULT ExtractToWav(BSTR szFilename) override;
    HRESULT ExtractToEncoder(BSTR szFilename, VARIANT_BOOL bWriteTag) override;
    HRESULT QueueExtractToWav(BSTR szFilename) override;
    HRESULT QueueExtractToEncoder(BSTR szFilename, VARIANT_BOOL bWriteTag) override;
    HRESULT GenerateFilename(BSTR szTemplate, BSTR* value) override;
    HRESULT get_StartFrame(LONG* value) override;
    HRESULT get_CRC32(LONG* value) override;
    HRESULT get_AccurateRipV1(LONG* value) override;
    HRESULT get_AccurateRipV2(LONG* value) override;

    int index() const { return index_; }

private:
    Track(ComPtr<Drive> drive, int index) : drive_(std::move(drive)), index_(index) {}
    ~Track() override = default;
    HRESULT Bounds(TrackBounds& bounds);
    HRESULT Checksum(std::uint32_t accuraterip::TrackChecksums::*which, LONG* value);
    HRESULT MakeJob(BSTR name, ExtractionJob::Kind kind, VARIANT_BOOL writeTag, ExtractionJob& job);

    ComPtr<Drive> drive_;
    int index_;
};

}  // namespace kiv::cdrip
