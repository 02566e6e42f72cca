// FLAC and Opus through ondalo-cli: tags and a cover picture survive a
// chain of conversions, as other programs read them back.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "tests/components/vorbis/vorbis_test_support.h"

namespace kiv::test {
namespace {

class FlacOpusCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTemporaryRegistry(dir_, {"kivwave", "kivconv", "kivvorbis", "kivwma9", "kivmp3", "kivflac", "kivopus", "kivcdrip"});
        ::unsetenv("KIV_REGISTRY");  // only the child uses it
        for (const char* tool : {"flac", "metaflac", "ffprobe", "/usr/bin/python3"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " missing";
        if (RunTool("/usr/bin/python3 -c 'import mutagen'").status != 0) GTEST_SKIP() << "python3-mutagen missing";
    }
    CommandRun Cli(const std::string& args) { return RunOndaloCli(dir_, args, dir_.path().string()); }
    TempDir dir_;
};

// Title, artists and the pictures (type, MIME type, description, bytes)
// as mutagen reads them from any of the formats; ID3v2.3 keeps several
// artists in one text joined by "/", so every format's list is shown so.
std::string ReadBack(const std::string& path) {
    const std::string script =
        "import base64,sys,mutagen\n"
        "from mutagen.flac import Picture\n"
        "m=mutagen.File(sys.argv[1])\n"
        "class P:\n"
        "  def __init__(s,b):\n"
        "    s.type=b[0];n=int.from_bytes(b[1:5],'little');r=b[5:]\n"
        "    i=next(k for k in range(0,len(r),2) if r[k:k+2]==b'\\0\\0');s.mime=r[:i].decode('utf-16-le');r=r[i+2:]\n"
        "    i=next(k for k in range(0,len(r),2) if r[k:k+2]==b'\\0\\0');s.desc=r[:i].decode('utf-16-le');s.data=r[i+2:i+2+n]\n"
        "if hasattr(m.tags,'getall'):\n"
        "  title=str(m.tags['TIT2']);artist=str(m.tags['TPE1']);pics=m.tags.getall('APIC')\n"
        "elif type(m).__name__=='ASF':\n"
        "  title=str(m.tags['Title'][0]);artist='/'.join(str(x) for x in m.tags['Author'])\n"
        "  pics=[P(x.value) for x in m.tags.get('WM/Picture',[])]\n"
        "else:\n"
        "  title=m.tags['title'][0];artist='/'.join(m.tags['artist'])\n"
        "  pics=getattr(m,'pictures',None) or [Picture(base64.b64decode(x)) for x in "
        "m.tags.get('metadata_block_picture',[])]\n"
        "print(title,artist,[(int(p.type),p.mime,p.desc,p.data.hex()) for p in pics])\n";
    WriteFileBytes(path + ".py", std::vector<unsigned char>(script.begin(), script.end()));
    return RunTool("/usr/bin/python3 '" + path + ".py' '" + path + "'").output;
}

TEST_F(FlacOpusCliTest, TagsAndCoverSurviveMp3ToFlacToOpusToOggToWmaToMp3) {
    if (!HaveTool("lame") || !HaveTool("ffmpeg")) GTEST_SKIP() << "lame or ffmpeg missing";
    WriteFileBytes(dir_ / "src.wav", MakeWav(SinePcm(44100, 2, 44100, 16)));
    ToolRun r = RunTool("cd '" + dir_.path().string() +
                        "' && ffmpeg -v error -f lavfi -i testsrc=s=32x24 -frames:v 1 cover.png"
                        " && lame --quiet --id3v2-only --tt Ünïcode --ta One/Two --ti cover.png src.wav song.mp3");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string expected = ReadBack(dir_ / "song.mp3");
    ASSERT_NE(expected.find("Ünïcode One/Two [(0, 'image/png', '', '89504e47"), std::string::npos) << expected;

    std::string from = "song.mp3";
    for (const char* to : {"flac", "opus", "ogg", "wma", "mp3"}) {
        SCOPED_TRACE(to);
        const std::string folder = std::string("to-") + to;
        fs::create_directories(dir_ / folder);
        const CommandRun c = Cli("convert -q --to " + std::string(to) + " --dest " + folder + " " + from);
        ASSERT_EQ(c.status, 0) << c.output;
        from = folder + "/song." + to;
        EXPECT_EQ(ReadBack(dir_ / from), expected);
        const ToolRun probe = RunTool("ffprobe -v error -show_entries format_tags=title:stream_tags=title -of csv=p=0 '" +
                                      (dir_ / from) + "'");
        EXPECT_NE(probe.output.find("Ünïcode"), std::string::npos) << probe.output;
    }
}

TEST_F(FlacOpusCliTest, FlacAndOpusAreChosenFromTheCommandLineAndTheSettings) {
    WriteFileBytes(dir_ / "a.wav", MakeWav(SinePcm(22050, 1, 22050, 8), 1, 22050, 8));
    // The step-2 keys of the desktop program choose the format too.
    const std::string ini = "[ConverterStep2]\nMP3=0\nOPUS=1\nCBR=0\nVBR=1\nVBRValue=50\n";
    WriteFileBytes(dir_ / "Option.ini", std::vector<unsigned char>(ini.begin(), ini.end()));
    CommandRun c = Cli("convert -q a.wav");
    ASSERT_EQ(c.status, 0) << c.output;
    EXPECT_TRUE(fs::exists(dir_ / "a.opus"));
    c = Cli("convert -q --to flac --cbr 128 a.wav");
    ASSERT_EQ(c.status, 0) << c.output;
    EXPECT_EQ(RunTool("flac -s -t '" + (dir_ / "a.flac") + "'").status, 0);
    c = Cli("convert -q --to aiff a.wav");
    EXPECT_EQ(c.status, 2);
    EXPECT_NE(c.output.find("wav, mp3, ogg, wma, flac or opus"), std::string::npos) << c.output;
}

// 24- and 32-bit sources (plain and extensible records, up to six
// channels, 44.1, 96 and 800 kHz) keep their depth to FLAC and back to
// WAV, without a reduction; MP3 still reduces them and says so; a rate
// FLAC cannot carry fails its file with the reason and leaves no output.
TEST_F(FlacOpusCliTest, DeepPcmGoesToFlacAndBackWithoutLoss) {
    if (!HaveTool("sox")) GTEST_SKIP() << "sox missing";
    struct Case {
        const char* name;
        int bits, channels, rate;
    } cases[] = {{"s24-1-44k", 24, 1, 44100}, {"s24-2-96k", 24, 2, 96000}, {"s24-6-96k", 24, 6, 96000},
                 {"s32-1-96k", 32, 1, 96000}, {"s32-2-44k", 32, 2, 44100}, {"s32-6-44k", 32, 6, 44100},
                 {"s24-1-800k", 24, 1, 800000}};
    std::string sources, flacs;
    for (const Case& c : cases) {
        // sox writes WAVE_FORMAT_EXTENSIBLE; the stereo ones are made again
        // in the plain record, as older programs write deep PCM.
        const std::string wav = dir_ / (std::string(c.name) + ".wav");
        const ToolRun r = RunTool("sox -n -r " + std::to_string(c.rate) + " -b " + std::to_string(c.bits) + " -c " +
                                  std::to_string(c.channels) + " -e signed-integer '" + wav + "' synth 0.4 whitenoise");
        ASSERT_EQ(r.status, 0) << r.output;
        if (c.channels == 2) WriteFileBytes(wav, MakeWav(WavSamples(wav), c.channels, c.rate, c.bits));
        sources += std::string(" ") + c.name + ".wav";
        flacs += std::string(" flac/") + c.name + ".flac";
    }
    fs::create_directories(dir_ / "flac");
    fs::create_directories(dir_ / "back");
    for (const std::string& args : {"convert --to flac --dest flac" + sources, "convert --to wav --dest back" + flacs}) {
        const CommandRun run = Cli(args);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output.find("converted as"), std::string::npos) << run.output;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = WavSamples(dir_ / (std::string(c.name) + ".wav"));
        ASSERT_EQ(source.size(), std::size_t(c.rate) * 4 / 10 * std::size_t(c.channels * c.bits / 8));
        const std::string flac = dir_ / (std::string("flac/") + c.name + ".flac");
        EXPECT_EQ(RunTool("flac -s -t '" + flac + "'").status, 0);
        EXPECT_EQ(RunTool("metaflac --show-bps '" + flac + "'").output, std::to_string(c.bits) + "\n");
        ASSERT_EQ(RunTool("flac -s -f -d -o '" + (dir_ / "ref.wav") + "' '" + flac + "'").status, 0);
        EXPECT_TRUE(WavSamples(dir_ / "ref.wav") == source) << "flac -d gives other samples";
        const std::string back = dir_ / (std::string("back/") + c.name + ".wav");
        EXPECT_TRUE(WavSamples(back) == source) << "not back byte for byte";
        // More than 16 bits are written in the extensible record.
        const auto header = ReadFileBytes(back);
        ASSERT_GE(header.size(), 36u);
        EXPECT_EQ(header[20] | header[21] << 8, 0xFFFE);
        EXPECT_EQ(header[34], c.bits);
    }

    fs::create_directories(dir_ / "mp3");
    CommandRun run = Cli("convert --to mp3 --dest mp3 s24-1-44k.wav s32-2-44k.wav");
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* notice : {"The source's 24-bit mono audio is converted as 16-bit mono (dithered), as the "
                               "destination format cannot hold it.",
                               "The source's 32-bit stereo audio is converted as 16-bit stereo (dithered)"})
        EXPECT_NE(run.output.find(notice), std::string::npos) << run.output;

    // Beyond the 20 bits of rate a FLAC stream header has.
    WriteFileBytes(dir_ / "fast.wav", MakeWav(PatternBytes(6 * 3000), 2, 1100000, 24));
    run = Cli("convert --to flac --dest flac fast.wav");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Wrong input sample rate. Possible values are: 1 to 1048575 Hz."), std::string::npos)
        << run.output;
    EXPECT_FALSE(fs::exists(dir_ / "flac/fast.flac"));
}

// A rip to FLAC holds exactly the disc's samples.
TEST_F(FlacOpusCliTest, ARipToFlacIsTheDiscByteForByte) {
    const auto track1 = PatternBytes(75 * 2352, 11), track2 = PatternBytes(40 * 2352 + 4 * 588, 12);
    WriteFileBytes(dir_ / "t1.wav", MakeWav(track1));
    WriteFileBytes(dir_ / "t2.wav", MakeWav(track2));
    const std::string config = "[drive]\ntrack = t1.wav\ntrack = t2.wav\n";
    WriteFileBytes(dir_ / "drives.ini", std::vector<unsigned char>(config.begin(), config.end()));
    fs::create_directories(dir_ / "rip");
    const CommandRun c = RunOndaloCli(dir_, "rip -q --no-cddb --to flac --dest rip", dir_.path().string(),
                                      "KIV_ASPI_LIBRARY='" ONDALO_BUILD_DIR "/lib/vcdrive.so' KIV_VCD_CONFIG='" +
                                          (dir_ / "drives.ini") + "' ");
    ASSERT_EQ(c.status, 0) << c.output;
    for (const auto& [name, samples] : {std::pair{"Track 01", &track1}, {"Track 02", &track2}}) {
        const std::string flac = dir_ / ("rip/" + std::string(name) + ".flac");
        EXPECT_EQ(RunTool("flac -s -t '" + flac + "'").status, 0) << name;
        ASSERT_EQ(RunTool("flac -s -f -d --force-raw-format --endian=little --sign=signed -o '" + (dir_ / "raw") +
                          "' '" + flac + "'").status,
                  0);
        EXPECT_TRUE(ReadFileBytes(dir_ / "raw") == *samples) << name;
    }
}

}  // namespace
}  // namespace kiv::test
