// The registration tool as a user or an install step runs it.
#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kiv::test {
namespace {

std::string ReadText(const std::string& path) {
    const auto b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

// Whatever form the module's name is given in, the registry names the
// module by its full path (or by the folder --module-dir gives), so a
// program in any folder can load it.
TEST(Kivreg, RegistersModulesByFullPathOrByTheGivenFolder) {
    TempDir dir;
    struct Case {
        std::string args;
        std::string expected;
    } cases[] = {
        {"lib/kivwave.so", ONDALO_BUILD_DIR "/lib/kivwave.so"},
        {"bin/../lib/kivwave.so", ONDALO_BUILD_DIR "/lib/kivwave.so"},
        {"--module-dir /opt/x/lib/ondalo lib/kivwave.so", "/opt/x/lib/ondalo/kivwave.so"},
    };
    for (const Case& c : cases) {
        const std::string registry = dir / "r.reg";
        fs::remove(registry);
        const CommandRun r = RunCommand("cd '" ONDALO_BUILD_DIR "' && bin/kivreg --registry '" + registry + "' " +
                                        c.args + " 2>&1");
        ASSERT_EQ(r.status, 0) << c.args << "\n" << r.output;
        const std::string text = ReadText(registry);
        EXPECT_NE(text.find("[CLSID\\{22881EFF-5BC6-4A8F-8541-704C73871FA3}\\InprocServer32]\n@=\"" + c.expected +
                            "\""),
                  std::string::npos)
            << c.args << "\n" << text;
        EXPECT_NE(text.find("@=\"" + c.expected + ", 101\""), std::string::npos) << c.args;
        EXPECT_NE(text.find("@=\"" + fs::path(c.expected).parent_path().string() + "\""), std::string::npos)
            << c.args << ": the type library's folder";
    }
}

}  // namespace
}  // namespace kiv::test
