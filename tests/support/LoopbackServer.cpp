#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace kairelon::test {

LoopbackServer::LoopbackServer(Session session, int backlog, bool paused)
    : session_(std::move(session)), paused_(paused) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, backlog) != 0) {
        throw std::runtime_error("loopback server: cannot listen");
    }
    socklen_t size = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::runtime_error("loopback server: no pipe");
    }
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wake_[1], &byte, 1);
    thread_.join();
    std::vector<std::thread> sessions;
    {
        std::lock_guard<std::mutex> guard(lock_);
        sessions.swap(sessions_);
    }
    for (std::thread& t : sessions) {
        t.join();
    }
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void LoopbackServer::Resume() {
    paused_ = false;
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(wake_[1], &byte, 1);
}

bool LoopbackServer::SleepUnlessStopping(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return true;
        }
        pollfd p{wake_[0], POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return false;
}

void LoopbackServer::Run() {
    for (;;) {
        pollfd p[2] = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        ::poll(p, paused_ ? 1 : 2, -1);
        if (stopping_) {
            return;
        }
        if (p[0].revents & POLLIN) {
            char byte = 0;
            if (::read(wake_[0], &byte, 1) == 1 && byte != 0) {
                return;
            }
        }
        if (paused_ || !(p[1].revents & POLLIN)) {
            continue;
        }
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++accepted_;
        std::lock_guard<std::mutex> guard(lock_);
        sessions_.emplace_back([this, fd] {
            session_(fd, *this);
            ::close(fd);
        });
    }
}

void LoopbackServer::SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

LoopbackServer::Session LoopbackServer::SendAndClose(std::string text) {
    return [text](int fd, LoopbackServer&) { SendAll(fd, text); };
}

LoopbackServer::Session LoopbackServer::CloseAtOnce() {
    return [](int, LoopbackServer&) {};
}

LoopbackServer::Session LoopbackServer::NeverSend() {
    return [](int, LoopbackServer& server) { server.SleepUnlessStopping(60000); };
}

LoopbackServer::Session LoopbackServer::SendInPieces(std::string first, int pauseMs,
                                                     std::string second) {
    return [first, pauseMs, second](int fd, LoopbackServer& server) {
        SendAll(fd, first);
        if (server.SleepUnlessStopping(pauseMs)) {
            SendAll(fd, second);
        }
    };
}

LoopbackServer::Session LoopbackServer::SendWaitClose(std::string text, int waitMs) {
    return [text, waitMs](int fd, LoopbackServer& server) {
        SendAll(fd, text);
        server.SleepUnlessStopping(waitMs);
    };
}

RefusedPort::RefusedPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
}

RefusedPort::~RefusedPort() {
    ::close(fd_);
}

} // namespace kairelon::test
