// The readiness rules of the sockets layer, seen from the window that asked for the
// notifications: which event follows which state of the socket (fresh and connecting, refused,
// accepted, connected before it was watched, listening), which come only once until the call
// that allows the next, and that events outside the mask never come.
#include "platform/Sockets.h"

#include "support/EventLoop.h"
#include "support/RawClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

using namespace kairelon;
using kairelon::test::ConnectLoopback;
using kairelon::test::PumpFor;
using kairelon::test::PumpUntil;

namespace {

constexpr unsigned NotifyMessage = WM_USER + 101;
constexpr int SettleMs = 150; // time given for a notification that must not come

struct Note {
    int event;
    int error;
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Note& note) {
    return out << "{" << note.event << "," << note.error << "}";
}

const Note Read{static_cast<int>(sock::FD_READ), 0};
const Note Write{static_cast<int>(sock::FD_WRITE), 0};
const Note Accept{static_cast<int>(sock::FD_ACCEPT), 0};
const Note Connected{static_cast<int>(sock::FD_CONNECT), 0};
const Note Closed{static_cast<int>(sock::FD_CLOSE), 0};

sock::SOCKET watched = sock::INVALID_SOCKET;
std::vector<Note> notes;

LRESULT Record(HWND, unsigned message, WPARAM wParam, LPARAM lParam) {
    if (message == NotifyMessage && static_cast<sock::SOCKET>(wParam) == watched) {
        notes.push_back({sock::WSAGETSELECTEVENT(lParam), sock::WSAGETSELECTERROR(lParam)});
    }
    return 0;
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A window that records the notifications of one socket, a listening socket of the layer on a
// free loopback port, and what a case makes; all closed at its end.
class Scene {
public:
    Scene() {
        sock::WSADATA data;
        sock::WSAStartup(0x0101, &data);
        static const bool registered = RegisterClass(WNDCLASS{"SocketReadinessTest", Record, 8});
        EXPECT_TRUE(registered);
        window = CreateWindowEx("SocketReadinessTest");
        listening = Own(sock::socket(AF_INET, SOCK_STREAM, 0));
        EXPECT_EQ(sock::bind(listening, Loopback(0)), 0);
        EXPECT_EQ(sock::listen(listening, 16), 0);
        sockaddr_in local{};
        sock::getsockname(listening, &local);
        port = ntohs(local.sin_port);
        notes.clear();
    }
    ~Scene() {
        watched = sock::INVALID_SOCKET;
        for (const sock::SOCKET s : sockets_) {
            sock::closesocket(s);
        }
        for (const int fd : peers_) {
            ::close(fd);
        }
        DestroyWindow(window);
        sock::WSACleanup();
    }

    sock::SOCKET Own(sock::SOCKET s) {
        sockets_.push_back(s);
        return s;
    }
    int OwnPeer(int fd) {
        peers_.push_back(fd);
        return fd;
    }

    void Watch(sock::SOCKET s, long events) {
        watched = s;
        EXPECT_EQ(sock::WSAAsyncSelect(s, window, NotifyMessage, events), 0);
    }

    // Pumps until `count` notifications came, then a little longer for any that must not.
    void Settle(std::size_t count) {
        PumpUntil([count] { return notes.size() >= count; }, 2000);
        PumpFor(SettleMs);
    }

    // A connection taken from `listening` by the layer's accept; `peer` is its plain other end.
    sock::SOCKET AcceptedFrom(int& peer) {
        peer = OwnPeer(ConnectLoopback(port));
        pollfd incoming{listening, POLLIN, 0};
        EXPECT_EQ(::poll(&incoming, 1, 2000), 1);
        sockaddr_in address{};
        return Own(sock::accept(listening, &address));
    }

    // A socket of the layer connected to `listening` before anybody watches it.
    sock::SOCKET ConnectedUnwatched() {
        const sock::SOCKET s = Own(sock::socket(AF_INET, SOCK_STREAM, 0));
        sock::connect(s, Loopback(port));
        pollfd done{s, POLLOUT, 0};
        EXPECT_EQ(::poll(&done, 1, 2000), 1);
        return s;
    }

    HWND window = nullptr;
    sock::SOCKET listening = sock::INVALID_SOCKET;
    int port = 0;

private:
    std::vector<sock::SOCKET> sockets_;
    std::vector<int> peers_;
};

// A port on which nobody listens: bound, never listening, so no other test takes it meanwhile.
int ClosedPort(Scene& scene) {
    const int fd = scene.OwnPeer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

struct Case {
    const char* name;
    std::function<void(Scene&)> play;
    std::vector<Note> expected;
};

} // namespace

TEST(SocketReadiness, EachStateGivesItsEventsInTheirOrderAndOnlyAsOftenAsAllowed) {
    const Case cases[] = {
        {"a connect that succeeds: FD_CONNECT without error, then FD_WRITE",
         [](Scene& scene) {
             const sock::SOCKET s = scene.Own(sock::socket(AF_INET, SOCK_STREAM, 0));
             scene.Watch(s, 63);
             EXPECT_EQ(sock::connect(s, Loopback(scene.port)), sock::SOCKET_ERROR);
             EXPECT_EQ(sock::WSAGetLastError(), sock::WSAEWOULDBLOCK) << "never blocks";
             scene.Settle(2);
         },
         {Connected, Write}},
        {"FD_WRITE left out of the mask: FD_CONNECT alone",
         [](Scene& scene) {
             const sock::SOCKET s = scene.Own(sock::socket(AF_INET, SOCK_STREAM, 0));
             scene.Watch(s, 61);
             sock::connect(s, Loopback(scene.port));
             scene.Settle(1);
         },
         {Connected}},
        {"a refused connect: FD_CONNECT carrying 10061, nothing after it",
         [](Scene& scene) {
             const sock::SOCKET s = scene.Own(sock::socket(AF_INET, SOCK_STREAM, 0));
             scene.Watch(s, 63);
             EXPECT_EQ(sock::connect(s, Loopback(ClosedPort(scene))), sock::SOCKET_ERROR);
             EXPECT_EQ(sock::WSAGetLastError(), sock::WSAEWOULDBLOCK) << "reported as the event";
             scene.Settle(1);
         },
         {{static_cast<int>(sock::FD_CONNECT), sock::WSAECONNREFUSED}}},
        {"an accepted socket: FD_WRITE at once; FD_READ once until the next recv",
         [](Scene& scene) {
             int peer = -1;
             const sock::SOCKET s = scene.AcceptedFrom(peer);
             scene.Watch(s, 63);
             ::send(peer, "ab", 2, 0);
             scene.Settle(2);
             ::send(peer, "cd", 2, 0);
             scene.Settle(2); // still one FD_READ: nothing was received yet
             char bytes[2];
             EXPECT_EQ(sock::recv(s, bytes, 1, 0), 1);
             scene.Settle(3); // bytes are left: the recv lets the next one come
             EXPECT_EQ(sock::recv(s, bytes, 2, 0), 2);
             scene.Settle(4);
             EXPECT_EQ(sock::recv(s, bytes, 1, 0), 1);
             scene.Settle(4); // nothing left: no FD_READ until more arrives
         },
         {Write, Read, Read, Read}},
        {"the peer closes: FD_CLOSE once, and no FD_READ for the end of the stream",
         [](Scene& scene) {
             int peer = -1;
             const sock::SOCKET s = scene.AcceptedFrom(peer);
             scene.Watch(s, 63);
             ::shutdown(peer, SHUT_RDWR);
             scene.Settle(2);
             char byte = 0;
             EXPECT_EQ(sock::recv(s, &byte, 1, 0), 0);
             scene.Settle(2);
         },
         {Write, Closed}},
        {"the peer resets: FD_CLOSE carrying 10054",
         [](Scene& scene) {
             int peer = -1;
             const sock::SOCKET s = scene.AcceptedFrom(peer);
             scene.Watch(s, 63);
             const linger reset{1, 0};
             ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
             ::close(peer); // lingering for no time: the close resets
             scene.Settle(2);
         },
         {Write, {static_cast<int>(sock::FD_CLOSE), sock::WSAECONNRESET}}},
        {"a socket connected before it was watched: FD_WRITE at once, no FD_CONNECT",
         [](Scene& scene) {
             const sock::SOCKET s = scene.ConnectedUnwatched();
             scene.Watch(s, 63);
             scene.Settle(1);
         },
         {Write}},
        {"a listening socket: FD_ACCEPT once until the next accept",
         [](Scene& scene) {
             scene.Watch(scene.listening, 63);
             scene.OwnPeer(ConnectLoopback(scene.port));
             scene.Settle(1);
             scene.OwnPeer(ConnectLoopback(scene.port));
             scene.Settle(1);
             sockaddr_in address{};
             scene.Own(sock::accept(scene.listening, &address));
             scene.Settle(2); // one is still waiting
             scene.Own(sock::accept(scene.listening, &address));
             scene.Settle(2); // none is waiting
         },
         {Accept, Accept}},
        {"watched before it listens: FD_ACCEPT once it does",
         [](Scene& scene) {
             const sock::SOCKET s = scene.Own(sock::socket(AF_INET, SOCK_STREAM, 0));
             scene.Watch(s, 63);
             EXPECT_EQ(sock::bind(s, Loopback(0)), 0);
             scene.Settle(0); // a fresh socket has nothing to tell
             EXPECT_EQ(sock::listen(s, 4), 0);
             sockaddr_in local{};
             sock::getsockname(s, &local);
             scene.OwnPeer(ConnectLoopback(ntohs(local.sin_port)));
             scene.Settle(1);
         },
         {Accept}},
        {"a send that would block: FD_WRITE again once there is room",
         [](Scene& scene) {
             int peer = -1;
             const sock::SOCKET s = scene.AcceptedFrom(peer);
             scene.Watch(s, 63);
             scene.Settle(1);
             const std::string block(65536, 'x');
             while (sock::send(s, block.data(), static_cast<int>(block.size()), 0) > 0) {
             }
             EXPECT_EQ(sock::WSAGetLastError(), sock::WSAEWOULDBLOCK);
             scene.Settle(1); // full: nothing yet
             std::vector<char> sink(1 << 20);
             PumpUntil(
                 [&] {
                     while (::recv(peer, sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
                     }
                     return notes.size() >= 2;
                 },
                 2000);
             scene.Settle(2);
         },
         {Write, Write}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        c.play(scene);
        EXPECT_EQ(notes, c.expected);
    }
}
