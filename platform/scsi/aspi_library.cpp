#include "platform/scsi/aspi_library.h"

#include <dlfcn.h>

namespace kiv::scsi {

namespace {

struct DlCloser {
    void operator()(void* handle) const {
        if (handle) ::dlclose(handle);
    }
};
using DlHandle = std::unique_ptr<void, DlCloser>;

}  // namespace

AspiLibrary::LoadResult AspiLibrary::Load(const std::string& name) {
    LoadResult result;
    DlHandle handle(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char* why = ::dlerror();
        result.error = why ? why : "cannot load " + name;
        return result;
    }
    result.found = true;
    auto* info = reinterpret_cast<GetASPI32SupportInfoFn>(::dlsym(handle.get(), kGetSupportInfoName));
    auto* send = reinterpret_cast<SendASPI32CommandFn>(::dlsym(handle.get(), kSendCommandName));
    if (!info || !send) {
        result.error = name + " lacks " + (info ? kSendCommandName : kGetSupportInfoName);
        return result;
    }
    result.library = std::make_unique<AspiLibrary>(Key{}, handle.release(), info, send);
    return result;
}

AspiLibrary::~AspiLibrary() { ::dlclose(handle_); }

DWORD AspiLibrary::SupportInfo() { return supportInfo_(); }

DWORD AspiLibrary::Send(void* srb) { return send_(srb); }

}  // namespace kiv::scsi
