// Late binding: IDispatch, and dispatch tables compiled into each module.
//
// A module describes each dual interface once, as a table of members with
// their names and dispids. `MemberOf<&I::Method>` generates the thunk that
// turns DISPPARAMS into a direct vtable call, so GetIDsOfNames and Invoke of
// every object come from that one table, and scripting clients, property
// puts by name and event sinks all work without a separate type library file.
#pragma once

#include <cstddef>
#include <span>
#include <tuple>
#include <utility>
#include <type_traits>

#include "platform/com/error_info.h"
#include "platform/com/variant.h"

namespace kiv {

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    HRESULT scode;
};

struct DISPPARAMS {
    VARIANT* rgvarg;  // arguments in reverse order
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

enum : WORD {
    DISPATCH_METHOD = 1,
    DISPATCH_PROPERTYGET = 2,
    DISPATCH_PROPERTYPUT = 4,
    DISPATCH_PROPERTYPUTREF = 8,
};
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;

struct ITypeInfo;

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};

// One member of a dispatch table.
struct DispMember {
    const OLECHAR* name;
    DISPID id;
    WORD kind;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    HRESULT (*invoke)(void* iface, DISPPARAMS* params, VARIANT* result);
};

struct DispInterface {
    const IID* iid;
    const OLECHAR* name;
    std::span<const DispMember> members;
};

HRESULT DispGetIDsOfNames(const DispInterface& table, LPOLESTR* names, UINT count, DISPID* ids);
// Calls the member of `table` on `iface` (a pointer to the table's interface).
// A DISP_E_EXCEPTION result fills `excep` from the thread's error info.
HRESULT DispInvoke(const DispInterface& table, void* iface, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, UINT* argErr);

// Calls IDispatch::Invoke as an event source does: IID_NULL, the user's
// default locale, DISPATCH_METHOD; the result is ignored.
void FireDispatchEvent(IDispatch* sink, DISPID id, std::span<VARIANT> argsInReverseOrder);

// Names the IID of an interface type, for interface arguments of late-bound
// calls; each interface header specialises it.
template <class T>
struct IidOf;
template <>
struct IidOf<IUnknown> {
    static constexpr const IID& value = IID_IUnknown;
};
template <>
struct IidOf<IDispatch> {
    static constexpr const IID& value = IID_IDispatch;
};

namespace dispatch_detail {

template <class T>
inline constexpr bool kAlwaysFalse = false;

// Reads an in-argument of type T from a VARIANT, converting where a script
// would expect it (numbers between each other, booleans as numbers).
template <class T>
HRESULT ArgIn(VARIANT& v, T& out) {
    VARIANT* src = &v;
    if (src->vt == (VT_BYREF | VT_VARIANT)) src = src->pvarVal;
    const VARTYPE vt = src->vt;
    if constexpr (std::is_same_v<T, BSTR>) {
        if (vt == VT_BSTR) { out = src->bstrVal; return S_OK; }
        if (vt == (VT_BYREF | VT_BSTR)) { out = *src->pbstrVal; return S_OK; }
        if (vt == VT_EMPTY || vt == VT_NULL) { out = nullptr; return S_OK; }
        return DISP_E_TYPEMISMATCH;
    } else if constexpr (std::is_arithmetic_v<T>) {
        switch (vt) {
            case VT_I4: case VT_INT: out = static_cast<T>(src->lVal); return S_OK;
            case VT_UI4: case VT_UINT: out = static_cast<T>(static_cast<DWORD>(src->lVal)); return S_OK;
            case VT_I2: out = static_cast<T>(src->iVal); return S_OK;
            case VT_UI2: out = static_cast<T>(static_cast<WORD>(src->iVal)); return S_OK;
            case VT_UI1: out = static_cast<T>(src->bVal); return S_OK;
            case VT_I1: out = static_cast<T>(static_cast<signed char>(src->bVal)); return S_OK;
            case VT_BOOL: out = static_cast<T>(src->boolVal); return S_OK;
            case VT_R4: out = static_cast<T>(src->fltVal); return S_OK;
            case VT_R8: out = static_cast<T>(src->dblVal); return S_OK;
            case VT_I8: case VT_UI8: out = static_cast<T>(src->llVal); return S_OK;
            case VT_BYREF | VT_I4: out = static_cast<T>(*src->plVal); return S_OK;
            default: return DISP_E_TYPEMISMATCH;
        }
    } else if constexpr (std::is_pointer_v<T>) {
        // Raw pointers (sample buffers, format records, handles) travel by
        // reference, or as an address in a 64-bit integer.
        if (vt & VT_BYREF) { out = static_cast<T>(src->byref); return S_OK; }
        if (vt == VT_I8 || vt == VT_UI8) { out = reinterpret_cast<T>(static_cast<std::uintptr_t>(src->llVal)); return S_OK; }
        if (vt == VT_EMPTY || vt == VT_NULL) { out = nullptr; return S_OK; }
        if (vt == VT_UNKNOWN || vt == VT_DISPATCH) { out = reinterpret_cast<T>(src->punkVal); return S_OK; }
        return DISP_E_TYPEMISMATCH;
    } else {
        static_assert(kAlwaysFalse<T>, "unsupported argument type");
    }
}

// Stores a property get's result into the VARIANT the caller provided.
template <class T>
void Result(VARIANT* result, T value) {
    if (!result) {
        if constexpr (std::is_same_v<T, BSTR>) SysFreeString(value);
        else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
            if (value) value->Release();
        }
        return;
    }
    VariantClear(result);
    if constexpr (std::is_same_v<T, BSTR>) { result->vt = VT_BSTR; result->bstrVal = value; }
    else if constexpr (std::is_same_v<T, VARIANT_BOOL>) { result->vt = VT_BOOL; result->boolVal = value; }
    else if constexpr (std::is_same_v<T, float>) { result->vt = VT_R4; result->fltVal = value; }
    else if constexpr (std::is_integral_v<T>) { result->vt = VT_I4; result->lVal = static_cast<LONG>(value); }
    else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<IDispatch, std::remove_pointer_t<T>>) {
        result->vt = VT_DISPATCH;
        result->pdispVal = value;
    } else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
        result->vt = VT_UNKNOWN;
        result->punkVal = value;
    } else if constexpr (std::is_pointer_v<T>) {
        result->vt = VT_BYREF | VT_UI1;
        result->byref = const_cast<void*>(static_cast<const void*>(value));
    } else {
        static_assert(kAlwaysFalse<T>, "unsupported result type");
    }
}

// An argument slot: in-arguments are read from the VARIANT; a pointer to an
// arithmetic or BSTR type in the middle of the list is an out-argument that
// the caller passes by reference.
template <class T, class = void>
struct Slot {
    T value{};
    HRESULT load(VARIANT& v) { return ArgIn(v, value); }
    T get() { return value; }
};

// Interface arguments are asked for the interface the member expects, so a
// client may pass any interface of the object.
template <class T>
struct Slot<T*, std::enable_if_t<std::is_base_of_v<IUnknown, T>>> {
    ComPtr<T> value;
    HRESULT load(VARIANT& v) {
        VARIANT* src = v.vt == (VT_BYREF | VT_VARIANT) ? v.pvarVal : &v;
        if (src->vt == VT_EMPTY || src->vt == VT_NULL) return S_OK;
        if (src->vt != VT_UNKNOWN && src->vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        if (!src->punkVal) return S_OK;
        return SUCCEEDED(src->punkVal->QueryInterface(IidOf<T>::value, value.put_void())) ? S_OK : DISP_E_TYPEMISMATCH;
    }
    T* get() { return value.get(); }
};

template <class... Args, std::size_t... I>
HRESULT CallWithArgs(auto&& call, DISPPARAMS* dp, std::index_sequence<I...>) {
    constexpr UINT n = sizeof...(Args);
    std::tuple<Slot<Args>...> slots;
    HRESULT hr = S_OK;
    // rgvarg holds the arguments in reverse order.
    ((SUCCEEDED(hr) ? (hr = std::get<I>(slots).load(dp->rgvarg[n - 1 - I])) : hr), ...);
    if (FAILED(hr)) return hr;
    return call(std::get<I>(slots).get()...);
}

template <class F>
struct MethodTraits;
template <class I, class... A>
struct MethodTraits<HRESULT (I::*)(A...)> {
    using Interface = I;
    using Args = std::tuple<A...>;
    static constexpr std::size_t arity = sizeof...(A);
};

template <class Tuple>
struct LastArg;
template <class... A>
struct LastArg<std::tuple<A...>> {
    using type = std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>;
};

template <class I, class Fn, class... A, std::size_t... K>
HRESULT InvokeWithOutLast(I* self, Fn fn, DISPPARAMS* dp, VARIANT* result, std::tuple<A...>*, std::index_sequence<K...>) {
    using Out = std::remove_pointer_t<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>>;
    Out out{};
    constexpr UINT in = sizeof...(K);
    if (dp->cArgs != in) return DISP_E_BADPARAMCOUNT;
    std::tuple<Slot<std::tuple_element_t<K, std::tuple<A...>>>...> slots;
    HRESULT hr = S_OK;
    ((SUCCEEDED(hr) ? (hr = std::get<K>(slots).load(dp->rgvarg[in - 1 - K])) : hr), ...);
    if (FAILED(hr)) return hr;
    hr = (self->*fn)(std::get<K>(slots).get()..., &out);
    if (SUCCEEDED(hr)) Result(result, out);
    return hr;
}

template <class I, class Fn, class... A>
HRESULT InvokeAll(I* self, Fn fn, DISPPARAMS* dp, std::tuple<A...>*) {
    if (dp->cArgs != sizeof...(A)) return DISP_E_BADPARAMCOUNT;
    return CallWithArgs<A...>([&](auto... a) { return (self->*fn)(a...); }, dp, std::index_sequence_for<A...>{});
}

}  // namespace dispatch_detail

// Property gets take their value as the last (pointer) parameter and give it
// back as the call's result; methods and puts take all their parameters from
// the argument list.
template <auto Fn>
HRESULT InvokeGet(void* iface, DISPPARAMS* dp, VARIANT* result) {
    using Traits = dispatch_detail::MethodTraits<decltype(Fn)>;
    using I = typename Traits::Interface;
    return dispatch_detail::InvokeWithOutLast(static_cast<I*>(iface), Fn, dp, result,
                                              static_cast<typename Traits::Args*>(nullptr),
                                              std::make_index_sequence<Traits::arity - 1>{});
}

template <auto Fn>
HRESULT InvokeCall(void* iface, DISPPARAMS* dp, VARIANT*) {
    using Traits = dispatch_detail::MethodTraits<decltype(Fn)>;
    using I = typename Traits::Interface;
    return dispatch_detail::InvokeAll(static_cast<I*>(iface), Fn, dp, static_cast<typename Traits::Args*>(nullptr));
}

// Implements IDispatch for the interface `I` from its table; the object's
// other interfaces keep their own tables (several dual interfaces on one object).
template <class I, const DispInterface& Table>
struct DispatchImpl : I {
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return DispGetIDsOfNames(Table, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* argErr) override {
        return DispInvoke(Table, static_cast<I*>(this), id, flags, params, result, excep, argErr);
    }

protected:
    ~DispatchImpl() = default;
};

}  // namespace kiv
