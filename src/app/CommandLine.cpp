#include "app/CommandLine.h"

#include "app/HeadlessHost.h"

#include "framework/Exception.h"
#include "framework/Format.h"
#include "net/DayTime.h"
#include "platform/Clock.h"
#include "platform/ProgramExec.h"
#include "platform/TimeServices.h"
#include "sync/ServerAddress.h"
#include "sync/TimeConversion.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kairelon {
namespace {

constexpr const char* kUsage =
    "Usage: kairelon [OPTION]...\n"
    "       kairelon --query HOST[:PORT] [--timeout MS]\n"
    "       kairelon --sync-now [--server HOST[:PORT]] [--dry-run]\n"
    "       kairelon --headless [--server HOST[:PORT]] [--dry-run]\n"
    "       kairelon [--dry-run] | --quit\n"
    "Keeps the computer's clock right with the time of a daytime server (RFC 867).\n"
    "\n"
    "Without options the program runs behind its tray icon, once per session: a second\n"
    "start shows the running one's dialog. Its protocol entries go to standard output as in\n"
    "--sync-now.\n"
    "\n"
    "Modes:\n"
    "  --query HOST[:PORT]  ask the daytime server HOST (port 13 unless given) for its time\n"
    "                       and print its reply, its time, the local clock (both UTC), the\n"
    "                       difference in whole minutes, and the offset: the server's time\n"
    "                       less this clock's, to the millisecond, estimated as a run sets\n"
    "                       it; sets nothing, needs no rights\n"
    "  --sync-now           synchronise the clock once, as the menu command does, printing\n"
    "                       the protocol on standard output (info:, warning:, error:);\n"
    "                       SIGTERM or SIGINT ends the run at once, dial included, and\n"
    "                       hangs up what it dialled\n"
    "  --headless           run the scheduler without a display until SIGTERM or SIGINT,\n"
    "                       saying first when it runs next; SIGHUP reads the settings\n"
    "                       again; one at a time on the same settings\n"
    "  --quit               ask the tray program of this session to quit (status 1 when\n"
    "                       none runs)\n"
    "\n"
    "Options:\n"
    "  --server HOST[:PORT] use this server for this run instead of \"CurrentServer\";\n"
    "                       writes nothing\n"
    "  --dry-run            never change the clock; say on standard error what would be set\n"
    "  --timeout MS         limit of each step of the query in milliseconds (default 10000)\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "\n"
    "HOST is a host name or an IPv4 address; IPv6 addresses are not served.\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/kairelon/user.reg (per user) and\n"
    "/var/lib/kairelon/system.reg (the service hand-over); KAIRELON_REGISTRY_DIR puts both in\n"
    "one folder. The result of every run, failures included, is a protocol line on standard\n"
    "output; a failure that escapes a run is appended to $XDG_STATE_HOME/kairelon/error.log.\n"
    "\n"
    "Exit status: --query: 0 success, 2 failure; --sync-now: 0, 1 or 2 for a result that is\n"
    "an information, a warning or an error; --headless: 0 after SIGTERM or SIGINT, 1 when\n"
    "another runs on the same settings; 64 wrong usage.\n";

constexpr int kExitFailure = 2;
constexpr int kExitUsage = 64;
constexpr int kDefaultTimeOutMs = 10000;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kairelon: %s\nTry 'kairelon --help'.\n", message.c_str());
    return kExitUsage;
}

struct Options {
    bool help = false;
    bool version = false;
    bool syncNow = false;
    bool headless = false;
    bool dryRun = false;
    bool quit = false;
    std::optional<std::string> query; // HOST[:PORT]
    std::optional<std::string> timeout;
    std::optional<std::string> server; // HOST[:PORT]
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

// "host" or "host:port"; false for an empty host, a port outside 1..65535 or an IPv6
// address (the daytime client speaks IPv4), with the usage error in `error`.
bool ParseServer(const std::string& text, ServerAddress& address, std::string& error) {
    address = SplitServerAddress(text);
    if (address.ipv6Literal) {
        error = Ipv6NotServedText(text);
        return false;
    }
    const bool namesPort = text.find(':') != std::string::npos;
    error = "invalid server '" + text + "' (HOST or HOST:PORT)";
    return !address.host.empty() && (!namesPort || address.explicitPort);
}

std::string IsoUtc(const SYSTEMTIME& st) {
    return Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
}

// One exchange with the server, compared with the local clock; sets nothing.
int RunQuery(const std::string& host, int port, int timeOutMs) {
    std::string reply;
    TReplyTiming timing;
    try {
        TNMDayTime NTP;
        NTP.Host = host;
        NTP.Port = port;
        NTP.TimeOut = timeOutMs;
        reply = NTP.GetTimeStr();
        timing = NTP.LastReplyTiming;
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
    // The server's time now, by the estimate a run sets, against this clock read at once.
    const TTicks atReceipt = TimeAtReceipt(remote, reply, timing.RoundTripNs());
    const std::int64_t nowNs = clock.MonotonicNs();
    const auto localNow = std::chrono::system_clock::now();
    const std::int64_t sinceReceiptNs = nowNs - ReceiptInstantNs(reply, timing);
    constexpr TTicks kTicks1601To1970 = 116444736000000000LL;
    const TTicks localTicks =
        kTicks1601To1970 +
        std::chrono::duration_cast<std::chrono::nanoseconds>(localNow.time_since_epoch()).count() /
            100;
    const TTicks offsetTicks = atReceipt + sinceReceiptNs / 100 - localTicks;
    std::printf("reply: %s\n", reply.c_str());
    std::printf("remote: %s\n", IsoUtc(remote).c_str());
    std::printf("local: %s\n", IsoUtc(local).c_str());
    std::printf("deviation: %d\n", GetTimeDifference(remote, local));
    if (const std::optional<int> health = DaytimeHealth(reply)) {
        std::printf("health: %d\n", *health);
    }
    const std::int64_t offsetMs = (offsetTicks + (offsetTicks < 0 ? -5000 : 5000)) / 10000;
    const std::int64_t absMs = offsetMs < 0 ? -offsetMs : offsetMs;
    std::printf("offset: %c%lld.%03lld s (round trip %.1f ms)\n", offsetMs < 0 ? '-' : '+',
                static_cast<long long>(absMs / 1000), static_cast<long long>(absMs % 1000),
                static_cast<double>(timing.RoundTripNs()) / 1e6);
    const std::string other = OtherTimeService();
    if (!other.empty()) {
        std::printf("note: another time service keeps this clock (%s): it undoes or fights "
                    "every set by Kairelon\n",
                    other.c_str());
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int RunKairelon(int argc, char** argv, TrayRunner runTray) {
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
        if (arg == "--quit") {
            options.quit = true;
            continue;
        }
        if (arg == "--sync-now" || arg == "--headless" || arg == "--dry-run") {
            (arg == "--sync-now"   ? options.syncNow
             : arg == "--headless" ? options.headless
                                   : options.dryRun) = true;
            continue;
        }
        bool matched = false;
        std::string value;
        const std::pair<std::string_view, std::optional<std::string>*> valued[] = {
            {"--query", &options.query},
            {"--timeout", &options.timeout},
            {"--server", &options.server}};
        for (const auto& [name, target] : valued) {
            if (!TakeValue(argc, argv, i, name, value, matched)) {
                return UsageError("option '" + std::string(name) + "' needs a value");
            }
            if (matched) {
                if (target->has_value()) {
                    return UsageError("option '" + std::string(name) + "' given twice");
                }
                *target = value;
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
    const int modes = (options.query ? 1 : 0) + (options.syncNow ? 1 : 0) +
                      (options.headless ? 1 : 0) + (options.quit ? 1 : 0);
    if (modes > 1) {
        return UsageError("'--query', '--sync-now', '--headless' and '--quit' exclude each other");
    }
    if (options.quit) {
        if (options.server || options.dryRun || options.timeout) {
            return UsageError("'--quit' takes no other option");
        }
        return runTray(argc, argv, TrayRequest{true, false});
    }
    ServerAddress address;
    std::string serverError;
    if (options.server && !ParseServer(*options.server, address, serverError)) {
        return UsageError(serverError);
    }
    if (options.server && !options.syncNow && !options.headless) {
        return UsageError("'--server' belongs to '--sync-now' and '--headless'");
    }
    if (options.dryRun && options.query) {
        return UsageError("'--dry-run' belongs to '--sync-now', '--headless' and the tray program");
    }
    if (options.syncNow || options.headless) {
        if (options.timeout) {
            return UsageError("'--timeout' belongs to '--query'");
        }
        QCoreApplication app(argc, argv); // an event loop, no display
        const HeadlessOptions headless{options.server, options.dryRun};
        return options.syncNow ? RunSyncNow(headless) : RunHeadless(headless);
    }
    if (options.query) {
        if (!ParseServer(*options.query, address, serverError)) {
            return UsageError(serverError);
        }
        int timeOut = kDefaultTimeOutMs;
        if (options.timeout &&
            (!TryStrToInt(*options.timeout, timeOut) || timeOut <= 0 ||
             options.timeout->find_first_not_of("0123456789") != std::string::npos)) {
            return UsageError("invalid time-out '" + *options.timeout +
                              "' (milliseconds, more than 0)");
        }
        QCoreApplication app(argc, argv); // an event loop, no display
        return RunQuery(address.host, address.port, timeOut);
    }
    if (options.timeout) {
        return UsageError("'--timeout' belongs to '--query'");
    }
    return runTray(argc, argv, TrayRequest{false, options.dryRun});
}

int ExecTrayProgram(int /*argc*/, char** argv, const TrayRequest& /*request*/) {
    // The tray program reads the same arguments again; argv[0] stays as the user typed it.
    const int error = ExecSibling("kairelon-tray", argv);
    std::fprintf(stderr, "kairelon: cannot start the tray program kairelon-tray: %s\n",
                 std::strerror(error));
    return 1;
}

} // namespace kairelon
