// The server side of a component module: its class factories, its count of
// live objects, and the registry entries it writes and removes.
#pragma once

#include <span>

#include "components/common/identities.h"
#include "platform/com/unknown.h"

namespace kiv {

struct ServerClass {
    const ClassIdentity* identity;
    HRESULT (*create)(REFIID riid, void** ppv);
};

struct ServerModule {
    const ModuleIdentity* identity;
    std::span<const ServerClass> classes;
};

// Each module defines this once; the exports in module_exports.cpp use it.
const ServerModule& ThisModule();

HRESULT ServerGetClassObject(const ServerModule& module, REFCLSID clsid, REFIID riid, void** ppv);
// Writes (or removes) the registry entries of every class of the module and
// of its type library; `modulePath` is the module's full path.
HRESULT ServerRegister(const ServerModule& module, const std::string& modulePath, bool unregister);

}  // namespace kiv
