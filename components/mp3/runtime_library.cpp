#include "components/mp3/runtime_library.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace kiv::mp3 {
namespace {

template <class Fn>
bool Resolve(void* handle, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(::dlsym(handle, name));
    return out != nullptr;
}

// The folder of the module (kivmp3.so) that this code was linked into.
std::string ModuleFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void* LoadRuntimeLibrary(const char* fileName) {
    if (void* handle = ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL)) return handle;
    const std::string folder = ModuleFolder();
    if (folder.empty()) return nullptr;
    return ::dlopen((folder + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

BindStatus LoadLameLibrary(const char* fileName, LameEntryPoints& out) {
    void* handle = LoadRuntimeLibrary(fileName);
    if (!handle) return BindStatus::notLoaded;
    LameEntryPoints e;
    const bool all = Resolve(handle, lame_enc::kInitStreamName, e.initStream) &&
                     Resolve(handle, lame_enc::kEncodeChunkName, e.encodeChunk) &&
                     Resolve(handle, lame_enc::kDeinitStreamName, e.deinitStream) &&
                     Resolve(handle, lame_enc::kCloseStreamName, e.closeStream) &&
                     Resolve(handle, lame_enc::kVersionName, e.version) &&
                     Resolve(handle, lame_enc::kWriteVBRHeaderName, e.writeVbrHeader);
    if (!all) return BindStatus::entryMissing;
    out = e;
    return BindStatus::bound;
}

BindStatus LoadMpglibLibrary(const char* fileName, MpglibEntryPoints& out) {
    void* handle = LoadRuntimeLibrary(fileName);
    if (!handle) return BindStatus::notLoaded;
    MpglibEntryPoints e;
    if (!Resolve(handle, mpglib::kDecodeName, e.decode)) Resolve(handle, mpglib::kDecodeNameLower, e.decode);
    const bool all = e.decode && Resolve(handle, mpglib::kInitName, e.init) && Resolve(handle, mpglib::kExitName, e.exit);
    if (!all) return BindStatus::entryMissing;
    out = e;
    return BindStatus::bound;
}

namespace {

template <class Entries, class Loader>
BindStatus BindOnce(const char* fileName, Loader load, const Entries*& entries) {
    static std::mutex lock;
    static Entries bound;
    static bool isBound = false;
    std::lock_guard guard(lock);
    if (!isBound) {
        const BindStatus status = load(fileName, bound);
        if (status != BindStatus::bound) return status;
        isBound = true;
    }
    entries = &bound;
    return BindStatus::bound;
}

}  // namespace

BindStatus BindLame(const LameEntryPoints*& entries) {
    return BindOnce<LameEntryPoints>(lame_enc::kLibraryFileName, &LoadLameLibrary, entries);
}

BindStatus BindMpglib(const MpglibEntryPoints*& entries) {
    return BindOnce<MpglibEntryPoints>(mpglib::kLibraryFileName, &LoadMpglibLibrary, entries);
}

}  // namespace kiv::mp3
