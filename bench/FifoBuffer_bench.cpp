// Throughput of the receive FIFO: bytes appended and removed again per second, for a workload
// that stays in memory and for one that spills to the overflow file, against a plain memcpy
// ring buffer of the same size in the same run.
//
// Run: ./build/bench/FifoBuffer_bench --benchmark_min_time=0.5
#include "net/FifoBuffer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

using kairelon::TNMFifoBuffer;

namespace {

constexpr int RingSize = 1 << 20; // bytes, memory part of the memory-only workloads

// The baseline: a fixed ring with two memcpy per transfer, no checks beyond the counts.
class MemcpyRing {
public:
    explicit MemcpyRing(int size) : Storage(static_cast<std::size_t>(size)), Size(size) {}

    int Append(const char* source, int count) {
        count = std::min(count, Size - Count);
        const int write = (Read + Count) % Size;
        const int first = std::min(count, Size - write);
        std::memcpy(Storage.data() + write, source, static_cast<std::size_t>(first));
        std::memcpy(Storage.data(), source + first, static_cast<std::size_t>(count - first));
        Count += count;
        return count;
    }

    int Remove(char* destination, int count) {
        count = std::min(count, Count);
        const int first = std::min(count, Size - Read);
        std::memcpy(destination, Storage.data() + Read, static_cast<std::size_t>(first));
        std::memcpy(destination + first, Storage.data(), static_cast<std::size_t>(count - first));
        Read = (Read + count) % Size;
        Count -= count;
        return count;
    }

private:
    std::vector<char> Storage;
    int Size;
    int Read = 0;
    int Count = 0;
};

// Steady state with a backlog of half the ring, so transfers wrap around its end.
template <typename Queue> void AppendRemove(benchmark::State& state, Queue& queue) {
    const int chunk = static_cast<int>(state.range(0));
    std::vector<char> in(static_cast<std::size_t>(chunk), 'x');
    std::vector<char> out(static_cast<std::size_t>(chunk));
    std::vector<char> backlog(RingSize / 2, 'b');
    queue.Append(backlog.data(), static_cast<int>(backlog.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(queue.Append(in.data(), chunk));
        benchmark::DoNotOptimize(queue.Remove(out.data(), chunk));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(chunk));
}

void BM_MemcpyRing(benchmark::State& state) {
    MemcpyRing ring(RingSize);
    AppendRemove(state, ring);
}

void BM_FifoMemoryOnly(benchmark::State& state) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(RingSize);
    AppendRemove(state, fifo);
}

// Bursts four times the memory part: three quarters of every burst go through the overflow
// file and come back by refills.
void BM_FifoSpilling(benchmark::State& state) {
    const int capacity = static_cast<int>(state.range(0));
    const int burst = 4 * capacity;
    constexpr int chunk = 65536; // the socket component's read size
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(capacity);
    std::vector<char> in(chunk, 'x');
    std::vector<char> out(chunk);
    for (auto _ : state) {
        for (int put = 0; put < burst; put += chunk) {
            fifo.Append(in.data(), chunk);
        }
        for (int got = 0; got < burst;) {
            got += fifo.Remove(out.data(), chunk);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(burst));
}

// The same bursts through a memcpy ring big enough to hold them.
void BM_MemcpyRingBurst(benchmark::State& state) {
    const int burst = 4 * static_cast<int>(state.range(0));
    constexpr int chunk = 65536;
    MemcpyRing ring(burst);
    std::vector<char> in(chunk, 'x');
    std::vector<char> out(chunk);
    for (auto _ : state) {
        for (int put = 0; put < burst; put += chunk) {
            ring.Append(in.data(), chunk);
        }
        for (int got = 0; got < burst;) {
            got += ring.Remove(out.data(), chunk);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(burst));
}

} // namespace

BENCHMARK(BM_MemcpyRing)->Arg(64)->Arg(1460)->Arg(65536);
BENCHMARK(BM_FifoMemoryOnly)->Arg(64)->Arg(1460)->Arg(65536);
BENCHMARK(BM_MemcpyRingBurst)->Arg(1 << 20)->Arg(8 << 20)->UseRealTime();
BENCHMARK(BM_FifoSpilling)->Arg(1 << 20)->Arg(8 << 20)->UseRealTime();

BENCHMARK_MAIN();
