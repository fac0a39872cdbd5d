// One running instance per resource: an exclusive lock on a lock file.
//
// `TInstanceLock::Acquire` takes an exclusive advisory lock on a lock file (creating it, mode
// 0600, never through a symbolic link; a missing folder is made, owner-only, or open to all
// when others may read the lock file) and writes this process's id into it. The system
// releases the lock however the process ends, so a crash leaves nothing that blocks the next
// start. While another process holds it, the acquire fails as `Busy`
// with that process's id (as it wrote it; 0 when unreadable). Releasing removes the file while it
// is still locked; an acquire that finds the file it locked removed or replaced tries again, so a
// release and an acquire at the same moment never leave two holders.
//
// A lock file in a folder that others may write (such as /dev/shm) may be planted by another
// user to block the start: with `replaceForeign` a file that belongs to neither this user nor
// root is removed and made anew. (Only a folder where nobody else creates files keeps a link,
// a folder or a FIFO from being planted there.)
//
// `DeadHolder` lets others see, without taking the lock, that its holder has gone without
// releasing it (killed, crashed): the file then still names a process that no longer exists.
#pragma once

#include <string>

namespace kairelon {

class TInstanceLock {
public:
    enum class Outcome { Acquired, Busy, Failed };

    TInstanceLock() = default;
    ~TInstanceLock(); // releases
    TInstanceLock(TInstanceLock&& other) noexcept;
    TInstanceLock& operator=(TInstanceLock&& other) noexcept;
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // `mode`: the permission bits of the lock file (0644 lets others read the holder's id).
    static TInstanceLock Acquire(const std::string& path, bool replaceForeign = false,
                                 unsigned mode = 0600);
    // The process id the lock file names when that process no longer exists; 0 when there is
    // no such file, it cannot be read, or its holder lives (or may live: a process of another
    // user counts as living).
    static long DeadHolder(const std::string& path);

    Outcome Result() const { return outcome_; }
    bool Held() const { return outcome_ == Outcome::Acquired; }
    long Holder() const { return holder_; } // Busy: the holder's process id, 0 when unknown
    int Error() const { return error_; }    // Failed: the errno
    const std::string& Path() const { return path_; }
    void Release();

private:
    std::string path_;
    int fd_ = -1;
    Outcome outcome_ = Outcome::Failed;
    long holder_ = 0;
    int error_ = 0;
};

} // namespace kairelon
