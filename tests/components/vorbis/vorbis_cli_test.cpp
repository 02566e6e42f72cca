#include <gtest/gtest.h>

#include <stdlib.h>
#include <vorbis/vorbisfile.h>

#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

class VorbisCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis", "kivmp3"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
    }
    CommandRun Cli(const std::string& args) { return RunOndaloCli(dir_, args, dir_.path().string()); }
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
    if (!HaveTool("vorbiscomment") || !HaveTool("oggdec") || !HaveTool("ffprobe"))
        GTEST_SKIP() << "vorbiscomment, oggdec or ffprobe missing";
    for (const char* d : {"abr", "vbr", "again", "back"}) fs::create_directories(dir_.path() / d);
    const auto pcm = SinePcm(44100 * 2 + 123, 2, 44100, 16);
    WriteFileBytes(dir_ / "song.wav", MakeWav(pcm));

    CommandRun r = Cli("convert -q --to ogg --abr 96 --dest abr song.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Nominal(dir_ / "abr/song.ogg"), 96000);
    r = Cli("convert -q --to ogg --vbr 20 --dest vbr song.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    r = RunCommand("oggdec -Q -o '" + (dir_ / "vbr/check.wav") + "' '" + (dir_ / "vbr/song.ogg") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavDataSize(dir_ / "vbr/check.wav"), long(pcm.size()));

    // Tags put on by the reference tool travel through our decoder into the
    // next file, and our decoder gives back a WAV of the same length.
    r = RunCommand("vorbiscomment -w -R -t 'TITLE=Caf\xc3\xa9 \xf0\x9f\x8e\xb5' -t 'ARTIST=Someone' -t 'DATE=2001' '" +
                   (dir_ / "vbr/song.ogg") + "' 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Cli("convert -q --to mp3 --dest again vbr/song.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    r = RunCommand("ffprobe -v error -show_entries format_tags=title,artist,date -of default=nw=1 '" +
                   (dir_ / "again/song.mp3") + "' 2>&1");
    EXPECT_NE(r.output.find("TAG:title=Caf\xc3\xa9 \xf0\x9f\x8e\xb5"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("TAG:artist=Someone"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("TAG:date=2001"), std::string::npos) << r.output;
    r = Cli("convert -q --to wav --dest back vbr/song.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavDataSize(dir_ / "back/song.wav"), long(pcm.size()));
}

TEST_F(VorbisCliTest, AConstantBitrateRequestFallsBackToTheDefault) {
    WriteFileBytes(dir_ / "a.wav", MakeWav(SinePcm(22050, 2, 44100, 16)));
    CommandRun r = Cli("convert --to ogg --cbr 128 a.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("OGG has no CBR mode; its files use the format's default quality"), std::string::npos)
        << r.output;
    EXPECT_GT(Nominal(dir_ / "a.ogg"), 0) << "a file in the default quality mode";
}


// Several values of one field go from format to format the way each one
// carries several: two ARTIST comments (written by vorbiscomment) become
// the ID3v2.3 text "One/Two" (read by ffprobe) and two ASF "Author"
// attributes (ffprobe, which takes one value per name, shows the first);
// an ID3v2.4 list (written by mutagen) becomes two ARTIST comments again
// (listed by vorbiscomment). No value keeps a line break inside.
TEST_F(VorbisCliTest, SeveralValuesOfAFieldCrossFormatsAsEachCarriesThem) {
    for (const char* tool : {"oggenc", "vorbiscomment", "ffprobe", "lame", "/usr/bin/python3"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " missing";
    if (RunCommand("/usr/bin/python3 -c 'import mutagen'").status != 0) GTEST_SKIP() << "python3-mutagen missing";
    UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis", "kivmp3", "kivwma9"});
    ::unsetenv("KIV_REGISTRY");
    for (const char* d : {"mp3", "wma", "ogg"}) fs::create_directories(dir_.path() / d);
    WriteFileBytes(dir_ / "tone.wav", MakeWav(SinePcm(44100, 2, 44100, 16)));
    auto run = [](const std::string& command) {
        const ToolRun r = RunTool(command);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
        return r.output;
    };
    run("oggenc -Q -o '" + (dir_ / "two.ogg") + "' '" + (dir_ / "tone.wav") + "'");
    run("vorbiscomment -w -t ARTIST=One -t ARTIST=Two -t TITLE=Song '" + (dir_ / "two.ogg") + "'");

    CommandRun r = Cli("convert -q --to mp3 --dest mp3 two.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Cli("convert -q --to wma --dest wma two.ogg");
    ASSERT_EQ(r.status, 0) << r.output;
    auto artistOf = [&](const std::string& file) {
        return run("ffprobe -v error -show_entries format_tags=artist -of default=nw=1:nk=1 '" + (dir_ / file) + "'");
    };
    EXPECT_EQ(artistOf("mp3/two.mp3"), "One/Two\n");
    EXPECT_EQ(artistOf("wma/two.wma"), "One\n");

    run("lame --quiet -b 128 '" + (dir_ / "tone.wav") + "' '" + (dir_ / "list.mp3") + "'");
    run("/usr/bin/python3 -c \"import sys; from mutagen.id3 import ID3, TPE1, TIT2; t = ID3(); "
        "t.add(TPE1(encoding=3, text=['One', 'Two'])); t.add(TIT2(encoding=3, text=['Song'])); "
        "t.save(sys.argv[1], v2_version=4)\" '" + (dir_ / "list.mp3") + "'");
    r = Cli("convert -q --to ogg --dest ogg list.mp3");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string comments = run("vorbiscomment -l '" + (dir_ / "ogg/list.ogg") + "'");
    EXPECT_EQ(comments, "title=Song\nartist=One\nartist=Two\n");
}

}  // namespace
}  // namespace kiv::test
