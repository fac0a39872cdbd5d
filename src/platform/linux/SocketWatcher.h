// The readiness watcher of the sockets layer: descriptors in, window messages out.
//
// A `Watcher` watches one socket with Qt socket notifiers on the thread of the window that asked
// for its notifications (`WSAAsyncSelect`) and posts them with the Windows Sockets rules (see
// platform/Sockets.h): which event follows which socket state, and when the next one may come.
// The `Registry` maps each socket to its watcher and remembers what the calls of the sockets
// layer must know of a socket beyond its descriptor: that it was just accepted, or that threads
// wait on it through a shared listener. This module does not make, close or read sockets;
// the calls of platform/linux/Sockets.cpp do, and tell the watcher what they did.
#pragma once

#include "platform/Sockets.h"

#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace kairelon::sock {

class SharedListener;

namespace detail {

class Watcher;

// A socket notifier that calls its watcher directly: a watcher is made for every connection a
// server serves, and a signal connection made and dropped each time costs more than the
// notifier itself.
class Notifier final : public QSocketNotifier {
public:
    using Handler = void (Watcher::*)();
    Notifier(SOCKET fd, Type type, Watcher* watcher, Handler handler);

protected:
    bool event(QEvent* e) override;

private:
    Watcher* watcher_;
    Handler handler_;
};

// Watches one socket on the thread of the window that asked for its notifications and posts
// them with the Windows Sockets rules. Lives on that thread; all its state is touched there.
// The write notifier is made when first needed: most sockets never wait to write.
class Watcher : public QObject {
public:
    Watcher(SOCKET fd, HWND window, unsigned message, long events)
        : fd_(fd), window_(window), message_(message), events_(events) {}

    // `accepted`: the socket came from accept and was not watched since, so it is connected
    // (or already closed by its peer, which its first read tells); no need to ask the system.
    void Start(bool accepted);

    void BeginConnect() {
        connecting_ = true;
        if (read_ != nullptr) {
            WriteNotifier()->setEnabled(true);
        }
    }

    void ConnectFailedAtOnce(int error) {
        connecting_ = false;
        if (events_ & FD_CONNECT) {
            Post(FD_CONNECT, error);
        }
    }

    void Listening() {
        listening_ = true;
        ArmRead();
    }

    // After recv or accept: the next read (accept) notification may come.
    void ArmRead() {
        if (read_ != nullptr && !retired_ && !closeSent_ && (established_ || listening_)) {
            read_->setEnabled(true);
        }
    }

    void ArmAccept() {
        if (listening_) {
            ArmRead();
        }
    }

    // After a send that would have blocked: FD_WRITE once there is room again.
    void ArmWrite() {
        if (read_ != nullptr && !retired_ && established_) {
            WriteNotifier()->setEnabled(true);
        }
    }

    std::atomic<bool> retired_{false};

private:
    friend class Notifier;

    QSocketNotifier* WriteNotifier();
    void Post(long event, int error);
    void OnReadable();
    void OnWritable();

    SOCKET fd_;
    HWND window_;
    unsigned message_;
    long events_;
    QSocketNotifier* read_ = nullptr;  // made by Start
    QSocketNotifier* write_ = nullptr; // made when first enabled
    bool connecting_ = false;
    bool established_ = false;
    bool listening_ = false;
    bool closeSent_ = false;
};

struct Registry {
    std::mutex lock;
    std::unordered_map<SOCKET, Watcher*> watchers;
    std::unordered_map<SOCKET, SharedListener*> shared; // listening sockets with AcceptWaits
    std::unordered_set<SOCKET> accepted; // accepted sockets not yet watched or closed
};

Registry& Watchers(); // the process's one registry

// Notes a socket just accepted, for its first WSAAsyncSelect; returns it.
SOCKET NoteAccepted(SOCKET fd);

inline bool OnOwnThread(const QObject* object) {
    return object->thread() == QThread::currentThread();
}

// Runs `action` on the watcher's thread: at once when that is this thread, otherwise queued
// (dropped if the watcher goes away first). Called with the registry locked; on the watcher's
// own thread the lock is released first, so that other threads' sockets are not held up by this
// one's notifier changes: a watcher is deleted only on its own thread, so it stays valid.
template <typename Action>
void RunOn(std::unique_lock<std::mutex>& registryLock, Watcher* watcher, Action action) {
    if (OnOwnThread(watcher)) {
        registryLock.unlock();
        action(watcher);
    } else {
        QMetaObject::invokeMethod(
            watcher, [watcher, action] { action(watcher); }, Qt::QueuedConnection);
    }
}

// Runs `action` for the socket's watcher; false when the socket has none.
template <typename Action> bool WithWatcher(SOCKET s, Action action) {
    Registry& registry = Watchers();
    std::unique_lock<std::mutex> guard(registry.lock);
    const auto found = registry.watchers.find(s);
    if (found == registry.watchers.end()) {
        return false;
    }
    RunOn(guard, found->second, action);
    return true;
}

// Takes the socket's watcher out of the registry; returns it when the caller is to delete it
// (on its own thread, once the registry is unlocked), otherwise its thread deletes it.
Watcher* RetireLocked(Registry& registry, SOCKET s);

} // namespace detail
} // namespace kairelon::sock
