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

// The folder of the module this code is linked into (the CD component). A
// library named without a folder is also looked for there: an installation
// keeps them side by side, and the usual search cannot be counted on to
// start from the module (a sanitizer's dlopen interceptor hides the caller,
// and with it the module's RUNPATH).
std::string ThisModuleFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ThisModuleFolder), &info) == 0 || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

AspiLibrary::LoadResult AspiLibrary::Load(const std::string& name) {
    LoadResult result;
    DlHandle handle(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
        const char* why = ::dlerror();
        result.error = why ? why : "cannot load " + name;
        const std::string folder = name.find('/') == std::string::npos ? ThisModuleFolder() : std::string();
        if (!folder.empty()) handle.reset(::dlopen((folder + name).c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!handle) return result;
        result.error.clear();
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
