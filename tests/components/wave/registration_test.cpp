#include <gtest/gtest.h>

#include <dlfcn.h>

#include "platform/com/class_registry.h"
#include "platform/registry/registry.h"
#include "platform/system/text.h"
#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

using KeyMap = std::map<std::string, std::string>;

// Every value under `path`, flattened to "sub\\key|name" -> value.
void Flatten(const registry::Key& k, const std::string& path, KeyMap& out) {
    out[path + "|"] ;  // the key exists, even without a default value
    for (auto& [n, v] : k.values) out[path + "|" + n] = v;
    for (auto& [n, sub] : k.subkeys) Flatten(sub, path + "\\" + n, out);
}

TEST(Registration, WaveModuleWritesExactlyItsKeys) {
    TempDir dir;
    UseTemporaryRegistry(dir, {"kivwave"});
    registry::Key root;
    ASSERT_TRUE(registry::Load(root));
    const std::string module = fs::canonical(ModulePath("kivwave")).string();

    KeyMap got;
    for (const char* k : {"ZEMOR.WaveEncoder.1", "ZEMOR.WaveEncoder", "CLSID\\{22881EFF-5BC6-4A8F-8541-704C73871FA3}"}) {
        const registry::Key* key = root.Find(k);
        ASSERT_NE(key, nullptr) << k;
        Flatten(*key, k, got);
    }
    const std::string c = "CLSID\\{22881EFF-5BC6-4A8F-8541-704C73871FA3}";
    KeyMap want = {
        {"ZEMOR.WaveEncoder.1|", "KivWaveEncoder Class"},
        {"ZEMOR.WaveEncoder.1\\CLSID|", "{22881EFF-5BC6-4A8F-8541-704C73871FA3}"},
        {"ZEMOR.WaveEncoder.1\\Insertable|", ""},
        {"ZEMOR.WaveEncoder|", "KivWaveEncoder Class"},
        {"ZEMOR.WaveEncoder\\CLSID|", "{22881EFF-5BC6-4A8F-8541-704C73871FA3}"},
        {"ZEMOR.WaveEncoder\\CurVer|", "ZEMOR.WaveEncoder.1"},
        {c + "|", "KivWaveEncoder Class"},
        {c + "\\ProgID|", "ZEMOR.WaveEncoder.1"},
        {c + "\\VersionIndependentProgID|", "ZEMOR.WaveEncoder"},
        {c + "\\Programmable|", ""},
        {c + "\\Control|", ""},
        {c + "\\Insertable|", ""},
        {c + "\\InprocServer32|", module},
        {c + "\\InprocServer32|ThreadingModel", "Apartment"},
        {c + "\\ToolboxBitmap32|", module + ", 101"},
        {c + "\\MiscStatus|", "0"},
        {c + "\\MiscStatus\\1|", "132497"},
        {c + "\\TypeLib|", "{3CF6B0C9-8354-4D66-AC79-7696E5E9F473}"},
        {c + "\\Version|", "1.0"},
    };
    EXPECT_EQ(got, want);
    const registry::Key* lib = root.Find("TypeLib\\{3CF6B0C9-8354-4D66-AC79-7696E5E9F473}\\1.0");
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->values.at(""), "Wave Encoder & Decoder Controls 1.0");

    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"ZEMOR.WaveDecoder", &clsid), S_OK);
    EXPECT_EQ(clsid, kClassWaveDecoder.clsid);
    ::unsetenv("KIV_REGISTRY");
}

TEST(Registration, UnregisteringRemovesOnlyThatModulesKeys) {
    TempDir dir;
    UseTemporaryRegistry(dir, {"kivwave", "kivconv"});
    ASSERT_EQ(registry::Edit([](registry::Key& root) { root.Create("Unrelated\\Key").values[""] = "stays"; }), S_OK);
    ASSERT_EQ(RegisterModule(ModulePath("kivwave"), true), S_OK);
    registry::Key root;
    ASSERT_TRUE(registry::Load(root));
    for (const char* gone : {"ZEMOR.WaveEncoder.1", "ZEMOR.WaveEncoder", "ZEMOR.WaveDecoder.1", "ZEMOR.WaveDecoder",
                             "CLSID\\{22881EFF-5BC6-4A8F-8541-704C73871FA3}", "CLSID\\{2AD4671A-F007-412F-AC48-5E1103F74C98}",
                             "TypeLib\\{3CF6B0C9-8354-4D66-AC79-7696E5E9F473}"})
        EXPECT_EQ(root.Find(gone), nullptr) << gone;
    for (const char* kept : {"CLSID", "ZEMOR.AudioConverter.1", "CLSID\\{8A96FA28-7162-4544-8D60-2757A2338732}",
                             "Unrelated\\Key"})
        EXPECT_NE(root.Find(kept), nullptr) << kept;
    ComPtr<IUnknown> obj;
    EXPECT_EQ(CoCreateInstance(kClassWaveEncoder.clsid, nullptr, CLSCTX_ALL, IID_IUnknown, obj.put_void()),
              REGDB_E_CLASSNOTREG);
    ::unsetenv("KIV_REGISTRY");
}

TEST(Registration, ClassObjectsAndUnloading) {
    void* h = ::dlopen(ModulePath("kivwave").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(::dlsym(h, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(h, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnload);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(CLSID_AudioTag, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(getClassObject(kClassAudioConverter.clsid, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(canUnload(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kClassWaveDecoder.clsid, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE) << "a live class factory keeps the module";
    ComPtr<IKivAudioDecoder> dec;
    ComPtr<IUnknown> outer;
    EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IUnknown, outer.put_void()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKivAudioDecoder, dec.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(canUnload(), S_FALSE) << "a live object keeps the module";
    dec.reset();
    EXPECT_EQ(canUnload(), S_OK);
    ASSERT_EQ(getClassObject(kClassWaveDecoder.clsid, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(TRUE);
    factory.reset();
    EXPECT_EQ(canUnload(), S_FALSE) << "a server lock keeps the module";
    ASSERT_EQ(getClassObject(kClassWaveDecoder.clsid, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(canUnload(), S_OK);
    PumpPendingMessages();
    ::dlclose(h);
}

TEST(Registration, ObjectsAnswerTheirInterfacesAndNotTheEmbeddingOnes) {
    TempDir dir;
    UseTemporaryRegistry(dir, {"kivwave"});
    ComPtr<IKivAudioEncoder> enc;
    ASSERT_EQ(CoCreateInstance(kClassWaveEncoder.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder, enc.put_void()), S_OK);
    ComPtr<IUnknown> p;
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_ISupportErrorInfo, &IID_IConnectionPointContainer,
                           &IID_IProvideClassInfo2, &IID_IAudioTag})
        EXPECT_EQ(enc->QueryInterface(*iid, p.put_void()), S_OK) << GuidToString(*iid);
    const IID viewObject = MakeGuid("{3AF24292-0C96-11CE-A0CF-00AA00600AB8}");  // IViewObjectEx
    EXPECT_EQ(enc->QueryInterface(viewObject, p.put_void()), E_NOINTERFACE);
    EXPECT_EQ(enc->QueryInterface(IID_IKivAudioDecoder, p.put_void()), E_NOINTERFACE);
    ComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(enc->QueryInterface(IID_ISupportErrorInfo, sei.put_void()), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IKivAudioEncoder), S_OK);
    enc.reset();
    p.reset();
    sei.reset();
    PumpPendingMessages();
    ::unsetenv("KIV_REGISTRY");
}

}  // namespace
}  // namespace kiv::test
