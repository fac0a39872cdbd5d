#include "platform/linux/SocketWatcher.h"

#include <QEvent>

#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace kairelon::sock::detail {

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

void Watcher::Start(bool accepted) {
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

QSocketNotifier* Watcher::WriteNotifier() {
    if (write_ == nullptr) {
        write_ = new Notifier(fd_, QSocketNotifier::Write, this, &Watcher::OnWritable);
    }
    return write_;
}

void Watcher::Post(long event, int error) {
    PostMessage(window_, message_, static_cast<WPARAM>(fd_), WSAMAKESELECTREPLY(event, error));
}

void Watcher::OnReadable() {
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

void Watcher::OnWritable() {
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

Registry& Watchers() {
    static auto* registry = new Registry; // never destroyed: lookups may finish at exit
    return *registry;
}

SOCKET NoteAccepted(SOCKET fd) {
    Registry& registry = Watchers();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.accepted.insert(fd);
    return fd;
}

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

} // namespace kairelon::sock::detail
