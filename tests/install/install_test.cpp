// The programs as installed: the build installed into a temporary prefix,
// run by a user with an empty home and none of the project's variables set.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

using Bytes = std::vector<unsigned char>;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string ReadText(const std::string& path) {
    const Bytes b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

// The bytes of a WAV file's data chunk; empty when there is none.
Bytes WavSamples(const std::string& path) {
    const Bytes file = ReadFileBytes(path);
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::size_t size = Le32(file, at + 4);
        if (file[at] == 'd' && file[at + 1] == 'a' && file[at + 2] == 't' && file[at + 3] == 'a')
            return Bytes(file.begin() + at + 8, file.begin() + std::min(file.size(), at + 8 + size));
        at += 8 + size + (size & 1);
    }
    return {};
}

int PeakOf16BitSamples(const Bytes& pcm) {
    int peak = 0;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
        peak = std::max(peak, std::abs(int(std::int16_t(pcm[i] | pcm[i + 1] << 8))));
    return peak;
}

class InstalledTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home());
        fs::create_directories(work());
    }

    // Installs this build into `prefix`, staged under `destdir` when given,
    // as a package build does.
    void Install(const std::string& prefix, const std::string& destdir = {}) {
        const CommandRun r = RunCommand((destdir.empty() ? "" : "DESTDIR=" + Quote(destdir) + " ") +
                                        Quote(ONDALO_CMAKE_COMMAND) + " --install " + Quote(ONDALO_BUILD_DIR) +
                                        " --prefix " + Quote(prefix) + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }

    // Runs the installed ondalo-cli in the work folder with nothing of this
    // process's environment: a PATH, the empty home, and `env`.
    CommandRun Cli(const std::string& prefix, const std::string& args, const std::string& env = {}) const {
        return RunCommand("cd " + Quote(work()) + " && env -i PATH=/usr/bin:/bin HOME=" + Quote(home()) + " " + env +
                          " " + Quote(prefix + "/bin/ondalo-cli") + " " + args + " 2>&1 </dev/null");
    }

    std::string prefix() const { return dir_ / "prefix"; }
    std::string home() const { return dir_ / "home"; }
    std::string work() const { return dir_ / "work"; }
    std::string InWork(const std::string& name) const { return (fs::path(work()) / name).string(); }

    // Two seconds of a chord at CD quality.
    void MakeSource(const std::string& name) const {
        const CommandRun r = RunCommand("sox -n -r 44100 -c 2 -b 16 " + Quote(InWork(name)) +
                                        " synth 2 sine 440 sine 660 gain -6 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }

    std::string CodecOf(const std::string& path) const {
        CommandRun r = RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 " +
                                  Quote(path) + " 2>&1");
        while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == '\r')) r.output.pop_back();
        return r.output;
    }

    TempDir dir_;
};

TEST_F(InstalledTest, ConvertsToEveryFormatAndBackWithNothingSetUp) {
    ASSERT_NO_FATAL_FAILURE(Install(prefix()));
    // The installation carries its own registry, naming the installed modules.
    const std::string registry = ReadText(prefix() + "/lib/ondalo/kiv-registry.reg");
    EXPECT_NE(registry.find(prefix() + "/lib/ondalo/kivwave.so"), std::string::npos) << registry;
    EXPECT_EQ(registry.find(ONDALO_BUILD_DIR), std::string::npos) << registry;

    ASSERT_NO_FATAL_FAILURE(MakeSource("chord.wav"));
    const Bytes source = WavSamples(InWork("chord.wav"));
    ASSERT_EQ(source.size(), 2u * 44100 * 4);
    struct Case {
        const char* format;
        const char* codec;
    } cases[] = {{"mp3", "mp3"}, {"ogg", "vorbis"}, {"wma", "wmav2"}, {"flac", "flac"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string folder = std::string("to-") + c.format;
        fs::create_directories(InWork(folder));
        CommandRun r = Cli(prefix(), std::string("convert --to ") + c.format + " --dest " + folder + " chord.wav");
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string encoded = InWork(folder + "/chord." + c.format);
        EXPECT_EQ(CodecOf(encoded), c.codec);

        const std::string back = std::string("back-") + c.format;
        fs::create_directories(InWork(back));
        r = Cli(prefix(), "convert --to wav --dest " + back + " " + Quote(encoded));
        ASSERT_EQ(r.status, 0) << r.output;
        const Bytes decoded = WavSamples(InWork(back + "/chord.wav"));
        // The length within the codecs' padding (a few thousand samples),
        // and the chord still there.
        EXPECT_NEAR(double(decoded.size()), double(source.size()), 4.0 * 4096);
        EXPECT_GT(PeakOf16BitSamples(decoded), PeakOf16BitSamples(source) / 2);
    }
    EXPECT_TRUE(fs::is_empty(home())) << "the program wrote into the user's home";
    EXPECT_FALSE(fs::exists(prefix() + "/lib/ondalo/kiv-registry.reg.lock"));
}

TEST_F(InstalledTest, RipsAVirtualDiscThroughTheInstalledDriveLibrary) {
    ASSERT_NO_FATAL_FAILURE(Install(prefix()));
    const Bytes track1 = PatternBytes(75 * 2352, 11), track2 = PatternBytes(40 * 2352, 12);
    WriteFileBytes(InWork("t1.wav"), MakeWav(track1));
    WriteFileBytes(InWork("t2.wav"), MakeWav(track2));
    std::ofstream(InWork("drives.ini")) << "[drive]\ntrack = t1.wav\ntrack = t2.wav\n";
    // The drive library by its plain name: the installed modules find it
    // in their own folder.
    const std::string drives = "KIV_ASPI_LIBRARY=vcdrive.so KIV_VCD_CONFIG=" + Quote(InWork("drives.ini"));
    fs::create_directories(InWork("rip"));

    CommandRun r = Cli(prefix(), "rip --no-cddb --to wav --dest rip", drives);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(WavSamples(InWork("rip/Track 01.wav")), track1);
    EXPECT_EQ(WavSamples(InWork("rip/Track 02.wav")), track2);

    r = Cli(prefix(), "rip --no-cddb --to ogg --tracks 2 --dest rip", drives);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(CodecOf(InWork("rip/Track 02.ogg")), "vorbis");
    EXPECT_TRUE(fs::is_empty(home())) << "the program wrote into the user's home";
}

// A package is built from a staging folder: the registry must name where
// the modules will be, and the tree must work once moved there.
TEST_F(InstalledTest, StagedInstallationWorksAtItsFinalPlace) {
    const std::string stage = dir_ / "stage", final = dir_ / "final";
    ASSERT_NO_FATAL_FAILURE(Install(final, stage));
    const std::string staged = stage + final;
    const std::string registry = ReadText(staged + "/lib/ondalo/kiv-registry.reg");
    EXPECT_NE(registry.find("@=\"" + final + "/lib/ondalo/kivmp3.so\""), std::string::npos) << registry;
    EXPECT_EQ(registry.find(stage + "/"), std::string::npos) << registry;
    EXPECT_FALSE(fs::exists(final));

    fs::rename(staged, final);
    ASSERT_NO_FATAL_FAILURE(MakeSource("chord.wav"));
    CommandRun r = Cli(final, "convert --to mp3 --dest . chord.wav");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(CodecOf(InWork("chord.mp3")), "mp3");
}

// The version, the manual page and the shell completion follow the program:
// every option a command's help names is completed, every command is in the
// manual page, and the page renders without a warning.
TEST_F(InstalledTest, VersionManualPageAndCompletionFollowTheProgram) {
    ASSERT_NO_FATAL_FAILURE(Install(prefix()));
    CommandRun r = Cli(prefix(), "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "ondalo-cli " ONDALO_VERSION "\n");

    r = Cli(prefix(), "--help");
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> commands;
    const std::regex commandLine(R"(\n  ([a-z]+) )");
    const std::string list = r.output.substr(r.output.find("Commands:"));
    for (std::sregex_iterator it(list.begin(), list.end(), commandLine), end; it != end; ++it)
        commands.push_back((*it)[1]);
    ASSERT_GE(commands.size(), 5u) << r.output;

    const std::string manPath = prefix() + "/share/man/man1/ondalo-cli.1";
    const std::string man = ReadText(manPath);
    EXPECT_NE(man.find(ONDALO_VERSION), std::string::npos);
    const CommandRun render = RunCommand("groff -man -Tutf8 -ww -z " + Quote(manPath) + " 2>&1");
    EXPECT_EQ(render.status, 0);
    EXPECT_EQ(render.output, "");

    // With the desktop program come its desktop entries, metainfo, icon and
    // manual page.
    if (fs::exists(prefix() + "/bin/ondalo")) {
        for (const char* file :
             {"applications/org.ondalo.Ondalo.desktop", "applications/org.ondalo.Ondalo.Ripper.desktop",
              "metainfo/org.ondalo.Ondalo.metainfo.xml", "icons/hicolor/scalable/apps/org.ondalo.Ondalo.svg",
              "man/man1/ondalo.1"}) {
            EXPECT_TRUE(fs::exists(prefix() + "/share/" + file)) << file;
        }
        // Qt's own options may come first and need no display for this.
        const CommandRun version =
            RunCommand(Quote(prefix() + "/bin/ondalo") + " -platform offscreen --version 2>&1 </dev/null");
        EXPECT_EQ(version.status, 0) << version.output;
        EXPECT_EQ(version.output, "ondalo " ONDALO_VERSION "\n");
    }

    const std::string completion = prefix() + "/share/bash-completion/completions/ondalo-cli";
    ASSERT_TRUE(fs::exists(completion));
    const std::string script = dir_ / "complete.sh";
    std::ofstream(script) << "source " << Quote(completion) << "\n"
                          << "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=()\n"
                          << "_ondalo_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    auto complete = [&](const std::string& words) {
        std::set<std::string> offered;
        std::istringstream in(RunCommand("bash " + Quote(script) + " ondalo-cli " + words + " 2>&1").output);
        for (std::string line; std::getline(in, line);) offered.insert(line);
        return offered;
    };

    const std::set<std::string> first = complete("''");
    const std::regex option(R"((^|[\s,\[])(--?[a-z][a-z-]*))");
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        EXPECT_TRUE(first.count(command));
        EXPECT_NE(man.find(".SS " + command + "\n"), std::string::npos);
        const std::string help = Cli(prefix(), command + " --help").output;
        const std::set<std::string> offered = complete(command + " -");
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
            EXPECT_TRUE(offered.count((*it)[2])) << (*it)[2] << " is not completed";
    }
}

TEST(DesktopData, EntriesMetainfoIconAndManualPagePassTheirChecks) {
    const std::string data = ONDALO_SOURCE_DIR "/data/desktop/";
    const std::string checks[] = {
        "desktop-file-validate " + Quote(data + "org.ondalo.Ondalo.desktop"),
        "desktop-file-validate " + Quote(data + "org.ondalo.Ondalo.Ripper.desktop"),
        "appstreamcli validate --no-net --pedantic " + Quote(data + "org.ondalo.Ondalo.metainfo.xml"),
        "xmllint --noout " + Quote(data + "org.ondalo.Ondalo.svg"),
        "groff -man -Tutf8 -ww -z " + Quote(data + "ondalo.1"),
    };
    for (const std::string& check : checks) {
        const CommandRun r = RunCommand(check + " 2>&1");
        EXPECT_EQ(r.status, 0) << check << "\n" << r.output;
    }
    // The four formats open with the program.
    const std::string entry = ReadText(data + "org.ondalo.Ondalo.desktop");
    for (const char* type : {"audio/x-wav;", "audio/mpeg;", "audio/ogg;", "audio/x-ms-wma;"})
        EXPECT_NE(entry.find(type), std::string::npos) << type;
}

}  // namespace
}  // namespace kiv::test
