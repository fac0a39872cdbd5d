#include "net/GeneralServer.h"

#include "framework/Messages.h"
#include "net/ConnectionPool.h"

#include <algorithm>

namespace kairelon {

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
    if (pool_) {
        pool_->Stop(); // cancels every connection and waits for the connection threads
    } else {
        Abort();
    }
    pool_.reset();
    acceptBackOff_.reset();
    ClientList.reset();
}

TNMGeneralServer::TInstanceMaker TNMGeneralServer::InstanceMaker() {
    return [] { return new TNMGeneralServer(nullptr); };
}

void TNMGeneralServer::Loaded() {
    TPowersock::Loaded();
    if (!Designing()) {
        OnAccept = [this](TObject* Sender) { ServerAccept(Sender); };
        Listen(false);
        pool_ = std::make_unique<TConnectionPool>(*this, SocketHandle, InstanceMaker(), OnConnect,
                                                  OnDisconnect);
    }
}

void TNMGeneralServer::Abort() {
    StatusMessage(8, "Abort");
    if (ClientList) {
        ClientList->ForEachLocked([](TNMGeneralServer* client) { client->Cancel(); });
    }
}

int TNMGeneralServer::ActiveConnections() {
    return pool_ ? pool_->Active() : 0;
}

int TNMGeneralServer::ConnectionThreads() {
    return pool_ ? pool_->Threads() : 0;
}

int TNMGeneralServer::WaitingThreads() {
    return pool_ ? pool_->Watching() : 0;
}

void TNMGeneralServer::ServerAccept(TObject* /*Sender*/) {
    if (!pool_ || !pool_->ListenerTakes()) {
        return;
    }
    // Accept here, on the listening thread that owns this component, rather than in the
    // connection thread: the accept reads and writes this component's fields (its flags, its
    // remote address), and several connection threads doing so at once would race, and would
    // hand each instance whichever remote address was accepted last.
    AsyncReplied = true;
    sock::SOCKET accepted = sock::INVALID_SOCKET;
    try {
        accepted = Accept();
    } catch (const ESockError&) {
        // Out of descriptors, typically: the connection stays in the system's queue, which
        // announces it again at once. Stop listening for announcements for a moment instead of
        // failing on every one; the connections that end meanwhile free descriptors.
        sock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage, 0);
        if (!acceptBackOff_) {
            acceptBackOff_ = std::make_unique<QTimer>();
            acceptBackOff_->setSingleShot(true);
            QObject::connect(acceptBackOff_.get(), &QTimer::timeout, [this] {
                sock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage,
                                     FirstSocketEvents);
            });
        }
        acceptBackOff_->start(AcceptBackOffMs);
        throw;
    }
    pool_->Queue(accepted, RemoteAddress);
}

void TNMGeneralServer::DisPatchResponse(TDispatch* data, TNMGeneralServer* instance) {
    std::unique_ptr<TDispatch> dispatch(data);
    bool listed = false;
    try {
        // The instance is owned by this thread alone: an owner on another thread could free
        // it while it is being served.
        if (instance == nullptr) {
            throw ESockError("No instance for the connection");
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
        listed = pool_->List(instance);
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
}

} // namespace kairelon
