#include "platform/SharedListener.h"

#include "platform/linux/SocketWatcher.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace kairelon::sock {

SharedListener::SharedListener(SOCKET listening) : listening_(listening) {
    own_ = ::fcntl(listening, F_DUPFD_CLOEXEC, 0);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (Valid()) {
        detail::Registry& registry = detail::Watchers();
        std::lock_guard<std::mutex> guard(registry.lock);
        registry.shared[listening] = this;
    }
}

SharedListener::~SharedListener() {
    {
        detail::Registry& registry = detail::Watchers();
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
        WSASetLastError(WSAENOTSOCK);
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
            WSASetLastError(WSAErrorFromErrno(errno));
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
                accepted = detail::NoteAccepted(fd);
                return Outcome::Accepted;
            }
            switch (errno) {
            case EAGAIN:
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                break; // taken by another thread, or gone before it was accepted: wait on
            default:
                WSASetLastError(WSAErrorFromErrno(errno));
                return Outcome::Failed;
            }
        }
        if (n == 0 && Clock::now() >= deadline) {
            return Outcome::TimedOut;
        }
    }
}

} // namespace kairelon::sock
