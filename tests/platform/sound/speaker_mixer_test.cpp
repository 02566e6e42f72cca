// The speaker volume. Nothing here writes to a real mixer: writes go only
// to the simulated control of the null device; the real ALSA mixer is at
// most read, and only when one exists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/sound/direct_sound.h"
#include "platform/sound/speaker_mixer.h"

namespace kiv::sound {
namespace {

class SoundMixer : public ::testing::Test {
protected:
    void SetUp() override {
        setenv(kSoundBackendVariable, "null", 1);
        unsetenv(kMixerVariable);
    }
    void TearDown() override { unsetenv(kMixerVariable); }
};

TEST_F(SoundMixer, NullDeviceNeverOpensTheRealMixer) {
    SpeakerMixer mixer = SpeakerMixer::OpenDefault();
    ASSERT_TRUE(mixer.Available());
    EXPECT_EQ(mixer.Name(), "simulated");

    setenv(kMixerVariable, "none", 1);
    SpeakerMixer none = SpeakerMixer::OpenDefault();
    EXPECT_FALSE(none.Available());
}

TEST_F(SoundMixer, LevelMapsOntoTheControlRange) {
    SpeakerMixer mixer = SpeakerMixer::OpenSimulated();
    ASSERT_EQ(mixer.Minimum(), 0);
    ASSERT_EQ(mixer.Maximum(), 65535);
    struct Case {
        float level;
        long value;
    };
    const Case cases[] = {{1.5f, 65535}, {-1.0f, 0}, {0.5f, 32767}, {1.0f, 65535}, {0.25f, 16383}, {0.0f, 0}};
    for (const Case& c : cases) {
        ASSERT_EQ(mixer.SetLevel(c.level), S_OK) << c.level;
        long value = -1;
        ASSERT_TRUE(mixer.GetValue(value));
        EXPECT_EQ(value, c.value) << c.level;
        EXPECT_NEAR(mixer.Level(), std::clamp(c.level, 0.0f, 1.0f), 1.0 / 65535) << c.level;
    }
    // Every opening sees the one control of the process.
    ASSERT_EQ(mixer.SetLevel(0.75f), S_OK);
    EXPECT_NEAR(SpeakerMixer::OpenSimulated().Level(), 0.75f, 1.0 / 65535);

    EXPECT_EQ(mixer.SetLevel(std::numeric_limits<float>::quiet_NaN()), E_INVALIDARG);
    EXPECT_NEAR(mixer.Level(), 0.75f, 1.0 / 65535);
}

TEST_F(SoundMixer, WithoutAControlLevelIsFullAndWritesAreIgnored) {
    SpeakerMixer mixers[] = {SpeakerMixer(), SpeakerMixer::OpenAlsa("kivsound-no-such-card", {"Master", "PCM"})};
    for (SpeakerMixer& mixer : mixers) {
        EXPECT_FALSE(mixer.Available());
        EXPECT_EQ(mixer.Level(), 1.0f);
        EXPECT_EQ(mixer.SetLevel(0.2f), S_FALSE);
        long value = 0;
        EXPECT_FALSE(mixer.GetValue(value));
        EXPECT_FALSE(mixer.SetValue(10));
    }
}

TEST_F(SoundMixer, RealMixerIsOnlyRead) {
    SpeakerMixer mixer = SpeakerMixer::OpenAlsa("default", {"Master", "PCM"});
    if (!mixer.Available()) GTEST_SKIP() << "no ALSA mixer with a Master or PCM volume here";
    long value = 0;
    ASSERT_TRUE(mixer.GetValue(value));
    EXPECT_LT(mixer.Minimum(), mixer.Maximum());
    EXPECT_GE(value, mixer.Minimum());
    EXPECT_LE(value, mixer.Maximum());
    EXPECT_GE(mixer.Level(), 0.0f);
    EXPECT_LE(mixer.Level(), 1.0f);
}

}  // namespace
}  // namespace kiv::sound
