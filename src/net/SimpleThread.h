// Runs one method once in a new thread that frees itself.
//
// `TSimpleThread` is a `QThread` that calls `Method(Data)` once and ends; nothing is looped,
// joined or synchronised with the creating thread. The receive buffer uses it for its
// background refill and the server component for each accepted connection. Callers that need
// to know when the method is done keep their own hand-over (the receive buffer's `Shuffling`
// flag); the thread itself gives no completion signal to anyone.
//
// Lifetime: a started thread is never joined by its creator. When its method has returned the
// thread parks its object in a process-wide list of finished threads, and the next thread
// created anywhere in the process (or `ReapFinishedThreads`) waits for the finished ones to
// wind down and deletes them. So the pointer `ExecuteInThread` returns is only good while the
// method runs; keep no copy of it afterwards.
//
// An exception escaping the method ends only that thread: it is caught there, reported as one
// line on standard error (the debugger output) and passed to nobody.
#pragma once

#include <QThread>

#include <atomic>
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

    // Stops the thread and frees it. A thread that was never started is freed at once. A
    // running thread cannot be suspended on this platform: it is asked to stop
    // (`isInterruptionRequested` turns true) and cancelled at its next cancellation point (a
    // sleep, wait, read or write), unwinding its stack so destructors run; its object is freed
    // when it has ended. Never blocks.
    void AbortThread();

    TThreadMethod Method; // what the thread runs
    void* Data;           // the argument passed to Method

protected:
    void run() override; // Execute: Method(Data), nothing else

private:
    ~TSimpleThread() override; // only the thread's own clean-up frees it

    void StartOrRaise();

    friend void ReapFinishedThreads();
    std::atomic<bool> Started{false};  // start() was called
    std::atomic<bool> Released{false}; // the starter has checked the start; may be reaped
};

// Creates a started `TSimpleThread` running method(data) and returns it (see the lifetime rule
// above). Raises EOSError when the system cannot start a thread.
TSimpleThread* ExecuteInThread(void* data, TThreadMethod method);

// Deletes the objects of threads whose method has returned. Called by every new thread; tests
// and shutdown code may call it to free finished threads at once. Never blocks for longer than
// a finished thread needs to wind down.
void ReapFinishedThreads();

// Number of TSimpleThread objects alive (started or not, not yet deleted); for tests.
int LiveSimpleThreads();

} // namespace kairelon
