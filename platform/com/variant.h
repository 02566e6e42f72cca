// VARIANT and the argument records of late-bound calls.
#pragma once

#include "platform/com/bstr.h"

namespace kiv {

struct IDispatch;

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_BYREF = 0x4000,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        std::int16_t iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        void* byref;
        LONG* plVal;
        BSTR* pbstrVal;
        VARIANT_BOOL* pboolVal;
        float* pfltVal;
        VARIANT* pvarVal;
    };
};

void VariantInit(VARIANT* v);
// Frees what the variant owns (a BSTR, an interface reference) and empties it.
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// Owning VARIANT.
class Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    explicit Variant(LONG v) : Variant() { vt = VT_I4; lVal = v; }
    explicit Variant(std::u16string_view s) : Variant() { vt = VT_BSTR; bstrVal = SysAllocString(s); }
    Variant(const Variant& o) : Variant() { VariantCopy(this, &o); }
    Variant& operator=(const Variant& o) {
        if (this != &o) VariantCopy(this, &o);
        return *this;
    }
    ~Variant() { VariantClear(this); }
};

}  // namespace kiv
