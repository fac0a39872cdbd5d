// Threads that take a listening socket's connections without its window.
//
// A server whose connections are served by worker threads lets those threads accept them too,
// each in a wait of its own, so that a connection never waits for the window's thread. This
// module owns the waits' own descriptors (a duplicate of the listening socket and a stop
// event); it does not own the listening socket, which the sockets layer (platform/Sockets.h)
// makes and closes.
#pragma once

#include "platform/Sockets.h"

#include <netinet/in.h>

namespace kairelon::sock {

// A listening socket whose incoming connections other threads may also take, each waiting in
// an `AcceptWait` of its own, without notifications and without the window's thread: the
// kernel wakes one waiting thread per connection, never one that is busy elsewhere. The
// socket's own notifications stay as they are (the window's thread is woken too while it
// watches for FD_ACCEPT). `closesocket` of the listening socket ends every wait for good, as it
// stops the listening on every system; so does `Stop`.
class SharedListener {
public:
    explicit SharedListener(SOCKET listening);
    ~SharedListener();
    SharedListener(const SharedListener&) = delete;
    SharedListener& operator=(const SharedListener&) = delete;

    bool Valid() const { return own_ >= 0 && stop_ >= 0; } // false: no thread can wait on it
    SOCKET Listening() const { return listening_; }
    void Stop(); // every wait, present or future, returns Stopped

private:
    friend class AcceptWait;
    SOCKET listening_;
    int own_ = -1;  // the waits' own descriptor of the socket: never reused while they use it
    int stop_ = -1; // readable once stopped
};

class AcceptWait {
public:
    explicit AcceptWait(const SharedListener& listener); // one per thread
    ~AcceptWait();
    AcceptWait(const AcceptWait&) = delete;
    AcceptWait& operator=(const AcceptWait&) = delete;

    bool Usable() const { return poll_ >= 0; } // false: the system gave no means to wait

    enum class Outcome { Accepted, TimedOut, Stopped, Failed };
    // Waits up to timeoutMs for an incoming connection and accepts it (a non-blocking socket,
    // as `accept` gives). Failed: the socket no longer listens or cannot accept (the error is
    // WSAGetLastError's).
    Outcome Next(int timeoutMs, SOCKET& accepted, sockaddr_in& peer);

private:
    const SharedListener& listener_;
    int poll_ = -1;
};

} // namespace kairelon::sock
