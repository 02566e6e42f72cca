// CDDBRecord: one match of a drive's last CDDB lookup. It reads the match
// from the drive each time it is asked and holds no copy.
#pragma once

#include "components/cdrip/dispatch_object.h"
#include "components/cdrip/drive.h"

namespace kiv::cdrip {

class CddbRecordObject final : public DispatchObject<ICDDBRecord, kDispCddbRecord> {
public:
    static ComPtr<CddbRecordObject> Create(ComPtr<Drive> drive, std::size_t index);

    HRESULT get_Description(BSTR* value) override;
    HRESULT SetActive() override;
    HRESULT get_RawData(BSTR* value) override;

private:
    CddbRecordObject(ComPtr<Drive> drive, std::size_t index) : drive_(std::move(drive)), index_(index) {}
    ~CddbRecordObject() override = default;

    ComPtr<Drive> drive_;
    std::size_t index_;
};

}  // namespace kiv::cdrip
