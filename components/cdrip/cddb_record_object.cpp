#include "components/cdrip/cddb_record_object.h"

#include "platform/system/text.h"

namespace kiv::cdrip {

ComPtr<CddbRecordObject> CddbRecordObject::Create(ComPtr<Drive> drive, std::size_t index) {
    return ComPtr<CddbRecordObject>::adopt(new CddbRecordObject(std::move(drive), index));
}

HRESULT CddbRecordObject::get_Description(BSTR* value) {
    if (!value) return E_POINTER;
    const auto match = drive_->MatchAt(index_);
    *value = SysAllocString(FromUtf8(match ? match->description : std::string()));
    return S_OK;
}

HRESULT CddbRecordObject::SetActive() {
    drive_->SetActiveRecord(index_);
    return S_OK;
}

HRESULT CddbRecordObject::get_RawData(BSTR* value) {
    if (!value) return E_POINTER;
    const auto match = drive_->MatchAt(index_);
    *value = SysAllocString(FromUtf8(match ? match->raw : std::string()));
    return S_OK;
}

}  // namespace kiv::cdrip
