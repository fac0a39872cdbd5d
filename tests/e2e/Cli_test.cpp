#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

// The headless modes run on servers without a display: `kairelon` itself must not load the
// window libraries, which only the tray program (kairelon-tray) needs.
TEST(KairelonCommandLine, TheHeadlessProgramLoadsNoWindowLibrary) {
    ::setenv("LD_DEBUG", "files", 1);
    const auto version = RunProgram("kairelon", {"--version"});
    ::unsetenv("LD_DEBUG");
    EXPECT_EQ(version.exitCode, 0);
    ASSERT_NE(version.err.find("libQt6Core"), std::string::npos) << "no loader trace";
    for (const char* library : {"libQt6Widgets", "libQt6Gui", "libQt6Svg", "libX11", "libEGL"})
        EXPECT_EQ(version.err.find(library), std::string::npos) << library << " is loaded";
}
