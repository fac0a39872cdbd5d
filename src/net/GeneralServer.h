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
// How the connections reach their threads (a pool of connection threads that also take
// connections from the listening socket themselves) is net/ConnectionPool.h. The listening
// component itself is used on the thread that created it, like every socket component; the
// connection threads touch it only through `ClientList` and the pool. Exceptions inside a
// connection end that connection and are reported to nobody.
#pragma once

#include "net/Powersock.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kairelon {

class TConnectionPool;
struct TDispatch;

class TNMGeneralServer : public TPowersock {
public:
    explicit TNMGeneralServer(TComponent* AOwner = nullptr);
    ~TNMGeneralServer() override;

    // Starts listening: OnAccept := ServerAccept, Listen(false). Raises ESockError when the
    // address cannot be bound (in use: 10048, not permitted: 10013) or listened on.
    void Loaded() override;
    void Connect() override {} // a server does not connect
    // Cancels every connection being served; the server's own Canceled stays as it is.
    void Abort() override;

    // Called for an incoming connection (OnAccept): accepts it and hands it to a connection
    // thread, unless a connection thread waiting on the listening socket takes it itself.
    void ServerAccept(TObject* Sender);
    // Serves one accepted connection on the calling connection thread with the given instance
    // of the server's class (nullptr: none could be made, the connection is closed), then frees
    // both.
    void DisPatchResponse(TDispatch* data, TNMGeneralServer* instance);
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
    // The most connections served at once and connection threads alive (0: no limit); set
    // before Loaded. Each costs descriptors (its socket, its thread's event loop), so a server
    // under a descriptor limit keeps within it: beyond it the next connections wait in the
    // system's queue until one ends.
    int MaxConnections = 0;
    // How long the listening component stops taking connections after an accept failed (out
    // of descriptors, for one), instead of failing again at once; milliseconds.
    int AcceptBackOffMs = 100;

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
    std::unique_ptr<TConnectionPool> pool_; // made by Loaded
    std::unique_ptr<QTimer> acceptBackOff_; // brings the accept notifications back
};

} // namespace kairelon
