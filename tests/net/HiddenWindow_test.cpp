// Hidden windows: class registration, message delivery in queue order on the owning thread,
// the window word, destruction dropping queued messages, and window timers.
#include "net/HiddenWindow.h"
#include "net/ThreadTimer.h"
#include "platform/WindowMessages.h"
#include "support/EventLoop.h"

#include <QThread>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace kairelon;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;

namespace {

struct Delivery {
    unsigned message;
    WPARAM wParam;
    LPARAM lParam;
    QThread* thread;
};

std::vector<Delivery>& Deliveries() {
    static std::vector<Delivery> list;
    return list;
}

LRESULT RecordingProc(HWND window, unsigned message, WPARAM wParam, LPARAM lParam) {
    if (GetWindowLongPtr(window) == nullptr) {
        return DefWindowProc(window, message, wParam, lParam);
    }
    Deliveries().push_back({message, wParam, lParam, QThread::currentThread()});
    return 7;
}

const char* kTestClass = "HiddenWindowTestClass";

HWND MakeWindow(void* word) {
    static int marker = 0;
    HWND window = AllocateHWnd(kTestClass, RecordingProc, word != nullptr ? word : &marker);
    return window;
}

} // namespace

TEST(HiddenWindow, ClassIsRegisteredOncePerProcessAndEachWindowKeepsItsObject) {
    int first = 1;
    int second = 2;
    HWND a = MakeWindow(&first);
    HWND b = MakeWindow(&second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(ClassRegistrationCount(kTestClass), 1);
    EXPECT_EQ(GetWindowLongPtr(a), &first);
    EXPECT_EQ(GetWindowLongPtr(b), &second);
    EXPECT_FALSE(RegisterClass(WNDCLASS{kTestClass, RecordingProc, 8}));
    EXPECT_EQ(CreateWindowEx("NoSuchWindowClass"), nullptr);
    DestroyWindow(a);
    DestroyWindow(b);

    TThreadTimer t1;
    TThreadTimer t2;
    EXPECT_EQ(ClassRegistrationCount(TmrWindowClassName), 1);
    EXPECT_EQ(GetWindowLongPtr(t1.WindowHandle()), &t1);
    EXPECT_EQ(GetWindowLongPtr(t2.WindowHandle()), &t2);
}

TEST(HiddenWindow, PostedMessagesArriveInQueueOrderOnTheOwningThreadOnlyWhilePumping) {
    Deliveries().clear();
    HWND window = MakeWindow(nullptr);
    ASSERT_TRUE(PostMessage(window, 1200, 1, 10));
    std::thread other([window] {
        for (int i = 2; i <= 50; ++i) {
            PostMessage(window, 1200, static_cast<WPARAM>(i), 10 * i);
        }
    });
    other.join();
    EXPECT_TRUE(Deliveries().empty()) << "nothing is delivered before the loop runs";
    ASSERT_TRUE(PumpUntil([] { return Deliveries().size() == 50; }, 5000));
    for (std::size_t i = 0; i < Deliveries().size(); ++i) {
        EXPECT_EQ(Deliveries()[i].wParam, i + 1);
        EXPECT_EQ(Deliveries()[i].lParam, static_cast<LPARAM>(10 * (i + 1)));
        EXPECT_EQ(Deliveries()[i].thread, QThread::currentThread());
    }
    EXPECT_EQ(SendMessage(window, 1300, 0, 0), 7);
    DestroyWindow(window);
}

TEST(HiddenWindow, DestroyingAWindowDropsItsQueuedMessagesAndRefusesNewOnes) {
    Deliveries().clear();
    HWND window = MakeWindow(nullptr);
    PostMessage(window, 1200, 1, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessage(window, 1200, 2, 0));
    EXPECT_FALSE(DestroyWindow(window));
    PumpFor(50);
    EXPECT_TRUE(Deliveries().empty());
}

TEST(HiddenWindow, DeliverHookMayDropAMessageOrPrepareItsData) {
    Deliveries().clear();
    HWND window = MakeWindow(nullptr);
    int prepared = 0;
    PostMessage(window, 1200, 1, 0, [] { return false; });
    PostMessage(window, 1200, 2, 0, [&prepared] {
        prepared = 42;
        return true;
    });
    ASSERT_TRUE(PumpUntil([] { return !Deliveries().empty(); }, 5000));
    PumpFor(20);
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].wParam, 2u);
    EXPECT_EQ(prepared, 42);
    DestroyWindow(window);
}

TEST(HiddenWindow, WindowTimersTickWithTheirIdUntilKilledAndOnlyOnTheOwningThread) {
    Deliveries().clear();
    HWND window = MakeWindow(nullptr);
    ASSERT_TRUE(SetTimer(window, 5, 20));
    EXPECT_TRUE(TimerIsSet(window, 5));
    ASSERT_TRUE(PumpUntil([] { return Deliveries().size() >= 3; }, 5000));
    for (const Delivery& d : Deliveries()) {
        EXPECT_EQ(d.message, WM_TIMER);
        EXPECT_EQ(d.wParam, 5u);
    }
    bool setElsewhere = true;
    bool killedElsewhere = true;
    std::thread other([&] {
        setElsewhere = SetTimer(window, 6, 20);
        killedElsewhere = KillTimer(window, 5);
    });
    other.join();
    EXPECT_FALSE(setElsewhere);
    EXPECT_FALSE(killedElsewhere);
    EXPECT_TRUE(KillTimer(window, 5));
    EXPECT_FALSE(KillTimer(window, 5));
    PumpFor(10);
    Deliveries().clear();
    PumpFor(100);
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_FALSE(SetTimer(nullptr, 1, 10));
    DestroyWindow(window);
}
