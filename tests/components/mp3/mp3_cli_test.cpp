// ondalo-cli converting to and from MP3 through this build's modules.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/com/class_registry.h"
#include "platform/system/text.h"
#include "tests/components/mp3/mp3_test_support.h"

namespace kiv::test {
namespace {

struct CliRun {
    int status;
    std::string output;
};

CliRun Cli(const TempDir& dir, const std::string& args) {
    const std::string cmd = "cd '" + dir.path().string() + "' && KIV_REGISTRY='" + (dir / "registry.reg") + "' '" +
                            ONDALO_BUILD_DIR + "/bin/ondalo-cli' " + args + " 2>&1 </dev/null";
    CliRun r{-1, {}};
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class Mp3CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivmp3"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        fs::create_directories(dir_.path() / "mp3");
        fs::create_directories(dir_.path() / "wav");
        fs::create_directories(dir_.path() / "again");
        if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    }
    TempDir dir_;
};

TEST_F(Mp3CliTest, WavToMp3ToWavInEachMode) {
    const auto pcm = TonePcm(44100 * 3, 2, 44100, 16);
    WriteFileBytes(dir_ / "song.wav", MakeWav(pcm));
    struct Case {
        const char* options;
        long bitrate;  // exact for constant bitrate, else 0
    } cases[] = {{"--cbr 128", 128000}, {"--abr 128", 0}, {"--vbr 0.5", 0}, {"", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        CliRun r = Cli(dir_, std::string("convert -q --overwrite --to mp3 --dest mp3 ") + c.options + " song.wav");
        ASSERT_EQ(r.status, 0) << r.output;
        auto probe = FfProbe(dir_ / "mp3/song.mp3");
        ASSERT_TRUE(probe);
        EXPECT_NEAR(probe->duration, 3.0, 3 * 1152 / 44100.0);
        if (c.bitrate) {
            EXPECT_NEAR(probe->bitrate, c.bitrate, c.bitrate / 100);
        }

        r = Cli(dir_, "convert -q --overwrite --to wav --dest wav mp3/song.mp3");
        ASSERT_EQ(r.status, 0) << r.output;
        const auto wav = ReadFileBytes(dir_ / "wav/song.wav");
        ASSERT_GT(wav.size(), 46u);
        const std::size_t samples = wav.size() - 46;
        EXPECT_GE(samples, pcm.size());
        EXPECT_LT(samples, pcm.size() + 3 * 1152 * 4) << "the encoder's delay and padding, no more";
    }
}

// Tags travel from an MP3 to the next MP3, non-Latin text included.
TEST_F(Mp3CliTest, TagsAreKeptFromMp3ToMp3) {
    WriteFileBytes(dir_ / "song.wav", MakeWav(TonePcm(44100, 2, 44100, 16)));
    ASSERT_EQ(Cli(dir_, "convert -q --to mp3 --dest mp3 --cbr 192 song.wav").status, 0);
    // Give the first MP3 tags through our own encoder, then convert it on.
    CoInitialize(nullptr);
    ::setenv("KIV_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    {
        ComPtr<IKivAudioEncoder> enc;
        ASSERT_EQ(CoCreateInstance(kClassMp3Encoder.clsid, nullptr, CLSCTX_ALL, IID_IKivAudioEncoder, enc.put_void()),
                  S_OK);
        ComPtr<IAudioTag> tag;
        ASSERT_EQ(enc->get_TagData(tag.put()), S_OK);
        Bstr title(u"Ünïcødé ☃"), year(u"2024"), comment(u"kept");
        tag->put_Title(title.get());
        tag->put_Year(year.get());
        tag->put_Comment(comment.get());
        Bstr name(FromUtf8(dir_ / "tagged.mp3"));
        ASSERT_EQ(enc->Open(name.get()), S_OK);
        auto pcm = TonePcm(44100, 2, 44100, 16);
        ASSERT_EQ(enc->Write(pcm.data(), LONG(pcm.size())), S_OK);
        ASSERT_EQ(enc->Close(), S_OK);
    }
    ::unsetenv("KIV_REGISTRY");
    CoUninitialize();

    CliRun r = Cli(dir_, "convert -q --to mp3 --dest again --vbr 0.75 tagged.mp3");
    ASSERT_EQ(r.status, 0) << r.output;
    auto probe = FfProbe(dir_ / "again/tagged.mp3");
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->tags["title"], "Ünïcødé ☃");
    EXPECT_EQ(probe->tags["date"], "2024");
    EXPECT_EQ(probe->tags["comment"], "kept");
    // The source's own encoder delay and padding are decoded as audio and
    // encoded again: a few frames more than the first file.
    EXPECT_NEAR(probe->duration, 1.0, 4 * 1152 / 44100.0);
}

}  // namespace
}  // namespace kiv::test
