#include <gtest/gtest.h>

#include <stdlib.h>

#include <thread>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/test_env.h"

namespace kiv {
namespace {

TEST(Registry, SerializedTreeParsesBackWithQuotesAndCaseInsensitiveNames) {
    registry::Key root;
    auto& k = root.Create("CLSID\\{ABC}\\InprocServer32");
    k.values[""] = "/path with \"quotes\" and \\backslash";
    k.values["ThreadingModel"] = "Apartment";
    root.Create("Empty\\Key");
    registry::Key back;
    ASSERT_TRUE(registry::Parse(registry::Serialize(root), back));
    const registry::Key* found = back.Find("clsid\\{abc}\\INPROCSERVER32");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->values.at(""), "/path with \"quotes\" and \\backslash");
    EXPECT_EQ(found->values.at("threadingmodel"), "Apartment");
    EXPECT_NE(back.Find("Empty\\Key"), nullptr) << "keys without values survive";
}

TEST(Registry, MalformedLinesAreReportedNotGuessed) {
    registry::Key root;
    EXPECT_FALSE(registry::Parse("\"orphan\"=\"value before any key\"\n", root));
    EXPECT_FALSE(registry::Parse("[Key]\n\"unterminated=\"x\n", root));
}

TEST(Registry, EditsFromManyThreadsAreAllKept) {
    test::TempDir dir;
    ::setenv("KIV_REGISTRY", (dir / "reg.reg").c_str(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 10; ++i)
                ASSERT_EQ(registry::Edit([&](registry::Key& root) {
                              root.Create("T" + std::to_string(t)).values[std::to_string(i)] = "v";
                          }),
                          S_OK);
        });
    for (auto& th : threads) th.join();
    registry::Key root;
    ASSERT_TRUE(registry::Load(root));
    for (int t = 0; t < 8; ++t) {
        const registry::Key* k = root.Find("T" + std::to_string(t));
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->values.size(), 10u);
    }
    EXPECT_EQ(registry::FilePath(), dir / "reg.reg");
    ::unsetenv("KIV_REGISTRY");
}

// Which registry a program uses, by what exists around it: its own build's
// beside it, an installation's under ../lib/ondalo, else the user's.
TEST(Registry, ProgramFindsTheRegistryOfItsBuildOrInstallationBeforeTheUsers) {
    test::TempDir dir;
    const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::unsetenv("KIV_REGISTRY");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", (dir / "home").c_str(), 1);
    const std::string user = dir / "home/.local/share/ondalo/registry.reg";
    const std::string beside = dir / "bin/kiv-registry.reg";
    const std::string installed = dir / "lib/ondalo/kiv-registry.reg";
    test::fs::create_directories(dir.path() / "bin");
    test::fs::create_directories(dir.path() / "lib/ondalo");
    struct Case {
        bool besideExists, installedExists;
        std::string expected;
    };
    const Case cases[] = {
        {false, false, user},
        {false, true, installed},
        {true, true, beside},
        {true, false, beside},
    };
    for (const Case& c : cases) {
        test::fs::remove(beside);
        test::fs::remove(installed);
        if (c.besideExists) test::WriteFileBytes(beside, {});
        if (c.installedExists) test::WriteFileBytes(installed, {});
        EXPECT_EQ(registry::FilePathFor(dir / "bin"), c.expected) << c.besideExists << c.installedExists;
    }
    ::setenv("KIV_REGISTRY", (dir / "env.reg").c_str(), 1);
    EXPECT_EQ(registry::FilePathFor(dir / "bin"), dir / "env.reg");
    ::unsetenv("KIV_REGISTRY");
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    EXPECT_EQ(registry::FilePathFor(""), dir / "data/ondalo/registry.reg");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", saved.c_str(), 1);
}

// Looking classes up must not leave files or folders behind: not in a
// read-only installation, not in a user's home that has no registry.
TEST(Registry, ReadingLeavesNoTrace) {
    test::TempDir dir;
    registry::Key root;
    EXPECT_TRUE(registry::Load(root, dir / "missing/registry.reg"));
    EXPECT_TRUE(root.subkeys.empty());
    EXPECT_FALSE(test::fs::exists(dir.path() / "missing"));

    test::WriteFileBytes(dir / "registry.reg", {'[', 'A', ']', '\n'});
    EXPECT_TRUE(registry::Load(root, dir / "registry.reg"));
    EXPECT_NE(root.Find("A"), nullptr);
    EXPECT_FALSE(test::fs::exists(dir.path() / "registry.reg.lock"));
}

TEST(Registry, RemoveTakesTheWholeSubtreeAndNothingElse) {
    registry::Key root;
    root.Create("A\\B\\C").values[""] = "x";
    root.Create("A\\D");
    EXPECT_TRUE(root.Remove("A\\B"));
    EXPECT_EQ(root.Find("A\\B"), nullptr);
    EXPECT_NE(root.Find("A\\D"), nullptr);
    EXPECT_FALSE(root.Remove("A\\Missing"));
}

}  // namespace
}  // namespace kiv
