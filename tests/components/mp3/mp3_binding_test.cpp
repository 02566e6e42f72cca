// Creation fails with the texts of the missing libraries. The module is
// copied into a folder of its own, so the libraries beside the build's
// module are out of its reach; a process that has one of them loaded
// already would find it by name, so then there is nothing to check.
#include <dlfcn.h>

#include "platform/com/class_registry.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

TEST(Mp3Binding, MissingLibrariesFailCreationWithTheirTexts) {
    for (const char* lib : {"lame_enc.so", "mpglib.so"}) {
        if (void* h = ::dlopen(lib, RTLD_NOW | RTLD_NOLOAD)) {
            ::dlclose(h);
            GTEST_SKIP() << lib << " is loaded in this process already";
        }
    }
    TempDir dir;
    const fs::path solo = dir.path() / "solo";
    fs::create_directory(solo);
    fs::copy_file(ModulePath("kivmp3"), solo / "kivmp3.so");
    ::setenv("KIV_REGISTRY", (dir / "registry.reg").c_str(), 1);
    std::string error;
    ASSERT_EQ(RegisterModule((solo / "kivmp3.so").string(), false, &error), S_OK) << error;
    CoInitialize(nullptr);

    struct Case {
        const CLSID& clsid;
        const IID& iid;
        const char* text;
    } missing[] = {
        {kClassMp3Encoder.clsid, IID_IKivAudioEncoder, "Internal error #1. Lame_enc.dll could not be loaded."},
        {kClassMp3Decoder.clsid, IID_IKivAudioDecoder, "Internal error #1. mpglib.dll could not be loaded."},
    };
    for (const Case& c : missing) {
        void* p = nullptr;
        EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, CLSCTX_ALL, c.iid, &p), DISP_E_EXCEPTION) << c.text;
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(TakeError().second, c.text);
    }

    // A library of that name without the entry points: creation fails with
    // the second text, and the next creation tries again.
    fs::copy_file(ModulePath("mpglib"), solo / "lame_enc.so");
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kClassMp3Encoder.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder, &p),
              DISP_E_EXCEPTION);
    EXPECT_EQ(TakeError().second, "Internal error #2. Cannot initialize encoding engine.");

    CoUninitialize();
    ::unsetenv("KIV_REGISTRY");
}

}  // namespace
}  // namespace kiv::test
