// Base of the control's non-creatable objects (drives, tracks, records,
// collections, enumerators): one dual interface, reference counted, and
// counted among the module's live objects so the module stays loaded while
// a client holds any of them.
#pragma once

#include "components/cdrip/cdrip_interfaces.h"
#include "components/common/component.h"
#include <atomic>

#include "platform/com/object.h"

namespace kiv::cdrip {

template <class I, const DispInterface& Table>
class DispatchObject : public DispatchImpl<I, Table> {
public:
    DispatchObject() { module_state::AddObject(); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IidOf<I>::value) return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~DispatchObject() { module_state::RemoveObject(); }

private:
    std::atomic<ULONG> refs_{1};
};

// Hands out a new reference to `object` as `I`.
template <class I, class T>
HRESULT HandOut(const ComPtr<T>& object, I** out) {
    if (!out) return E_POINTER;
    *out = object.get();
    if (*out) (*out)->AddRef();
    return S_OK;
}

// Reports a failure with a text, with the control's ProgID as source.
inline HRESULT ReportCdError(std::u16string_view text) { return ReportComponentError(kClassCdRipper.clsid, text); }

}  // namespace kiv::cdrip
