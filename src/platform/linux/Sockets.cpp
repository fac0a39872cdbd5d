// The calls of the sockets layer: each wraps its system call, turns errno into the table's
// number (platform/SocketErrors.h) and tells the socket's watcher what it did
// (platform/linux/SocketWatcher.h).
#include "platform/Sockets.h"

#include "platform/linux/SocketWatcher.h"

#include <QThread>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>

namespace kairelon::sock {

using detail::Registry;
using detail::RetireLocked;
using detail::RunOn;
using detail::Watcher;
using detail::Watchers;
using detail::WithWatcher;

namespace {

thread_local int lastError = 0;

int SetError(int errnoValue) {
    lastError = WSAErrorFromErrno(errnoValue);
    return SOCKET_ERROR;
}

struct StartupState {
    std::mutex lock;
    int count = 0;
};

StartupState& Startup() {
    static StartupState state;
    return state;
}

} // namespace

int WSAStartup(std::uint16_t versionRequested, WSADATA* data) {
    if (data == nullptr) {
        return 10014;
    }
    if ((versionRequested & 0xFF) < 1) {
        return 10092;
    }
    StartupState& state = Startup();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.count;
    *data = WSADATA{};
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0202;
    std::snprintf(data->szDescription, sizeof data->szDescription,
                  "POSIX sockets with window-message notifications");
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    rlimit files{};
    data->iMaxSockets = 0xFFFF;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 0xFFFF) {
        data->iMaxSockets = static_cast<std::uint16_t>(files.rlim_cur);
    }
    data->iMaxUdpDg = 65507;
    return 0;
}

int WSACleanup() {
    StartupState& state = Startup();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.count == 0) {
        lastError = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    --state.count;
    return 0;
}

int WSAGetLastError() {
    return lastError;
}
void WSASetLastError(int error) {
    lastError = error;
}

SOCKET socket(int af, int type, int protocol) {
    const int fd = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        SetError(errno);
        return INVALID_SOCKET;
    }
    {
        // A number freed without closesocket must not pass for an accepted socket.
        Registry& registry = Watchers();
        std::lock_guard<std::mutex> guard(registry.lock);
        registry.accepted.erase(fd);
    }
    return fd;
}

int closesocket(SOCKET s) {
    {
        Registry& registry = Watchers();
        std::unique_lock<std::mutex> guard(registry.lock);
        std::unique_ptr<Watcher> retired(RetireLocked(registry, s));
        registry.accepted.erase(s);
        // The waits of a shared listener hold a descriptor of their own, which would keep the
        // socket listening after this close: end the listening itself, which wakes them.
        if (registry.shared.erase(s) != 0) {
            ::shutdown(s, SHUT_RDWR);
        }
        guard.unlock();
    }
    if (::close(s) != 0) {
        return SetError(errno);
    }
    return 0;
}

int connect(SOCKET s, const sockaddr_in& address) {
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS) {
        // Whether at once or later, the outcome comes as FD_CONNECT.
        WithWatcher(s, [](Watcher* w) { w->BeginConnect(); });
        lastError = WSAEWOULDBLOCK;
        return SOCKET_ERROR;
    }
    const int error = errno;
    switch (error) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case ENETUNREACH:
    case EHOSTUNREACH: {
        // Failures of the attempt itself are reported as its notification, as always.
        const int wsaError = WSAErrorFromErrno(error);
        const bool watched =
            WithWatcher(s, [wsaError](Watcher* w) { w->ConnectFailedAtOnce(wsaError); });
        lastError = watched ? WSAEWOULDBLOCK : wsaError;
        return SOCKET_ERROR;
    }
    default:
        return SetError(error);
    }
}

int bind(SOCKET s, const sockaddr_in& address) {
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return SetError(errno);
    }
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (::listen(s, backlog) != 0) {
        return SetError(errno);
    }
    WithWatcher(s, [](Watcher* w) { w->Listening(); });
    return 0;
}

SOCKET accept(SOCKET s, sockaddr_in* address) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int fd =
        ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = errno;
    WithWatcher(s, [](Watcher* w) { w->ArmRead(); });
    if (fd < 0) {
        SetError(error);
        return INVALID_SOCKET;
    }
    if (address != nullptr) {
        *address = peer;
    }
    return detail::NoteAccepted(fd);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
    const ssize_t n =
        ::recv(s, buffer, static_cast<std::size_t>(length < 0 ? 0 : length), flags | MSG_DONTWAIT);
    const int error = errno;
    WithWatcher(s, [](Watcher* w) { w->ArmRead(); });
    if (n < 0) {
        return SetError(error);
    }
    return static_cast<int>(n);
}

int shutdown(SOCKET s, int how) {
    static_assert(SD_SEND == SHUT_WR);
    if (::shutdown(s, how) != 0) {
        return SetError(errno);
    }
    return 0;
}

int send(SOCKET s, const void* buffer, int length, int flags) {
    const ssize_t n = ::send(s, buffer, static_cast<std::size_t>(length < 0 ? 0 : length),
                             flags | MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            WithWatcher(s, [](Watcher* w) { w->ArmWrite(); });
        }
        return SetError(error);
    }
    return static_cast<int>(n);
}

int setsockopt(SOCKET s, int level, int name, const void* value, int length) {
    if (::setsockopt(s, level, name, value, static_cast<socklen_t>(length)) != 0) {
        return SetError(errno);
    }
    return 0;
}

int getsockname(SOCKET s, sockaddr_in* address) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return SetError(errno);
    }
    if (address != nullptr) {
        *address = local;
    }
    return 0;
}

int WSAAsyncSelect(SOCKET s, HWND window, unsigned message, long events) {
    if (s < 0) {
        lastError = WSAENOTSOCK;
        return SOCKET_ERROR;
    }
    std::unique_ptr<Watcher> watcher;
    if (events != 0 && window != nullptr) {
        watcher = std::make_unique<Watcher>(s, window, message, events);
        QThread* target = WindowThread(window);
        if (target != nullptr && target != QThread::currentThread()) {
            watcher->moveToThread(target);
        }
    }
    Registry& registry = Watchers();
    std::unique_lock<std::mutex> guard(registry.lock);
    while (Watcher* retired = RetireLocked(registry, s)) {
        // Its notifiers go before the new ones come: an event loop may take only one
        // notifier per socket and kind.
        guard.unlock();
        delete retired;
        guard.lock();
    }
    if (watcher == nullptr) {
        return 0;
    }
    Watcher* added = watcher.release();
    registry.watchers.emplace(s, added);
    const bool accepted = registry.accepted.erase(s) != 0;
    RunOn(guard, added, [accepted](Watcher* w) { w->Start(accepted); });
    return 0;
}

void ReenableAccept(SOCKET listening) {
    WithWatcher(listening, [](Watcher* w) { w->ArmAccept(); });
}

std::uint32_t inet_addr(const char* text) {
    in_addr address{};
    if (text == nullptr || ::inet_aton(text, &address) == 0) {
        return INADDR_NONE_VALUE;
    }
    return address.s_addr;
}

std::string inet_ntoa(std::uint32_t addressNetworkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = addressNetworkOrder;
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

int gethostname(char* name, int length) {
    if (::gethostname(name, static_cast<std::size_t>(length)) != 0) {
        return SetError(errno);
    }
    return 0;
}

} // namespace kairelon::sock
