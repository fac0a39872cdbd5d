// `TNMGeneralServer`: the server component of the network library.
//
// A listening socket component that serves every accepted connection with a fresh instance of
// its own class on a thread of its own. After `Loaded` it listens on `Port` (on every local
// address, or on `ListenAddress`); an incoming connection is accepted and served by a
// connection thread, which creates the per-connection instance (its hidden window and timer live
// on that thread), gives it the accepted socket, lists it in `ClientList` while its `Serve` runs,
// and destroys it. A derived server puts its conversation in `Serve` and says how to make an
// instance of its class in `InstanceMaker`. `Abort` (and the listening component's time-out)
// cancels every connection being served; the destructor does that and waits until every
// connection thread has finished.
//
// A connection thread serves one connection at a time; when it is done it waits a moment
// (`IdleThreadMs`) for the next connection before it ends, so a busy server does not start a
// thread per connection; while it waits it already holds the next connection's instance, so
// making one does not delay an answer. Waiting connection threads take incoming connections
// from the listening socket themselves (the system wakes one of them per connection), so an
// answer does not wait for a hand-over between threads. The listening thread accepts only when
// no connection thread waits: the first connection, and after the threads have ended; it then
// hands the connection to a new thread. A thread that takes the connection while no other
// thread waits starts one, so connections that arrive together always get threads of their own.
// The listening component itself is used on the thread that created it, like every socket
// component; the connection threads touch it only through `ClientList` and the locked
// hand-over state. Exceptions inside a connection end that connection and are reported to
// nobody.
#pragma once

#include "net/Powersock.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kairelon {

class TNMGeneralServer : public TPowersock {
public:
    explicit TNMGeneralServer(TComponent* AOwner = nullptr);
    ~TNMGeneralServer() override;

    // Starts listening: OnAccept := ServerAccept, Listen(false). Raises ESockError when the
    // address cannot be bound (in use: 10048, not permitted: 10013) or listened on.
    void Loaded() override;
    void Connect() override {} // a server does not connect
    // Accepts the connection announced to the listening socket, as the socket component does,
    // but leaves the new socket's notifications to the connection's own instance: sent to the
    // listening component, its close would close the listening socket.
    sock::SOCKET Accept() override;
    // Cancels every connection being served; the server's own Canceled stays as it is.
    void Abort() override;

    // Called for an incoming connection (OnAccept): accepts it and starts its thread, unless a
    // connection thread waits for it (the listening socket's FD_ACCEPT then stays off until
    // no thread waits any more).
    void ServerAccept(TObject* Sender);
    // Serves one accepted connection (data, handed over by ServerAccept) on the calling
    // connection thread.
    void DisPatchResponse(void* data);
    // The conversation with one client, run on its connection thread by the per-connection
    // instance; the base class does nothing.
    virtual void Serve() {}

    // Connections being served, listed while their Serve runs. Absent (nullptr) when the
    // owner is itself a server.
    class TClientList {
    public:
        std::vector<TNMGeneralServer*> LockList(); // a snapshot, taken under the lock
        int Count();
        void Add(TNMGeneralServer* client);
        void Remove(TNMGeneralServer* client);
        template <typename F> void ForEachLocked(F f) {
            std::lock_guard lock(mutex_);
            for (TNMGeneralServer* c : items_) {
                f(c);
            }
        }

    private:
        std::mutex mutex_;
        std::vector<TNMGeneralServer*> items_;
    };
    std::unique_ptr<TClientList> ClientList;

    // The handlers OnConnect and OnDisconnect each instance gets are those of the listening
    // server when it started listening (Loaded).

    // Available to derived servers; the base class never fires it.
    TNotifyEvent OnClientContact;
    // In a per-connection instance: the listening server that created it (nullptr in the
    // listening server itself).
    TNMGeneralServer* Server = nullptr;

    // Connections accepted and not yet finished.
    int ActiveConnections();
    // Connection threads alive (serving or waiting for the next connection).
    int ConnectionThreads();
    // Connection threads waiting on the listening socket for the next connection.
    int WaitingThreads();
    // How long an idle connection thread waits for the next connection; milliseconds.
    int IdleThreadMs = 2000;

    // Makes an instance of the server's own class; runs on a connection thread.
    using TInstanceMaker = std::function<TNMGeneralServer*()>;

protected:
    // How connection threads make instances of the server's own class. Called once, on the
    // listening thread, when listening starts (Loaded); the maker it returns runs on the
    // connection threads, possibly while this object is being destroyed, so it must carry
    // copies of what the instances need and never use this object. A derived server overrides
    // it to make its own class.
    virtual TInstanceMaker InstanceMaker();

private:
    struct TDispatch;
    // Serves connections (handed over, or taken from the listening socket) until idle or
    // stopping.
    void ConnectionThread();
    // Starts a connection thread; threads_ already counts it. False when none could start.
    bool StartConnectionThread();
    // Waits on the listening socket for the next connection; nullptr when none came. Called and
    // returns with `lock` held.
    TDispatch* TakeConnection(sock::AcceptWait& wait, std::unique_lock<std::mutex>& lock);
    // Called locked: when no connection thread waits on the listening socket and the listening
    // thread left a connection to them, the listening thread accepts again.
    void WakeListenerIfAlone();
    TDispatch* NewDispatch(sock::SOCKET socket, const sockaddr_in& peer) const;
    // Serves one connection with the given instance (nullptr: a new one), then frees both.
    void Dispatch(TDispatch* data, TNMGeneralServer* instance);
    void ConnectionEnded();

    TInstanceMaker maker_;                            // set by Loaded, unchanged afterwards
    TNotifyEvent connectHandler_, disconnectHandler_; // set by Loaded, unchanged afterwards
    std::unique_ptr<sock::SharedListener> shared_;    // set by Loaded; null: only handed over
    std::mutex activeMutex_;
    std::condition_variable activeDone_; // active_ or threads_ dropped
    std::condition_variable work_;       // a connection was queued, or stopping_
    std::deque<TDispatch*> pending_;     // accepted, waiting for a connection thread
    int active_ = 0;                     // connections accepted and not yet finished
    int threads_ = 0;                    // connection threads alive
    int idle_ = 0;                       // connection threads waiting for a hand-over
    int watching_ = 0;                   // connection threads waiting on the listening socket
    bool listenerResting_ = false;       // the listening thread left an FD_ACCEPT to them
    bool stopping_ = false; // the destructor runs: connections are cancelled, threads end
};

} // namespace kairelon
