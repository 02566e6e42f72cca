// The object model's core interfaces, in the vtable order COM clients know.
#pragma once

#include <atomic>
#include <utility>

#include "platform/com/types.h"

namespace kiv {

using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using UINT = unsigned int;

inline constexpr IID IID_IUnknown = MakeGuid("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = MakeGuid("{00000001-0000-0000-C000-000000000046}");
inline constexpr IID IID_IDispatch = MakeGuid("{00020400-0000-0000-C000-000000000046}");
inline constexpr IID IID_ITypeInfo = MakeGuid("{00020401-0000-0000-C000-000000000046}");
inline constexpr IID IID_IErrorInfo = MakeGuid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ICreateErrorInfo = MakeGuid("{22F03340-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ISupportErrorInfo = MakeGuid("{DF0B3D60-548F-101B-8E65-08002B2BD119}");
inline constexpr IID IID_IConnectionPointContainer = MakeGuid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IConnectionPoint = MakeGuid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IEnumConnectionPoints = MakeGuid("{B196B285-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IEnumConnections = MakeGuid("{B196B287-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IProvideClassInfo = MakeGuid("{B196B283-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IProvideClassInfo2 = MakeGuid("{A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851}");

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// Reference-holding pointer to an interface (AddRef on copy, Release on drop).
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(const ComPtr& o) {
        if (this != &o) {
            T* old = p_;
            p_ = o.p_;
            if (p_) p_->AddRef();
            if (old) old->Release();
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    // Adopts a reference the caller already owns.
    static ComPtr adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and exposes the slot.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(p_, nullptr); }
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, out.put_void());
    }

private:
    T* p_ = nullptr;
};

}  // namespace kiv
