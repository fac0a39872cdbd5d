#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

namespace kairelon {
namespace {

// The folder and its missing parents, each owner-only, or open to all for a lock file others
// may read.
bool MakeFolders(const std::string& folder, mode_t mode) {
    if (folder.empty() || mkdir(folder.c_str(), mode) == 0 || errno == EEXIST) {
        return true;
    }
    const std::size_t slash = folder.find_last_of('/');
    if (errno != ENOENT || slash == std::string::npos || slash == 0) {
        return false;
    }
    return MakeFolders(folder.substr(0, slash), mode) &&
           (mkdir(folder.c_str(), mode) == 0 || errno == EEXIST);
}

} // namespace

TInstanceLock::~TInstanceLock() {
    Release();
}

TInstanceLock::TInstanceLock(TInstanceLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)),
      outcome_(std::exchange(other.outcome_, Outcome::Failed)), holder_(other.holder_),
      error_(other.error_) {}

TInstanceLock& TInstanceLock::operator=(TInstanceLock&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        outcome_ = std::exchange(other.outcome_, Outcome::Failed);
        holder_ = other.holder_;
        error_ = other.error_;
    }
    return *this;
}

TInstanceLock TInstanceLock::Acquire(const std::string& path, bool replaceForeign, unsigned mode) {
    TInstanceLock lock;
    lock.path_ = path;
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = open(path.c_str(), flags, static_cast<mode_t>(mode));
        const std::size_t slash = path.find_last_of('/');
        if (fd < 0 && errno == ENOENT && slash != std::string::npos &&
            MakeFolders(path.substr(0, slash), (mode & 0044) != 0 ? 0755 : 0700)) {
            fd = open(path.c_str(), flags, static_cast<mode_t>(mode));
        }
        if (fd < 0) {
            lock.error_ = errno;
            return lock;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            lock.error_ = errno != 0 ? errno : EINVAL;
            close(fd);
            return lock;
        }
        if (replaceForeign && st.st_uid != geteuid() && st.st_uid != 0) {
            close(fd);
            if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                lock.error_ = errno;
                return lock;
            }
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                char text[32] = {};
                const ssize_t n = pread(fd, text, sizeof text - 1, 0);
                lock.holder_ = n > 0 ? std::strtol(text, nullptr, 10) : 0;
                lock.outcome_ = Outcome::Busy;
            } else {
                lock.error_ = error;
            }
            close(fd);
            return lock;
        }
        // The file may have been released (removed) between our open and our lock.
        struct stat now {};
        if (stat(path.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
            close(fd);
            continue;
        }
        if (st.st_uid == geteuid()) {
            fchmod(fd, static_cast<mode_t>(mode)); // against the umask
        }
        const std::string pid = std::to_string(static_cast<long>(getpid())) + "\n";
        if (ftruncate(fd, 0) != 0 ||
            pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
            // The lock holds without the id; only the message of a second start lacks it.
        }
        lock.fd_ = fd;
        lock.outcome_ = Outcome::Acquired;
        return lock;
    }
    lock.error_ = EAGAIN;
    return lock;
}

long TInstanceLock::DeadHolder(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct stat st {};
    char text[32] = {};
    const ssize_t n =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? pread(fd, text, sizeof text - 1, 0) : 0;
    close(fd);
    char* end = nullptr;
    const long pid = n > 0 ? std::strtol(text, &end, 10) : 0;
    if (pid <= 0 || end == text || (*end != '\n' && *end != '\0')) {
        return 0;
    }
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH ? pid : 0;
}

void TInstanceLock::Release() {
    if (fd_ >= 0) {
        unlink(path_.c_str()); // while still locked: see Acquire
        close(fd_);
        fd_ = -1;
        outcome_ = Outcome::Failed;
    }
}

} // namespace kairelon
