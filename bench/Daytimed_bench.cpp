// Requests per second of kairelon-daytimed on loopback, against the daytime service built
// into inetd as the baseline, measured in the same run with the same client loop.
//
// One request is what a daytime client does: connect, read until the server closes, close.
// The benchmark starts both servers itself and stops them at its end:
// - kairelon-daytimed of this build (beside this program: ../src/kairelon-daytimed, or the
//   path in KAIRELON_DAYTIMED) on 127.0.0.1 and a free port;
// - inetd with a configuration file of its own, serving only its internal daytime service on
//   a loopback address of its own (127.x.y.13, port 13: inetd's internal services listen on
//   their official port only, which needs root), rate limits lifted.
// It installs nothing: without inetd (Debian package openbsd-inetd) or without root the
// baseline is skipped with a message saying so.
//
//   ./build/bench/Daytimed_bench --benchmark_min_time=2 --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
// (random interleaving runs the repetitions of all four cases in a mixed order, so a slow spell
// of a shared machine does not fall on one server only).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Peer {
    std::string name;
    pid_t pid = -1;
    sockaddr_in address{};
    std::string skip; // why the peer could not be started; empty when it runs
    std::string configFile;
};

std::string SelfDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string p(path, static_cast<std::size_t>(n));
    return p.substr(0, p.rfind('/'));
}

// One daytime request; the reply, or empty on any failure.
std::string Request(const sockaddr_in& address) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return {};
    }
    std::string reply;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        char buffer[512];
        for (;;) {
            const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(s);
    return reply;
}

bool WaitUntilServing(const sockaddr_in& address) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!Request(address).empty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (stdoutFd >= 0) {
            dup2(stdoutFd, STDOUT_FILENO);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void Stop(Peer& peer) {
    if (peer.pid > 0) {
        kill(peer.pid, SIGTERM);
        int status = 0;
        waitpid(peer.pid, &status, 0);
        peer.pid = -1;
    }
    if (!peer.configFile.empty()) {
        std::remove(peer.configFile.c_str());
    }
}

Peer StartDaytimed() {
    Peer peer;
    peer.name = "kairelon-daytimed";
    const char* env = std::getenv("KAIRELON_DAYTIMED");
    const std::string program = env ? env : SelfDirectory() + "/../src/kairelon-daytimed";
    if (access(program.c_str(), X_OK) != 0) {
        peer.skip = program + " not found: build the target kairelon-daytimed first";
        return peer;
    }
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        peer.skip = "no pipe";
        return peer;
    }
    peer.pid = Spawn({program, "--bind", "127.0.0.1", "--port", "0"}, pipeFds[1]);
    close(pipeFds[1]);
    // The daemon's first line names the address it serves on: "... on 127.0.0.1:PORT".
    std::string line;
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    close(pipeFds[0]);
    const auto colon = line.rfind(':');
    const int port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    if (port <= 0) {
        peer.skip = "kairelon-daytimed did not start: '" + line + "'";
        Stop(peer);
        return peer;
    }
    peer.address.sin_family = AF_INET;
    peer.address.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!WaitUntilServing(peer.address)) {
        peer.skip = "kairelon-daytimed does not answer";
        Stop(peer);
    }
    return peer;
}

Peer StartInetd() {
    Peer peer;
    peer.name = "inetd-internal-daytime";
    const std::string program = "/usr/sbin/inetd";
    if (access(program.c_str(), X_OK) != 0) {
        peer.skip = "inetd is not installed (apt-get install openbsd-inetd); baseline skipped";
        return peer;
    }
    if (geteuid() != 0) {
        peer.skip = "inetd's internal daytime service listens on port 13, which needs root; "
                    "baseline skipped";
        return peer;
    }
    // A loopback address of this run's own, so that parallel runs and a system inetd on
    // port 13 do not collide.
    const unsigned pid = static_cast<unsigned>(getpid());
    char host[32];
    std::snprintf(host, sizeof host, "127.%u.%u.13", 100 + (pid >> 8) % 150, pid % 256);
    peer.configFile = "/tmp/kairelon-bench-inetd-" + std::to_string(pid) + ".conf";
    {
        std::ofstream conf(peer.configFile);
        conf << host << ":daytime stream tcp4 nowait.100000000 root internal\n";
    }
    // -i: stay in the foreground; -R: no rate limit; -q: the listen queue.
    peer.pid = Spawn({program, "-i", "-R", "100000000", "-q", "128", peer.configFile}, -1);
    peer.address.sin_family = AF_INET;
    peer.address.sin_port = htons(13);
    inet_pton(AF_INET, host, &peer.address.sin_addr);
    if (!WaitUntilServing(peer.address)) {
        peer.skip = "inetd does not answer on " + std::string(host) + ":13";
        Stop(peer);
    }
    return peer;
}

void BM_Requests(benchmark::State& state, const Peer* peer) {
    if (!peer->skip.empty()) {
        state.SkipWithError(peer->skip.c_str());
        return;
    }
    std::int64_t failed = 0;
    for (auto _ : state) {
        const std::string reply = Request(peer->address);
        if (reply.empty() || reply.back() != '\n') {
            ++failed;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["failed"] = static_cast<double>(failed);
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    Peer daytimed = StartDaytimed();
    Peer inetd = StartInetd();
    for (const Peer* peer : {&daytimed, &inetd}) {
        if (!peer->skip.empty()) {
            std::fprintf(stderr, "Daytimed_bench: %s\n", peer->skip.c_str());
        }
    }
    // Each client count against both servers one after the other, so that a change in the
    // machine's load between them is as small as it can be.
    for (int clients : {1, 4}) {
        for (const Peer* peer : {&daytimed, &inetd}) {
            benchmark::RegisterBenchmark(("Requests/" + peer->name).c_str(), BM_Requests, peer)
                ->Threads(clients)
                ->UseRealTime();
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Stop(daytimed);
    Stop(inetd);
    return 0;
}
