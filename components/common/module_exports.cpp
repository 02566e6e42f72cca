// The four exports of a component module. Compiled into each module (not
// into the shared static library), so that each module exports its own.
#include <dlfcn.h>

#include <filesystem>

#include "components/common/component.h"
#include "components/common/module_server.h"

namespace {

std::string ThisModulePath() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&ThisModulePath), &info) || !info.dli_fname) return {};
    std::error_code ec;
    auto path = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.string();
}

}  // namespace

#define KIV_EXPORT extern "C" __attribute__((visibility("default")))

KIV_EXPORT kiv::HRESULT DllGetClassObject(const kiv::CLSID& clsid, const kiv::IID& riid, void** ppv) {
    return kiv::ServerGetClassObject(kiv::ThisModule(), clsid, riid, ppv);
}

KIV_EXPORT kiv::HRESULT DllCanUnloadNow() { return kiv::module_state::CanUnload() ? kiv::S_OK : kiv::S_FALSE; }

KIV_EXPORT kiv::HRESULT DllRegisterServer() {
    return kiv::ServerRegister(kiv::ThisModule(), ThisModulePath(), false);
}

KIV_EXPORT kiv::HRESULT DllUnregisterServer() {
    return kiv::ServerRegister(kiv::ThisModule(), ThisModulePath(), true);
}
