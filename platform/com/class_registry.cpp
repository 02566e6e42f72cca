#include "platform/com/class_registry.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/registry/registry.h"
#include "platform/system/text.h"

namespace kiv {
namespace {

struct Module {
    void* handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

// Loaded server modules by path, shared by every thread of the process.
std::mutex g_modulesLock;
std::map<std::string, Module>& Modules() {
    static auto* modules = new std::map<std::string, Module>();  // outlives static destruction
    return *modules;
}

HRESULT LoadModule(const std::string& path, Module& out, std::string* error) {
    std::lock_guard lock(g_modulesLock);
    auto& modules = Modules();
    if (auto it = modules.find(path); it != modules.end()) {
        out = it->second;
        return S_OK;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) *error = ::dlerror();
        return CO_E_DLLNOTFOUND;
    }
    Module m;
    m.handle = handle;
    m.getClassObject = reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
    m.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"));
    if (!m.getClassObject) {
        if (error) *error = path + " does not export DllGetClassObject";
        ::dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    modules[path] = m;
    out = m;
    return S_OK;
}

thread_local int t_initCount = 0;

}  // namespace

HRESULT CoInitialize(void*) { return CoInitializeEx(nullptr, 0); }

HRESULT CoInitializeEx(void*, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

// Modules stay loaded until the process ends or someone calls
// CoFreeUnusedLibraries: a worker thread of a component may still be running
// the last instructions of its module after the module's last object went.
void CoUninitialize() {
    if (t_initCount > 0) --t_initCount;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    auto path = registry::ReadValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    Module m;
    HRESULT hr = LoadModule(*path, m, nullptr);
    if (FAILED(hr)) return hr;
    return m.getClassObject(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(outer, riid, ppv);
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(g_modulesLock);
    auto& modules = Modules();
    for (auto it = modules.begin(); it != modules.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            ::dlclose(it->second.handle);
            it = modules.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT CLSIDFromProgID(const std::u16string& progId, CLSID* clsid) {
    if (!clsid) return E_POINTER;
    auto text = registry::ReadValue(ToUtf8(progId) + "\\CLSID");
    if (!text || !GuidFromString(*text, *clsid)) return CO_E_CLASSSTRING;
    return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, std::u16string& progId) {
    auto text = registry::ReadValue("CLSID\\" + GuidToString(clsid) + "\\ProgID");
    if (!text) return REGDB_E_CLASSNOTREG;
    progId = FromUtf8(*text);
    return S_OK;
}

HRESULT RegisterModule(const std::string& path, bool unregister, std::string* error) {
    // Registration runs the module's own code, so it is loaded like any server.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) *error = ::dlerror();
        return CO_E_DLLNOTFOUND;
    }
    auto fn = reinterpret_cast<DllRegisterServerFn>(
        ::dlsym(handle, unregister ? "DllUnregisterServer" : "DllRegisterServer"));
    if (!fn) {
        if (error) *error = path + " is not a self-registering module";
        ::dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    HRESULT hr = fn();
    // The module stays loaded, like every server module: what its static
    // initialisation allocated stays reachable, and nothing it started can
    // outlive its code.
    return hr;
}

}  // namespace kiv
