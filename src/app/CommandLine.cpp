#include "app/CommandLine.h"

#include "framework/Exception.h"
#include "framework/Format.h"
#include "net/DayTime.h"
#include "platform/Clock.h"
#include "sync/TimeConversion.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kairelon {
namespace {

constexpr const char* kUsage =
    "Usage: kairelon [OPTION]...\n"
    "       kairelon --query HOST[:PORT] [--timeout MS]\n"
    "Keeps the computer's clock right with the time of a daytime server (RFC 867).\n"
    "\n"
    "Without options the program runs behind its tray icon.\n"
    "\n"
    "Modes:\n"
    "  --query HOST[:PORT]  ask the daytime server HOST (port 13 unless given) for its time\n"
    "                       and print its reply, its time, the local clock (both UTC) and\n"
    "                       the difference in whole minutes; sets nothing, needs no rights\n"
    "\n"
    "Options:\n"
    "  --timeout MS     limit of each step of the exchange in milliseconds (default 10000)\n"
    "  -h, --help       print this help and exit\n"
    "  -V, --version    print the version and exit\n"
    "\n"
    "Exit status: 0 success, 2 the query failed, 64 wrong usage.\n";

constexpr int kExitFailure = 2;
constexpr int kExitUsage = 64;
constexpr int kDaytimePort = 13;
constexpr int kDefaultTimeOutMs = 10000;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kairelon: %s\nTry 'kairelon --help'.\n", message.c_str());
    return kExitUsage;
}

struct Options {
    bool help = false;
    bool version = false;
    std::optional<std::string> query; // HOST[:PORT]
    std::optional<std::string> timeout;
};

// Takes "--name VALUE" or "--name=VALUE"; false (with an error printed) when the value is
// missing.
bool TakeValue(int argc, char** argv, int& i, std::string_view name, std::string& value,
               bool& matched) {
    const std::string_view arg = argv[i];
    matched = false;
    if (arg == name) {
        matched = true;
        if (i + 1 >= argc) {
            return false;
        }
        value = argv[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        matched = true;
        value = std::string(arg.substr(name.size() + 1));
        return true;
    }
    return true;
}

// "host", "host:port"; false for an empty host or a port outside 1..65535.
bool ParseServer(const std::string& text, std::string& host, int& port) {
    host = text;
    port = kDaytimePort;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        int value = 0;
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            !TryStrToInt(digits, value) || value < 1 || value > 65535) {
            return false;
        }
        port = value;
    }
    return !host.empty();
}

std::string IsoUtc(const SYSTEMTIME& st) {
    return Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
}

// One exchange with the server, compared with the local clock; sets nothing.
int RunQuery(const std::string& host, int port, int timeOutMs) {
    std::string reply;
    try {
        TNMDayTime NTP;
        NTP.Host = host;
        NTP.Port = port;
        NTP.TimeOut = timeOutMs;
        reply = NTP.GetTimeStr();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "error: %s\n", error.what());
        return kExitFailure;
    }
    StripControlCharacters(reply);
    TDateTime date = 0;
    TDateTime time = 0;
    if (!NTPtoDateTime(reply, date, time)) {
        std::fprintf(stderr, "error: NTPtoDateTime() failed\n");
        return kExitFailure;
    }
    const SYSTEMTIME remote = DateTimeToSystemTime(date + time);
    CDryRunClock clock; // reads the clock; cannot set it
    const SYSTEMTIME local = clock.GetSystemTime();
    std::printf("reply: %s\n", reply.c_str());
    std::printf("remote: %s\n", IsoUtc(remote).c_str());
    std::printf("local: %s\n", IsoUtc(local).c_str());
    std::printf("deviation: %d\n", GetTimeDifference(remote, local));
    std::fflush(stdout);
    return 0;
}

} // namespace

int RunKairelon(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version" || arg == "-V") {
            options.version = true;
            continue;
        }
        bool matched = false;
        std::string value;
        for (const std::string_view name : {"--query", "--timeout"}) {
            if (!TakeValue(argc, argv, i, name, value, matched)) {
                return UsageError("option '" + std::string(name) + "' needs a value");
            }
            if (matched) {
                (name == "--query" ? options.query : options.timeout) = value;
                break;
            }
        }
        if (!matched) {
            std::fprintf(stderr, "kairelon: unknown option '%s'\nTry 'kairelon --help'.\n",
                         argv[i]);
            return kExitUsage;
        }
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kairelon %s\n", KAIRELON_VERSION);
        return 0;
    }
    if (options.query) {
        std::string host;
        int port = 0;
        if (!ParseServer(*options.query, host, port)) {
            return UsageError("invalid server '" + *options.query + "' (HOST or HOST:PORT)");
        }
        int timeOut = kDefaultTimeOutMs;
        if (options.timeout &&
            (!TryStrToInt(*options.timeout, timeOut) || timeOut <= 0 ||
             options.timeout->find_first_not_of("0123456789") != std::string::npos)) {
            return UsageError("invalid time-out '" + *options.timeout +
                              "' (milliseconds, more than 0)");
        }
        QCoreApplication app(argc, argv); // an event loop, no display
        return RunQuery(host, port, timeOut);
    }
    if (options.timeout) {
        return UsageError("'--timeout' belongs to '--query'");
    }
    std::fputs("kairelon: the tray program is not available in this build yet; see --help.\n",
               stderr);
    return 1;
}

} // namespace kairelon
