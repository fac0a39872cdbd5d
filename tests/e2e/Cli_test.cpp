#include "support/TestSupport.h"

#include <gtest/gtest.h>

using kairelon::test::RunProgram;

TEST(KairelonCommandLine, HelpVersionAndUnknownOptions) {
    const auto help = RunProgram("kairelon", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: kairelon", 0), 0u) << help.out;

    const auto version = RunProgram("kairelon", {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("kairelon ", 0), 0u) << version.out;

    const auto bad = RunProgram("kairelon", {"--no-such-option"});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_NE(bad.err.find("unknown option"), std::string::npos) << bad.err;
}
