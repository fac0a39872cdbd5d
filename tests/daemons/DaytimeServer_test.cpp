// The daytime server component: the line of its clock for every client, many clients at once,
// and the contact event.
#include "daemons/DaytimeServer.h"

#include "daemons/DaytimeLine.h"
#include "support/EventLoop.h"
#include "support/RawClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <future>
#include <regex>
#include <set>
#include <vector>

using namespace kairelon;
using kairelon::test::FetchAll;
using kairelon::test::PumpUntil;

namespace {

int StartOnLoopback(TDaytimeServer& server) {
    server.Port = 0;
    server.ListenAddress = "127.0.0.1";
    server.ListenBacklog = 128;
    server.Loaded();
    sockaddr_in local{};
    sock::getsockname(server.SocketHandle, &local);
    return ntohs(local.sin_port);
}

template <typename T> T Pumped(std::future<T>& f) {
    PumpUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              30000);
    return f.get();
}

const std::regex
    kLine(R"(\n\d{5} \d\d-\d\d-\d\d \d\d:\d\d:\d\d 00 0 0 [ \d]{2}\d\.\d UTC\(Kairelon\) \*\n)");

} // namespace

TEST(DaytimeServer, ListensOnPort13UnlessToldOtherwise) {
    TDaytimeServer server;
    EXPECT_EQ(server.Port, 13);
}

TEST(DaytimeServer, EveryClientGetsTheLineOfTheServersClockAndTheClose) {
    using namespace std::chrono;
    TDaytimeServer server;
    const auto fixed = system_clock::time_point(seconds(1733631194)); // 2024-12-08 04:13:14
    server.Clock = [fixed] { return fixed; };
    std::atomic<int> contacts{0};
    std::atomic<bool> senderWasInstance{true};
    server.OnClientContact = [&](TObject* sender) {
        ++contacts;
        if (sender == &server) {
            senderWasInstance = false;
        }
    };
    const int port = StartOnLoopback(server);
    auto replies = std::async(std::launch::async, [port] {
        return std::vector<std::string>{FetchAll(port), FetchAll(port)};
    });
    for (const std::string& reply : Pumped(replies)) {
        // On the whole second: that second, sent (at most) a tenth of a millisecond early.
        EXPECT_EQ(reply, "\n60652 24-12-08 04:13:14 00 0 0   0.1 UTC(Kairelon) *\n");
    }
    EXPECT_EQ(contacts, 2);
    EXPECT_TRUE(senderWasInstance);
}

TEST(DaytimeServer, HundredConcurrentClientsEachGetAWellFormedLine) {
    TDaytimeServer server;
    const int port = StartOnLoopback(server);
    constexpr int kClients = 100;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::future<std::string>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::async(std::launch::async, [&, port] {
            ++ready;
            while (!go) {
                std::this_thread::yield();
            }
            return FetchAll(port, 20000);
        }));
    }
    PumpUntil([&] { return ready == kClients; }, 20000);
    go = true;
    int wellFormed = 0;
    std::set<std::string> bad;
    for (auto& c : clients) {
        const std::string reply = Pumped(c);
        if (std::regex_match(reply, kLine)) {
            ++wellFormed;
        } else {
            bad.insert(reply);
        }
    }
    EXPECT_EQ(wellFormed, kClients) << (bad.empty() ? "" : *bad.begin());
    EXPECT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
}
