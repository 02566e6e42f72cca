// ReplayGain through ondalo-cli: with the option the log tells each file's
// track gain and peak and the files carry them as other programs read them;
// without it neither; a WAV destination has no place for them.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <optional>

#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

// A 1 kHz tone at half of full scale on both channels: -6.02 LUFS, so
// -11.98 dB against the -18 LUFS reference, with a peak of 0.5.
constexpr double kToneGain = -11.98;
constexpr double kTonePeak = 0.5;

std::vector<unsigned char> HalfScaleTone(int seconds) {
    std::vector<unsigned char> pcm;
    const int frames = 44100 * seconds;
    pcm.reserve(std::size_t(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(16383.0 * std::sin(2 * M_PI * 1000.0 * i / 44100.0)));
        const auto u = static_cast<std::uint16_t>(v);
        for (int channel = 0; channel < 2; ++channel) {
            pcm.push_back(static_cast<unsigned char>(u & 0xFF));
            pcm.push_back(static_cast<unsigned char>(u >> 8));
        }
    }
    return pcm;
}

struct Values {
    double gain = 0, peak = 0;
};

// The values of the log line " ReplayGain: -7.23 dB, peak 0.988312"; none
// when the log has no such line.
std::optional<Values> LoggedValues(const std::string& log) {
    const std::size_t at = log.find(" ReplayGain: ");
    if (at == std::string::npos) return std::nullopt;
    Values v;
    if (std::sscanf(log.c_str() + at, " ReplayGain: %lf dB, peak %lf", &v.gain, &v.peak) != 2) return Values{1e9, 1e9};
    return v;
}

class ReplayGainCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivmp3", "kivflac", "kivcdrip"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        if (RunCommand("/usr/bin/python3 -c 'import mutagen' 2>&1").status != 0)
            GTEST_SKIP() << "python3-mutagen missing";
        const std::string script =
            "import sys,mutagen\n"
            "t=mutagen.File(sys.argv[1]).tags\n"
            "v={}\n"
            "if t is not None and hasattr(t,'getall'):\n"
            "  v={f.desc.upper():str(f.text[0]) for f in t.getall('TXXX')}\n"
            "elif t is not None:\n"
            "  v={k.upper():x[0] for k,x in t.as_dict().items()}\n"
            "print(v.get('REPLAYGAIN_TRACK_GAIN','none')+'|'+v.get('REPLAYGAIN_TRACK_PEAK','none'))\n";
        WriteFileBytes(dir_ / "tags.py", std::vector<unsigned char>(script.begin(), script.end()));
        WriteFileBytes(dir_ / "tone.wav", MakeWav(HalfScaleTone(3)));
    }

    // REPLAYGAIN_TRACK_GAIN and REPLAYGAIN_TRACK_PEAK of a file as mutagen
    // reads them ("none" for one missing), joined by '|'.
    std::string TagsOf(const std::string& file) {
        const CommandRun r = RunCommand("/usr/bin/python3 '" + (dir_ / "tags.py") + "' '" + file + "' 2>&1");
        std::string out = r.output;
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
        return out;
    }

    // The file's tags agree with the logged values and with the tone.
    void ExpectToneValues(const std::string& file, const std::string& log) {
        const std::optional<Values> logged = LoggedValues(log);
        ASSERT_TRUE(logged) << log;
        EXPECT_NEAR(logged->gain, kToneGain, 0.1) << log;
        EXPECT_NEAR(logged->peak, kTonePeak, 0.002) << log;
        const std::string tags = TagsOf(file);
        double gain = 0, peak = 0;
        ASSERT_EQ(std::sscanf(tags.c_str(), "%lf dB|%lf", &gain, &peak), 2) << tags;
        EXPECT_NEAR(gain, logged->gain, 0.006) << tags;
        EXPECT_NEAR(peak, logged->peak, 0.00001) << tags;
    }

    TempDir dir_;
};

TEST_F(ReplayGainCliTest, ConvertWritesTheValuesOnlyWhenAsked) {
    for (const char* format : {"flac", "mp3"}) {
        SCOPED_TRACE(format);
        const std::string file = dir_ / (std::string("tone.") + format);
        CommandRun r = RunOndaloCli(dir_, std::string("convert --replaygain --overwrite --to ") + format + " tone.wav",
                                    dir_.path().string());
        ASSERT_EQ(r.status, 0) << r.output;
        // The values follow the file's result.
        EXPECT_LT(r.output.find(" Done."), r.output.find(" ReplayGain: ")) << r.output;
        ExpectToneValues(file, r.output);

        r = RunOndaloCli(dir_, std::string("convert --overwrite --to ") + format + " tone.wav", dir_.path().string());
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_FALSE(LoggedValues(r.output)) << r.output;
        EXPECT_EQ(TagsOf(file), "none|none");
    }
}

TEST_F(ReplayGainCliTest, TheSettingTurnsItOnAndTheCommandLineOff) {
    const std::string ini = "[Advanced]\nReplayGain=1\n";
    WriteFileBytes(dir_ / "Option.ini", std::vector<unsigned char>(ini.begin(), ini.end()));
    CommandRun r = RunOndaloCli(dir_, "convert --to flac tone.wav", dir_.path().string());
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectToneValues(dir_ / "tone.flac", r.output);

    r = RunOndaloCli(dir_, "convert --no-replaygain --overwrite --to flac tone.wav", dir_.path().string());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(LoggedValues(r.output)) << r.output;
    EXPECT_EQ(TagsOf(dir_ / "tone.flac"), "none|none");
}

TEST_F(ReplayGainCliTest, AWavDestinationSucceedsWithoutValues) {
    // From FLAC, since a WAV source is never converted to WAV.
    ASSERT_EQ(RunOndaloCli(dir_, "convert -q --to flac tone.wav", dir_.path().string()).status, 0);
    fs::create_directories(dir_ / "out");
    const CommandRun r = RunOndaloCli(dir_, "convert --replaygain --to wav --dest out tone.flac", dir_.path().string());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" Done."), std::string::npos) << r.output;
    EXPECT_FALSE(LoggedValues(r.output)) << r.output;
    EXPECT_EQ(WavSamples(dir_ / "out/tone.wav"), HalfScaleTone(3));
}

TEST_F(ReplayGainCliTest, ARipWritesTheValuesOfEachTrack) {
    const std::string config = "[drive]\ntrack = tone.wav\n";
    WriteFileBytes(dir_ / "drives.ini", std::vector<unsigned char>(config.begin(), config.end()));
    fs::create_directories(dir_ / "rip");
    const CommandRun r = RunOndaloCli(dir_, "rip --replaygain --no-cddb --to flac --dest rip", dir_.path().string(),
                                      "KIV_ASPI_LIBRARY='" ONDALO_BUILD_DIR "/lib/vcdrive.so' KIV_VCD_CONFIG='" +
                                          (dir_ / "drives.ini") + "' ");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_LT(r.output.find(" Done."), r.output.find(" ReplayGain: ")) << r.output;
    ExpectToneValues(dir_ / "rip/Track 01.flac", r.output);
}

}  // namespace
}  // namespace kiv::test
