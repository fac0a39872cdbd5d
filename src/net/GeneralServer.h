// `TNMGeneralServer`: the server component of the network library.
//
// A listening socket component that serves every accepted connection with a fresh instance of
// its own class on a thread of its own. After `Loaded` it listens on `Port` (on every local
// address, or on `ListenAddress`); each incoming connection is accepted on the listening
// thread, then a new thread creates the per-connection instance (its hidden window and timer
// live on that thread), hands it the accepted socket, lists it in `ClientList` while its
// `Serve` runs, and destroys it. A derived server puts its conversation in `Serve` and says
// how to make an instance of its class in `NewInstance`. `Abort` (and the listening
// component's time-out) cancels every connection being served; the destructor does that and
// waits until every connection thread has finished.
//
// The listening component itself is used on the thread that created it, like every socket
// component; the connection threads touch it only through `ClientList`, which is locked.
// Exceptions inside a connection thread end that connection and are reported to nobody.
#pragma once

#include "net/Powersock.h"

#include <condition_variable>
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
    // Cancels every connection being served; the server's own Canceled stays as it is.
    void Abort() override;

    // Called for each incoming connection (OnAccept): accepts it and starts its thread.
    void ServerAccept(TObject* Sender);
    // The connection thread: data is the accepted connection handed over by ServerAccept.
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

    // Available to derived servers; the base class never fires it.
    TNotifyEvent OnClientContact;
    // In a per-connection instance: the listening server that created it (nullptr in the
    // listening server itself).
    TNMGeneralServer* Server = nullptr;

    // Connection threads started and not yet finished.
    int ActiveConnections();

protected:
    // A new instance of the server's own class, created on the connection thread. A derived
    // server overrides this to create its own class and copy what its Serve needs.
    virtual TNMGeneralServer* NewInstance(TComponent* AOwner);

private:
    struct TDispatch;
    void ConnectionEnded();

    std::mutex activeMutex_;
    std::condition_variable activeDone_;
    int active_ = 0;        // connection threads running
    bool stopping_ = false; // the destructor runs: new connections are cancelled at once
};

} // namespace kairelon
