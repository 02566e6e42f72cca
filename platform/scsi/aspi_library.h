// The ASPI slot: a library loaded by name at run time that executes our
// request blocks through GetASPI32SupportInfo and SendASPI32Command.
#pragma once

#include <memory>
#include <string>

#include "platform/scsi/scsi_backend.h"
#include "platform/scsi/srb.h"

namespace kiv::scsi {

class AspiLibrary final : public ScsiBackend {
public:
    struct LoadResult {
        std::unique_ptr<AspiLibrary> library;
        // False when no library of that name could be loaded at all; true
        // with an empty `library` when it loaded but lacks an entry point.
        bool found = false;
        std::string error;
    };
    // `name` goes to dlopen as given: a plain name is searched the usual
    // way, then in the folder of the module that carries this code; a path
    // is taken as it stands.
    static LoadResult Load(const std::string& name);

    ~AspiLibrary() override;
    AspiLibrary(const AspiLibrary&) = delete;
    AspiLibrary& operator=(const AspiLibrary&) = delete;

    DWORD SupportInfo() override;
    DWORD Send(void* srb) override;

    // Only Load() can make the key; the constructor is public for make_unique.
    class Key {
        friend class AspiLibrary;
        Key() = default;
    };
    AspiLibrary(Key, void* handle, GetASPI32SupportInfoFn info, SendASPI32CommandFn send)
        : handle_(handle), supportInfo_(info), send_(send) {}

private:

    void* handle_;
    GetASPI32SupportInfoFn supportInfo_;
    SendASPI32CommandFn send_;
};

}  // namespace kiv::scsi
