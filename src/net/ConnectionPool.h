// What makes the server component fast, kept out of the components' own headers: the
// connection-thread pool of a listening `TNMGeneralServer`, the scratch block each thread keeps
// for its next socket component, and the per-thread "no first socket" flag.
//
// The pool's state, all under its lock:
// - `active_`: connections accepted and not yet finished (queued, or being served);
// - `threads_`: connection threads alive, serving or waiting for the next connection;
// - `idle_`: connection threads waiting for a hand-over from the listening thread;
// - `watching_`: connection threads waiting on the listening socket itself;
// - `pending_`: connections the listening thread accepted, waiting for a connection thread;
// - `listenerResting_`: the listening thread left an FD_ACCEPT to the watching threads, so the
//   listening socket's notification stays off until no thread watches any more;
// - `stopping_`: the server is being destroyed; every connection is cancelled and every thread
//   ends.
// A connection comes in by one of two routes. (1) A connection thread waiting on the listening
// socket (`watching_` > 0) takes it itself: the system wakes one such thread per connection and
// no hand-over is needed; the thread that took it starts another watcher when none is left.
// (2) When no thread watches (the first connection, and after the threads have ended), the
// listening thread accepts on its FD_ACCEPT (`ListenerTakes`, then `Queue`), queues the
// connection in `pending_` and starts a thread when there are fewer idle threads than queued
// connections. A thread that finishes a connection waits `IdleThreadMs` for the next one before
// it ends; while it waits it already holds the next connection's instance.
// With the server's `MaxConnections` set, no thread is started beyond that many, and the
// listening thread takes no connection while that many are active (`listenerFull_`): it lets
// the notification rest until a connection ends.
#pragma once

#include "net/Component.h"
#include "platform/SharedListener.h"
#include "platform/Sockets.h"

#include <netinet/in.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kairelon {

class TNMGeneralServer;

// One scratch block of each thread is kept when its component goes, for the next component made
// on that thread: a server makes a component per connection, and handing 64 KiB back to the heap
// and taking it again each time costs more than the rest of a connection's own bookkeeping.
char* TakeKeptScratch(std::size_t bytes);         // nullptr when none of that size is kept
bool KeepScratch(char* block, std::size_t bytes); // false: not kept, the caller frees it

// While alive, the next socket component constructed on this thread starts without a socket of
// its own (SocketHandle stays INVALID_SOCKET) instead of making one. For a server that gives
// each new instance an accepted socket at once: making, watching and closing a socket nobody
// uses costs a noticeable part of a short connection. Only the first component constructed
// consumes it; components that one makes get their sockets.
class TNoFirstSocket {
public:
    TNoFirstSocket();
    ~TNoFirstSocket();
    TNoFirstSocket(const TNoFirstSocket&) = delete;
    TNoFirstSocket& operator=(const TNoFirstSocket&) = delete;
};
// Called by every socket component's constructor: whether it is to start without a socket
// (and clears the flag).
bool TakeNoFirstSocket();

// An accepted connection on its way to the instance that serves it. Everything the connection
// needs from the listening component is copied here on the listening thread, so the
// connection thread never reads fields that belong to another thread.
struct TDispatch {
    sock::SOCKET Socket = sock::INVALID_SOCKET;
    sockaddr_in Peer{};
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
};

// The connection threads of one listening server (see the state description above).
class TConnectionPool {
public:
    using TInstanceMaker = std::function<TNMGeneralServer*()>;

    // `maker`, `onConnect` and `onDisconnect` are the server's as it started listening; the
    // maker runs on the connection threads and must not use the server.
    TConnectionPool(TNMGeneralServer& server, sock::SOCKET listening, TInstanceMaker maker,
                    TNotifyEvent onConnect, TNotifyEvent onDisconnect);
    ~TConnectionPool(); // calls Stop
    TConnectionPool(const TConnectionPool&) = delete;
    TConnectionPool& operator=(const TConnectionPool&) = delete;

    // Route (2): the listening socket announced a connection. False when a watching thread
    // takes it (the listening thread then does not accept); true when the caller is to accept
    // it and hand it over with `Queue`.
    bool ListenerTakes();
    // Hands a connection the listening thread accepted to a connection thread.
    void Queue(sock::SOCKET socket, const sockaddr_in& peer);
    // Lists a connection's instance in the server's ClientList while it is served (cancelled at
    // once when the server is stopping); true when it was listed.
    bool List(TNMGeneralServer* instance);
    // Cancels every connection (the server's Abort), ends the waits and waits until every
    // connection thread has finished. Called on the server's thread; later calls do nothing.
    void Stop();

    int Active();
    int Threads();
    int Watching();

private:
    void ConnectionThread();
    bool StartConnectionThread(); // threads_ already counts it; false when none could start
    // Waits on the listening socket for the next connection; nullptr when none came. Called
    // and returns with `lock` held.
    TDispatch* TakeConnection(sock::AcceptWait& wait, std::unique_lock<std::mutex>& lock);
    void WakeListenerIfAlone();  // called locked
    bool MayStartThread() const; // called locked: within the server's MaxConnections
    TDispatch* NewDispatch(sock::SOCKET socket, const sockaddr_in& peer) const;
    void ConnectionEnded();

    TNMGeneralServer& server_;
    const TInstanceMaker maker_;
    const TNotifyEvent onConnect_, onDisconnect_;
    std::unique_ptr<sock::SharedListener> shared_; // null: every connection is handed over
    std::mutex lock_;
    std::condition_variable done_; // active_ or threads_ dropped
    std::condition_variable work_; // a connection was queued, or stopping_
    std::deque<TDispatch*> pending_;
    int active_ = 0;
    int threads_ = 0;
    int idle_ = 0;
    int watching_ = 0;
    bool listenerResting_ = false;
    bool listenerFull_ = false; // FD_ACCEPT left unanswered at MaxConnections
    bool stopping_ = false;
    const sock::SOCKET listening_;
};

} // namespace kairelon
