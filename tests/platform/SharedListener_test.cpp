// Threads that take a listening socket's connections themselves (SharedListener, AcceptWait),
// the FD_ACCEPT rules around them (ReenableAccept), and the end of every wait when the
// listening socket is closed.
#include "platform/SharedListener.h"

#include "support/EventLoop.h"
#include "support/RawClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace kairelon;
using kairelon::test::ConnectLoopback;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;
using Outcome = sock::AcceptWait::Outcome;

namespace {

// A non-blocking listening socket of the sockets layer on a free loopback port.
struct Listening {
    sock::SOCKET socket = sock::INVALID_SOCKET;
    int port = 0;

    Listening() {
        sock::WSADATA data;
        sock::WSAStartup(0x0101, &data);
        socket = sock::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(sock::bind(socket, address), 0);
        EXPECT_EQ(sock::listen(socket, 16), 0);
        sockaddr_in local{};
        sock::getsockname(socket, &local);
        port = ntohs(local.sin_port);
    }
    ~Listening() {
        if (socket != sock::INVALID_SOCKET) {
            sock::closesocket(socket);
        }
        sock::WSACleanup();
    }
};

std::atomic<int> acceptNotes{0};

LRESULT CountAccepts(HWND, unsigned message, WPARAM, LPARAM lParam) {
    if (message == WM_USER + 101 && sock::WSAGETSELECTEVENT(lParam) == sock::FD_ACCEPT) {
        ++acceptNotes;
    }
    return 0;
}

HWND AcceptCountingWindow() {
    static const bool registered =
        RegisterClass(WNDCLASS{"SharedListenerTestClass", CountAccepts, 8});
    EXPECT_TRUE(registered);
    return CreateWindowEx("SharedListenerTestClass");
}

} // namespace

TEST(SharedListener, AWaitTakesAConnectionOrTimesOut) {
    Listening listening;
    sock::SharedListener shared(listening.socket);
    ASSERT_TRUE(shared.Valid());
    sock::AcceptWait wait(shared);
    ASSERT_TRUE(wait.Usable());

    sock::SOCKET accepted = sock::INVALID_SOCKET;
    sockaddr_in peer{};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(wait.Next(80, accepted, peer), Outcome::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(80));
    EXPECT_EQ(accepted, sock::INVALID_SOCKET);

    const int client = ConnectLoopback(listening.port);
    ASSERT_GE(client, 0);
    ASSERT_EQ(wait.Next(2000, accepted, peer), Outcome::Accepted);
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(sock::send(accepted, "x", 1, 0), 1) << "a connected socket of its own";
    char byte = 0;
    EXPECT_EQ(::recv(client, &byte, 1, 0), 1);
    sock::closesocket(accepted);
    ::close(client);
}

TEST(SharedListener, AConnectionIsTakenByExactlyOneOfTwoWaitingThreads) {
    Listening listening;
    sock::SharedListener shared(listening.socket);
    std::atomic<int> ready{0};
    const auto waiter = [&] {
        sock::AcceptWait wait(shared);
        sock::SOCKET accepted = sock::INVALID_SOCKET;
        sockaddr_in peer{};
        ++ready;
        const Outcome outcome = wait.Next(1500, accepted, peer);
        if (accepted != sock::INVALID_SOCKET) {
            sock::closesocket(accepted);
        }
        return outcome;
    };
    auto first = std::async(std::launch::async, waiter);
    auto second = std::async(std::launch::async, waiter);
    while (ready < 2) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // both are in their wait
    const int client = ConnectLoopback(listening.port);
    const Outcome a = first.get();
    const Outcome b = second.get();
    EXPECT_EQ((a == Outcome::Accepted) + (b == Outcome::Accepted), 1);
    EXPECT_EQ((a == Outcome::TimedOut) + (b == Outcome::TimedOut), 1);
    ::close(client);
}

TEST(SharedListener, StopAndClosingTheListeningSocketEndEveryWait) {
    Listening listening;
    {
        sock::SharedListener shared(listening.socket);
        auto waiting = std::async(std::launch::async, [&] {
            sock::AcceptWait wait(shared);
            sock::SOCKET accepted = sock::INVALID_SOCKET;
            sockaddr_in peer{};
            return wait.Next(5000, accepted, peer);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        shared.Stop();
        ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
        EXPECT_EQ(waiting.get(), Outcome::Stopped);
        sock::AcceptWait later(shared);
        sock::SOCKET accepted = sock::INVALID_SOCKET;
        sockaddr_in peer{};
        EXPECT_EQ(later.Next(5000, accepted, peer), Outcome::Stopped) << "for good";
    }

    // The waits hold a descriptor of their own; closing the socket still stops the listening.
    sock::SharedListener shared(listening.socket);
    const int port = listening.port;
    auto waiting = std::async(std::launch::async, [&] {
        sock::AcceptWait wait(shared);
        sock::SOCKET accepted = sock::INVALID_SOCKET;
        sockaddr_in peer{};
        return wait.Next(5000, accepted, peer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sock::closesocket(listening.socket);
    listening.socket = sock::INVALID_SOCKET;
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), Outcome::Failed);
    EXPECT_EQ(ConnectLoopback(port, 500), -1) << "nobody listens any more";
}

TEST(SharedListener, FdAcceptComesAgainAfterReenableAcceptAsAfterAnAccept) {
    Listening listening;
    HWND window = AcceptCountingWindow();
    ASSERT_NE(window, nullptr);
    acceptNotes = 0;
    sock::WSAAsyncSelect(listening.socket, window, WM_USER + 101, sock::FD_ACCEPT);

    const int first = ConnectLoopback(listening.port);
    ASSERT_TRUE(PumpUntil([] { return acceptNotes == 1; }, 2000));
    const int second = ConnectLoopback(listening.port);
    PumpFor(100);
    EXPECT_EQ(acceptNotes, 1) << "nothing more until an accept";

    sock::ReenableAccept(listening.socket);
    ASSERT_TRUE(PumpUntil([] { return acceptNotes == 2; }, 2000)) << "the waiting one again";

    // From another thread the notification is turned on by the socket's own thread.
    sockaddr_in peer{};
    const sock::SOCKET a = sock::accept(listening.socket, &peer);
    const sock::SOCKET b = sock::accept(listening.socket, &peer);
    EXPECT_NE(a, sock::INVALID_SOCKET);
    EXPECT_NE(b, sock::INVALID_SOCKET);
    const int third = ConnectLoopback(listening.port);
    ASSERT_TRUE(PumpUntil([] { return acceptNotes == 3; }, 2000));
    std::thread([&] { sock::ReenableAccept(listening.socket); }).join();
    PumpFor(50);
    EXPECT_EQ(acceptNotes, 4);

    for (int fd : {first, second, third}) {
        ::close(fd);
    }
    sock::closesocket(a);
    sock::closesocket(b);
    DestroyWindow(window);
}
