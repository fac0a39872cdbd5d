#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

namespace kairelon {
namespace {

// How often a held lock is tried again; short against the work it guards, long enough to
// cost next to nothing while waiting.
constexpr auto kRetry = std::chrono::milliseconds(20);

} // namespace

TFileLock::~TFileLock() {
    Release();
}

TFileLock::TFileLock(TFileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), outcome_(std::exchange(other.outcome_, Outcome::Failed)),
      error_(other.error_) {}

TFileLock& TFileLock::operator=(TFileLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        outcome_ = std::exchange(other.outcome_, Outcome::Failed);
        error_ = other.error_;
    }
    return *this;
}

TFileLock TFileLock::Acquire(const std::string& path, unsigned mode, int waitMs,
                             const std::function<bool()>& stopRequested) {
    TFileLock lock;
    // Read access is enough for the lock, so a file another member of the group made serves.
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        static_cast<mode_t>(mode));
    if (fd < 0) {
        lock.error_ = errno;
        return lock;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        lock.error_ = st.st_mode == 0 ? errno : EINVAL;
        close(fd);
        return lock;
    }
    if (st.st_uid == geteuid()) {
        fchmod(fd, static_cast<mode_t>(mode)); // against the umask
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lock.fd_ = fd;
            lock.outcome_ = Outcome::Acquired;
            return lock;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            lock.error_ = errno;
            break;
        }
        if (stopRequested && stopRequested()) {
            lock.outcome_ = Outcome::Stopped;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            lock.outcome_ = Outcome::TimedOut;
            break;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kRetry, deadline - now));
    }
    close(fd);
    return lock;
}

void TFileLock::Release() {
    if (fd_ >= 0) {
        close(fd_); // the lock goes with the last descriptor
        fd_ = -1;
        outcome_ = Outcome::Failed;
    }
}

} // namespace kairelon
