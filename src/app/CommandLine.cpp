#include "app/CommandLine.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <string_view>

namespace kairelon {
namespace {

constexpr const char* kUsage =
    "Usage: kairelon [OPTION]...\n"
    "Keeps the computer's clock right with the time of a daytime server (RFC 867).\n"
    "\n"
    "Without options the program runs behind its tray icon.\n"
    "\n"
    "Options:\n"
    "  -h, --help       print this help and exit\n"
    "  -V, --version    print the version and exit\n";

} // namespace

int RunKairelon(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-V") {
            std::printf("kairelon %s\n", KAIRELON_VERSION);
            return 0;
        }
        std::fprintf(stderr, "kairelon: unknown option '%s'\nTry 'kairelon --help'.\n", argv[i]);
        return 64;
    }
    std::fputs("kairelon: the tray program is not available in this build yet; see --help.\n",
               stderr);
    return 1;
}

} // namespace kairelon
