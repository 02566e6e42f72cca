#include "components/cdrip/variant_enumerator.h"

#include "components/common/component.h"

namespace kiv::cdrip {

ComPtr<IEnumVARIANT> VariantEnumerator::Create(std::vector<ComPtr<IDispatch>> items, std::size_t position) {
    return ComPtr<IEnumVARIANT>::adopt(new VariantEnumerator(std::move(items), position));
}

VariantEnumerator::VariantEnumerator(std::vector<ComPtr<IDispatch>> items, std::size_t position)
    : items_(std::move(items)), position_(position) {
    module_state::AddObject();
}

VariantEnumerator::~VariantEnumerator() { module_state::RemoveObject(); }

HRESULT VariantEnumerator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumVARIANT) return E_NOINTERFACE;
    *ppv = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
}

HRESULT VariantEnumerator::Next(ULONG count, VARIANT* items, ULONG* fetched) {
    if (!items && count > 0) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < items_.size(); ++n, ++position_) {
        VariantInit(&items[n]);
        items[n].vt = VT_DISPATCH;
        items[n].pdispVal = items_[position_].get();
        items[n].pdispVal->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT VariantEnumerator::Skip(ULONG count) {
    const std::size_t left = items_.size() - position_;
    if (count > left) {
        position_ = items_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT VariantEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT VariantEnumerator::Clone(IEnumVARIANT** copy) {
    if (!copy) return E_POINTER;
    *copy = Create(items_, position_).detach();
    return S_OK;
}

}  // namespace kiv::cdrip
