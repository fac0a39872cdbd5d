// A TCP server on 127.0.0.1 (ephemeral port) for tests of network clients: each accepted
// connection runs a session function on a thread of its own with a plain blocking socket.
// Sessions that wait use `SleepUnlessStopping`, so the destructor ends them promptly.
// `Pause` stops accepting (connections then queue in the backlog); `RefusedPort` holds a port
// on which nothing listens.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kairelon::test {

class LoopbackServer {
public:
    using Session = std::function<void(int fd, LoopbackServer& server)>;

    explicit LoopbackServer(Session session, int backlog = 16, bool paused = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    int Accepted() const { return accepted_.load(); }
    void Pause() { paused_ = true; }
    void Resume();

    // Sleeps up to `ms`; false when the server is stopping.
    bool SleepUnlessStopping(int ms);

    // Session helpers.
    static void SendAll(int fd, const std::string& bytes);
    static Session SendAndClose(std::string text);
    static Session CloseAtOnce();
    static Session NeverSend();
    static Session SendInPieces(std::string first, int pauseMs, std::string second);
    static Session SendWaitClose(std::string text, int waitMs);

private:
    void Run();

    Session session_;
    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> paused_{false};
    std::atomic<int> accepted_{0};
    std::mutex lock_;
    std::vector<std::thread> sessions_;
    std::thread thread_;
};

// A port on 127.0.0.1 that is bound but not listening while the object lives: connections to
// it are refused, and no other test can take it meanwhile.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace kairelon::test
