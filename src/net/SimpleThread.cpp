#include "net/SimpleThread.h"

#include "framework/Exception.h"

#include <cxxabi.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

namespace kairelon {

namespace {

// Thread objects whose method has returned, ready to run another one. Never destroyed: a
// thread may still be handing its object back while the process exits.
struct Pool {
    std::mutex Lock;
    std::vector<TSimpleThread*> Idle;
    int Running = 0;                // threads started whose method has not returned
    std::condition_variable Parked; // a running thread has handed its object back
};

std::atomic<int> LiveThreads{0};

void WindDownAtExit() {
    WindDownSimpleThreads(std::chrono::seconds(2));
}

Pool& ThePool() {
    static Pool* pool = [] {
        // Registered with the application object, whose destruction runs it before Qt is torn
        // down (without one it never runs, and nothing of Qt is torn down either).
        qAddPostRoutine(WindDownAtExit);
        return new Pool;
    }();
    return *pool;
}

void ReportEscapedException(const char* what) {
    std::fprintf(stderr, "kairelon: exception in a background thread: %s\n", what);
}

} // namespace

TSimpleThread::TSimpleThread(bool createSuspended, TThreadMethod method, void* data)
    : Method(std::move(method)), Data(data) {
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

TSimpleThread::~TSimpleThread() = default;

void TSimpleThread::StartOrRaise() {
    Released.store(false, std::memory_order_relaxed);
    Aborting.store(false, std::memory_order_relaxed);
    Started.store(true, std::memory_order_relaxed);
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> lock(pool.Lock);
        ++pool.Running;
    }
    start();
    // QThread reports a failed creation only by leaving the thread neither running nor
    // finished. Until Released is set the pool hands this object to nobody else, so asking is
    // safe even if the method has already returned.
    if (!isRunning() && !isFinished()) {
        Started.store(false, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> lock(pool.Lock);
            --pool.Running;
        }
        pool.Parked.notify_all();
        Released.store(true, std::memory_order_release);
        throw EOSError("Can't start a thread");
    }
    Released.store(true, std::memory_order_release);
}

void TSimpleThread::Resume() {
    if (Started.load(std::memory_order_relaxed)) {
        return;
    }
    StartOrRaise();
}

void TSimpleThread::AbortThread() {
    if (!Started.load(std::memory_order_relaxed)) {
        Released.store(true, std::memory_order_relaxed);
        Park(false);
        return;
    }
    Aborting.store(true, std::memory_order_relaxed);
    requestInterruption();
}

bool TSimpleThread::AbortRequested() {
    const auto* self = dynamic_cast<const TSimpleThread*>(QThread::currentThread());
    return self != nullptr && self->Aborting.load(std::memory_order_relaxed);
}

void TSimpleThread::Park(bool ran) {
    Method = nullptr; // let go of whatever the method captured
    Data = nullptr;
    Started.store(false, std::memory_order_relaxed);
    LiveThreads.fetch_sub(1, std::memory_order_relaxed);
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> lock(pool.Lock);
        pool.Idle.push_back(this);
        if (ran) {
            --pool.Running;
        }
    }
    if (ran) {
        pool.Parked.notify_all();
    }
}

void TSimpleThread::run() {
    // Hands the object back however run ends: normal return, caught exception, or the forced
    // unwind of pthread_exit called inside the method.
    struct ParkOnExit {
        TSimpleThread* Thread;
        ~ParkOnExit() { Thread->Park(true); }
    } park{this};

    try {
        if (Method) {
            Method(Data);
        }
    } catch (const abi::__forced_unwind&) {
        throw; // the thread's own exit must unwind to its end
    } catch (const std::exception& e) {
        ReportEscapedException(e.what());
    } catch (...) {
        ReportEscapedException("unknown exception");
    }
}

TSimpleThread* ExecuteInThread(void* data, TThreadMethod method) {
    TSimpleThread* thread = nullptr;
    {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> lock(pool.Lock);
        for (auto it = pool.Idle.begin(); it != pool.Idle.end(); ++it) {
            if ((*it)->Released.load(std::memory_order_acquire)) {
                thread = *it;
                pool.Idle.erase(it);
                break;
            }
        }
    }
    if (thread == nullptr) {
        return new TSimpleThread(false, std::move(method), data);
    }
    // Its last method has returned, but QThread may still be winding the old run down; a
    // start before that ends would be ignored.
    thread->wait();
    thread->Method = std::move(method);
    thread->Data = data;
    LiveThreads.fetch_add(1, std::memory_order_relaxed);
    try {
        thread->StartOrRaise();
    } catch (...) {
        thread->Park(false);
        throw;
    }
    return thread;
}

bool WindDownSimpleThreads(std::chrono::milliseconds grace) {
    Pool& pool = ThePool();
    std::unique_lock<std::mutex> lock(pool.Lock);
    const bool allReturned =
        pool.Parked.wait_for(lock, grace, [&pool] { return pool.Running == 0; });
    const std::vector<TSimpleThread*> idle = pool.Idle;
    lock.unlock();
    // A parked object's thread is past its method and only has QThread's own ending left, so
    // this wait is short; the deadline covers an object taken for a new method meanwhile.
    for (TSimpleThread* thread : idle) {
        thread->wait(QDeadlineTimer(grace));
    }
    return allReturned;
}

int LiveSimpleThreads() {
    return LiveThreads.load(std::memory_order_relaxed);
}

} // namespace kairelon
