#include "net/SimpleThread.h"

#include "framework/Exception.h"

#include <cxxabi.h>

#include <cstdio>
#include <mutex>
#include <typeinfo>
#include <vector>

namespace kairelon {

namespace {

// Threads whose method has returned, waiting to be deleted by the next reaper. A static
// container stays reachable, so the few objects parked here at exit are not leaks.
struct Graveyard {
    std::mutex Lock;
    std::vector<TSimpleThread*> Finished;
};

Graveyard& TheGraveyard() {
    static Graveyard* graveyard = new Graveyard; // never destroyed: threads may end after exit
    return *graveyard;
}

std::atomic<int> LiveThreads{0};

void ReportEscapedException(const char* what) {
    std::fprintf(stderr, "kairelon: exception in a background thread: %s\n", what);
}

} // namespace

TSimpleThread::TSimpleThread(bool createSuspended, TThreadMethod method, void* data)
    : Method(std::move(method)), Data(data) {
    ReapFinishedThreads();
    LiveThreads.fetch_add(1, std::memory_order_relaxed);
    if (!createSuspended) {
        try {
            StartOrRaise();
        } catch (...) {
            LiveThreads.fetch_sub(1, std::memory_order_relaxed);
            throw;
        }
    }
}

TSimpleThread::~TSimpleThread() {
    LiveThreads.fetch_sub(1, std::memory_order_relaxed);
}

void TSimpleThread::StartOrRaise() {
    Started.store(true, std::memory_order_relaxed);
    start();
    // QThread reports a failed creation only by leaving the thread neither running nor
    // finished. Until Released is set no reaper deletes this object, so asking is safe even if
    // the method has already returned.
    if (!isRunning() && !isFinished()) {
        Started.store(false, std::memory_order_relaxed);
        throw EOSError("Can't start a thread");
    }
    Released.store(true, std::memory_order_release);
}

void TSimpleThread::Resume() {
    if (Started.load(std::memory_order_relaxed)) {
        return;
    }
    ReapFinishedThreads();
    StartOrRaise();
}

void TSimpleThread::AbortThread() {
    if (!Started.load(std::memory_order_relaxed)) {
        delete this;
        return;
    }
    requestInterruption();
    terminate();
}

void TSimpleThread::run() {
    // Parks the object for the reaper however run ends: normal return, caught exception or
    // the forced unwind of a cancellation.
    struct Park {
        TSimpleThread* Thread;
        ~Park() {
            Graveyard& graveyard = TheGraveyard();
            std::lock_guard<std::mutex> lock(graveyard.Lock);
            graveyard.Finished.push_back(Thread);
        }
    } park{this};

    try {
        if (Method) {
            Method(Data);
        }
    } catch (const abi::__forced_unwind&) {
        throw; // a cancellation (AbortThread) must unwind to the thread's end
    } catch (const std::exception& e) {
        ReportEscapedException(e.what());
    } catch (...) {
        ReportEscapedException("unknown exception");
    }
}

void ReapFinishedThreads() {
    std::vector<TSimpleThread*> ready;
    {
        Graveyard& graveyard = TheGraveyard();
        std::lock_guard<std::mutex> lock(graveyard.Lock);
        auto keep = graveyard.Finished.begin();
        for (TSimpleThread* thread : graveyard.Finished) {
            if (thread->Released.load(std::memory_order_acquire)) {
                ready.push_back(thread);
            } else {
                *keep++ = thread;
            }
        }
        graveyard.Finished.erase(keep, graveyard.Finished.end());
    }
    for (TSimpleThread* thread : ready) {
        thread->wait(); // the method has returned; only QThread's own wind-down remains
        delete thread;
    }
}

TSimpleThread* ExecuteInThread(void* data, TThreadMethod method) {
    return new TSimpleThread(false, std::move(method), data);
}

int LiveSimpleThreads() {
    return LiveThreads.load(std::memory_order_relaxed);
}

} // namespace kairelon
