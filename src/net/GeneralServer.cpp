#include "net/GeneralServer.h"

#include "framework/Messages.h"
#include "net/SimpleThread.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <chrono>
#include <optional>

namespace kairelon {

// What the listening thread hands to a connection thread. Everything the connection needs
// from the listening component is copied here on the listening thread, so the connection
// thread never reads fields that belong to another thread.
struct TNMGeneralServer::TDispatch {
    sock::SOCKET Socket = sock::INVALID_SOCKET;
    sockaddr_in Peer{};
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
};

std::vector<TNMGeneralServer*> TNMGeneralServer::TClientList::LockList() {
    std::lock_guard lock(mutex_);
    return items_;
}

int TNMGeneralServer::TClientList::Count() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(items_.size());
}

void TNMGeneralServer::TClientList::Add(TNMGeneralServer* client) {
    std::lock_guard lock(mutex_);
    items_.push_back(client);
}

void TNMGeneralServer::TClientList::Remove(TNMGeneralServer* client) {
    std::lock_guard lock(mutex_);
    items_.erase(std::remove(items_.begin(), items_.end(), client), items_.end());
}

TNMGeneralServer::TNMGeneralServer(TComponent* AOwner) : TPowersock(AOwner) {
    if (dynamic_cast<TNMGeneralServer*>(AOwner) == nullptr) {
        ClientList = std::make_unique<TClientList>();
    }
}

TNMGeneralServer::~TNMGeneralServer() {
    MarkDestroying();
    {
        std::lock_guard lock(activeMutex_);
        stopping_ = true;
    }
    work_.notify_all();
    if (shared_) {
        shared_->Stop();
    }
    Abort();
    // Every connection thread uses ClientList and this object until its last step; wait for
    // them. The connections were all cancelled, and one that had not listed itself yet is
    // cancelled as it does (stopping_); idle threads end at once.
    std::unique_lock lock(activeMutex_);
    activeDone_.wait(lock, [this] { return active_ == 0 && threads_ == 0; });
    lock.unlock();
    shared_.reset();
    ClientList.reset();
}

TNMGeneralServer::TInstanceMaker TNMGeneralServer::InstanceMaker() {
    return [] { return new TNMGeneralServer(nullptr); };
}

void TNMGeneralServer::Loaded() {
    TPowersock::Loaded();
    if (!Designing()) {
        maker_ = InstanceMaker();
        connectHandler_ = OnConnect;
        disconnectHandler_ = OnDisconnect;
        OnAccept = [this](TObject* Sender) { ServerAccept(Sender); };
        Listen(false);
        // Without it (the system refused a descriptor) every connection is handed over.
        auto shared = std::make_unique<sock::SharedListener>(SocketHandle);
        if (shared->Valid()) {
            shared_ = std::move(shared);
        }
    }
}

void TNMGeneralServer::Abort() {
    StatusMessage(8, "Abort");
    if (ClientList) {
        ClientList->ForEachLocked([](TNMGeneralServer* client) { client->Cancel(); });
    }
}

int TNMGeneralServer::ActiveConnections() {
    std::lock_guard lock(activeMutex_);
    return active_;
}

int TNMGeneralServer::ConnectionThreads() {
    std::lock_guard lock(activeMutex_);
    return threads_;
}

int TNMGeneralServer::WaitingThreads() {
    std::lock_guard lock(activeMutex_);
    return watching_;
}

sock::SOCKET TNMGeneralServer::Accept() {
    sockaddr_in peer{};
    const sock::SOCKET accepted = AcceptPending(peer);
    RemoteAddress = peer;
    return accepted;
}

void TNMGeneralServer::ServerAccept(TObject* /*Sender*/) {
    {
        std::lock_guard lock(activeMutex_);
        if (watching_ > 0 && !stopping_) {
            // A connection thread waiting on the socket takes this connection. Not accepting
            // leaves the notification off (the next FD_ACCEPT comes after an accept), so this
            // thread is not woken again for every connection; the last thread to stop waiting
            // lets it come again, and one that takes a connection while no other waits starts
            // a thread that does.
            listenerResting_ = true;
            return;
        }
    }
    // Accept here, on the listening thread that owns this component, rather than in the
    // connection thread: the accept reads and writes this component's fields (its flags, its
    // remote address), and several connection threads doing so at once would race, and would
    // hand each instance whichever remote address was accepted last.
    AsyncReplied = true;
    const sock::SOCKET accepted = Accept();
    std::unique_ptr<TDispatch> dispatch(NewDispatch(accepted, RemoteAddress));

    bool startThread = false;
    {
        std::lock_guard lock(activeMutex_);
        ++active_;
        // Every queued connection needs an idle thread of its own; start one when there are
        // not enough.
        startThread = idle_ <= static_cast<int>(pending_.size());
        pending_.push_back(dispatch.release());
        if (startThread) {
            ++threads_;
        }
    }
    if (!startThread) {
        work_.notify_one();
        return;
    }
    if (!StartConnectionThread()) {
        // No thread: drop the connection this call queued (the newest).
        TDispatch* dropped = nullptr;
        {
            std::lock_guard lock(activeMutex_);
            dropped = pending_.back();
            pending_.pop_back();
        }
        sock::closesocket(dropped->Socket);
        delete dropped;
        ConnectionEnded();
    }
}

TNMGeneralServer::TDispatch* TNMGeneralServer::NewDispatch(sock::SOCKET socket,
                                                           const sockaddr_in& peer) const {
    auto* dispatch = new TDispatch;
    dispatch->Socket = socket;
    dispatch->Peer = peer;
    dispatch->OnConnect = connectHandler_;
    dispatch->OnDisconnect = disconnectHandler_;
    return dispatch;
}

bool TNMGeneralServer::StartConnectionThread() {
    try {
        ExecuteInThread(nullptr, [this](void*) { ConnectionThread(); });
        return true;
    } catch (...) {
        std::lock_guard lock(activeMutex_);
        --threads_;
        WakeListenerIfAlone();
        activeDone_.notify_all();
        return false;
    }
}

void TNMGeneralServer::WakeListenerIfAlone() {
    if (watching_ == 0 && listenerResting_ && !stopping_) {
        listenerResting_ = false;
        sock::ReenableAccept(shared_->Listening());
    }
}

TNMGeneralServer::TDispatch* TNMGeneralServer::TakeConnection(sock::AcceptWait& wait,
                                                              std::unique_lock<std::mutex>& lock) {
    ++watching_;
    lock.unlock();
    sock::SOCKET socket = sock::INVALID_SOCKET;
    sockaddr_in peer{};
    const auto outcome = wait.Next(IdleThreadMs, socket, peer);
    TDispatch* dispatch = nullptr;
    if (outcome == sock::AcceptWait::Outcome::Accepted) {
        try {
            dispatch = NewDispatch(socket, peer);
        } catch (...) {
            sock::closesocket(socket);
        }
    }
    lock.lock();
    --watching_;
    if (dispatch == nullptr) {
        WakeListenerIfAlone(); // this thread ends
        return nullptr;
    }
    ++active_;
    if (watching_ == 0 && !stopping_) {
        // While this connection is served nobody would wait for the next one: another thread
        // does, so that connections arriving together are served together.
        ++threads_;
        lock.unlock();
        StartConnectionThread();
        lock.lock();
    }
    return dispatch;
}

void TNMGeneralServer::ConnectionThread() {
    std::optional<sock::AcceptWait> wait;
    if (shared_) {
        wait.emplace(*shared_);
    }
    // The instance for the next connection is made while the thread waits, so that making it
    // (its windows, timer, buffer and first socket) does not delay the answer.
    TNMGeneralServer* prepared = nullptr;
    std::unique_lock lock(activeMutex_);
    if (wait && !wait->Usable()) {
        wait.reset(); // this thread only serves what is handed over
        WakeListenerIfAlone();
    }
    for (;;) {
        if (prepared == nullptr && !stopping_ && maker_) {
            lock.unlock();
            try {
                TNoFirstSocket noFirstSocket; // the instance gets the accepted socket
                prepared = maker_();
            } catch (...) {
                prepared = nullptr; // made again when a connection comes
            }
            lock.lock();
        }
        TDispatch* dispatch = nullptr;
        if (!pending_.empty()) {
            dispatch = pending_.front();
            pending_.pop_front();
        } else if (wait && !stopping_) {
            dispatch = TakeConnection(*wait, lock);
        } else if (!stopping_) {
            ++idle_;
            work_.wait_for(lock, std::chrono::milliseconds(IdleThreadMs),
                           [this] { return !pending_.empty() || stopping_; });
            --idle_;
            if (!pending_.empty()) {
                continue;
            }
        }
        if (dispatch == nullptr) {
            if (!pending_.empty()) {
                continue; // handed over while this thread waited on the socket
            }
            break; // idle too long, or stopping
        }
        lock.unlock();
        Dispatch(dispatch, prepared);
        prepared = nullptr;
        // Objects the connection's instance left for deferred deletion belong to this
        // thread; delete them before waiting, not when the thread ends.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        lock.lock();
    }
    lock.unlock();
    delete prepared;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    lock.lock();
    // The last use of this object by this thread.
    --threads_;
    activeDone_.notify_all();
}

void TNMGeneralServer::DisPatchResponse(void* data) {
    Dispatch(static_cast<TDispatch*>(data), nullptr);
}

void TNMGeneralServer::Dispatch(TDispatch* data, TNMGeneralServer* instance) {
    std::unique_ptr<TDispatch> dispatch(data);
    bool listed = false;
    try {
        // The instance is owned by this thread alone: an owner on another thread could free
        // it while it is being served.
        if (instance == nullptr) {
            TNoFirstSocket noFirstSocket; // the instance gets the accepted socket
            instance = maker_ ? maker_() : new TNMGeneralServer(nullptr);
        }
        instance->Connected = true;
        instance->RemoteAddress = dispatch->Peer;
        instance->OnConnect = dispatch->OnConnect;
        instance->OnDisconnect = dispatch->OnDisconnect;
        if (instance->SocketHandle != sock::INVALID_SOCKET) {
            instance->Close(
                instance->SocketHandle); // a maker may have made another component first
        }
        instance->SocketHandle = dispatch->Socket;
        dispatch->Socket = sock::INVALID_SOCKET;
        sock::WSAAsyncSelect(instance->SocketHandle, instance->WindowHandle, SocketNotifyMessage,
                             FirstSocketEvents);
        instance->Server = this;
        if (ClientList) {
            std::lock_guard lock(activeMutex_);
            ClientList->Add(instance);
            listed = true;
            if (stopping_) {
                instance->Cancel();
            }
        }
        instance->Serve();
    } catch (...) {
        // Ends this connection only.
    }
    if (listed) {
        ClientList->Remove(instance);
    }
    if (dispatch->Socket != sock::INVALID_SOCKET) {
        sock::closesocket(dispatch->Socket);
    }
    try {
        delete instance;
    } catch (...) {
    }
    ConnectionEnded();
}

void TNMGeneralServer::ConnectionEnded() {
    std::lock_guard lock(activeMutex_);
    --active_;
    activeDone_.notify_all();
}

} // namespace kairelon
