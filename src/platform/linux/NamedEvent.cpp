// Named events as POSIX named semaphores: the count is the signal (0 not set, 1 set), a wait
// takes it, and the semaphore's file under /dev/shm carries its owner, group and mode.
#include "platform/NamedEvent.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <utility>

namespace kairelon {
namespace {

sem_t* Sem(void* handle) {
    return static_cast<sem_t*>(handle);
}

// Where glibc keeps a named semaphore; needed to give it its group and mode.
std::string SemaphorePath(const std::string& objectName) {
    return "/dev/shm/sem." + objectName.substr(1);
}

timespec DeadlineAfter(int timeoutMs) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

std::mutex trustMutex;
std::optional<TEventTrust> trustSetting; // nullopt: the system's

bool Trusted(const struct stat& st, const TEventTrust& trust) {
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWOTH) != 0) {
        return false;
    }
    bool owner = false;
    for (const long uid : trust.owners) {
        owner = owner || static_cast<long>(st.st_uid) == uid;
    }
    const bool group = trust.group >= 0 ? static_cast<long>(st.st_gid) == trust.group
                                        : (st.st_mode & S_IWGRP) == 0;
    return owner && group;
}

} // namespace

TEventTrust SystemEventTrust() {
    TEventTrust trust;
    trust.owners.push_back(0);
    std::vector<char> buffer(16384);
    passwd user{};
    passwd* foundUser = nullptr;
    if (getpwnam_r("kairelon", &user, buffer.data(), buffer.size(), &foundUser) == 0 && foundUser) {
        trust.owners.push_back(static_cast<long>(foundUser->pw_uid));
    }
    group entry{};
    group* foundGroup = nullptr;
    if (getgrnam_r("kairelon", &entry, buffer.data(), buffer.size(), &foundGroup) == 0 &&
        foundGroup) {
        trust.group = static_cast<long>(foundGroup->gr_gid);
    }
    return trust;
}

std::optional<TEventTrust> SetEventTrust(std::optional<TEventTrust> trust) {
    std::lock_guard lock(trustMutex);
    return std::exchange(trustSetting, std::move(trust));
}

TEventTrust CurrentEventTrust() {
    {
        std::lock_guard lock(trustMutex);
        if (trustSetting) {
            return *trustSetting;
        }
    }
    return SystemEventTrust();
}

std::string EventObjectName(const std::string& name) {
    const char* prefix = std::getenv("KAIRELON_EVENT_PREFIX");
    return "/" + std::string(prefix ? prefix : "") + name;
}

TNamedEvent::~TNamedEvent() {
    Close();
}

std::string ServiceLockPath() {
    return SemaphorePath(EventObjectName("KairelService")) + ".lock";
}

TNamedEvent::TNamedEvent(TNamedEvent&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::exchange(other.error_, EBADF)),
      createdDevice_(std::exchange(other.createdDevice_, 0)),
      createdInode_(std::exchange(other.createdInode_, 0)) {}

TNamedEvent& TNamedEvent::operator=(TNamedEvent&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::exchange(other.error_, EBADF);
        createdDevice_ = std::exchange(other.createdDevice_, 0);
        createdInode_ = std::exchange(other.createdInode_, 0);
    }
    return *this;
}

TNamedEvent TNamedEvent::Open(const std::string& name) {
    sem_t* sem = sem_open(EventObjectName(name).c_str(), O_RDWR);
    if (sem == SEM_FAILED) {
        TNamedEvent failed;
        failed.error_ = errno;
        return failed;
    }
    TNamedEvent event(sem);
    event.error_ = 0;
    return event;
}

TNamedEvent TNamedEvent::OpenTrusted(const std::string& name) {
    const TEventTrust trust = CurrentEventTrust();
    const std::string path = SemaphorePath(EventObjectName(name));
    TNamedEvent refused;
    struct stat before {};
    if (lstat(path.c_str(), &before) != 0) {
        refused.error_ = errno;
        return refused;
    }
    if (!Trusted(before, trust)) {
        refused.error_ = EPERM;
        return refused;
    }
    TNamedEvent event = Open(name);
    if (!event.IsOpen()) {
        return event;
    }
    struct stat after {};
    if (lstat(path.c_str(), &after) != 0 || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino || !Trusted(after, trust)) {
        refused.error_ = EPERM;
        return refused; // `event` closes its handle
    }
    return event;
}

TNamedEvent TNamedEvent::Create(const std::string& name, long groupId) {
    const std::string objectName = EventObjectName(name);
    TNamedEvent failed;
    if (sem_unlink(objectName.c_str()) != 0 && errno != ENOENT) {
        failed.error_ = errno;
        return failed;
    }
    // Created owner-only; widened to the group only once it belongs to the group.
    sem_t* sem = sem_open(objectName.c_str(), O_CREAT | O_EXCL | O_RDWR, S_IRUSR | S_IWUSR, 0u);
    if (sem == SEM_FAILED) {
        failed.error_ = errno;
        return failed;
    }
    const std::string path = SemaphorePath(objectName);
    mode_t mode = S_IRUSR | S_IWUSR;
    if (groupId >= 0) {
        if (chown(path.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(groupId)) != 0) {
            failed.error_ = errno;
            sem_close(sem);
            sem_unlink(objectName.c_str());
            return failed;
        }
        mode |= S_IRGRP | S_IWGRP;
    }
    if (chmod(path.c_str(), mode) != 0) {
        failed.error_ = errno;
        sem_close(sem);
        sem_unlink(objectName.c_str());
        return failed;
    }
    TNamedEvent event(sem);
    event.error_ = 0;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        event.createdDevice_ = st.st_dev;
        event.createdInode_ = st.st_ino;
    }
    return event;
}

bool TNamedEvent::Remove(const std::string& name) {
    return sem_unlink(EventObjectName(name).c_str()) == 0;
}

bool TNamedEvent::RemoveCreated(const std::string& name) {
    if (createdInode_ == 0) {
        return false;
    }
    const std::string objectName = EventObjectName(name);
    struct stat st {};
    if (lstat(SemaphorePath(objectName).c_str(), &st) != 0 || st.st_dev != createdDevice_ ||
        st.st_ino != createdInode_) {
        return false; // gone, or another's now
    }
    createdDevice_ = createdInode_ = 0;
    return sem_unlink(objectName.c_str()) == 0;
}

bool TNamedEvent::Set() {
    if (!handle_) {
        error_ = EBADF;
        return false;
    }
    int value = 0;
    if (sem_getvalue(Sem(handle_), &value) == 0 && value > 0) {
        return true;
    }
    if (sem_post(Sem(handle_)) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool TNamedEvent::Reset() {
    if (!handle_) {
        error_ = EBADF;
        return false;
    }
    while (sem_trywait(Sem(handle_)) == 0) {
    }
    if (errno != EAGAIN) {
        error_ = errno;
        return false;
    }
    return true;
}

TWaitResult TNamedEvent::Wait(int timeoutMs) {
    if (!handle_) {
        error_ = EBADF;
        return TWaitResult::Failed;
    }
    const timespec deadline = DeadlineAfter(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        if (sem_clockwait(Sem(handle_), CLOCK_MONOTONIC, &deadline) == 0) {
            return TWaitResult::Signalled;
        }
        if (errno == EINTR) {
            continue; // the deadline is absolute, so a signal does not stretch the wait
        }
        if (errno == ETIMEDOUT) {
            return TWaitResult::TimedOut;
        }
        error_ = errno;
        return TWaitResult::Failed;
    }
}

void TNamedEvent::Close() {
    if (handle_) {
        sem_close(Sem(handle_));
        handle_ = nullptr;
        error_ = EBADF;
    }
}

} // namespace kairelon
