// The socket component against loopback servers and an injected resolver: connecting,
// lookups, reading, line reading, writing, closes seen in every way, the error texts and the
// report levels.
#include "net/Powersock.h"

#include "net/ConnectionPool.h"
#include "net/HiddenWindow.h"
#include "support/EventLoop.h"
#include "support/FakeResolver.h"
#include "support/LoopbackServer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

using namespace kairelon;
using kairelon::test::FakeResolver;
using kairelon::test::LoopbackServer;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;
using kairelon::test::RefusedPort;
using kairelon::test::ResolverScope;

namespace {

struct Events {
    int connects = 0;
    int disconnects = 0;
    int invalidHost = 0;
    int resolved = 0;
    int failed = 0;
    std::vector<std::string> statuses;
    std::vector<std::pair<int, std::string>> errors;

    void Bind(TPowersock& s) {
        s.OnConnect = [this](TObject*) { ++connects; };
        s.OnDisconnect = [this](TObject*) { ++disconnects; };
        s.OnHostResolved = [this](TObject*) { ++resolved; };
        s.OnConnectionFailed = [this](TObject*) { ++failed; };
        s.OnStatus = [this](TObject*, const std::string& text) { statuses.push_back(text); };
        s.OnError = [this](TObject*, std::uint16_t number, const std::string& text) {
            errors.emplace_back(number, text);
        };
    }
};

template <typename F> std::string Raised(F&& f) {
    try {
        f();
    } catch (const Exception& error) {
        return error.Message();
    }
    return "(nothing raised)";
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

TEST(PowersockWindow, EachComponentHasItsOwnWindowOfOneClassAndLowMessagesNeverReachIt) {
    TPowersock a;
    TPowersock b;
    EXPECT_EQ(ClassRegistrationCount(PsockWindowClassName), 1);
    ASSERT_NE(a.WindowHandle, nullptr);
    EXPECT_NE(a.WindowHandle, b.WindowHandle);
    EXPECT_EQ(GetWindowLongPtr(a.WindowHandle), &a);
    EXPECT_EQ(GetWindowLongPtr(b.WindowHandle), &b);

    a.LastEventOk = true;
    const int before = DefWindowProcCount(a.WindowHandle);
    SendMessage(a.WindowHandle, 1124, 0, sock::WSAMAKESELECTREPLY(sock::FD_CLOSE, 10054));
    EXPECT_TRUE(a.LastEventOk) << "1124 went to the component";
    EXPECT_EQ(DefWindowProcCount(a.WindowHandle), before + 1);
    SendMessage(a.WindowHandle, 1127, 0, sock::WSAMAKESELECTREPLY(0, 10054));
    EXPECT_FALSE(a.LastEventOk) << "messages from 1125 up reach the component";
}

TEST(PowersockSetUp, ConstructionStartsTheLayerOnceAndHoldsAFreshSocket) {
    TPowersock s;
    ASSERT_TRUE(WinsockStarted());
    ASSERT_EQ(s.WinsockInfo.size(), 6u);
    EXPECT_EQ(s.WinsockInfo[0], "Version= 1.1");
    EXPECT_EQ(s.WinsockInfo[1], "High Version= 2.2");
    EXPECT_EQ(s.WinsockInfo[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ(s.WinsockInfo[3], "System= Running");
    EXPECT_EQ(s.WinsockInfo[4].rfind("Max Sockets= ", 0), 0u);
    EXPECT_EQ(s.WinsockInfo[5], "Max Udp pack size= 65507");
    EXPECT_NE(s.SocketHandle, sock::INVALID_SOCKET);
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(s.TimeOut, 0);
    EXPECT_EQ(s.ReportLevel, 0);
    EXPECT_FALSE(s.TimeoutTimer->Enabled());
    EXPECT_EQ(s.IoBuffer.size(), 65537u);
    EXPECT_EQ(s.HostEntryBuffer.size(), 1024u);
    EXPECT_GE(s.GetFifoCapacity(), 65536);
}

TEST(PowersockSetUp, NoFirstSocketLeavesOnlyTheNextComponentWithoutASocket) {
    std::unique_ptr<TPowersock> bare;
    std::unique_ptr<TPowersock> later;
    {
        TNoFirstSocket noFirstSocket;
        bare = std::make_unique<TPowersock>();
        later = std::make_unique<TPowersock>(); // consumed by the first one
    }
    EXPECT_EQ(bare->SocketHandle, sock::INVALID_SOCKET);
    EXPECT_NE(later->SocketHandle, sock::INVALID_SOCKET);
    { TNoFirstSocket unused; }
    TPowersock after; // the scope ended without a component: nothing carries over
    EXPECT_NE(after.SocketHandle, sock::INVALID_SOCKET);
    EXPECT_FALSE(bare->Connected);
    bare.reset(); // destroying a component without a socket is quiet
}

TEST(PowersockSetUp, WithoutAStartedLayerConnectFailsClearly) {
    SetWinsockStartedForTesting(false);
    {
        TPowersock s;
        EXPECT_TRUE(s.WinsockInfo.empty());
        EXPECT_EQ(s.SocketHandle, sock::INVALID_SOCKET);
        s.Host = "127.0.0.1";
        s.Port = 1;
        EXPECT_EQ(Raised([&] { s.Connect(); }), "10093:Successful WSAStartup not yet performed");
    }
    SetWinsockStartedForTesting(true);
}

TEST(PowersockSetUp, AMissingSocketIsMadeWhenNeededAndAFailureNamesItsRealCause) {
    LoopbackServer server(LoopbackServer::NeverSend());
    std::unique_ptr<TPowersock> s;
    {
        TNoFirstSocket none;
        s = std::make_unique<TPowersock>();
    }
    ASSERT_EQ(s->SocketHandle, sock::INVALID_SOCKET);
    s->Host = "127.0.0.1";
    s->Port = server.Port();
    s->TimeOut = 5000;

    // No descriptor left for a socket.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    std::exception_ptr failure;
    try {
        s->Connect();
    } catch (...) {
        failure = std::current_exception();
    }
    // Looked at only with descriptors again: the sanitizers' own checks need one.
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(Raised([&] {
                  if (failure) {
                      std::rethrow_exception(failure);
                  }
              }),
              "10024:Too many open files");
    EXPECT_EQ(s->SocketHandle, sock::INVALID_SOCKET);

    // Descriptors again: the socket is made and the connection stands.
    EXPECT_EQ(Raised([&] { s->Connect(); }), "(nothing raised)");
    EXPECT_TRUE(s->Connected);
    s->Disconnect();
}

TEST(PowersockErrors, SocketErrorStrUsesTheTable) {
    TPowersock s;
    EXPECT_EQ(s.SocketErrorStr(0), "");
    EXPECT_EQ(s.SocketErrorStr(10061), "10061:Connection refused");
    EXPECT_EQ(s.SocketErrorStr(10065), "10065:No route to Host");
    EXPECT_EQ(s.SocketErrorStr(11003), "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP");
    EXPECT_EQ(s.SocketErrorStr(12345), "Unknown Error No. 12345");
    EXPECT_EQ(std::size(WinsockMessage), 51u);
    EXPECT_EQ(WinsockMessage[0].Number, 10004);
    EXPECT_EQ(WinsockMessage[50].Number, 0);
    EXPECT_STREQ(WinsockMessage[50].Text, "Unrecognized error code");
    for (const TWinsockMessage& entry : WinsockMessage) {
        EXPECT_LE(std::string(entry.Text).size(), 51u) << entry.Number;
    }
}

TEST(PowersockErrors, ErrorManagerRaisesOnlyRealSocketErrors) {
    TPowersock s;
    Events e;
    e.Bind(s);
    sock::WSASetLastError(10035);
    EXPECT_EQ(s.ErrorManager(10035), "");
    EXPECT_EQ(s.LastErrorNo, 10035);
    sock::WSASetLastError(9999);
    EXPECT_EQ(s.ErrorManager(10035), "");
    sock::WSASetLastError(10000);
    EXPECT_EQ(s.ErrorManager(10035), "");
    EXPECT_TRUE(e.errors.empty());

    sock::WSASetLastError(10061);
    EXPECT_EQ(Raised([&] { s.ErrorManager(10035); }), "10061:Connection refused");
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].first, 10061);
    EXPECT_EQ(e.errors[0].second, "10061:Connection refused");
    EXPECT_EQ(s.GetLastErrorNo(), 10061);

    s.SetWSAError(10054, "");
    EXPECT_EQ(sock::WSAGetLastError(), 10054);
    EXPECT_EQ(e.errors.back().second, "10054:Connection reset by peer");
    s.SetWSAError(10054, "own text");
    EXPECT_EQ(e.errors.back().second, "own text");
    s.SetLastErrorNo(7);
    EXPECT_EQ(s.LastErrorNo, 7);
}

TEST(PowersockStatus, ReportLevelsFilterTheTexts) {
    LoopbackServer server(LoopbackServer::SendAndClose("220 ready\r\n"));
    for (const int level : {8, 4, 1, 0}) {
        TPowersock s;
        Events e;
        e.Bind(s);
        s.ReportLevel = level;
        s.Host = "127.0.0.1";
        s.Port = server.Port();
        s.TimeOut = 5000;
        s.Connect();
        EXPECT_EQ(s.Transaction("HELLO"), "220 ready\r\n");
        EXPECT_EQ(s.ReplyNumber, 220);
        s.Disconnect();
        auto has = [&](const std::string& text) {
            return std::find(e.statuses.begin(), e.statuses.end(), text) != e.statuses.end();
        };
        if (level == 8) {
            for (const char* text : {"Connecting", "Resolve Host", "Timer On", "Timer Off",
                                     "Transaction", "Writeln", "Write", "Sending Buffer", "ReadLn",
                                     "Disconnecting", "Request Close Socket", "220 ready\r\n"}) {
                EXPECT_TRUE(has(text)) << text;
            }
        } else if (level == 4) {
            EXPECT_TRUE(has("Sending Buffer"));
            EXPECT_TRUE(has("Request Close Socket"));
            EXPECT_TRUE(has("220 ready\r\n"));
            EXPECT_FALSE(has("Connecting"));
            EXPECT_FALSE(has("Timer On"));
        } else if (level == 1) {
            ASSERT_EQ(e.statuses.size(), 1u);
            EXPECT_EQ(e.statuses[0], "220 ready\r\n");
            EXPECT_EQ(s.LastStatus, "220 ready\r\n");
        } else {
            EXPECT_TRUE(e.statuses.empty());
        }
    }
}

TEST(PowersockConnect, DottedAddressConnectsWithoutLookupAndCloseLeavesAFreshSocket) {
    auto resolver = std::make_shared<FakeResolver>();
    ResolverScope scope(resolver);
    LoopbackServer server(LoopbackServer::NeverSend());
    TPowersock s;
    Events e;
    e.Bind(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(e.connects, 1);
    EXPECT_EQ(e.resolved, 0);
    EXPECT_EQ(resolver->Calls(), 0);
    EXPECT_EQ(s.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Already connected");
    s.Disconnect();
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(e.disconnects, 1);
    EXPECT_NE(s.SocketHandle, sock::INVALID_SOCKET);
    // The fresh socket connects again.
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(e.connects, 2);
    s.Disconnect();
}

TEST(PowersockConnect, ARefusedConnectionFailsAtOnceNotByTimeOut) {
    RefusedPort refused;
    TPowersock s;
    Events e;
    e.Bind(s);
    s.Host = "127.0.0.1";
    s.Port = refused.Port();
    s.TimeOut = 5000;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connection Failed");
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(e.failed, 1);
    EXPECT_EQ(e.connects, 0);
    EXPECT_FALSE(s.TimedOut);
}

TEST(PowersockConnect, ATimeOutSetsTimedOutAndCanceledAndTheNextConnectProceeds) {
    // A listener with a full backlog drops new handshakes: the connect cannot complete.
    LoopbackServer server(LoopbackServer::NeverSend(), 0, /*paused=*/true);
    TPowersock filler;
    filler.Host = "127.0.0.1";
    filler.Port = server.Port();
    filler.TimeOut = 5000;
    filler.Connect(); // takes the only place in the queue

    TPowersock s;
    Events e;
    e.Bind(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 300;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connection Timed out");
    EXPECT_GE(clock.elapsed(), 290);
    EXPECT_TRUE(s.TimedOut);
    EXPECT_TRUE(s.Canceled);
    EXPECT_EQ(e.failed, 1);

    LoopbackServer other(LoopbackServer::NeverSend());
    TPowersock t;
    t.Host = "127.0.0.1";
    t.Port = other.Port();
    t.TimeOut = 300;
    t.Cancel();
    t.Connect(); // clears Canceled first
    EXPECT_TRUE(t.Connected);
    EXPECT_FALSE(t.Canceled);
}

TEST(PowersockConnect, AFailedAttemptIsAbandonedSoTheNextConnectGoesWhereAsked) {
    // Each way a connect can fail, then a Connect to another server at once.
    struct Case {
        const char* name;
        const char* raised;
    };
    for (const Case c :
         {Case{"time-out", "Connection Timed out"}, Case{"cancel", "Connection Canceled"}}) {
        SCOPED_TRACE(c.name);
        LoopbackServer stalled(LoopbackServer::NeverSend(), 0, /*paused=*/true);
        TPowersock filler;
        filler.Host = "127.0.0.1";
        filler.Port = stalled.Port();
        filler.TimeOut = 5000;
        filler.Connect();

        TPowersock s;
        Events e;
        e.Bind(s);
        s.Host = "127.0.0.1";
        s.Port = stalled.Port();
        s.TimeOut = std::string(c.name) == "time-out" ? 300 : 0;
        if (s.TimeOut == 0) {
            QTimer::singleShot(200, [&s] { s.Cancel(); });
        }
        EXPECT_EQ(Raised([&] { s.Connect(); }), c.raised);
        EXPECT_EQ(e.disconnects, 0) << "nothing was connected";
        stalled.Resume();

        LoopbackServer other(LoopbackServer::NeverSend());
        s.Port = other.Port();
        s.TimeOut = 3000;
        EXPECT_EQ(Raised([&] { s.Connect(); }), "(nothing raised)");
        EXPECT_TRUE(s.Connected);
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        ASSERT_EQ(::getpeername(s.SocketHandle, reinterpret_cast<sockaddr*>(&peer), &size), 0);
        EXPECT_EQ(ntohs(peer.sin_port), other.Port()) << "connected where it was asked";
        PumpFor(1500); // past the first retransmission of the dropped handshake
        EXPECT_EQ(e.connects, 1);
        EXPECT_EQ(stalled.Accepted(), 1) << "only the filler reached the stalled server";
        s.Disconnect();
    }
}

TEST(PowersockConnect, CancelWhileConnectingEndsTheWait) {
    LoopbackServer server(LoopbackServer::NeverSend(), 0, true);
    TPowersock filler;
    filler.Host = "127.0.0.1";
    filler.Port = server.Port();
    filler.TimeOut = 5000;
    filler.Connect();
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 0;
    QTimer::singleShot(100, [&s] { s.Cancel(); });
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connection Canceled");
}

TEST(PowersockLookup, NamesAreLookedUpOffTheLoopAndReported) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("time.test", "127.0.0.1");
    resolver->SetDelayMs(50);
    ResolverScope scope(resolver);
    LoopbackServer server(LoopbackServer::NeverSend());
    TPowersock s;
    Events e;
    e.Bind(s);
    s.Host = "time.test";
    s.Port = server.Port();
    s.TimeOut = 5000;
    bool ticked = false;
    QTimer::singleShot(10, [&ticked] { ticked = true; });
    s.Connect();
    EXPECT_TRUE(ticked) << "the loop ran during the lookup";
    EXPECT_EQ(resolver->Calls(), 1);
    EXPECT_EQ(e.resolved, 1);
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(s.GetRemoteIP(), "127.0.0.1");
    s.Disconnect();

    // A proxy host is resolved instead, and its port is used.
    s.ProxyHost = "time.test";
    s.ProxyPort = server.Port();
    s.Host = "unknown.test";
    s.Port = 1;
    s.Connect();
    EXPECT_EQ(resolver->LastName(), "time.test");
    EXPECT_TRUE(s.Connected);
    s.Disconnect();
}

TEST(PowersockLookup, UnknownHostAsksOnInvalidHostOnceAndAllowsOneMoreResolution) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("good.test", "127.0.0.1");
    ResolverScope scope(resolver);
    LoopbackServer server(LoopbackServer::NeverSend());
    TPowersock s;
    s.Port = server.Port();
    s.TimeOut = 5000;

    s.Host = "bad.test";
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Null Remote Address") << "no handler";

    int asked = 0;
    s.OnInvalidHost = [&](bool& handled) {
        ++asked;
        EXPECT_FALSE(handled);
    };
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);

    asked = 0;
    s.OnInvalidHost = [&](bool& handled) {
        ++asked;
        s.Host = "good.test";
        handled = true;
    };
    s.Connect();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(s.Connected);
    s.Disconnect();

    asked = 0;
    const int calls = resolver->Calls();
    s.Host = "bad.test";
    s.OnInvalidHost = [&](bool& handled) {
        ++asked;
        s.Host = "still-bad.test";
        handled = true;
    };
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1) << "the handler is asked once per call";
    EXPECT_EQ(resolver->Calls(), calls + 2) << "exactly one more resolution";
}

TEST(PowersockLookup, ASlowLookupTimesOutAndItsLateAnswerIsIgnored) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("slow.test", "127.0.0.2");
    resolver->Add("quick.test", "127.0.0.1");
    ResolverScope scope(resolver);
    TPowersock s;
    int asked = 0;
    s.OnInvalidHost = [&](bool&) { ++asked; };
    s.Host = "slow.test";
    s.Port = 1;
    s.TimeOut = 100;
    resolver->SetDelayMs(400);
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Host Lookup Timed Out");
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(s.TimedOut);

    // The next lookup, still running when the late answer of "slow.test" comes, must get its
    // own answer.
    resolver->SetDelayMs(600);
    s.Host = "quick.test";
    s.TimeOut = 3000;
    s.Canceled = false;
    QElapsedTimer clock;
    clock.start();
    s.ResolveRemoteHost();
    EXPECT_GE(clock.elapsed(), 590);
    EXPECT_EQ(s.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(s.LookupHandle, 0);
}

TEST(PowersockLookup, CancelEndsALookup) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("slow.test", "127.0.0.1");
    resolver->SetDelayMs(500);
    ResolverScope scope(resolver);
    TPowersock s;
    s.Host = "slow.test";
    s.Port = 1;
    s.TimeOut = 0;
    QTimer::singleShot(50, [&s] { s.Abort(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Host Lookup Canceled");
    EXPECT_LT(clock.elapsed(), 450);
}

TEST(PowersockLookup, ALookupThatCannotStartFailsCleanlyWithItsCause) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("time.test", "127.0.0.1");
    ResolverScope scope(resolver);
    TPowersock s;
    Events e;
    e.Bind(s);
    s.OnInvalidHost = [&](bool&) { ++e.invalidHost; };
    s.Host = "time.test";
    s.Port = 1;
    s.TimeOut = 300;
    const int open = sock::OpenLookupRequests();
    sock::FailLookupThreadsForTesting(true);
    std::string raised;
    try {
        s.Connect();
        raised = "(nothing raised)";
    } catch (const ESockError& error) {
        raised = error.Message();
    } catch (const std::exception& error) {
        raised = std::string("not a socket error: ") + error.what();
    }
    sock::FailLookupThreadsForTesting(false);
    EXPECT_EQ(raised, "10055:No buffer space available");
    EXPECT_FALSE(s.TimeoutTimer->Enabled()) << "the time-out timer is off";
    EXPECT_EQ(sock::OpenLookupRequests(), open) << "no request entry is left behind";
    EXPECT_EQ(e.invalidHost, 0) << "the name is not at fault";
    EXPECT_EQ(resolver->Calls(), 0);
    PumpFor(400);
    EXPECT_EQ(s.TimedOut, false) << "no time-out fires afterwards";
}

TEST(PowersockLookup, WindingDownWaitsForLookupThreadsThenPostsNoAnswer) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("slow.test", "127.0.0.1");
    ResolverScope scope(resolver);
    TPowersock s;
    std::vector<char> entry(1024);
    // Lookups of earlier tests in this process may still be running.
    ASSERT_TRUE(PumpUntil([] { return sock::RunningLookups() == 0; }, 5000));

    resolver->SetDelayMs(300);
    ASSERT_NE(sock::WSAAsyncGetHostByName(s.WindowHandle, AsyncReplyMessage, "slow.test",
                                          entry.data(), static_cast<int>(entry.size())),
              0);
    EXPECT_EQ(sock::RunningLookups(), 1);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(sock::WindDownLookups(std::chrono::seconds(5)));
    EXPECT_GE(clock.elapsed(), 250) << "waited for the running lookup";
    EXPECT_EQ(sock::RunningLookups(), 0);
    EXPECT_EQ(sock::WSAAsyncGetHostByName(s.WindowHandle, AsyncReplyMessage, "slow.test",
                                          entry.data(), static_cast<int>(entry.size())),
              0)
        << "no lookup starts once they are wound down";
    sock::ReopenLookupsForTesting();
    PumpFor(50);

    // A lookup that outlasts the grace posts nothing afterwards.
    s.AsyncReplied = false;
    resolver->SetDelayMs(400);
    ASSERT_NE(sock::WSAAsyncGetHostByName(s.WindowHandle, AsyncReplyMessage, "slow.test",
                                          entry.data(), static_cast<int>(entry.size())),
              0);
    EXPECT_FALSE(sock::WindDownLookups(std::chrono::milliseconds(50)));
    PumpUntil([] { return sock::RunningLookups() == 0; }, 3000);
    PumpFor(100);
    sock::ReopenLookupsForTesting();
    EXPECT_FALSE(s.AsyncReplied) << "the late answer was not posted";
}

TEST(PowersockLookup, LocalAddressComesFromTheResolver) {
    auto resolver = std::make_shared<FakeResolver>();
    ResolverScope scope(resolver);
    TPowersock s;
    EXPECT_EQ(s.GetLocalIP(), "") << "an unresolvable host name gives an empty result";
    char name[256] = {};
    ASSERT_EQ(sock::gethostname(name, sizeof name - 1), 0);
    resolver->Add(name, "10.1.2.3");
    EXPECT_EQ(s.GetLocalIP(), "10.1.2.3");
}

TEST(PowersockRead, DataThenCloseStaysReadableAndDisconnectFiresTwice) {
    LoopbackServer server(LoopbackServer::SendAndClose("hello"));
    TPowersock s;
    Events e;
    e.Bind(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return e.disconnects >= 2; }, 5000));
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(e.disconnects, 2);
    EXPECT_EQ(s.Read(0), "hello");
    EXPECT_EQ(s.Read(0), "") << "nothing buffered: empty at once";
}

TEST(PowersockRead, ReadLnTakesOneLineAndLeavesTheRest) {
    LoopbackServer server(LoopbackServer::SendInPieces("ab", 100, "c\rx\r\ndef"));
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    EXPECT_EQ(s.ReadLn(), "abc\rx\r\n") << "a lone carriage return does not end a line";
    ASSERT_TRUE(PumpUntil([&] { return s.ReceiveBuffer->BufferSize() >= 3; }, 5000));
    EXPECT_EQ(s.ReceiveBuffer->BufferSize(), 3);
    EXPECT_EQ(s.Read(3), "def");
}

TEST(PowersockRead, ReadLnAfterACloseWithoutLineFeedEndsByTimeOutWithoutSpinning) {
    LoopbackServer server(LoopbackServer::SendAndClose("no line end"));
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    s.TimeOut = 1000;
    const double cpu = ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Raised([&] { s.ReadLn(); }), "Socket readln aborted");
    EXPECT_GE(clock.elapsed(), 990);
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.05) << "the wait must sleep, not spin";
    EXPECT_FALSE(s.Canceled) << "cleared when reported";
    EXPECT_EQ(s.Read(0), "no line end");
}

TEST(PowersockRead, ReadWaitsForCountBytesAndAbortsOnTimeOut) {
    LoopbackServer server(LoopbackServer::SendInPieces("12", 100, "345"));
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    EXPECT_EQ(s.Read(4), "1234");
    s.TimeOut = 200;
    EXPECT_EQ(Raised([&] { s.Read(10); }), "Socket send aborted");
    EXPECT_EQ(Raised([&] { s.Read(70000); }), "Range check error");
    EXPECT_EQ(Raised([&] { s.Read(-1); }), "Range check error");
}

TEST(PowersockRead, PendingBytesAtTheCloseAreDiscardedButBufferedOnesStay) {
    TPowersock s;
    LoopbackServer server(LoopbackServer::SendAndClose("kept"));
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !s.Connected; }, 5000));
    EXPECT_EQ(s.Read(0), "kept");
    s.ReceiveBuffer->Append("x", 1);
    EXPECT_TRUE(s.DataAvailable());
    EXPECT_EQ(s.Read(0), "x");
    EXPECT_FALSE(s.DataAvailable()) << "fresh socket, nothing buffered";
}

TEST(PowersockRead, ALateCloseNotificationFiresOnDisconnectAfterTheClosingCallReturned) {
    LoopbackServer server(LoopbackServer::NeverSend());
    TPowersock s;
    Events e;
    e.Bind(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    const sock::SOCKET closing = s.SocketHandle;
    // The peer's close was noticed and queued, then the program closed the socket itself.
    PostMessage(s.WindowHandle, SocketNotifyMessage, static_cast<WPARAM>(closing),
                sock::WSAMAKESELECTREPLY(sock::FD_CLOSE, 0));
    s.Disconnect();
    EXPECT_EQ(e.disconnects, 1);
    EXPECT_FALSE(s.Connected);
    ASSERT_TRUE(PumpUntil([&] { return e.disconnects == 2; }, 2000))
        << "the queued close still reaches the instance";
    EXPECT_FALSE(s.Connected);
    EXPECT_NE(s.SocketHandle, sock::INVALID_SOCKET) << "the fresh socket is left alone";
}

TEST(PowersockWrite, WriteStopsAtAZeroByteAndLongTextsGoWhole) {
    std::string received;
    std::mutex lock;
    LoopbackServer server([&](int fd, LoopbackServer& srv) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            std::lock_guard<std::mutex> guard(lock);
            received.append(buffer, static_cast<std::size_t>(n));
        }
        (void)srv;
    });
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    s.Write(std::string("abc\0def", 7));
    s.Writeln("line");
    std::string big(200000, 'x');
    big[1000] = '\0';
    for (std::size_t i = 0; i < big.size(); i += 997) {
        big[i + 1] = static_cast<char>('a' + i % 26);
    }
    s.Write(big);
    EXPECT_EQ(s.BytesSent, 200000);
    s.Disconnect();
    const std::string expected = "abcline\r\n" + big;
    ASSERT_TRUE(PumpUntil(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            return received.size() >= expected.size();
        },
        5000));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_TRUE(received == expected) << received.size();
}

TEST(PowersockWrite, SendBufferChecksItsLengthAndACancelAborts) {
    LoopbackServer server(LoopbackServer::NeverSend());
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    EXPECT_EQ(Raised([&] { s.SendBuffer("x", 70000); }), "Range check error");
    s.Cancel();
    EXPECT_EQ(Raised([&] { s.SendBuffer("abc", 3); }), "Socket send aborted");
    EXPECT_FALSE(s.Canceled);
    s.SendBuffer("abc", 3);
}

TEST(PowersockWrite, AFullSendBufferWaitsWithoutSpinningUntilTheTimeOut) {
    LoopbackServer server(LoopbackServer::NeverSend()); // never reads either
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    s.TimeOut = 800;
    std::string chunk(65535, 'y');
    const double cpu = ProcessCpuSeconds();
    std::string failure;
    for (int i = 0; i < 200 && failure.empty(); ++i) {
        failure = Raised([&] { s.SendBuffer(chunk.data(), 65535); });
        if (failure == "(nothing raised)") {
            failure.clear();
        }
    }
    EXPECT_EQ(failure, "Socket send aborted");
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.3);
}

TEST(PowersockWrite, ALongTextToAPeerThatNeverReadsEndsWithTheTimeOut) {
    // The peer takes nothing and closes only after 20 s.
    LoopbackServer server(LoopbackServer::SendWaitClose("", 20000));
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.TimeOut = 5000;
    s.Connect();
    s.TimeOut = 500;
    const std::string text(32 * 1024 * 1024, 'z'); // far more than the connection holds
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Raised([&] { s.Write(text); }), "Socket send aborted");
    EXPECT_LT(clock.elapsed(), 15000) << "ended by the time-out, not by the peer's close";
    EXPECT_GT(s.BytesSent, 0);
    EXPECT_LT(s.BytesSent, static_cast<std::int32_t>(text.size()));
    EXPECT_FALSE(s.Canceled);
    s.Disconnect();
}

TEST(PowersockMisc, CertifyConnectAsksOnceForAConnection) {
    LoopbackServer server(LoopbackServer::NeverSend());
    TPowersock s;
    EXPECT_EQ(Raised([&] { s.CertifyConnect(); }), "Not Connected");
    int asked = 0;
    s.OnConnectionRequired = [&](bool&) { ++asked; };
    EXPECT_EQ(Raised([&] { s.CertifyConnect(); }), "Not Connected");
    EXPECT_EQ(asked, 1);
    s.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        s.Host = "127.0.0.1";
        s.Port = server.Port();
        s.TimeOut = 5000;
        s.Connect();
        handled = true;
    };
    s.CertifyConnect();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(s.Connected);
    s.Disconnect();
}

TEST(PowersockMisc, ANegativeTimeOutIsARangeError) {
    TPowersock s;
    s.TimeOut = -1;
    EXPECT_EQ(Raised([&] { s.TimerOn(); }), "Range check error");
}
