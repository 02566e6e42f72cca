// Which back-end plays: the tests must never reach a real audio device.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/sound/direct_sound.h"

namespace kiv::sound {
namespace {

TEST(SoundBackend, OnlyTheNullSettingSelectsTheNullDevice) {
    struct Case {
        std::optional<std::string_view> value;
        SoundBackend expected;
    };
    const Case cases[] = {
        {std::nullopt, SoundBackend::PortAudio}, {"null", SoundBackend::Null},   {"NULL", SoundBackend::Null},
        {"portaudio", SoundBackend::PortAudio},  {"", SoundBackend::PortAudio},  {"nul", SoundBackend::PortAudio},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BackendForSetting(c.value), c.expected) << (c.value ? std::string(*c.value) : "(unset)");
}

TEST(SoundBackend, FactoryFollowsTheEnvironment) {
    setenv(kSoundBackendVariable, "null", 1);
    unsetenv(kSoundCaptureVariable);
    ASSERT_EQ(SelectedBackend(), SoundBackend::Null);
    std::unique_ptr<IDirectSound> sound;
    ASSERT_EQ(DirectSoundCreate(nullptr, sound), DS_OK);
    EXPECT_EQ(sound->Backend(), SoundBackend::Null);

    // The default device may be named; any other device does not exist.
    std::unique_ptr<IDirectSound> named;
    EXPECT_EQ(DirectSoundCreate(&DSDEVID_DefaultPlayback, named), DS_OK);
    const GUID other = MakeGuid("{12345678-1234-1234-1234-123456789ABC}");
    std::unique_ptr<IDirectSound> missing;
    EXPECT_EQ(DirectSoundCreate(&other, missing), DSERR_NODRIVER);
    EXPECT_EQ(missing, nullptr);
}

TEST(SoundBackend, EntryPointResolvesByName) {
    setenv(kSoundBackendVariable, "null", 1);
    unsetenv(kSoundCaptureVariable);
    const std::string path = std::string(ONDALO_BUILD_DIR) + "/lib/" + kSoundLibraryName;
    std::unique_ptr<void, int (*)(void*)> library(dlopen(path.c_str(), RTLD_NOW), dlclose);
    ASSERT_NE(library, nullptr) << dlerror();
    auto create = reinterpret_cast<DirectSoundCreateFunction>(dlsym(library.get(), kDirectSoundCreateSymbol));
    ASSERT_NE(create, nullptr);

    std::unique_ptr<IDirectSound> sound;
    int outer = 0;
    EXPECT_EQ(create(nullptr, &sound, &outer), DSERR_NOAGGREGATION);
    EXPECT_EQ(create(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
    ASSERT_EQ(create(nullptr, &sound, nullptr), DS_OK);
    EXPECT_EQ(sound->Backend(), SoundBackend::Null);
}

}  // namespace
}  // namespace kiv::sound
