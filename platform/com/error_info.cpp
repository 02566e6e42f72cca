#include "platform/com/error_info.h"

#include "platform/com/object.h"

namespace kiv {
namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo) *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return refs_.AddRef(); }
    ULONG Release() override { return refs_.Release(this); }

    HRESULT GetGUID(GUID* guid) override { return Out(guid, guid_); }
    HRESULT GetSource(BSTR* s) override { return OutText(s, source_); }
    HRESULT GetDescription(BSTR* s) override { return OutText(s, description_); }
    HRESULT GetHelpFile(BSTR* s) override { return OutText(s, helpFile_); }
    HRESULT GetHelpContext(DWORD* c) override { return Out(c, helpContext_); }

    HRESULT SetGUID(REFIID guid) override { guid_ = guid; return S_OK; }
    HRESULT SetSource(LPOLESTR s) override { source_ = Text(s); return S_OK; }
    HRESULT SetDescription(LPOLESTR s) override { description_ = Text(s); return S_OK; }
    HRESULT SetHelpFile(LPOLESTR s) override { helpFile_ = Text(s); return S_OK; }
    HRESULT SetHelpContext(DWORD c) override { helpContext_ = c; return S_OK; }

private:
    friend struct ::kiv::RefCount;
    ~ErrorInfo() = default;

    static std::u16string Text(const OLECHAR* s) {
        std::u16string t;
        if (s)
            for (; *s; ++s) t += *s;
        return t;
    }
    template <class T>
    static HRESULT Out(T* p, const T& v) {
        if (!p) return E_POINTER;
        *p = v;
        return S_OK;
    }
    static HRESULT OutText(BSTR* p, const std::u16string& v) {
        if (!p) return E_POINTER;
        *p = SysAllocString(std::u16string_view(v));
        return *p ? S_OK : E_OUTOFMEMORY;
    }

    RefCount refs_;
    GUID guid_ = GUID_NULL;
    std::u16string source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

// The error info of each thread. A thread's slot is released when the thread ends.
struct ThreadSlot {
    IErrorInfo* info = nullptr;
    ~ThreadSlot() {
        if (info) info->Release();
    }
};
thread_local ThreadSlot t_error;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** out) {
    if (!out) return E_POINTER;
    *out = new ErrorInfo();  // born with one reference, owned by the caller
    return S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (info) info->AddRef();
    IErrorInfo* old = t_error.info;
    t_error.info = info;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** out) {
    if (!out) return E_POINTER;
    *out = t_error.info;
    t_error.info = nullptr;
    return *out ? S_OK : S_FALSE;
}

bool TakeErrorInfo(std::u16string& source, std::u16string& description) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return false;
    Bstr s, d;
    info->GetSource(s.put());
    info->GetDescription(d.put());
    source = s.str();
    description = d.str();
    return true;
}

std::u16string TakeErrorDescription() {
    std::u16string source, description;
    TakeErrorInfo(source, description);
    return description;
}

}  // namespace kiv
