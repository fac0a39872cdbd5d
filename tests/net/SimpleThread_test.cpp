#include "framework/Messages.h"
#include "net/SimpleThread.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace kairelon;
using namespace std::chrono_literals;

namespace {

// Waits, without spinning hot, until done() holds or the time is up.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Every thread object has been handed back (each test starts from there and ends there).
bool AllThreadsFreed() {
    return Eventually([] { return LiveSimpleThreads() == 0; });
}

} // namespace

TEST(SimpleThread, RunsTheMethodOnceWithItsDataOnANewThread) {
    ASSERT_TRUE(AllThreadsFreed());
    std::promise<std::thread::id> ran;
    std::atomic<int> calls{0};
    int payload = 42;
    void* seen = nullptr;
    ExecuteInThread(&payload, [&](void* data) {
        seen = data;
        calls.fetch_add(1);
        ran.set_value(std::this_thread::get_id());
    });
    auto result = ran.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_NE(result.get(), std::this_thread::get_id());
    EXPECT_EQ(seen, &payload);
    EXPECT_TRUE(AllThreadsFreed()); // the thread freed itself; nobody joined it
    EXPECT_EQ(calls.load(), 1);
}

TEST(SimpleThread, ManyThreadsFreeThemselves) {
    ASSERT_TRUE(AllThreadsFreed());
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i) {
        ExecuteInThread(nullptr, [&done](void*) { done.fetch_add(1); });
    }
    ASSERT_TRUE(Eventually([&done] { return done.load() == 200; }));
    EXPECT_TRUE(AllThreadsFreed());
}

TEST(SimpleThread, AThreadStartedRightAfterAnotherEndedRunsToo) {
    // The object of a thread that has just finished is reused at once; no start may be lost.
    ASSERT_TRUE(AllThreadsFreed());
    for (int i = 0; i < 300; ++i) {
        std::promise<void> ran;
        ExecuteInThread(nullptr, [&ran](void*) { ran.set_value(); });
        ASSERT_EQ(ran.get_future().wait_for(10s), std::future_status::ready) << i;
    }
    EXPECT_TRUE(AllThreadsFreed());
}

TEST(SimpleThread, ASuspendedThreadRunsOnlyAfterResume) {
    ASSERT_TRUE(AllThreadsFreed());
    std::atomic<bool> ran{false};
    auto* thread = new TSimpleThread(
        true, [&ran](void*) { ran = true; }, nullptr);
    EXPECT_EQ(LiveSimpleThreads(), 1);
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(ran.load());
    thread->Resume();
    EXPECT_TRUE(Eventually([&ran] { return ran.load(); }));
    EXPECT_TRUE(AllThreadsFreed());
}

TEST(SimpleThread, AbortingASuspendedThreadFreesItWithoutRunningIt) {
    ASSERT_TRUE(AllThreadsFreed());
    std::atomic<bool> ran{false};
    auto* thread = new TSimpleThread(
        true, [&ran](void*) { ran = true; }, nullptr);
    thread->AbortThread();
    EXPECT_EQ(LiveSimpleThreads(), 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ran.load());
}

TEST(SimpleThread, AbortingARunningThreadAsksItToStopWithoutBlocking) {
    ASSERT_TRUE(AllThreadsFreed());
    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> release{false};
    TSimpleThread* thread = ExecuteInThread(nullptr, [&](void*) {
        started = true;
        while (!TSimpleThread::AbortRequested()) { // 10 s at most if the request never came
            QThread::msleep(5);
            if (release) {
                return;
            }
        }
        stopped = true;
    });
    ASSERT_TRUE(Eventually([&started] { return started.load(); }));
    const auto asked = std::chrono::steady_clock::now();
    thread->AbortThread();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 100ms);
    const bool ended = Eventually([&stopped] { return stopped.load(); }, 5s);
    release = true;
    EXPECT_TRUE(ended);
    EXPECT_TRUE(AllThreadsFreed());
    EXPECT_FALSE(TSimpleThread::AbortRequested()); // only for the aborted thread

    // A thread object reused after an abort starts without the request.
    std::promise<bool> requested;
    ExecuteInThread(nullptr,
                    [&requested](void*) { requested.set_value(TSimpleThread::AbortRequested()); });
    auto result = requested.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(AllThreadsFreed());
}

TEST(SimpleThread, AnExceptionEndsOnlyItsOwnThread) {
    ASSERT_TRUE(AllThreadsFreed());
    testing::internal::CaptureStderr();
    std::atomic<bool> thrown{false};
    ExecuteInThread(nullptr, [&thrown](void*) {
        thrown = true;
        throw std::runtime_error("refill broke");
    });
    ASSERT_TRUE(Eventually([&thrown] { return thrown.load(); }));
    EXPECT_TRUE(AllThreadsFreed());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("refill broke"), std::string::npos) << err;

    std::atomic<bool> next{false};
    ExecuteInThread(nullptr, [&next](void*) { next = true; }); // the process lives on
    EXPECT_TRUE(Eventually([&next] { return next.load(); }));
    EXPECT_TRUE(AllThreadsFreed());
}

TEST(SimpleThread, TheCreatorKeepsPumpingItsEventLoopWhileTheMethodRuns) {
    // The owner waits in its event loop for a flag the thread sets, as the receive buffer's
    // callers do; a timer on the owner's thread keeps firing meanwhile.
    std::atomic<bool> done{false};
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(5);
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&timedOut] { timedOut = true; });
    limit.start(10000);
    QThread* owner = QThread::currentThread();
    ExecuteInThread(nullptr, [&done, owner](void*) {
        QThread::msleep(100);
        done = true;
        WakeUp(owner);
    });
    WaitUntil([&] { return done.load() || timedOut; });
    EXPECT_TRUE(done.load());
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(AllThreadsFreed());
}

TEST(SimpleThread, WindingDownWaitsForRunningMethodsAndForTheThreadsToEnd) {
    ASSERT_TRUE(AllThreadsFreed());
    std::atomic<QThread*> ran{nullptr};
    std::atomic<bool> returned{false};
    ExecuteInThread(nullptr, [&](void*) {
        ran = QThread::currentThread();
        QThread::msleep(150);
        returned = true;
    });
    ASSERT_TRUE(Eventually([&] { return ran.load() != nullptr; }));
    EXPECT_TRUE(WindDownSimpleThreads(5s));
    EXPECT_TRUE(returned.load()) << "waited for the method";
    EXPECT_TRUE(ran.load()->isFinished()) << "and for the thread's own ending after it";
    EXPECT_EQ(LiveSimpleThreads(), 0);

    // A method that outlasts the grace is left running; the wait ends with the grace.
    std::atomic<bool> release{false};
    ExecuteInThread(nullptr, [&release](void*) { Eventually([&] { return release.load(); }); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WindDownSimpleThreads(100ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    release = true;
    EXPECT_TRUE(AllThreadsFreed());
}
