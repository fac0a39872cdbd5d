// `TNMGeneralServer`: the server component of the network library.
//
// A listening socket component that serves every accepted connection with a fresh instance of
// its own class on a thread of its own. After `Loaded` it listens on `Port` (on every local
// address, or on `ListenAddress`); each incoming connection is accepted on the listening
// thread and handed to a connection thread, which creates the per-connection instance (its
// hidden window and timer live on that thread), gives it the accepted socket, lists it in
// `ClientList` while its `Serve` runs, and destroys it. A derived server puts its conversation
// in `Serve` and says how to make an instance of its class in `InstanceMaker`. `Abort` (and the
// listening component's time-out) cancels every connection being served; the destructor does
// that and waits until every connection thread has finished.
//
// A connection thread serves one connection at a time; when it is done it waits a moment
// (`IdleThreadMs`) for the next accepted connection before it ends, so a busy server does not
// start a thread per connection; while it waits it already holds the next connection's instance,
// so making one does not delay an answer. Connections that arrive together always get threads
// of their own. The listening component itself is used on the thread that created it, like every
// socket component; the connection threads touch it only through `ClientList` and the hand-over
// queue, both locked. Exceptions inside a connection end that connection and are reported to
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

    // Called for each incoming connection (OnAccept): accepts it and starts its thread.
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

    // Available to derived servers; the base class never fires it.
    TNotifyEvent OnClientContact;
    // In a per-connection instance: the listening server that created it (nullptr in the
    // listening server itself).
    TNMGeneralServer* Server = nullptr;

    // Connections accepted and not yet finished.
    int ActiveConnections();
    // Connection threads alive (serving or waiting for the next connection).
    int ConnectionThreads();
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
    void ConnectionThread(); // serves queued connections until idle or stopping
    // Serves one connection with the given instance (nullptr: a new one), then frees both.
    void Dispatch(TDispatch* data, TNMGeneralServer* instance);
    void ConnectionEnded();

    TInstanceMaker maker_; // set by Loaded, unchanged afterwards
    std::mutex activeMutex_;
    std::condition_variable activeDone_; // active_ or threads_ dropped
    std::condition_variable work_;       // a connection was queued, or stopping_
    std::deque<TDispatch*> pending_;     // accepted, waiting for a connection thread
    int active_ = 0;                     // connections accepted and not yet finished
    int threads_ = 0;                    // connection threads alive
    int idle_ = 0;                       // connection threads waiting for work
    bool stopping_ = false; // the destructor runs: connections are cancelled, threads end
};

} // namespace kairelon
