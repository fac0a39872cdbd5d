#include "net/ConnectionPool.h"

#include "net/GeneralServer.h"
#include "net/SimpleThread.h"

#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <optional>
#include <utility>

namespace kairelon {
namespace {

struct TKeptScratch {
    char* block = nullptr;
    std::size_t bytes = 0;
    ~TKeptScratch() {
        if (block != nullptr) {
            std::allocator<char>().deallocate(block, bytes);
        }
    }
};
thread_local TKeptScratch keptScratch;

// Set by TNoFirstSocket; read and cleared by the next socket component made on this thread.
thread_local bool noFirstSocket = false;

} // namespace

char* TakeKeptScratch(std::size_t bytes) {
    if (keptScratch.block == nullptr || keptScratch.bytes != bytes) {
        return nullptr;
    }
    return std::exchange(keptScratch.block, nullptr);
}

bool KeepScratch(char* block, std::size_t bytes) {
    if (keptScratch.block != nullptr) {
        return false;
    }
    keptScratch.block = block;
    keptScratch.bytes = bytes;
    return true;
}

TNoFirstSocket::TNoFirstSocket() {
    noFirstSocket = true;
}

TNoFirstSocket::~TNoFirstSocket() {
    noFirstSocket = false;
}

bool TakeNoFirstSocket() {
    return std::exchange(noFirstSocket, false);
}

TConnectionPool::TConnectionPool(TNMGeneralServer& server, sock::SOCKET listening,
                                 TInstanceMaker maker, TNotifyEvent onConnect,
                                 TNotifyEvent onDisconnect)
    : server_(server), maker_(std::move(maker)), onConnect_(std::move(onConnect)),
      onDisconnect_(std::move(onDisconnect)), listening_(listening) {
    // Without it (the system refused a descriptor) every connection is handed over.
    auto shared = std::make_unique<sock::SharedListener>(listening);
    if (shared->Valid()) {
        shared_ = std::move(shared);
    }
}

TConnectionPool::~TConnectionPool() {
    Stop();
}

void TConnectionPool::Stop() {
    {
        std::lock_guard lock(lock_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    work_.notify_all();
    if (shared_) {
        shared_->Stop();
    }
    server_.Abort();
    // Every connection thread uses the server and this pool until its last step; wait for
    // them. The connections were all cancelled, and one that had not listed itself yet is
    // cancelled as it does (stopping_); idle threads end at once.
    std::unique_lock lock(lock_);
    done_.wait(lock, [this] { return active_ == 0 && threads_ == 0; });
}

int TConnectionPool::Active() {
    std::lock_guard lock(lock_);
    return active_;
}

int TConnectionPool::Threads() {
    std::lock_guard lock(lock_);
    return threads_;
}

int TConnectionPool::Watching() {
    std::lock_guard lock(lock_);
    return watching_;
}

bool TConnectionPool::MayStartThread() const {
    return server_.MaxConnections <= 0 || threads_ < server_.MaxConnections;
}

bool TConnectionPool::ListenerTakes() {
    std::lock_guard lock(lock_);
    if (server_.MaxConnections > 0 && active_ >= server_.MaxConnections && !stopping_) {
        // As many connections as the descriptors allow: the next waits in the system's queue
        // until one ends (ConnectionEnded lets the notification come again).
        listenerFull_ = true;
        return false;
    }
    if (watching_ > 0 && !stopping_) {
        // A connection thread waiting on the socket takes this connection. Not accepting leaves
        // the notification off (the next FD_ACCEPT comes after an accept), so the listening
        // thread is not woken again for every connection; the last thread to stop waiting lets
        // it come again, and one that takes a connection while no other waits starts a thread
        // that does.
        listenerResting_ = true;
        return false;
    }
    return true;
}

void TConnectionPool::Queue(sock::SOCKET socket, const sockaddr_in& peer) {
    std::unique_ptr<TDispatch> dispatch;
    try {
        dispatch.reset(NewDispatch(socket, peer));
    } catch (...) {
        sock::closesocket(socket);
        throw;
    }
    bool startThread = false;
    {
        std::lock_guard lock(lock_);
        ++active_;
        // Every queued connection needs an idle thread of its own; start one when there are
        // not enough.
        startThread = idle_ <= static_cast<int>(pending_.size()) && MayStartThread();
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
            std::lock_guard lock(lock_);
            dropped = pending_.back();
            pending_.pop_back();
        }
        sock::closesocket(dropped->Socket);
        delete dropped;
        ConnectionEnded();
    }
}

bool TConnectionPool::List(TNMGeneralServer* instance) {
    if (!server_.ClientList) {
        return false;
    }
    std::lock_guard lock(lock_);
    server_.ClientList->Add(instance);
    if (stopping_) {
        instance->Cancel();
    }
    return true;
}

TDispatch* TConnectionPool::NewDispatch(sock::SOCKET socket, const sockaddr_in& peer) const {
    auto* dispatch = new TDispatch;
    dispatch->Socket = socket;
    dispatch->Peer = peer;
    dispatch->OnConnect = onConnect_;
    dispatch->OnDisconnect = onDisconnect_;
    return dispatch;
}

bool TConnectionPool::StartConnectionThread() {
    try {
        ExecuteInThread(nullptr, [this](void*) { ConnectionThread(); });
        return true;
    } catch (...) {
        std::lock_guard lock(lock_);
        --threads_;
        WakeListenerIfAlone();
        done_.notify_all();
        return false;
    }
}

void TConnectionPool::WakeListenerIfAlone() {
    if (watching_ == 0 && listenerResting_ && !stopping_) {
        listenerResting_ = false;
        sock::ReenableAccept(shared_->Listening());
    }
}

TDispatch* TConnectionPool::TakeConnection(sock::AcceptWait& wait,
                                           std::unique_lock<std::mutex>& lock) {
    ++watching_;
    lock.unlock();
    sock::SOCKET socket = sock::INVALID_SOCKET;
    sockaddr_in peer{};
    const auto outcome = wait.Next(server_.IdleThreadMs, socket, peer);
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
    if (watching_ == 0 && !stopping_ && MayStartThread()) {
        // While this connection is served nobody would wait for the next one: another thread
        // does, so that connections arriving together are served together.
        ++threads_;
        lock.unlock();
        StartConnectionThread();
        lock.lock();
    }
    return dispatch;
}

void TConnectionPool::ConnectionThread() {
    std::optional<sock::AcceptWait> wait;
    if (shared_) {
        wait.emplace(*shared_);
    }
    // The instance for the next connection is made while the thread waits, so that making it
    // (its windows, timer, buffer and first socket) does not delay the answer.
    TNMGeneralServer* prepared = nullptr;
    const auto prepare = [this, &prepared] {
        try {
            TNoFirstSocket noFirstSocket; // the instance gets the accepted socket
            prepared = maker_ ? maker_() : new TNMGeneralServer(nullptr);
        } catch (...) {
            prepared = nullptr; // made again when a connection comes
        }
    };
    std::unique_lock lock(lock_);
    if (wait && !wait->Usable()) {
        wait.reset(); // this thread only serves what is handed over
        WakeListenerIfAlone();
    }
    for (;;) {
        if (prepared == nullptr && !stopping_) {
            lock.unlock();
            prepare();
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
            work_.wait_for(lock, std::chrono::milliseconds(server_.IdleThreadMs),
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
        if (prepared == nullptr) {
            prepare();
        }
        server_.DisPatchResponse(dispatch, prepared);
        prepared = nullptr;
        ConnectionEnded();
        // Objects the connection's instance left for deferred deletion belong to this
        // thread; delete them before waiting, not when the thread ends.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        lock.lock();
    }
    lock.unlock();
    delete prepared;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    lock.lock();
    // The last use of the pool and the server by this thread.
    --threads_;
    done_.notify_all();
}

void TConnectionPool::ConnectionEnded() {
    std::lock_guard lock(lock_);
    --active_;
    if (listenerFull_ && !stopping_ &&
        (server_.MaxConnections <= 0 || active_ < server_.MaxConnections)) {
        listenerFull_ = false;
        sock::ReenableAccept(listening_);
    }
    done_.notify_all();
}

} // namespace kairelon
