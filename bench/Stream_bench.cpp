// Stream throughput over loopback: SendStream of a server component's connection instance
// into CaptureStream of a client component, against a plain blocking send loop into a plain
// recv loop moving the same bytes, in the same run. Each iteration opens a connection, moves
// the whole payload (32 MiB) and closes.
//
//   ./build/bench/Stream_bench --benchmark_min_time=2
#include "net/GeneralServer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

using namespace kairelon;

namespace {

constexpr int kPayload = 32 * 1024 * 1024;

const std::string& Payload() {
    static const std::string bytes = [] {
        std::string b(kPayload, '\0');
        for (int i = 0; i < kPayload; ++i) {
            b[static_cast<std::size_t>(i)] = static_cast<char>((i * 131) ^ (i >> 7));
        }
        return b;
    }();
    return bytes;
}

// Each connection gets the whole payload through SendStream, then is closed.
class StreamServer : public TNMGeneralServer {
public:
    void Serve() override {
        QBuffer source;
        source.setData(Payload().data(), kPayload);
        source.open(QIODevice::ReadOnly);
        SendStream(source);
    }

protected:
    TInstanceMaker InstanceMaker() override {
        return [] { return new StreamServer; };
    }
};

void BM_SendStreamToCaptureStream(benchmark::State& state) {
    StreamServer server;
    server.Port = 0;
    server.ListenAddress = "127.0.0.1";
    server.Loaded();
    sockaddr_in local{};
    sock::getsockname(server.SocketHandle, &local);

    TPowersock client;
    client.Host = "127.0.0.1";
    client.Port = ntohs(local.sin_port);
    client.TimeOut = 30000;
    QBuffer sink;
    for (auto _ : state) {
        sink.setData(QByteArray());
        sink.open(QIODevice::WriteOnly);
        client.Connect();
        client.CaptureStream(sink, -2);
        sink.close();
        if (sink.size() != kPayload) {
            state.SkipWithError("short transfer");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPayload));
}

// The baseline: a plain blocking sender thread and a plain recv loop appending to a buffer.
void BM_PlainSendRecvLoop(benchmark::State& state) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 5);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);

    QByteArray sink;
    std::vector<char> chunk(65536);
    for (auto _ : state) {
        sink.clear();
        std::thread sender([listener] {
            const int fd = ::accept(listener, nullptr, nullptr);
            const char* p = Payload().data();
            std::size_t left = kPayload;
            while (left > 0) {
                const ssize_t n = ::send(fd, p, std::min<std::size_t>(left, 65536), MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                p += n;
                left -= static_cast<std::size_t>(n);
            }
            ::close(fd);
        });
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        for (;;) {
            const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
            if (n <= 0) {
                break;
            }
            sink.append(chunk.data(), static_cast<int>(n));
        }
        ::close(fd);
        sender.join();
        if (sink.size() != kPayload) {
            state.SkipWithError("short transfer");
            break;
        }
    }
    ::close(listener);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPayload));
}

} // namespace

BENCHMARK(BM_PlainSendRecvLoop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SendStreamToCaptureStream)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Payload();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
