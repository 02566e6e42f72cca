// Error information: the text and source behind a DISP_E_EXCEPTION.
#pragma once

#include "platform/com/bstr.h"

namespace kiv {

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* context) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFIID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD context) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

HRESULT CreateErrorInfo(ICreateErrorInfo** out);
// The calling thread's error info: Set replaces it (null clears it); Get hands
// it over and clears it, S_FALSE when there is none.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** out);

// Convenience for clients: takes the thread's error info and returns its
// description (empty when there is none).
std::u16string TakeErrorDescription();
// Same, with the source as well.
bool TakeErrorInfo(std::u16string& source, std::u16string& description);

}  // namespace kiv
