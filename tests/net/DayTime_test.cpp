// The daytime client against loopback servers of every kind and an injected resolver: what it
// returns, what it raises, the order of its events, and that its waits are bounded and sleep.
#include "net/DayTime.h"
#include "platform/Clock.h"

#include "support/EventLoop.h"
#include "support/FakeResolver.h"
#include "support/LoopbackServer.h"
#include "support/RawClient.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace kairelon;
using kairelon::test::ConnectLoopback;
using kairelon::test::FakeResolver;
using kairelon::test::LoopbackServer;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;
using kairelon::test::RefusedPort;
using kairelon::test::ResolverScope;

namespace {

const std::string kLine = "\n60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *\n";

struct Recorder {
    std::vector<std::string> order;
    int connects = 0;
    int disconnects = 0;
    int invalid = 0;
    int resolved = 0;
    int failed = 0;

    void Bind(TNMDayTime& d) {
        d.OnConnect = [this](TObject*) {
            ++connects;
            order.push_back("connect");
        };
        d.OnDisconnect = [this](TObject*) {
            ++disconnects;
            order.push_back("disconnect");
        };
        d.OnInvalidHost = [this](bool&) {
            ++invalid;
            order.push_back("invalid");
        };
        d.OnHostResolved = [this](TObject*) { ++resolved; };
        d.OnConnectionFailed = [this](TObject*) { ++failed; };
    }
};

struct Outcome {
    std::string text;
    std::string error;
    std::string kind; // "", "ESockError", "EAbortError", "ERangeError", "Exception"
    qint64 ms = 0;
    double cpu = 0;
};

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

Outcome Call(TNMDayTime& d) {
    Outcome o;
    QElapsedTimer clock;
    clock.start();
    const double cpu = ProcessCpuSeconds();
    try {
        o.text = d.GetTimeStr();
    } catch (const ESockError& e) {
        o.kind = "ESockError";
        o.error = e.Message();
    } catch (const EAbortError& e) {
        o.kind = "EAbortError";
        o.error = e.Message();
    } catch (const ERangeError& e) {
        o.kind = "ERangeError";
        o.error = e.Message();
    } catch (const Exception& e) {
        o.kind = "Exception";
        o.error = e.Message();
    }
    o.ms = clock.elapsed();
    o.cpu = ProcessCpuSeconds() - cpu;
    return o;
}

void Aim(TNMDayTime& d, int port, int timeOut) {
    d.Host = "127.0.0.1";
    d.Port = port;
    d.TimeOut = timeOut;
}

} // namespace

TEST(DayTime, DefaultsArePort13AndHalfASecond) {
    TNMDayTime d;
    EXPECT_EQ(d.Port, 13);
    EXPECT_EQ(d.TimeOut, 500);
    EXPECT_EQ(d.ReportLevel, 0);
    EXPECT_EQ(d.Host, "");
}

TEST(DayTime, ReturnsTheLineAsSentWithConnectBeforeDisconnect) {
    LoopbackServer server(LoopbackServer::SendAndClose(kLine));
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    std::vector<std::string> statuses;
    d.OnStatus = [&](TObject*, const std::string& s) { statuses.push_back(s); };
    Aim(d, server.Port(), 5000);
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "") << o.error;
    EXPECT_EQ(o.text, kLine);
    EXPECT_FALSE(d.Connected);
    EXPECT_EQ(r.connects, 1);
    EXPECT_GE(r.disconnects, 1);
    EXPECT_LE(r.disconnects, 2);
    ASSERT_FALSE(r.order.empty());
    EXPECT_EQ(r.order.front(), "connect");
    EXPECT_EQ(r.invalid, 0);
    EXPECT_EQ(r.resolved, 0) << "a dotted address is not looked up";
    EXPECT_EQ(r.failed, 0);
    EXPECT_TRUE(statuses.empty()) << "report level 0";
    PumpFor(100);
    EXPECT_LE(r.disconnects, 3) << "at most one more, late";
    EXPECT_EQ(r.connects, 1);

    // The instance is ready for the next exchange at once.
    const Outcome again = Call(d);
    EXPECT_EQ(again.text, kLine) << again.error;
}

TEST(DayTime, BackToBackExchangesEachGetTheirOwnLine) {
    int served = 0;
    std::mutex lock;
    LoopbackServer server([&](int fd, LoopbackServer&) {
        std::lock_guard<std::mutex> guard(lock);
        LoopbackServer::SendAll(fd, "line " + std::to_string(++served) + "\r\n");
    });
    TNMDayTime d;
    Aim(d, server.Port(), 5000);
    for (int i = 1; i <= 30; ++i) {
        const Outcome o = Call(d);
        ASSERT_EQ(o.text, "line " + std::to_string(i) + "\r\n") << o.error;
    }
}

TEST(DayTime, AServerThatClosesWithoutSendingGivesAnEmptyText) {
    LoopbackServer server(LoopbackServer::CloseAtOnce());
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 5000);
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "") << o.error;
    EXPECT_EQ(o.text, "");
    EXPECT_EQ(r.connects, 1);
    EXPECT_GE(r.disconnects, 1);
    EXPECT_FALSE(d.Connected);
}

TEST(DayTime, ASilentServerIsBoundedByTheTimeOutAndTheWaitSleeps) {
    LoopbackServer server(LoopbackServer::NeverSend());
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 1000);
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "EAbortError");
    EXPECT_EQ(o.error, "Socket send aborted");
    EXPECT_GE(o.ms, 990);
    EXPECT_LT(o.ms, 4000);
    EXPECT_LT(o.cpu, 0.05) << "no busy polling";
    EXPECT_EQ(r.order, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_FALSE(d.Connected) << "the connection is closed all the same";
    EXPECT_FALSE(d.Canceled);
}

TEST(DayTime, ARefusedConnectionFailsAtOnceWithTheSocketError) {
    for (const int timeOut : {0, 400, 10000}) {
        SCOPED_TRACE(timeOut);
        RefusedPort refused;
        TNMDayTime d;
        Recorder r;
        r.Bind(d);
        Aim(d, refused.Port(), timeOut);
        const Outcome o = Call(d);
        EXPECT_EQ(o.kind, "ESockError");
        EXPECT_EQ(o.error, "10061:Connection refused");
        EXPECT_EQ(d.LastErrorNo, 10061);
        EXPECT_LT(o.ms, 300) << "not after the time-out";
        EXPECT_EQ(r.failed, 0) << "OnConnectionFailed is not fired";
        EXPECT_EQ(r.connects, 0);
        EXPECT_EQ(r.disconnects, 0);

        LoopbackServer server(LoopbackServer::SendAndClose(kLine));
        d.Port = server.Port();
        d.TimeOut = 3000;
        const Outcome next = Call(d);
        EXPECT_EQ(next.text, kLine) << "the instance serves the next call: " << next.error;
    }
}

namespace {

// A session that sends `pieces` with `pauseMs` between them, then closes unless `keepOpenMs`
// asks it to hold the connection open that long first.
LoopbackServer::Session SendPieces(std::vector<std::string> pieces, int pauseMs,
                                   int keepOpenMs = 0) {
    return [pieces, pauseMs, keepOpenMs](int fd, LoopbackServer& server) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0 && !server.SleepUnlessStopping(pauseMs)) {
                return;
            }
            LoopbackServer::SendAll(fd, pieces[i]);
        }
        if (keepOpenMs > 0) {
            server.SleepUnlessStopping(keepOpenMs);
        }
    };
}

} // namespace

TEST(DayTime, AReplyInPiecesIsReadUntilThePeerCloses) {
    struct Case {
        std::vector<std::string> pieces;
        int pauseMs;
    };
    const std::vector<Case> cases = {
        {{"60652 24-12-08 ", "04:13:14\n"}, 300},
        {{"6", "0652 24-", "12-08 04:1", "3:14 00 0 0 742.2 UTC(KA) *", "\n"}, 120},
        {{"\n", "60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *\n"}, 200},
        {{"", "", kLine}, 150},
        {{kLine.substr(0, 1), kLine.substr(1)}, 50},
    };
    for (const Case& c : cases) {
        std::string whole;
        for (const std::string& piece : c.pieces) {
            whole += piece;
        }
        SCOPED_TRACE(whole);
        LoopbackServer server(SendPieces(c.pieces, c.pauseMs));
        TNMDayTime d;
        Recorder r;
        r.Bind(d);
        Aim(d, server.Port(), 5000);
        const Outcome o = Call(d);
        EXPECT_EQ(o.kind, "") << o.error;
        EXPECT_EQ(o.text, whole);
        EXPECT_LT(o.ms, 4000) << "ends at the close, not at the time-out";
        EXPECT_LT(o.cpu, 0.2) << "no busy polling";
        EXPECT_EQ(r.order.front(), "connect");
        EXPECT_EQ(r.order.back(), "disconnect");
        EXPECT_FALSE(d.Connected);
        EXPECT_FALSE(d.Canceled);
    }
}

TEST(DayTime, APeerThatNeverClosesGivesWhatCameWithinTheTimeOut) {
    LoopbackServer server(SendPieces({"60652 24-12-08 ", "04:13:14\n"}, 200, 5000));
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 800);
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "") << o.error;
    EXPECT_EQ(o.text, "60652 24-12-08 04:13:14\n");
    EXPECT_GE(o.ms, 790);
    EXPECT_LT(o.ms, 3000);
    EXPECT_LT(o.cpu, 0.05) << "no busy polling";
    EXPECT_EQ(r.order, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_FALSE(d.Connected);
    EXPECT_FALSE(d.Canceled);
}

TEST(DayTime, MoreThan65535BytesAtOnceIsARangeErrorAndTheConnectionStillCloses) {
    LoopbackServer server(LoopbackServer::SendAndClose(std::string(100000, 'x')));
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 5000);
    auto onConnect = d.OnConnect;
    d.OnConnect = [&](TObject* sender) {
        onConnect(sender);
        // Let every byte arrive before the data wait looks.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "ERangeError");
    EXPECT_EQ(r.connects, 1);
    EXPECT_GE(r.disconnects, 1);
    EXPECT_FALSE(d.Connected);
}

TEST(DayTime, AServerClosingLateAfterItsTextDoesNotReachTheFreshSocket) {
    LoopbackServer server(LoopbackServer::SendWaitClose(kLine, 300));
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 5000);
    const Outcome o = Call(d);
    EXPECT_EQ(o.text, kLine) << o.error;
    EXPECT_GE(o.ms, 250) << "the reply ends with the server's close";
    EXPECT_GE(r.disconnects, 1);
    const int seen = r.disconnects;
    PumpFor(500);
    EXPECT_EQ(r.disconnects, seen);
    EXPECT_FALSE(d.Connected);
}

TEST(DayTime, CalledWhileConnectedRaisesWithoutEvents) {
    LoopbackServer server(LoopbackServer::NeverSend());
    TNMDayTime d;
    Aim(d, server.Port(), 5000);
    d.Connect();
    Recorder r;
    r.Bind(d);
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "ESockError");
    EXPECT_EQ(o.error, "Already connected");
    EXPECT_TRUE(r.order.empty());
    d.Disconnect();
}

TEST(DayTime, ACancelDuringTheDataWaitAbortsOnceTheTextHasArrived) {
    LoopbackServer server(LoopbackServer::SendInPieces("", 300, kLine));
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 5000);
    QTimer::singleShot(100, [&d] { d.Cancel(); });
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "EAbortError");
    EXPECT_EQ(o.error, "Socket send aborted");
    EXPECT_GE(o.ms, 250) << "the cancel does not end the data wait by itself";
    EXPECT_EQ(r.order.front(), "connect");
    EXPECT_EQ(r.order.back(), "disconnect");
    EXPECT_FALSE(d.Connected);
}

TEST(DayTimeLookup, UnknownHostAsksTheHandlerOnceThenNullRemoteAddress) {
    auto resolver = std::make_shared<FakeResolver>();
    ResolverScope scope(resolver);
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    d.Host = "nowhere.test";
    d.TimeOut = 2000;
    const Outcome o = Call(d);
    EXPECT_EQ(o.kind, "ESockError");
    EXPECT_EQ(o.error, "Null Remote Address");
    EXPECT_EQ(r.order, (std::vector<std::string>{"invalid"}));
}

TEST(DayTimeLookup, AHandlerThatCorrectsTheHostGetsTheExchange) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("time.test", "127.0.0.1");
    ResolverScope scope(resolver);
    LoopbackServer server(LoopbackServer::SendAndClose(kLine));
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    d.OnInvalidHost = [&](bool& handled) {
        ++r.invalid;
        d.Host = "time.test";
        handled = true;
    };
    d.Host = "typo.test";
    d.Port = server.Port();
    d.TimeOut = 2000;
    const Outcome o = Call(d);
    EXPECT_EQ(o.text, kLine) << o.error;
    EXPECT_EQ(r.invalid, 1);
    EXPECT_EQ(r.resolved, 1);
}

TEST(DayTimeLookup, SlowAndCancelledLookups) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("slow.test", "127.0.0.1");
    ResolverScope scope(resolver);
    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    d.Host = "slow.test";
    d.Port = 1;
    d.TimeOut = 150;
    resolver->SetDelayMs(500);
    const Outcome timedOut = Call(d);
    EXPECT_EQ(timedOut.error, "Host Lookup Timed Out");
    EXPECT_EQ(r.invalid, 0);

    d.TimeOut = 0;
    QTimer::singleShot(100, [&d] { d.Abort(); });
    const Outcome canceled = Call(d);
    EXPECT_EQ(canceled.error, "Host Lookup Canceled");
    EXPECT_LT(canceled.ms, 450);
    EXPECT_EQ(r.connects, 0);
}

TEST(DayTimeLookup, LookupAndConnectEachHaveTheirOwnCountdown) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->Add("far.test", "127.0.0.1");
    resolver->SetDelayMs(900);
    ResolverScope scope(resolver);
    // A full backlog holds the handshake back until the next SYN retransmission (about 1 s).
    LoopbackServer server(LoopbackServer::SendWaitClose(kLine, 200), 0, /*paused=*/true);
    TPowersock filler;
    filler.Host = "127.0.0.1";
    filler.Port = server.Port();
    filler.TimeOut = 5000;
    filler.Connect();

    TNMDayTime d;
    d.Host = "far.test";
    d.Port = server.Port();
    d.TimeOut = 1600;
    d.OnHostResolved = [&](TObject*) {
        // Room in the queue only after the first handshake attempt was dropped.
        QTimer::singleShot(200, [&server] { server.Resume(); });
    };
    const Outcome o = Call(d);
    EXPECT_EQ(o.text, kLine) << o.error;
    EXPECT_GT(o.ms, 1600) << "lookup and connect together took longer than one countdown";
}

TEST(DayTimeLateConnection, ATimedOutAttemptIsAbandonedAndNeverConnectsLater) {
    LoopbackServer server(LoopbackServer::SendWaitClose("LATE\r\n", 600), 0, /*paused=*/true);
    TPowersock filler;
    filler.Host = "127.0.0.1";
    filler.Port = server.Port();
    filler.TimeOut = 5000;
    filler.Connect();

    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, server.Port(), 300);
    const Outcome first = Call(d);
    EXPECT_EQ(first.error, "Connection Timed out");
    EXPECT_EQ(r.connects, 0);

    server.Resume(); // the queue drains; a handshake still pending would now complete
    PumpFor(1500);   // past the first retransmission of a dropped handshake
    EXPECT_EQ(r.connects, 0) << "no late connection";
    EXPECT_EQ(r.disconnects, 0) << "an attempt that never connected is dropped quietly";
    EXPECT_FALSE(d.Connected);
    EXPECT_EQ(d.ReceiveBuffer->BufferSize(), 0);
    EXPECT_EQ(server.Accepted(), 1) << "only the filler reached the server";

    LoopbackServer fresh(LoopbackServer::SendAndClose("FRESH\r\n"));
    d.Port = fresh.Port();
    d.TimeOut = 2000;
    const Outcome next = Call(d);
    EXPECT_EQ(next.text, "FRESH\r\n") << next.error;
}

TEST(DayTimeLateConnection, ATimedOutAttemptNeverAnswersTheNextCallToAnotherServer) {
    // Server A drops the handshake (full queue) until it is resumed; then it would answer.
    LoopbackServer a(LoopbackServer::SendAndClose("SERVER A\r\n"), 0, /*paused=*/true);
    TPowersock filler;
    filler.Host = "127.0.0.1";
    filler.Port = a.Port();
    filler.TimeOut = 5000;
    filler.Connect();
    LoopbackServer b(LoopbackServer::SendAndClose("SERVER B\r\n"));

    TNMDayTime d;
    Recorder r;
    r.Bind(d);
    Aim(d, a.Port(), 300);
    EXPECT_EQ(Call(d).error, "Connection Timed out");
    a.Resume();

    d.Port = b.Port();
    d.TimeOut = 3000;
    const Outcome next = Call(d);
    EXPECT_EQ(next.kind, "") << next.error;
    EXPECT_EQ(next.text, "SERVER B\r\n") << "B's time, never A's";
    EXPECT_LT(next.ms, 900) << "the call does not wait for A's handshake";
    EXPECT_EQ(r.connects, 1);
    PumpFor(1500);
    EXPECT_EQ(r.connects, 1);
    EXPECT_EQ(a.Accepted(), 1) << "only the filler reached A";
}

// Abort ends the exchange at once, in the connect wait and in the data wait alike (a program
// that is told to stop must not wait out the time-out); Cancel keeps waiting for the reply.
TEST(DayTime, AnAbortEndsTheWaitsAtOnce) {
    struct Case {
        const char* name;
        bool fillBacklog; // the server's queue is full: the connect itself waits
    };
    for (const Case c : {Case{"data wait", false}, Case{"connect wait", true}}) {
        LoopbackServer server(LoopbackServer::NeverSend(), 1, c.fillBacklog);
        std::vector<int> fillers;
        if (c.fillBacklog) {
            // Loopback connections complete while the queue has room; once it is full the
            // next one stays unanswered.
            for (int i = 0; i < 4; ++i) {
                const int fd = ConnectLoopback(server.Port(), 200);
                if (fd >= 0) {
                    fillers.push_back(fd);
                }
            }
        }
        TNMDayTime d;
        Recorder r;
        r.Bind(d);
        Aim(d, server.Port(), 20000);
        QTimer::singleShot(150, [&d] { d.Abort(); });
        const Outcome o = Call(d);
        EXPECT_EQ(o.kind, "EAbortError") << c.name;
        EXPECT_EQ(o.error, "Socket send aborted") << c.name;
        EXPECT_LT(o.ms, 1000) << c.name;
        EXPECT_FALSE(d.Connected) << c.name;
        EXPECT_EQ(std::count(r.order.begin(), r.order.end(), "connect"), c.fillBacklog ? 0 : 1)
            << c.name;
        for (const int fd : fillers) {
            ::close(fd);
        }
        // The component serves the next exchange as usual.
        LoopbackServer answering(LoopbackServer::SendAndClose(kLine));
        Aim(d, answering.Port(), 5000);
        EXPECT_EQ(Call(d).text, kLine) << c.name;
    }
}

// When the reply came: the connect's round trip, the piece with the on-time marker and the
// last piece, on the client's monotonic clock; the caller's handlers run as before but their
// time does not count as the network's.
TEST(DayTimeTiming, TheMarkerAndTheLastByteAreNotedWhenTheyArrive) {
    struct Case {
        std::vector<std::string> pieces;
        std::int64_t markerNs; // 0: no marker
    };
    constexpr std::int64_t kStart = 1000000000;
    // The caller's connect handler takes 100 ms, the first piece's handler 300 ms; only then
    // does the server send the second piece.
    const Case cases[] = {
        {{"\n60652 24-12-08 04:13:14 00 0 0 742.2 UTC(KA) *", "\n"}, kStart + 100000000},
        {{"60652 24-12-08 04:13:14", " 00 0 0  50.0 UTC(KA) *\n"}, kStart + 400000000},
        {{"60652 24-12-08 ", "04:13:14\n"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pieces.front());
        std::atomic<bool> release{false};
        LoopbackServer server([&c, &release](int fd, LoopbackServer& s) {
            LoopbackServer::SendAll(fd, c.pieces[0]);
            for (int i = 0; i < 1000 && !release; ++i) {
                if (!s.SleepUnlessStopping(5)) {
                    return;
                }
            }
            LoopbackServer::SendAll(fd, c.pieces[1]);
        });
        TNMDayTime d;
        Recorder r;
        r.Bind(d);
        std::int64_t now = kStart; // moves only with the handlers below
        d.MonotonicClock = [&now] { return now; };
        const TNotifyEvent recorded = d.OnConnect;
        d.OnConnect = [&recorded, &now](TObject* sender) {
            recorded(sender);
            now += 100000000; // a slow handler
        };
        d.OnDataReady = [&now, &release](TObject*) {
            if (!release) {
                now += 300000000;
                release = true;
            }
        };
        Aim(d, server.Port(), 5000);
        const Outcome o = Call(d);
        ASSERT_EQ(o.kind, "") << o.error;
        const TReplyTiming& t = d.LastReplyTiming;
        EXPECT_EQ(r.order.front(), "connect") << "the caller's handler still runs";
        EXPECT_EQ(t.ConnectStartedNs, kStart);
        EXPECT_EQ(t.RoundTripNs(), 0) << "the handler's 100 ms are not network time";
        EXPECT_EQ(t.MarkerNs, c.markerNs);
        EXPECT_EQ(t.LastDataNs, kStart + 400000000);
        EXPECT_TRUE(static_cast<bool>(d.OnConnect)) << "the caller's handler is back in place";
        EXPECT_TRUE(static_cast<bool>(d.OnDataReady));
    }
}

TEST(DayTimeTiming, TheMomentsComeFromTheClientsMonotonicClock) {
    LoopbackServer server(LoopbackServer::SendAndClose(kLine));
    TNMDayTime d;
    std::int64_t fake = 1000;
    d.MonotonicClock = [&fake] { return fake += 10; };
    Aim(d, server.Port(), 5000);
    ASSERT_EQ(d.GetTimeStr(), kLine);
    const TReplyTiming& t = d.LastReplyTiming;
    EXPECT_EQ(t.ConnectStartedNs, 1010);
    EXPECT_GT(t.ConnectedNs, t.ConnectStartedNs);
    EXPECT_GE(t.MarkerNs, t.ConnectedNs);
    EXPECT_EQ(t.MarkerNs, t.LastDataNs) << "one piece";
    EXPECT_LE(t.LastDataNs, fake);
}
