// How far from the true time a synchronisation run would set the clock, against the
// whole-second setting as the baseline, measured in the same run.
//
// The server is on this machine, so its clock is the true time: the error of one run is the
// time it would set less this machine's clock at the moment it would set it. Each run is a
// whole synchronisation run of the engine (reply, conversion, protocol lines, deviation check,
// direct route) with a clock that records what it is asked to set and when, and sets nothing.
// The runs start at points spread evenly across the second (a golden-ratio sequence), because
// the whole-second error depends on where in the second the reply comes. Three series:
// - "estimate, kairelon-daytimed": the run against kairelon-daytimed of this build (beside this
//   program: ../src/kairelon-daytimed, or the path in KAIRELON_DAYTIMED) on 127.0.0.1;
// - "whole second, kairelon-daytimed": the baseline, the reply's second with milliseconds 0,
//   set as soon as it is converted (what the run did before it estimated), same server;
// - "estimate, NIST layout, 50.0 ms advance": a server in this program that sends its line
//   50 ms before the whole second it states and says so in the msADV field.
// Each series prints min / median / max of the error and the median and maximum of its size,
// in milliseconds. Target: median |error| <= 2 ms and the worst <= 5 ms on an idle machine.
//
//   ./build/bench/ClockError_bench            (--runs=N for another number of runs, >= 50)
#include "daemons/DaytimeLine.h"
#include "framework/StringTable.h"
#include "net/DayTime.h"
#include "platform/Clock.h"
#include "sync/SyncEngine.h"
#include "sync/TimeConversion.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kairelon;
using WallClock = std::chrono::system_clock;

constexpr std::int64_t kTicks1601To1970 = 116444736000000000LL;

// Milliseconds of this machine's clock since 1970, with the fraction.
double WallMs() {
    return std::chrono::duration<double, std::milli>(WallClock::now().time_since_epoch()).count();
}

double SystemTimeMs(const SYSTEMTIME& st) {
    FILETIME ft;
    SystemTimeToFileTime(st, ft);
    return static_cast<double>(static_cast<std::int64_t>(FileTimeToUInt64(ft)) - kTicks1601To1970) /
           10000.0;
}

// Reads the machine's clock, never sets it: notes what it was asked to set and the true time
// (this machine's clock) at that moment.
class RecordingClock : public CClock {
public:
    SYSTEMTIME GetSystemTime() override { return real_.GetSystemTime(); }
    int SetSystemTime(const SYSTEMTIME& utc) override {
        const double now = WallMs();
        errors.push_back(SystemTimeMs(utc) - now);
        return 0;
    }
    std::vector<double> errors;

private:
    CDryRunClock real_;
};

class QuietHost : public SyncHost {
public:
    void ProtocolChanged(const ProtocolItem*) override {}
    void SetDialogEnabled(bool) override {}
    void SetUptimeCaption(const std::string&) override {}
    bool MessageBox(const std::string&, const std::string&, MessageBoxStyle) override {
        return true;
    }
    void SetSyncCommandEnabled(bool) override {}
    void Beep() override {}
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

// kairelon-daytimed on 127.0.0.1 and a free port; stopped when the object goes.
class Daytimed {
public:
    Daytimed() {
        const char* env = std::getenv("KAIRELON_DAYTIMED");
        const std::string program = env ? env : SelfDirectory() + "/../src/kairelon-daytimed";
        int fds[2];
        if (access(program.c_str(), X_OK) != 0 || pipe(fds) != 0) {
            std::fprintf(stderr, "%s not found: build the target kairelon-daytimed first\n",
                         program.c_str());
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            execl(program.c_str(), program.c_str(), "--bind", "127.0.0.1", "--port", "0",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        std::string line;
        char c = 0;
        while (read(out_, &c, 1) == 1 && c != '\n') {
            line.push_back(c);
        }
        const auto colon = line.rfind(':');
        port_ = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    }
    ~Daytimed() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (out_ >= 0) {
            close(out_);
        }
    }
    int Port() const { return port_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
};

// A server in the layout with status fields that sends its line `advanceMs` before the whole
// second it states, and says so in msADV.
class AdvancingServer {
public:
    explicit AdvancingServer(int advanceTenthsMs) : advanceTenths_(advanceTenthsMs) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~AdvancingServer() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }

private:
    void Run() {
        using namespace std::chrono;
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            const auto advance = microseconds(advanceTenths_ * 100);
            // The first whole second that leaves room for the advance and a little more.
            const auto earliest = WallClock::now() + advance + milliseconds(2);
            const auto second = ceil<seconds>(earliest.time_since_epoch());
            const WallClock::time_point sendAt = WallClock::time_point(second) - advance;
            std::this_thread::sleep_until(sendAt);
            const std::string line = DaytimeLine(second.count(), advanceTenths_);
            ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
            ::close(fd);
        }
    }

    int advanceTenths_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Waits until this machine's clock stands at `fraction` of a second.
void WaitForPhase(double fraction) {
    const double now = WallMs();
    const double phase = std::fmod(now, 1000.0) / 1000.0;
    double wait = fraction - phase;
    if (wait < 0.02) {
        wait += 1.0;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

// What the run did before it estimated: the reply's second, milliseconds 0, set at once.
double WholeSecondError(int port) {
    TNMDayTime client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.TimeOut = 5000;
    std::string reply = client.GetTimeStr();
    StripControlCharacters(reply);
    TDateTime date = 0;
    TDateTime time = 0;
    if (!NTPtoDateTime(reply, date, time)) {
        return NAN;
    }
    const SYSTEMTIME remote = DateTimeToSystemTime(date + time);
    return SystemTimeMs(remote) - WallMs();
}

void Report(const char* name, std::vector<double> errors) {
    if (errors.empty()) {
        std::printf("%-44s no runs\n", name);
        return;
    }
    std::sort(errors.begin(), errors.end());
    std::vector<double> sizes;
    for (const double e : errors) {
        sizes.push_back(std::fabs(e));
    }
    std::sort(sizes.begin(), sizes.end());
    const auto median = [](const std::vector<double>& v) {
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    };
    std::printf("%-44s runs %3zu  error min %8.2f  median %8.2f  max %8.2f   |error| median "
                "%7.2f  max %7.2f  (ms)\n",
                name, errors.size(), errors.front(), median(errors), errors.back(), median(sizes),
                sizes.back());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0) {
            runs = std::max(50, std::atoi(argv[i] + 7));
        }
    }
    QTemporaryDir settings;
    qputenv("KAIRELON_REGISTRY_DIR", settings.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("XDG_STATE_HOME", settings.path().toUtf8());

    Daytimed daytimed;
    if (daytimed.Port() <= 0) {
        std::fprintf(stderr, "kairelon-daytimed did not start\n");
        return 1;
    }
    AdvancingServer nist(500); // 50.0 ms

    QuietHost host;
    RecordingClock clock;
    TSyncEngine engine(host, clock);
    engine.WakeLoader = [](WakeListener) { return std::make_unique<WakeWatcher>(); };
    engine.CreateOptionStores();
    engine.ServerOverride = "127.0.0.1:" + std::to_string(daytimed.Port());
    engine.InitializeEngine();
    engine.tGetTime.stop();

    std::vector<double> estimate;
    std::vector<double> wholeSecond;
    constexpr double kGolden = 0.6180339887498949;
    for (int i = 0; i < runs; ++i) {
        const double phase = std::fmod(0.5 + i * kGolden, 1.0);
        WaitForPhase(phase);
        engine.mnuSyncClick();
        WaitForPhase(phase);
        wholeSecond.push_back(WholeSecondError(daytimed.Port()));
    }
    estimate = clock.errors;

    clock.errors.clear();
    engine.SetServer("127.0.0.1:" + std::to_string(nist.Port()));
    for (int i = 0; i < runs; ++i) {
        engine.mnuSyncClick();
    }
    const std::vector<double> advancing = clock.errors;

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("ClockError_bench: %d runs per series, load average %.2f %.2f %.2f\n", runs,
                load[0], load[1], load[2]);
    Report("estimate, kairelon-daytimed", estimate);
    Report("whole second (baseline), kairelon-daytimed", wholeSecond);
    Report("estimate, NIST layout, 50.0 ms advance", advancing);
    engine.FormDestroy();
    return 0;
}
