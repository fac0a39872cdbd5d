// What a hostile registry file and a held registry lock cost a process that reads or writes
// the machine-wide store, against an ordinary store in the same run:
//
// - ReadOrdinary (baseline) and ReadLineFeeds: reading a store of three values, and reading
//   one that a member of the service's group filled with 8 MiB of line feeds. Counters: the
//   growth of the peak resident set (kB) and whether the read was refused.
// - WriteFreeLock (baseline) and WriteHeldLock: 20 writes of "NewTime" while nobody holds the
//   lock, and 20 writes while another open file holds it (each refused after the lock wait).
//   Counters: descriptors and threads the process has more afterwards than before.
//
//   ./build/bench/RegistryFile_bench
#include "framework/Exception.h"
#include "platform/RegistryFile.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace kairelon;

namespace {

const std::string kKey = "HKEY_LOCAL_MACHINE\\Software\\Quarnel Developments\\Kairel";
constexpr int kWrites = 20;

// A registry folder of its own, named in KAIRELON_REGISTRY_DIR while it lives.
class Folder {
public:
    Folder() {
        char name[] = "/tmp/kairelon-registry-bench-XXXXXX";
        path_ = ::mkdtemp(name);
        ::setenv("KAIRELON_REGISTRY_DIR", path_.c_str(), 1);
    }
    ~Folder() {
        ::unsetenv("KAIRELON_REGISTRY_DIR");
        std::filesystem::remove_all(path_);
    }
    std::string File() const { return path_ + "/system.reg"; }

private:
    std::string path_;
};

long StatusField(const char* field) { // from /proc/self/status, e.g. "VmHWM:" (kB)
    std::ifstream in("/proc/self/status");
    std::string name;
    long value = 0;
    while (in >> name) {
        if (name == field && in >> value)
            return value;
        in.ignore(1 << 16, '\n');
    }
    return -1;
}

long PeakKb() {
    // Start the peak afresh at the present resident set.
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusField("VmHWM:");
}

long Descriptors() {
    long n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

void Read(benchmark::State& state, const std::string& content) {
    Folder folder;
    std::ofstream(folder.File(), std::ios::binary) << content;
    long growth = 0, refused = 0;
    for (auto _ : state) {
        RegistryFile file = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
        const long before = PeakKb();
        try {
            benchmark::DoNotOptimize(file.Current().HasKey(kKey));
        } catch (const ERegistryException&) {
            ++refused;
        }
        growth = std::max(growth, StatusField("VmHWM:") - before);
    }
    state.counters["peak_growth_kB"] = static_cast<double>(growth);
    state.counters["refused"] = static_cast<double>(refused);
}

void ReadOrdinary(benchmark::State& state) {
    Read(state, "Windows Registry Editor Version 5.00\n\n[" + kKey +
                    "]\n\"NewTime\"=hex:ea,07,0c,00,00,00,08,00,13,00,2a,00,26,00,00,00\n"
                    "\"OldTime\"=hex:00,00,00,00,00,00,00,00\n\"OldTimeUtc\"=hex:00,00,00,00,"
                    "00,00,00,00\n");
}

void ReadLineFeeds(benchmark::State& state) {
    Read(state, std::string(8 << 20, '\n'));
}

void Write(benchmark::State& state, bool holdLock) {
    Folder folder;
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
    file.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); });
    int holder = -1;
    if (holdLock) { // another open file description holds the lock, as another process would
        holder = ::open((folder.File() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        if (holder < 0 || ::flock(holder, LOCK_EX) != 0)
            state.SkipWithError("cannot hold the lock");
    }
    long fdGrowth = 0, threadGrowth = 0, refused = 0;
    for (auto _ : state) {
        const long fds = Descriptors(), threads = StatusField("Threads:");
        for (int i = 0; i < kWrites; ++i) {
            try {
                file.Update([i](RegistryDocument& doc) {
                    const auto b = static_cast<std::uint8_t>(i);
                    return doc.SetValue(kKey, "NewTime", RegistryValue{REG_BINARY, {b, 7}, true});
                });
            } catch (const ERegistryException&) {
                ++refused;
            }
        }
        fdGrowth = Descriptors() - fds;
        threadGrowth = StatusField("Threads:") - threads;
    }
    if (holder >= 0)
        ::close(holder);
    state.counters["refused_writes"] = static_cast<double>(refused);
    state.counters["descriptors_added"] = static_cast<double>(fdGrowth);
    state.counters["threads_added"] = static_cast<double>(threadGrowth);
}

void WriteFreeLock(benchmark::State& state) {
    Write(state, false);
}

void WriteHeldLock(benchmark::State& state) {
    Write(state, true);
}

} // namespace

BENCHMARK(ReadOrdinary)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadLineFeeds)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(WriteFreeLock)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(WriteHeldLock)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
