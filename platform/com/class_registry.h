// Object creation by class id through the registry, and module lifetime.
#pragma once

#include <string>

#include "platform/com/unknown.h"

namespace kiv {

enum : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
    CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
};

// Per-thread initialisation. Objects here are in-process and apartment
// bound by construction, so these only keep the customary pairing.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

// Finds InprocServer32 under CLSID\{clsid}, loads that module once per
// process and asks its class factory. REGDB_E_CLASSNOTREG when the class is
// not registered, CO_E_DLLNOTFOUND when the module cannot be loaded,
// CO_E_ERRORINDLL when it lacks the server exports.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

// Unloads every loaded module whose DllCanUnloadNow answers S_OK. Nothing
// calls this implicitly: modules otherwise stay for the life of the process.
void CoFreeUnusedLibraries();

HRESULT CLSIDFromProgID(const std::u16string& progId, CLSID* clsid);
// The ProgID registered under the class id (the versioned one).
HRESULT ProgIDFromCLSID(REFCLSID clsid, std::u16string& progId);

// Module exports, resolved by name from every server module.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

// Loads a module by path (or finds it loaded) and calls its
// DllRegisterServer or DllUnregisterServer.
HRESULT RegisterModule(const std::string& path, bool unregister, std::string* error = nullptr);

}  // namespace kiv
