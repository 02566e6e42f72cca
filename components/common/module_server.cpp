#include "components/common/module_server.h"

#include <filesystem>

#include "components/common/component.h"
#include "platform/com/object.h"
#include "platform/registry/registry.h"

namespace kiv {
namespace {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ServerClass& c) : class_(c) { module_state::AddObject(); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return refs_.AddRef(); }
    ULONG Release() override { return refs_.Release(this); }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // Nothing here aggregates the components; refusing is the honest answer.
        if (outer) return CLASS_E_NOAGGREGATION;
        return class_.create(riid, ppv);
    }
    HRESULT LockServer(BOOL lock) override {
        module_state::Lock(lock != 0);
        return S_OK;
    }

private:
    friend struct ::kiv::RefCount;
    ~ClassFactory() { module_state::RemoveObject(); }
    RefCount refs_;
    const ServerClass& class_;
};

void WriteClass(registry::Key& root, const ClassIdentity& c, const std::string& path) {
    const std::string clsid = GuidToString(c.clsid);
    const std::string libId = GuidToString(c.module->libId);

    registry::Key& versioned = root.Create(c.progId);
    versioned.values[""] = c.description;
    versioned.Create("CLSID").values[""] = clsid;
    if (c.insertableProgId) versioned.Create("Insertable");

    registry::Key& independent = root.Create(c.viProgId);
    independent.values[""] = c.description;
    independent.Create("CLSID").values[""] = clsid;
    independent.Create("CurVer").values[""] = c.progId;

    // The class key is replaced as a whole.
    root.Remove("CLSID\\" + clsid);
    registry::Key& k = root.Create("CLSID\\" + clsid);
    k.values[""] = c.description;
    k.Create("ProgID").values[""] = c.progId;
    k.Create("VersionIndependentProgID").values[""] = c.viProgId;
    k.Create("Programmable");
    k.Create("Control");
    k.Create("Insertable");
    registry::Key& server = k.Create("InprocServer32");
    server.values[""] = path;
    server.values["ThreadingModel"] = "Apartment";
    k.Create("ToolboxBitmap32").values[""] = path + ", " + std::to_string(c.toolboxBitmap);
    registry::Key& misc = k.Create("MiscStatus");
    misc.values[""] = "0";
    misc.Create("1").values[""] = "132497";
    k.Create("TypeLib").values[""] = libId;
    k.Create("Version").values[""] = "1.0";
}

void RemoveClass(registry::Key& root, const ClassIdentity& c) {
    root.Remove(c.progId);
    root.Remove(c.viProgId);
    root.Remove("CLSID\\" + GuidToString(c.clsid));
}

void WriteTypeLib(registry::Key& root, const ModuleIdentity& m, const std::string& path) {
    registry::Key& lib = root.Create("TypeLib\\" + GuidToString(m.libId) + "\\1.0");
    lib.values[""] = m.libDescription;
    lib.Create("0\\linux64").values[""] = path;
    lib.Create("FLAGS").values[""] = "0";
    lib.Create("HELPDIR").values[""] = std::filesystem::path(path).parent_path().string();
}

void RemoveTypeLib(registry::Key& root, const ModuleIdentity& m) {
    const std::string key = "TypeLib\\" + GuidToString(m.libId);
    root.Remove(key + "\\1.0");
    if (const registry::Key* k = root.Find(key); k && k->subkeys.empty() && k->values.empty()) root.Remove(key);
}

}  // namespace

HRESULT ServerGetClassObject(const ServerModule& module, REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ServerClass& c : module.classes) {
        if (c.identity->clsid == clsid) {
            auto* f = new ClassFactory(c);
            HRESULT hr = f->QueryInterface(riid, ppv);
            f->Release();
            return hr;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerRegister(const ServerModule& module, const std::string& modulePath, bool unregister) {
    return registry::Edit([&](registry::Key& root) {
        for (const ServerClass& c : module.classes) {
            if (unregister) RemoveClass(root, *c.identity);
            else WriteClass(root, *c.identity, modulePath);
        }
        if (unregister) RemoveTypeLib(root, *module.identity);
        else WriteTypeLib(root, *module.identity, modulePath);
    });
}

}  // namespace kiv
