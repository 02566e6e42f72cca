#include <gtest/gtest.h>

#include <stdlib.h>
#include <vorbis/vorbisfile.h>

#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

class VorbisCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
    }
    ToolRun Cli(const std::string& args) {
        return RunTool("cd '" + dir_.path().string() + "' && KIV_REGISTRY='" + (dir_ / "registry.reg") + "' '" +
                       ONDALO_BUILD_DIR + "/bin/ondalo-cli' " + args);
    }
    static long Nominal(const std::string& path) {
        OggVorbis_File vf;
        if (ov_fopen(path.c_str(), &vf) != 0) return -1;
        long n = ov_info(&vf, -1)->bitrate_nominal;
        ov_clear(&vf);
        return n;
    }
    TempDir dir_;
};

TEST_F(VorbisCliTest, WavToOggAndBackKeepsLengthAndTags) {
    if (!HaveTool("vorbiscomment") || !HaveTool("oggdec")) GTEST_SKIP() << "vorbiscomment or oggdec missing";
    for (const char* d : {"abr", "vbr", "again", "back"}) fs::create_directories(dir_.path() / d);
    const auto pcm = SinePcm(44100 * 2 + 123, 2, 44100, 16);
    WriteFileBytes(dir_ / "song.wav", MakeWav(pcm));

    ToolRun r = Cli("convert -q --to ogg --abr 96 --dest abr song.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Nominal(dir_ / "abr/song.ogg"), 96000);
    r = Cli("convert -q --to ogg --vbr 0.2 --dest vbr song.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    r = RunTool("oggdec -Q -o '" + (dir_ / "vbr/check.wav") + "' '" + (dir_ / "vbr/song.ogg") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavDataSize(dir_ / "vbr/check.wav"), long(pcm.size()));

    // Tags put on by the reference tool travel through our decoder and
    // encoder, and come back out of our decoder into a WAV of the same length.
    r = RunTool("vorbiscomment -w -R -t 'TITLE=Caf\xc3\xa9 \xf0\x9f\x8e\xb5' -t 'ARTIST=Someone' -t 'DATE=2001' '" +
                (dir_ / "vbr/song.ogg") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Cli("convert -q --to ogg --dest again vbr/song.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    r = RunTool("vorbiscomment -l -R '" + (dir_ / "again/song.ogg") + "'");
    EXPECT_EQ(r.output, "title=Caf\xc3\xa9 \xf0\x9f\x8e\xb5\nartist=Someone\ndate=2001\n");
    r = Cli("convert -q --to wav --dest back again/song.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavDataSize(dir_ / "back/song.wav"), long(pcm.size()));
}

TEST_F(VorbisCliTest, AConstantBitrateRequestFallsBackToTheDefault) {
    WriteFileBytes(dir_ / "a.wav", MakeWav(SinePcm(22050, 2, 44100, 16)));
    ToolRun r = Cli("convert -q --to ogg --cbr 128 a.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("OggVorbis doesn't support constant bitrate encoding."), std::string::npos) << r.output;
    EXPECT_GT(Nominal(dir_ / "a.ogg"), 0) << "a file in the default quality mode";
}

}  // namespace
}  // namespace kiv::test
