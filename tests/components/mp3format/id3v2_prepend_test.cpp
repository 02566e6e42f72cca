#include "components/mp3/format/id3v2_prepend.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "test_support.h"

namespace kiv::mp3 {
namespace {

using test::Bytes;

TEST(Id3v2Prepend, TemporaryNameDiffersFromTheFile) {
    const std::pair<const char*, const char*> cases[] = {
        {"/d/song.mp3", "/d/song.mp~"},
        {"/d/song.mp~", "/d/song.mp~~"},
        {"x", "~"},
        {"~", "~~"},
    };
    for (const auto& [file, temporary] : cases) {
        EXPECT_EQ(id3v2TemporaryPath(file), std::filesystem::path(temporary)) << file;
    }
}

TEST(Id3v2Prepend, PutsTheTagInFront) {
    const Bytes tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 2, 0, 0};
    Bytes audio(40000);  // more than two copy blocks
    for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<std::uint8_t>(i * 7);

    for (const char* name : {"song.mp3", "song.mp~"}) {
        test::TempDir dir;
        const auto file = dir / name;
        test::writeFile(file, audio);
        ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        const auto result = prependId3v2(file, tag);
        ASSERT_TRUE(result.ok()) << name << " errno " << result.error;
        EXPECT_EQ(test::readFile(file), test::concat({tag, audio})) << name;
        EXPECT_FALSE(std::filesystem::exists(id3v2TemporaryPath(file))) << name;
        EXPECT_EQ(std::filesystem::status(file).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read) << name;
    }
}

TEST(Id3v2Prepend, FailuresLeaveTheFileAlone) {
    test::TempDir dir;
    const Bytes tag(20, 1);

    const auto missing = prependId3v2(dir / "missing.mp3", tag);
    EXPECT_EQ(missing.stage, PrependStage::openSource);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mp~"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mp3"));

    const auto noFolder = prependId3v2(dir / "nofolder" / "a.mp3", tag);
    EXPECT_EQ(noFolder.stage, PrependStage::createTemporary);
    EXPECT_EQ(noFolder.error, ENOENT);

    // The source is a folder: opening works, reading fails.
    std::filesystem::create_directory(dir / "folder.mp3");
    const auto folder = prependId3v2(dir / "folder.mp3", tag);
    EXPECT_EQ(folder.stage, PrependStage::readSource);
    EXPECT_EQ(folder.error, EISDIR);
    EXPECT_FALSE(std::filesystem::exists(dir / "folder.mp~"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.mp3"));
}

}  // namespace
}  // namespace kiv::mp3
