// The server component: listening, one instance per connection on a thread of its own, the
// client list, cancelling the clients, the destructor waiting for its connection threads,
// listening errors, and many clients at once.
#include "net/GeneralServer.h"

#include "support/EventLoop.h"
#include "support/RawClient.h"

#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace kairelon;
using kairelon::test::ConnectLoopback;
using kairelon::test::FetchAll;
using kairelon::test::LocalPortOf;
using kairelon::test::PeerClosed;
using kairelon::test::PumpUntil;
using kairelon::test::ReadUntilClosed;

namespace {

// What the per-connection instances saw, shared by every instance of one test.
struct Record {
    std::mutex lock;
    std::vector<QThread*> threads;
    std::vector<TNMGeneralServer*> instances;
    std::vector<int> remotePorts;
    std::vector<int> listed; // ClientList count seen inside Serve
    std::atomic<int> served{0};
    std::atomic<int> aborted{0};
    std::atomic<bool> release{false};
};

enum class Mode { Greet, WaitForLine, WaitForRelease, Throw };

class TestServer : public TNMGeneralServer {
public:
    TestServer(Record* record, Mode mode) : record_(record), mode_(mode) {}

    void Serve() override {
        {
            std::lock_guard lock(record_->lock);
            record_->threads.push_back(QThread::currentThread());
            record_->instances.push_back(this);
            record_->remotePorts.push_back(ntohs(RemoteAddress.sin_port));
            record_->listed.push_back(Server->ClientList->Count());
        }
        try {
            switch (mode_) {
            case Mode::Greet:
                Write("hello " + std::to_string(ntohs(RemoteAddress.sin_port)) + "\n");
                break;
            case Mode::WaitForLine:
                Writeln("echo " + ReadLn());
                break;
            case Mode::WaitForRelease:
                while (!record_->release) {
                    QThread::msleep(5);
                }
                Write("released\n");
                break;
            case Mode::Throw:
                throw ESockError("this connection fails");
            }
        } catch (const EAbortError&) {
            ++record_->aborted;
            throw;
        }
        ++record_->served;
    }

protected:
    TInstanceMaker InstanceMaker() override {
        return [record = record_, mode = mode_] { return new TestServer(record, mode); };
    }

private:
    Record* record_;
    Mode mode_;
};

int ListeningPort(TPowersock& server) {
    sockaddr_in local{};
    sock::getsockname(server.SocketHandle, &local);
    return ntohs(local.sin_port);
}

void StartOnLoopback(TNMGeneralServer& server) {
    server.Port = 0;
    server.ListenAddress = "127.0.0.1";
    server.Loaded();
}

// Runs fn on a plain thread while this thread pumps its events (the server lives here).
template <typename F> auto WhilePumping(F fn, int timeoutMs = 20000) {
    auto result = std::async(std::launch::async, fn);
    PumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              timeoutMs);
    return result.get();
}

} // namespace

TEST(GeneralServer, EachConnectionIsServedByAFreshInstanceOnItsOwnThread) {
    Record record;
    TestServer server(&record, Mode::Greet);
    StartOnLoopback(server);
    ASSERT_NE(server.ClientList, nullptr);
    const int port = ListeningPort(server);
    ASSERT_GT(port, 0);

    const auto replies = WhilePumping([port] {
        std::vector<std::pair<int, std::string>> out;
        for (int i = 0; i < 3; ++i) {
            const int fd = ConnectLoopback(port);
            const int local = LocalPortOf(fd);
            out.emplace_back(local, ReadUntilClosed(fd));
            ::close(fd);
        }
        return out;
    });
    ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));

    ASSERT_EQ(replies.size(), 3u);
    for (const auto& [local, reply] : replies) {
        // The instance knew its own client, not the one accepted before it.
        EXPECT_EQ(reply, "hello " + std::to_string(local) + "\n");
    }
    std::lock_guard lock(record.lock);
    ASSERT_EQ(record.instances.size(), 3u);
    EXPECT_EQ(std::set<TNMGeneralServer*>(record.instances.begin(), record.instances.end())
                  .count(&server),
              0u)
        << "never the listening component itself";
    for (QThread* t : record.threads) {
        EXPECT_NE(t, QThread::currentThread());
    }
    for (int listed : record.listed) {
        EXPECT_GE(listed, 1) << "listed in ClientList while Serve runs";
    }
    EXPECT_EQ(server.ClientList->Count(), 0) << "and taken off when it ends";
    EXPECT_EQ(record.served, 3);
}

TEST(GeneralServer, InstancesConverseWithTheirClient) {
    Record record;
    TestServer server(&record, Mode::WaitForLine);
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    const std::string reply = WhilePumping([port] {
        const int fd = ConnectLoopback(port);
        kairelon::test::SendAllBytes(fd, "ping\r\n");
        std::string r = ReadUntilClosed(fd);
        ::close(fd);
        return r;
    });
    EXPECT_EQ(reply, "echo ping\r\n\r\n");
}

TEST(GeneralServer, AbortCancelsEveryClientButNotTheServer) {
    Record record;
    TestServer server(&record, Mode::WaitForLine); // the clients never send a line
    StartOnLoopback(server);
    const int port = ListeningPort(server);

    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(ConnectLoopback(port));
        ASSERT_GE(clients.back(), 0);
    }
    ASSERT_TRUE(PumpUntil([&] { return server.ClientList->Count() == 3; }, 5000));
    server.Abort();
    ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    EXPECT_EQ(record.aborted, 3);
    EXPECT_FALSE(server.Canceled);
    for (int fd : clients) {
        EXPECT_TRUE(PeerClosed(fd, 2000));
        ::close(fd);
    }
    // Still listening and serving.
    const std::string reply = WhilePumping([port] {
        const int fd = ConnectLoopback(port);
        kairelon::test::SendAllBytes(fd, "again\n");
        std::string r = ReadUntilClosed(fd);
        ::close(fd);
        return r;
    });
    EXPECT_EQ(reply, "echo again\n\r\n");
}

TEST(GeneralServer, DestructionCancelsAndWaitsForTheConnectionThreads) {
    Record record;
    std::vector<int> clients;
    {
        TestServer server(&record, Mode::WaitForLine);
        StartOnLoopback(server);
        const int port = ListeningPort(server);
        for (int i = 0; i < 4; ++i) {
            clients.push_back(ConnectLoopback(port));
        }
        ASSERT_TRUE(PumpUntil([&] { return server.ClientList->Count() == 4; }, 5000));
    } // the destructor returns only when no connection thread uses the server any more
    EXPECT_EQ(record.aborted, 4);
    for (int fd : clients) {
        EXPECT_TRUE(PeerClosed(fd, 2000));
        ::close(fd);
    }
}

TEST(GeneralServer, AFailingConnectionEndsAloneAndTheServerGoesOn) {
    Record record;
    TestServer server(&record, Mode::Throw);
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    const std::string reply = WhilePumping([port] { return FetchAll(port); });
    EXPECT_EQ(reply, "") << "closed without an answer";
    ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    const std::string second = WhilePumping([port] { return FetchAll(port); });
    EXPECT_EQ(second, "");
    EXPECT_EQ(server.ClientList->Count(), 0);
    std::lock_guard lock(record.lock);
    EXPECT_EQ(record.instances.size(), 2u);
}

TEST(GeneralServer, ClientsThatCloseAtOnceDoNotCloseTheListeningSocket) {
    Record record;
    TestServer server(&record, Mode::Greet);
    server.ListenBacklog = 64;
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    const sock::SOCKET listening = server.SocketHandle;
    WhilePumping([port] {
        for (int i = 0; i < 20; ++i) {
            const int fd = ConnectLoopback(port);
            ::close(fd); // before the server answers
        }
        return 0;
    });
    ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    EXPECT_EQ(server.SocketHandle, listening);
    const std::string reply = WhilePumping([port] { return FetchAll(port); });
    EXPECT_EQ(reply.rfind("hello ", 0), 0u) << reply;
}

TEST(GeneralServer, ListeningErrorsAreRaisedWithTheirNumbers) {
    Record record;
    TestServer first(&record, Mode::Greet);
    StartOnLoopback(first);
    TestServer second(&record, Mode::Greet);
    second.Port = ListeningPort(first);
    second.ListenAddress = "127.0.0.1";
    EXPECT_THROW(second.Loaded(), ESockError);
    EXPECT_EQ(second.LastErrorNo, 10048);

    TestServer foreign(&record, Mode::Greet);
    foreign.Port = 0;
    foreign.ListenAddress = "192.0.2.1"; // not an address of this machine
    EXPECT_THROW(foreign.Loaded(), ESockError);
    EXPECT_EQ(foreign.LastErrorNo, 10049);
}

TEST(GeneralServer, ServerOwnedByAServerHasNoClientList) {
    TNMGeneralServer outer;
    TNMGeneralServer inner(&outer);
    EXPECT_NE(outer.ClientList, nullptr);
    EXPECT_EQ(inner.ClientList, nullptr);
    inner.Abort(); // nothing to cancel, and no list to lock
}

TEST(GeneralServer, HundredConcurrentClientsAllGetTheirAnswer) {
    Record record;
    TestServer server(&record, Mode::WaitForRelease);
    server.ListenBacklog = 128;
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    constexpr int kClients = 100;

    std::vector<std::future<std::string>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::async(std::launch::async, [port] { return FetchAll(port, 20000); }));
    }
    // All of them are being served at the same time before any is answered.
    EXPECT_TRUE(PumpUntil([&] { return server.ClientList->Count() == kClients; }, 20000))
        << server.ClientList->Count();
    record.release = true;
    int good = 0;
    for (auto& c : clients) {
        PumpUntil([&] { return c.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                  20000);
        good += c.get() == "released\n" ? 1 : 0;
    }
    EXPECT_EQ(good, kClients);
    EXPECT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    std::lock_guard lock(record.lock);
    EXPECT_EQ(std::set<QThread*>(record.threads.begin(), record.threads.end()).size(),
              static_cast<std::size_t>(kClients))
        << "connections served at the same time never share a thread";
}

TEST(GeneralServer, AnIdleConnectionThreadTakesTheNextConnectionThenEnds) {
    Record record;
    TestServer server(&record, Mode::Greet);
    server.IdleThreadMs = 300;
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WhilePumping([port] { return FetchAll(port); }).rfind("hello ", 0), 0u);
        ASSERT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    }
    // One serves, and one more waits for the next connection while it does.
    EXPECT_LE(server.ConnectionThreads(), 2) << "one after another: not a thread each";
    {
        std::lock_guard lock(record.lock);
        EXPECT_LE(std::set<QThread*>(record.threads.begin(), record.threads.end()).size(), 2u);
    }
    EXPECT_TRUE(PumpUntil([&] { return server.ConnectionThreads() == 0; }, 5000))
        << "an idle thread ends";
    EXPECT_EQ(WhilePumping([port] { return FetchAll(port); }).rfind("hello ", 0), 0u)
        << "and a new one comes for the next connection";
}

TEST(GeneralServer, WaitingConnectionThreadsTakeConnectionsWithoutTheListeningThread) {
    Record record;
    TestServer server(&record, Mode::WaitForLine);
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    const std::string first = WhilePumping([port] {
        const int fd = ConnectLoopback(port);
        ::send(fd, "one\n", 4, 0);
        std::string r = ReadUntilClosed(fd);
        ::close(fd);
        return r;
    });
    EXPECT_EQ(first, "echo one\n\r\n") << "the first one is handed over by the listening thread";
    ASSERT_TRUE(PumpUntil([&] { return server.WaitingThreads() >= 1; }, 5000));

    // This thread does not run its loop from here on: the listening thread accepts nothing.
    // Two clients at once, each served by a thread of its own: both are listed before either
    // sends its line.
    const int a = ConnectLoopback(port);
    const int b = ConnectLoopback(port);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (server.ClientList->Count() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(server.ClientList->Count(), 2);
    ::send(b, "b\n", 2, 0);
    ::send(a, "a\n", 2, 0);
    EXPECT_EQ(ReadUntilClosed(b), "echo b\n\r\n");
    EXPECT_EQ(ReadUntilClosed(a), "echo a\n\r\n");
    ::close(a);
    ::close(b);
    EXPECT_TRUE(PumpUntil([&] { return server.ActiveConnections() == 0; }, 5000));
    std::lock_guard lock(record.lock);
    EXPECT_EQ(record.served, 3);
    EXPECT_EQ(std::set<int>(record.remotePorts.begin(), record.remotePorts.end()).size(), 3u)
        << "each instance has the address of its own client";
}

TEST(GeneralServer, ClosingTheListeningSocketEndsTheWaitingThreads) {
    Record record;
    TestServer server(&record, Mode::Greet);
    server.IdleThreadMs = 10000;
    StartOnLoopback(server);
    const int port = ListeningPort(server);
    EXPECT_EQ(WhilePumping([port] { return FetchAll(port); }).rfind("hello ", 0), 0u);
    ASSERT_TRUE(PumpUntil([&] { return server.WaitingThreads() >= 1; }, 5000));
    server.Disconnect(); // the listening component closes its socket
    EXPECT_TRUE(PumpUntil([&] { return server.ConnectionThreads() == 0; }, 3000))
        << "long before their idle time";
    EXPECT_EQ(ConnectLoopback(port, 500), -1) << "nobody accepts any more";
}
