// A lock that cooperating processes take around a piece of work: an exclusive advisory lock
// on a lock file, taken within a bounded wait that a stop can end early.
//
// `TFileLock::Acquire` opens (creating when missing, never through a link, nothing but a
// regular file) the lock file and takes its lock, trying again every few milliseconds until
// it is free, the wait has run out or `stopRequested` says so. The lock goes with the object
// (and with the process, however it ends). Unlike `TInstanceLock` it writes nothing into the
// file and leaves it in place: the next holder takes the same file.
#pragma once

#include <functional>
#include <string>

namespace kairelon {

class TFileLock {
public:
    enum class Outcome {
        Acquired,
        TimedOut, // another holder kept it for the whole wait
        Stopped,  // stopRequested said so before the lock came free
        Failed,   // the file cannot be opened or locked: Error() says why
    };

    TFileLock() = default;
    ~TFileLock(); // releases
    TFileLock(TFileLock&& other) noexcept;
    TFileLock& operator=(TFileLock&& other) noexcept;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // `mode`: the permission bits of a lock file this user owns (set against the umask);
    // `waitMs`: the longest wait for another holder, in milliseconds.
    static TFileLock Acquire(const std::string& path, unsigned mode, int waitMs,
                             const std::function<bool()>& stopRequested = {});

    Outcome Result() const { return outcome_; }
    bool Held() const { return outcome_ == Outcome::Acquired; }
    int Error() const { return error_; } // Failed: the errno
    void Release();

private:
    int fd_ = -1;
    Outcome outcome_ = Outcome::Failed;
    int error_ = 0;
};

} // namespace kairelon
