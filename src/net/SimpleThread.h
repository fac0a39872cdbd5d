// Runs one method once in a new thread that frees itself.
//
// `TSimpleThread` is a `QThread` that calls `Method(Data)` once and ends; nothing is looped,
// joined or synchronised with the creating thread. The receive buffer uses it for its
// background refill and the server component for each accepted connection. Callers that need
// to know when the method is done keep their own hand-over (the receive buffer's `Shuffling`
// flag); the thread itself gives no completion signal to anyone.
//
// Lifetime: a started thread is never joined by its creator. When its method has returned the
// thread hands its object back to a process-wide pool of idle thread objects (dropping the
// method and what it captured); `ExecuteInThread` takes its objects from that pool before it
// makes new ones. So the pointer `ExecuteInThread` returns is only good while the method runs;
// keep no copy of it afterwards. The operating-system thread itself always ends with the
// method; only the small `QThread` object is kept for reuse, as many as ever ran at once.
// (Reusing rather than deleting them also keeps Qt's own clean-up of a finished thread from
// racing with a delete on another thread.) The one wait there is comes at exit: destroying the
// application object gives running methods a short grace and waits for ending threads, so no
// thread still works inside Qt, or wakes a caller's event loop, while Qt is torn down.
//
// An exception escaping the method ends only that thread: it is caught there, reported as one
// line on standard error (the debugger output) and passed to nobody.
#pragma once

#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>

namespace kairelon {

// What a thread runs: a method taking one untyped pointer (the thread's `Data`).
using TThreadMethod = std::function<void(void* data)>;

class TSimpleThread : public QThread {
public:
    // Stores method and data; starts the thread at once unless createSuspended (then
    // `Resume` starts it). Raises EOSError when the system cannot start a thread; the object is
    // then gone.
    TSimpleThread(bool createSuspended, TThreadMethod method, void* data);
    TSimpleThread(const TSimpleThread&) = delete;
    TSimpleThread& operator=(const TSimpleThread&) = delete;

    // Starts a thread created suspended; does nothing if it was started before. Raises
    // EOSError when the system cannot start a thread (the object stays suspended and alive).
    void Resume();

    // Stops the thread and frees it. A thread that was never started is freed at once (it goes
    // back to the pool without running). A running thread is asked to stop: neither suspending
    // nor killing a thread from outside is safe here (it could be holding a lock of the C
    // library or of Qt, which would then stay locked for good), so the method sees
    // `isInterruptionRequested()` (or `AbortRequested()`) turn true and is expected to return
    // soon; its object is freed when it has. Never blocks.
    void AbortThread();

    // Inside a method: whether AbortThread was called for the thread running it.
    static bool AbortRequested();

    TThreadMethod Method; // what the thread runs
    void* Data;           // the argument passed to Method

protected:
    void run() override; // Execute: Method(Data), nothing else

private:
    ~TSimpleThread() override; // never deleted: a finished thread object goes back to the pool

    void StartOrRaise();
    void Park(bool ran); // ran: its method ran and has returned

    friend TSimpleThread* ExecuteInThread(void* data, TThreadMethod method);
    std::atomic<bool> Started{false};  // started and its method not yet returned
    std::atomic<bool> Released{false}; // its starter is done with it; the pool may hand it out
    std::atomic<bool> Aborting{false}; // AbortThread was called while it ran
};

// Creates a started `TSimpleThread` running method(data) and returns it (see the lifetime rule
// above). Raises EOSError when the system cannot start a thread.
TSimpleThread* ExecuteInThread(void* data, TThreadMethod method);

// Waits up to `grace` for every started thread's method to return, then for each idle thread
// object's thread to end (QThread still tidies up after the method). Returns whether every
// method returned in time. Runs by itself when the application object is destroyed, so that no
// thread is still inside Qt while Qt is torn down at exit.
bool WindDownSimpleThreads(std::chrono::milliseconds grace);

// Number of TSimpleThread objects in use: created or handed out and not yet freed (their
// method has not returned, or they wait suspended). For tests.
int LiveSimpleThreads();

} // namespace kairelon
