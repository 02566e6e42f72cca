// ondalo-cli converting to and from MP3 through this build's modules.
#include "platform/com/class_registry.h"
#include "platform/system/text.h"
#include "tests/components/mp3/mp3_test_support.h"

namespace kiv::test {
namespace {

CommandRun Cli(const TempDir& dir, const std::string& args) { return RunOndaloCli(dir, args, dir.path().string()); }

class Mp3CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivmp3", "kivvorbis"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        fs::create_directories(dir_.path() / "mp3");
        fs::create_directories(dir_.path() / "wav");
        fs::create_directories(dir_.path() / "again");
        if (!HaveTool("ffprobe") || !HaveTool("vorbiscomment")) GTEST_SKIP() << "ffprobe or vorbiscomment missing";
    }
    TempDir dir_;
};

TEST_F(Mp3CliTest, WavToMp3ToWavInEachMode) {
    const auto pcm = TonePcm(44100 * 3, 2, 44100, 16);
    WriteFileBytes(dir_ / "song.wav", MakeWav(pcm));
    struct Case {
        const char* options;
        long bitrate;  // exact for constant bitrate, else 0
    } cases[] = {{"--cbr 128", 128000}, {"--abr 128", 0}, {"--vbr 50", 0}, {"--default-quality", 0}, {"", 320000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        CommandRun r = Cli(dir_, std::string("convert -q --overwrite --to mp3 --dest mp3 ") + c.options + " song.wav");
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

// Tags travel from an MP3 to the next file, non-Latin text included.
TEST_F(Mp3CliTest, TagsAreKeptFromMp3) {
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

    CommandRun r = Cli(dir_, "convert -q --to ogg --dest again tagged.mp3");
    ASSERT_EQ(r.status, 0) << r.output;
    // Our MP3's ID3 tags read back by our decoder and written as Vorbis
    // comments, as the reference tool lists them.
    r = RunCommand("vorbiscomment -l -R '" + (dir_ / "again/tagged.ogg") + "' 2>&1");
    EXPECT_NE(r.output.find("title=Ünïcødé ☃\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("date=2024\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("comment=kept\n"), std::string::npos) << r.output;

    // A file already in the destination's format is skipped, never replaced
    // by a copy of itself.
    r = Cli(dir_, "convert --to mp3 --overwrite tagged.mp3");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" Skip " + (dir_ / "tagged.mp3")), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kiv::test
