// The daytime client's costs, each against a baseline measured in the same run:
// - processor time of a GetTimeStr that waits 2 s for a silent server, against a plain blocking
//   recv with a 2 s receive time-out on the same kind of server (the kernel's own sleep);
// - loopback latency of one whole exchange (connect, the reply read until the server closes,
//   close) through GetTimeStr, with its bookkeeping of when the reply came, against a plain
//   blocking-socket client doing the same exchange with the same server.
// Run: ./build/bench/DayTime_bench  (counters: cpu_ms; plain_us, client_us, ratio, extra_us)
//   ./build/bench/DayTime_bench --benchmark_filter=Ratio --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include "net/DayTime.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

namespace {

using kairelon::TNMDayTime;

const std::string kLine = "\n60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *\n";

// A sequential loopback server: accepts, sends the line (or nothing) and closes, or holds the
// connection open until stopped when silent.
class Server {
public:
    explicit Server(bool silent) : silent_(silent) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 128);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Server() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }

private:
    void Run() {
        std::vector<int> held;
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            if (silent_) {
                held.push_back(fd);
                continue;
            }
            ::send(fd, kLine.data(), kLine.size(), MSG_NOSIGNAL);
            ::close(fd);
        }
        for (const int fd : held) {
            ::close(fd);
        }
    }

    bool silent_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// One exchange with a plain blocking socket: connect, read until the peer closes (a reply may
// come in pieces), close.
bool PlainExchange(int port, int receiveTimeoutMs = 5000) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{receiveTimeoutMs / 1000, (receiveTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        char buffer[65536];
        ssize_t total = 0;
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            total += n;
        }
        ok = total > 0 && n == 0;
    }
    ::close(fd);
    return ok;
}

void BM_SilentServerWaitCpu_GetTimeStr(benchmark::State& state) {
    Server server(true);
    TNMDayTime client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.TimeOut = 2000;
    double cpu = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        try {
            client.GetTimeStr();
        } catch (const kairelon::Exception&) {
        }
        cpu += ProcessCpuSeconds() - before;
    }
    state.counters["cpu_ms"] = 1000.0 * cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SilentServerWaitCpu_GetTimeStr)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_SilentServerWaitCpu_PlainRecv(benchmark::State& state) {
    Server server(true);
    double cpu = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        PlainExchange(server.Port(), 2000);
        cpu += ProcessCpuSeconds() - before;
    }
    state.counters["cpu_ms"] = 1000.0 * cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SilentServerWaitCpu_PlainRecv)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_Exchange_Plain(benchmark::State& state) {
    Server server(false);
    for (auto _ : state) {
        if (!PlainExchange(server.Port())) {
            state.SkipWithError("plain exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_Exchange_Plain)->Unit(benchmark::kMicrosecond);

void BM_Exchange_GetTimeStr(benchmark::State& state) {
    Server server(false);
    TNMDayTime client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.TimeOut = 5000;
    for (auto _ : state) {
        if (client.GetTimeStr() != kLine) {
            state.SkipWithError("wrong reply");
            break;
        }
    }
}
BENCHMARK(BM_Exchange_GetTimeStr)->Unit(benchmark::kMicrosecond);

// Both clients alternately against one server, so load and noise hit them alike.
void BM_Exchange_Ratio(benchmark::State& state) {
    Server server(false);
    TNMDayTime client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.TimeOut = 5000;
    using Clock = std::chrono::steady_clock;
    double plain = 0;
    double ours = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        PlainExchange(server.Port());
        const auto t1 = Clock::now();
        client.GetTimeStr();
        const auto t2 = Clock::now();
        plain += std::chrono::duration<double, std::micro>(t1 - t0).count();
        ours += std::chrono::duration<double, std::micro>(t2 - t1).count();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["plain_us"] = plain / n;
    state.counters["client_us"] = ours / n;
    state.counters["ratio"] = ours / plain;
    state.counters["extra_us"] = (ours - plain) / n;
}
BENCHMARK(BM_Exchange_Ratio)->Iterations(3000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
