#include "platform/Sockets.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace kairelon::sock {
namespace {

thread_local int lastError = 0;

int SetError(int errnoValue) {
    lastError = WSAErrorFromErrno(errnoValue);
    return SOCKET_ERROR;
}

class Watcher;

// A socket notifier that calls its watcher directly: a watcher is made for every connection a
// server serves, and a signal connection made and dropped each time costs more than the
// notifier itself.
class Notifier final : public QSocketNotifier {
public:
    using Handler = void (Watcher::*)();
    Notifier(SOCKET fd, Type type, Watcher* watcher, Handler handler);

protected:
    bool event(QEvent* e) override;

private:
    Watcher* watcher_;
    Handler handler_;
};

// Watches one socket on the thread of the window that asked for its notifications and posts
// them with the Windows Sockets rules. Lives on that thread; all its state is touched there.
// The write notifier is made when first needed: most sockets never wait to write.
class Watcher : public QObject {
public:
    Watcher(SOCKET fd, HWND window, unsigned message, long events)
        : fd_(fd), window_(window), message_(message), events_(events) {}

    // `accepted`: the socket came from accept and was not watched since, so it is connected
    // (or already closed by its peer, which its first read tells); no need to ask the system.
    void Start(bool accepted) {
        read_ = new Notifier(fd_, QSocketNotifier::Read, this, &Watcher::OnReadable);

        tcp_info info{};
        info.tcpi_state = TCP_ESTABLISHED;
        socklen_t size = sizeof(info);
        if (!accepted && ::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
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
        if (read_ != nullptr) {
            WriteNotifier()->setEnabled(true);
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

    void ArmAccept() {
        if (listening_) {
            ArmRead();
        }
    }

    // After a send that would have blocked: FD_WRITE once there is room again.
    void ArmWrite() {
        if (read_ != nullptr && !retired_ && established_) {
            WriteNotifier()->setEnabled(true);
        }
    }

    std::atomic<bool> retired_{false};

private:
    friend class Notifier;

    QSocketNotifier* WriteNotifier() {
        if (write_ == nullptr) {
            write_ = new Notifier(fd_, QSocketNotifier::Write, this, &Watcher::OnWritable);
        }
        return write_;
    }

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
    QSocketNotifier* read_ = nullptr;  // made by Start
    QSocketNotifier* write_ = nullptr; // made when first enabled
    bool connecting_ = false;
    bool established_ = false;
    bool listening_ = false;
    bool closeSent_ = false;
};

Notifier::Notifier(SOCKET fd, Type type, Watcher* watcher, Handler handler)
    : QSocketNotifier(type, watcher), watcher_(watcher), handler_(handler) {
    setSocket(fd); // disabled until armed
}

bool Notifier::event(QEvent* e) {
    if (e->type() == QEvent::SockAct) {
        (watcher_->*handler_)();
        return true;
    }
    return QSocketNotifier::event(e);
}

struct Registry {
    std::mutex lock;
    std::unordered_map<SOCKET, Watcher*> watchers;
    std::unordered_map<SOCKET, SharedListener*> shared; // listening sockets with AcceptWaits
    std::unordered_set<SOCKET> accepted; // accepted sockets not yet watched or closed
};

Registry& Watchers() {
    static auto* registry = new Registry; // never destroyed: lookups may finish at exit
    return *registry;
}

// Notes a socket just accepted, for its first WSAAsyncSelect.
SOCKET NoteAccepted(SOCKET fd) {
    Registry& registry = Watchers();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.accepted.insert(fd);
    return fd;
}

bool OnOwnThread(const QObject* object) {
    return object->thread() == QThread::currentThread();
}

// Runs `action` on the watcher's thread: at once when that is this thread, otherwise queued
// (dropped if the watcher goes away first). Called with the registry locked; on the watcher's
// own thread the lock is released first, so that other threads' sockets are not held up by this
// one's notifier changes: a watcher is deleted only on its own thread, so it stays valid.
template <typename Action>
void RunOn(std::unique_lock<std::mutex>& registryLock, Watcher* watcher, Action action) {
    if (OnOwnThread(watcher)) {
        registryLock.unlock();
        action(watcher);
    } else {
        QMetaObject::invokeMethod(
            watcher, [watcher, action] { action(watcher); }, Qt::QueuedConnection);
    }
}

// Runs `action` for the socket's watcher; false when the socket has none.
template <typename Action> bool WithWatcher(SOCKET s, Action action) {
    Registry& registry = Watchers();
    std::unique_lock<std::mutex> guard(registry.lock);
    const auto found = registry.watchers.find(s);
    if (found == registry.watchers.end()) {
        return false;
    }
    RunOn(guard, found->second, action);
    return true;
}

// Takes the socket's watcher out of the registry; returns it when the caller is to delete it
// (on its own thread, once the registry is unlocked), otherwise its thread deletes it.
Watcher* RetireLocked(Registry& registry, SOCKET s) {
    const auto found = registry.watchers.find(s);
    if (found == registry.watchers.end()) {
        return nullptr;
    }
    Watcher* watcher = found->second;
    registry.watchers.erase(found);
    watcher->retired_ = true;
    if (OnOwnThread(watcher)) {
        return watcher;
    }
    watcher->deleteLater();
    return nullptr;
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
    return NoteAccepted(fd);
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

SharedListener::SharedListener(SOCKET listening) : listening_(listening) {
    own_ = ::fcntl(listening, F_DUPFD_CLOEXEC, 0);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (Valid()) {
        Registry& registry = Watchers();
        std::lock_guard<std::mutex> guard(registry.lock);
        registry.shared[listening] = this;
    }
}

SharedListener::~SharedListener() {
    {
        Registry& registry = Watchers();
        std::lock_guard<std::mutex> guard(registry.lock);
        const auto found = registry.shared.find(listening_);
        if (found != registry.shared.end() && found->second == this) {
            registry.shared.erase(found);
        }
    }
    if (own_ >= 0) {
        ::close(own_);
    }
    if (stop_ >= 0) {
        ::close(stop_);
    }
}

void SharedListener::Stop() {
    if (stop_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one); // never read
    }
}

AcceptWait::AcceptWait(const SharedListener& listener) : listener_(listener) {
    if (!listener.Valid()) {
        return;
    }
    poll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (poll_ < 0) {
        return;
    }
    // Exclusive: a connection wakes one of the threads waiting for it, not all of them.
    epoll_event incoming{};
    incoming.events = EPOLLIN | EPOLLEXCLUSIVE;
    incoming.data.fd = listener.own_;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = listener.stop_;
    if (::epoll_ctl(poll_, EPOLL_CTL_ADD, listener.own_, &incoming) != 0 ||
        ::epoll_ctl(poll_, EPOLL_CTL_ADD, listener.stop_, &stop) != 0) {
        ::close(poll_);
        poll_ = -1;
    }
}

AcceptWait::~AcceptWait() {
    if (poll_ >= 0) {
        ::close(poll_);
    }
}

AcceptWait::Outcome AcceptWait::Next(int timeoutMs, SOCKET& accepted, sockaddr_in& peer) {
    accepted = INVALID_SOCKET;
    if (poll_ < 0) {
        lastError = WSAENOTSOCK;
        return Outcome::Failed;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        epoll_event events[2];
        const int n = ::epoll_wait(poll_, events, 2, left > 0 ? static_cast<int>(left) : 0);
        if (n < 0 && errno != EINTR) {
            SetError(errno);
            return Outcome::Failed;
        }
        bool incoming = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == listener_.stop_) {
                return Outcome::Stopped;
            }
            incoming = true;
        }
        if (incoming) {
            socklen_t size = sizeof peer;
            const int fd = ::accept4(listener_.own_, reinterpret_cast<sockaddr*>(&peer), &size,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                accepted = NoteAccepted(fd);
                return Outcome::Accepted;
            }
            switch (errno) {
            case EAGAIN:
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                break; // taken by another thread, or gone before it was accepted: wait on
            default:
                SetError(errno);
                return Outcome::Failed;
            }
        }
        if (n == 0 && Clock::now() >= deadline) {
            return Outcome::TimedOut;
        }
    }
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
