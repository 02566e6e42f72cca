#include "platform/com/dispatch.h"

namespace kiv {
namespace {

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

bool SameName(const OLECHAR* a, const OLECHAR* b) {
    for (; *a && *b; ++a, ++b)
        if (Fold(*a) != Fold(*b)) return false;
    return *a == *b;
}

}  // namespace

HRESULT DispGetIDsOfNames(const DispInterface& table, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    HRESULT hr = S_OK;
    ids[0] = DISPID_UNKNOWN;
    for (const DispMember& m : table.members) {
        if (names[0] && SameName(m.name, names[0])) {
            ids[0] = m.id;
            break;
        }
    }
    if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    // Parameter names are not described; they stay unknown.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispInvoke(const DispInterface& table, void* iface, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (!params) return E_POINTER;
    (void)argErr;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    const DispMember* found = nullptr;
    for (const DispMember& m : table.members) {
        if (m.id != id) continue;
        if (put ? m.kind == DISPATCH_PROPERTYPUT : (m.kind & flags) != 0) {
            found = &m;
            break;
        }
    }
    if (!found) return DISP_E_MEMBERNOTFOUND;

    DISPPARAMS dp = *params;
    if (put) {
        if (dp.cNamedArgs != 1 || !dp.rgdispidNamedArgs || dp.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
    } else if (dp.cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    dp.cNamedArgs = 0;
    dp.rgdispidNamedArgs = nullptr;

    Variant scratch;
    HRESULT hr = found->invoke(iface, &dp, result ? result : &scratch);
    if (hr == DISP_E_EXCEPTION && excep) {
        // Hand the text over the way late-bound clients expect it, and keep it
        // as the thread's error info for clients that ask for that instead.
        *excep = EXCEPINFO{};
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.put()) == S_OK && info) {
            info->GetSource(&excep->bstrSource);
            info->GetDescription(&excep->bstrDescription);
            SetErrorInfo(0, info.get());
        }
        excep->scode = hr;
    }
    return hr;
}

void FireDispatchEvent(IDispatch* sink, DISPID id, std::span<VARIANT> args) {
    if (!sink) return;
    DISPPARAMS dp{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    Variant ignored;
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, &ignored, nullptr, nullptr);
}

}  // namespace kiv
