#include "platform/Sockets.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace kairelon::sock {
namespace {

thread_local int lastError = 0;

int SetError(int errnoValue) {
    lastError = WSAErrorFromErrno(errnoValue);
    return SOCKET_ERROR;
}

// Watches one socket on the thread of the window that asked for its notifications and posts
// them with the Windows Sockets rules. Lives on that thread; all its state is touched there.
class Watcher : public QObject {
public:
    Watcher(SOCKET fd, HWND window, unsigned message, long events)
        : fd_(fd), window_(window), message_(message), events_(events) {}

    void Start() {
        read_ = new QSocketNotifier(QSocketNotifier::Read, this);
        read_->setSocket(fd_);
        read_->setEnabled(false);
        write_ = new QSocketNotifier(QSocketNotifier::Write, this);
        write_->setSocket(fd_);
        write_->setEnabled(false);
        QObject::connect(read_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
        QObject::connect(write_, &QSocketNotifier::activated, this, [this] { OnWritable(); });

        tcp_info info{};
        socklen_t size = sizeof(info);
        if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
            return;
        }
        switch (info.tcpi_state) {
        case TCP_LISTEN:
            listening_ = true;
            ArmRead();
            break;
        case TCP_SYN_SENT:
            BeginConnect();
            break;
        case TCP_ESTABLISHED:
        case TCP_CLOSE_WAIT:
            established_ = true;
            ArmRead();
            if (events_ & FD_WRITE) {
                Post(FD_WRITE, 0);
            }
            break;
        default:
            break; // a fresh socket: nothing to watch until it connects or listens
        }
    }

    void BeginConnect() {
        connecting_ = true;
        if (write_ != nullptr) {
            write_->setEnabled(true);
        }
    }

    void ConnectFailedAtOnce(int error) {
        connecting_ = false;
        if (events_ & FD_CONNECT) {
            Post(FD_CONNECT, error);
        }
    }

    void Listening() {
        listening_ = true;
        ArmRead();
    }

    // After recv or accept: the next read (accept) notification may come.
    void ArmRead() {
        if (read_ != nullptr && !retired_ && !closeSent_ && (established_ || listening_)) {
            read_->setEnabled(true);
        }
    }

    // After a send that would have blocked: FD_WRITE once there is room again.
    void ArmWrite() {
        if (write_ != nullptr && !retired_ && established_) {
            write_->setEnabled(true);
        }
    }

    std::atomic<bool> retired_{false};

private:
    void Post(long event, int error) {
        PostMessage(window_, message_, static_cast<WPARAM>(fd_), WSAMAKESELECTREPLY(event, error));
    }

    void OnReadable() {
        read_->setEnabled(false);
        if (retired_) {
            return;
        }
        if (listening_) {
            if (events_ & FD_ACCEPT) {
                Post(FD_ACCEPT, 0);
            }
            return; // the next accept arms it again
        }
        char byte = 0;
        const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            if (events_ & FD_READ) {
                Post(FD_READ, 0);
            }
            return; // the next recv arms it again
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            read_->setEnabled(true);
            return;
        }
        closeSent_ = true;
        if (events_ & FD_CLOSE) {
            Post(FD_CLOSE, n == 0 ? 0 : WSAErrorFromErrno(errno));
        }
    }

    void OnWritable() {
        write_->setEnabled(false);
        if (retired_) {
            return;
        }
        if (connecting_) {
            connecting_ = false;
            int error = 0;
            socklen_t size = sizeof(error);
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                error = errno;
            }
            const int wsaError = error == 0 ? 0 : WSAErrorFromErrno(error);
            if (events_ & FD_CONNECT) {
                Post(FD_CONNECT, wsaError);
            }
            if (wsaError == 0) {
                established_ = true;
                ArmRead();
                if (events_ & FD_WRITE) {
                    Post(FD_WRITE, 0);
                }
            }
            return;
        }
        if (events_ & FD_WRITE) {
            Post(FD_WRITE, 0);
        }
    }

    SOCKET fd_;
    HWND window_;
    unsigned message_;
    long events_;
    QSocketNotifier* read_ = nullptr;
    QSocketNotifier* write_ = nullptr;
    bool connecting_ = false;
    bool established_ = false;
    bool listening_ = false;
    bool closeSent_ = false;
};

struct Registry {
    std::mutex lock;
    std::unordered_map<SOCKET, Watcher*> watchers;
};

Registry& Watchers() {
    static auto* registry = new Registry; // never destroyed: lookups may finish at exit
    return *registry;
}

bool OnOwnThread(const QObject* object) {
    return object->thread() == QThread::currentThread();
}

// Runs `action` on the watcher's thread: at once when that is this thread, otherwise queued
// (dropped if the watcher goes away first). Called with the registry locked.
template <typename Action> void RunOn(Watcher* watcher, Action action) {
    if (OnOwnThread(watcher)) {
        action(watcher);
    } else {
        QMetaObject::invokeMethod(
            watcher, [watcher, action] { action(watcher); }, Qt::QueuedConnection);
    }
}

// Runs `action` for the socket's watcher; false when the socket has none.
template <typename Action> bool WithWatcher(SOCKET s, Action action) {
    Registry& registry = Watchers();
    std::lock_guard<std::mutex> guard(registry.lock);
    const auto found = registry.watchers.find(s);
    if (found == registry.watchers.end()) {
        return false;
    }
    RunOn(found->second, action);
    return true;
}

void RetireLocked(Registry& registry, SOCKET s) {
    const auto found = registry.watchers.find(s);
    if (found == registry.watchers.end()) {
        return;
    }
    Watcher* watcher = found->second;
    registry.watchers.erase(found);
    watcher->retired_ = true;
    if (OnOwnThread(watcher)) {
        delete watcher;
    } else {
        watcher->deleteLater();
    }
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

int WSAErrorFromErrno(int e) {
    switch (e) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 20000 + e;
    }
}

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
    return fd;
}

int closesocket(SOCKET s) {
    {
        Registry& registry = Watchers();
        std::lock_guard<std::mutex> guard(registry.lock);
        RetireLocked(registry, s);
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
    return fd;
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
    Registry& registry = Watchers();
    std::lock_guard<std::mutex> guard(registry.lock);
    RetireLocked(registry, s);
    if (events == 0 || window == nullptr) {
        return 0;
    }
    QThread* target = WindowThread(window);
    auto* watcher = new Watcher(s, window, message, events);
    if (target != nullptr && target != QThread::currentThread()) {
        watcher->moveToThread(target);
    }
    registry.watchers.emplace(s, watcher);
    RunOn(watcher, [](Watcher* w) { w->Start(); });
    return 0;
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
