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
