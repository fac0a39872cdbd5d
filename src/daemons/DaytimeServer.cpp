#include "daemons/DaytimeServer.h"

#include "daemons/DaytimeLine.h"
#include "framework/Format.h"
#include "platform/DescriptorLimit.h"
#include "platform/Privileges.h"
#include "platform/StopSignals.h"
#include "platform/WindowMessages.h"

#include <QCoreApplication>

#include <arpa/inet.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace kairelon {

TDaytimeServer::TDaytimeServer(TComponent* AOwner)
    : TNMGeneralServer(AOwner), Clock([] { return std::chrono::system_clock::now(); }) {
    Port = 13;
}

TNMGeneralServer::TInstanceMaker TDaytimeServer::InstanceMaker() {
    return [clock = Clock] {
        auto* instance = new TDaytimeServer(nullptr);
        instance->Clock = clock;
        return instance;
    };
}

void TDaytimeServer::Serve() {
    if (Server != nullptr && Server->OnClientContact) {
        Server->OnClientContact(this);
    }
    Write(DaytimeLine(Clock()));
    // The reply is complete: the client sees its end now, not after this instance is taken
    // down (its window, timer and buffers go first, then the socket).
    sock::shutdown(SocketHandle, sock::SD_SEND);
}

namespace {

constexpr const char* kUsage =
    "Usage: kairelon-daytimed [--port N] [--bind ADDRESS] [--user NAME]\n"
    "\n"
    "Serves the date and time of this computer's clock to daytime clients (RFC 867, TCP):\n"
    "each client gets one line and the connection closes. The line is\n"
    "  MJD YY-MM-DD hh:mm:ss 00 0 0 msADV UTC(Kairelon) *\n"
    "(Modified Julian Date, the date and time in UTC, status fields, closing marker). It\n"
    "states the next whole second and, as msADV, the milliseconds until then.\n"
    "\n"
    "Options:\n"
    "  --port N        TCP port to listen on (default 13; 0 picks a free port). Ports below\n"
    "                  1024 need root or the capability CAP_NET_BIND_SERVICE.\n"
    "  --bind ADDRESS  local IPv4 address to listen on (default: every local address)\n"
    "  --user NAME     started as root, run as this user and its groups once the port is\n"
    "                  bound (default nobody); ignored when not started as root\n"
    "  -h, --help      show this text\n"
    "  -V, --version   show the version\n"
    "\n"
    "Once listening it prints \"kairelon-daytimed: serving on ADDRESS:PORT\". SIGTERM or\n"
    "SIGINT stops it in order: the connections being served are ended, then it exits 0.\n"
    "\n"
    "Exit status: 0 after an orderly stop, 1 when it cannot listen or cannot give up root,\n"
    "64 for a wrong command line.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kairelon-daytimed: %s\nTry 'kairelon-daytimed --help'.\n",
                 message.c_str());
    return 64;
}

// "--name value" or "--name=value"; true when args[i] is that option (i then points at its
// value).
bool OptionValue(int argc, char** argv, int& i, std::string_view name, std::string& value,
                 bool& missing) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) {
            missing = true;
            return true;
        }
        value = argv[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
        return true;
    }
    return false;
}

// Descriptors the program holds besides its connections: standard streams, the listening
// socket and its shared copy, the event loop's and the stop signals' descriptors, with room.
constexpr long kReservedDescriptors = 32;
// A connection costs its socket, and its thread's event loop and accept wait; a thread that
// waits for the next connection may hold one more socket.
constexpr long kDescriptorsPerConnection = 4;
constexpr long kMostConnections = 4096; // beyond that, threads rather than descriptors run out

} // namespace

int ConnectionsWithin(long descriptors) {
    if (descriptors < 0) {
        return 0; // unknown: no limit of our own
    }
    const long within = (descriptors - kReservedDescriptors) / kDescriptorsPerConnection;
    return static_cast<int>(within < 1 ? 1 : within > kMostConnections ? kMostConnections : within);
}

int RunKairelonDaytimed(int argc, char** argv) {
    int port = 13;
    std::string bind = "0.0.0.0";
    std::string user = "nobody";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string value;
        bool missing = false;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-V") {
            std::printf("kairelon-daytimed %s\n", KAIRELON_VERSION);
            return 0;
        }
        if (OptionValue(argc, argv, i, "--port", value, missing)) {
            if (missing) {
                return UsageError("--port needs a port number");
            }
            if (!TryStrToInt(value, port) || port < 0 || port > 65535) {
                return UsageError("'" + value + "' is not a port number (0 to 65535)");
            }
        } else if (OptionValue(argc, argv, i, "--bind", value, missing)) {
            if (missing) {
                return UsageError("--bind needs an IPv4 address");
            }
            in_addr parsed{};
            if (inet_pton(AF_INET, value.c_str(), &parsed) != 1) {
                return UsageError("'" + value + "' is not an IPv4 address (such as 127.0.0.1)");
            }
            bind = value;
        } else if (OptionValue(argc, argv, i, "--user", value, missing)) {
            if (missing || value.empty()) {
                return UsageError("--user needs a user name");
            }
            user = value;
        } else {
            return UsageError("unknown option '" + std::string(arg) + "'");
        }
    }

    // Every client served at once holds descriptors: take all the system allows, and serve
    // no more at once than they suffice for.
    const long descriptors = RaiseDescriptorLimit();

    UsePlainEventLoop(); // a connection costs less (see platform/WindowMessages.h)
    QCoreApplication app(argc, argv);
    QuitOnStopSignals();

    TDaytimeServer server;
    server.Port = port;
    server.ListenAddress = bind;
    server.ListenBacklog = 128; // bursts of clients queue instead of retrying after a second
    server.MaxConnections = ConnectionsWithin(descriptors);
    try {
        server.Loaded();
    } catch (const std::exception& error) {
        std::string reason;
        switch (server.LastErrorNo) {
        case 10048:
            reason = "the port is in use by another program";
            break;
        case 10013:
            reason = "not permitted (ports below 1024 need root or the capability "
                     "CAP_NET_BIND_SERVICE)";
            break;
        case 10049:
            reason = "the address is not one of this computer's addresses";
            break;
        default:
            reason = error.what();
            break;
        }
        std::fprintf(stderr, "kairelon-daytimed: cannot listen on %s:%d: %s (%s)\n", bind.c_str(),
                     port, reason.c_str(), error.what());
        return 1;
    }
    // Root was needed for the port alone: give it up before the first client is served.
    const DropOutcome dropped = DropRoot(user);
    if (dropped.result == DropOutcome::Failed) {
        std::fprintf(stderr, "kairelon-daytimed: cannot give up root: %s\n",
                     dropped.message.c_str());
        return 1;
    }
    sockaddr_in local{};
    sock::getsockname(server.SocketHandle, &local);
    std::printf("kairelon-daytimed: serving on %s:%d\n", bind.c_str(), ntohs(local.sin_port));
    if (dropped.result == DropOutcome::Dropped) {
        std::printf("kairelon-daytimed: gave up root, running as user %s (uid %u, gid %u)\n",
                    user.c_str(), static_cast<unsigned>(dropped.uid),
                    static_cast<unsigned>(dropped.gid));
    }
    std::fflush(stdout);

    app.exec();

    std::printf("kairelon-daytimed: stopping (signal %d)\n", ReceivedStopSignal());
    std::fflush(stdout);
    return 0; // the server's destruction ends the connections still being served
}

} // namespace kairelon
