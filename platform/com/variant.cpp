#include "platform/com/variant.h"

#include "platform/com/dispatch.h"

namespace kiv {

void VariantInit(VARIANT* v) {
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_POINTER;
    switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_UNKNOWN:
            if (v->punkVal) v->punkVal->Release();
            break;
        case VT_DISPATCH:
            if (v->pdispVal) v->pdispVal->Release();
            break;
        default: break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_POINTER;
    if (dest == src) return S_OK;
    VariantClear(dest);
    *dest = *src;
    switch (src->vt) {
        case VT_BSTR:
            dest->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (src->bstrVal && !dest->bstrVal) {
                VariantInit(dest);
                return E_OUTOFMEMORY;
            }
            break;
        case VT_UNKNOWN:
            if (dest->punkVal) dest->punkVal->AddRef();
            break;
        case VT_DISPATCH:
            if (dest->pdispVal) dest->pdispVal->AddRef();
            break;
        default: break;
    }
    return S_OK;
}

}  // namespace kiv
