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

// All objects of finished threads are deleted again.
bool AllThreadsFreed(int before) {
    return Eventually([before] {
        ReapFinishedThreads();
        return LiveSimpleThreads() == before;
    });
}

} // namespace

TEST(SimpleThread, RunsTheMethodOnceWithItsDataOnANewThread) {
    const int before = LiveSimpleThreads();
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
    EXPECT_TRUE(AllThreadsFreed(before)); // the thread freed itself; nobody joined it
    EXPECT_EQ(calls.load(), 1);
}

TEST(SimpleThread, ManyThreadsFreeThemselves) {
    const int before = LiveSimpleThreads();
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i) {
        ExecuteInThread(nullptr, [&done](void*) { done.fetch_add(1); });
    }
    ASSERT_TRUE(Eventually([&done] { return done.load() == 200; }));
    EXPECT_TRUE(AllThreadsFreed(before));
}

TEST(SimpleThread, ASuspendedThreadRunsOnlyAfterResume) {
    const int before = LiveSimpleThreads();
    std::atomic<bool> ran{false};
    auto* thread = new TSimpleThread(
        true, [&ran](void*) { ran = true; }, nullptr);
    EXPECT_EQ(LiveSimpleThreads(), before + 1);
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(ran.load());
    thread->Resume();
    EXPECT_TRUE(Eventually([&ran] { return ran.load(); }));
    EXPECT_TRUE(AllThreadsFreed(before));
}

TEST(SimpleThread, AbortingASuspendedThreadFreesItWithoutRunningIt) {
    const int before = LiveSimpleThreads();
    std::atomic<bool> ran{false};
    auto* thread = new TSimpleThread(
        true, [&ran](void*) { ran = true; }, nullptr);
    thread->AbortThread();
    EXPECT_EQ(LiveSimpleThreads(), before);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ran.load());
}

TEST(SimpleThread, AbortingARunningThreadStopsItAndUnwindsItsStack) {
    const int before = LiveSimpleThreads();
    std::atomic<bool> started{false};
    std::atomic<bool> unwound{false};
    std::atomic<bool> finishedNormally{false};
    struct Guard {
        std::atomic<bool>& Flag;
        ~Guard() { Flag = true; }
    };
    TSimpleThread* thread = ExecuteInThread(nullptr, [&](void*) {
        Guard guard{unwound};
        started = true;
        for (int i = 0; i < 3000; ++i) { // 30 s at most, far beyond any test's patience
            QThread::msleep(10);
        }
        finishedNormally = true;
    });
    ASSERT_TRUE(Eventually([&started] { return started.load(); }));
    thread->AbortThread(); // never blocks
    EXPECT_TRUE(Eventually([&unwound] { return unwound.load(); }, 5s));
    EXPECT_FALSE(finishedNormally.load());
    EXPECT_TRUE(AllThreadsFreed(before));
}

TEST(SimpleThread, AnExceptionEndsOnlyItsOwnThread) {
    const int before = LiveSimpleThreads();
    testing::internal::CaptureStderr();
    std::atomic<bool> thrown{false};
    ExecuteInThread(nullptr, [&thrown](void*) {
        thrown = true;
        throw std::runtime_error("refill broke");
    });
    ASSERT_TRUE(Eventually([&thrown] { return thrown.load(); }));
    EXPECT_TRUE(AllThreadsFreed(before));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("refill broke"), std::string::npos) << err;

    std::atomic<bool> next{false};
    ExecuteInThread(nullptr, [&next](void*) { next = true; }); // the process lives on
    EXPECT_TRUE(Eventually([&next] { return next.load(); }));
    EXPECT_TRUE(AllThreadsFreed(before));
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
}
