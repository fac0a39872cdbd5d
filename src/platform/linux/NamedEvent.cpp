// Named events as POSIX named semaphores: the file /dev/shm/sem.NAME, 32 bytes in the C
// library's layout of a process-shared semaphore, so a program built on the C library's
// semaphore calls still meets these events. Its first 64-bit word holds the count in its low
// half (0 not set, 1 set) and the number of sleeping waiters in its high half; a waiter sleeps
// on a futex over the count.
//
// The operations on the word are this module's own. Members of the service's group may write
// the file, and the C library's calls take their futex flags from it (bytes 8 to 11): written
// by a member, they can make a set block for ever or end the process. Here the operations
// never take their flags from the file (`Healthy` only compares them), every sleep has a
// deadline, and a reset clears the count in one step, whatever it holds. A file cut short under its
// mapping makes the next access fault (SIGBUS); a handler catches faults on the pages of events,
// maps a blank page in the place (the access is then repeated on it) and counts the fault, and the
// handle reports itself damaged from then on.
#include "platform/NamedEvent.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/futex.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <utility>

namespace kairelon {
namespace {

constexpr std::size_t kEventSize = 32; // the C library's sem_t
constexpr std::uint64_t kCountMask = 0xffffffffu;
constexpr std::uint64_t kOneWaiter = std::uint64_t{1} << 32;
constexpr std::size_t kFlagsOffset = 8; // the C library's futex flags
// The flags of a process-shared semaphore: the C library's futex calls on it then leave out
// the private flag, and meet ours, which always do.
constexpr std::uint32_t kSharedFlags = FUTEX_PRIVATE_FLAG;
constexpr int kCreateAttempts = 10;

// ---- the fault guard ----------------------------------------------------------------------

constexpr int kGuardSlots = 64;
std::atomic<std::uintptr_t> guardedPages[kGuardSlots];
std::atomic<int> guardedFaults[kGuardSlots];
struct sigaction previousBusAction;
std::once_flag guardInstalled;

std::uintptr_t PageSize() {
    static const auto size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

void OnBusError(int signalNumber, siginfo_t* info, void* context) {
    const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(info->si_addr) & ~(PageSize() - 1);
    for (int slot = 0; page != 0 && slot < kGuardSlots; ++slot) {
        if (guardedPages[slot].load() != page) {
            continue;
        }
        // The raw call: nothing between the handler and the kernel.
        const long blank = syscall(SYS_mmap, page, PageSize(), PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (blank == static_cast<long>(page)) {
            guardedFaults[slot].fetch_add(1);
            return;
        }
        break;
    }
    // Not an event's page: as the handler before would have done.
    if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction) {
        previousBusAction.sa_sigaction(signalNumber, info, context);
        return;
    }
    if ((previousBusAction.sa_flags & SA_SIGINFO) == 0 && previousBusAction.sa_handler != SIG_DFL &&
        previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(signalNumber);
        return;
    }
    signal(SIGBUS, SIG_DFL); // the access is repeated and ends the process as it would have
}

void InstallGuard() {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigaction(SIGBUS, &action, &previousBusAction);
}

// Watches the page of a mapping; the slot, or -1 when all are taken (the mapping then goes
// unwatched: a fault on it ends the process).
int Guard(void* mapping) {
    std::call_once(guardInstalled, InstallGuard);
    const auto page = reinterpret_cast<std::uintptr_t>(mapping);
    for (int slot = 0; slot < kGuardSlots; ++slot) {
        std::uintptr_t expected = 0;
        if (guardedPages[slot].compare_exchange_strong(expected, page)) {
            guardedFaults[slot].store(0);
            return slot;
        }
    }
    return -1;
}

bool Faulted(int slot) {
    return slot >= 0 && guardedFaults[slot].load() != 0;
}

// ---- the word -----------------------------------------------------------------------------

std::atomic_ref<std::uint64_t> Word(void* handle) {
    return std::atomic_ref<std::uint64_t>(*static_cast<std::uint64_t*>(handle));
}

std::uint32_t* CountWord(void* handle) {
    return static_cast<std::uint32_t*>(handle); // the low half, on this little-endian machine
}

// Takes the signal when there is one, with one waiter less when `leaving`.
bool Take(void* handle, bool leaving) {
    auto word = Word(handle);
    std::uint64_t now = word.load();
    const std::uint64_t waiter = leaving ? kOneWaiter : 0;
    while ((now & kCountMask) != 0) {
        if (word.compare_exchange_weak(now, now - 1 - waiter)) {
            return true;
        }
    }
    return false;
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

// ---- names and trust ----------------------------------------------------------------------

// Where the C library keeps a named semaphore.
std::string SemaphorePath(const std::string& objectName) {
    return "/dev/shm/sem." + objectName.substr(1);
}

// A name the C library would take: "/" and then no further "/".
bool ValidName(const std::string& objectName) {
    return objectName.size() > 1 && objectName.size() <= NAME_MAX - 4 &&
           objectName.find('/', 1) == std::string::npos;
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

std::string ServiceLockPath() {
    const char* folder = std::getenv("KAIRELON_RUNTIME_DIR");
    return std::string(folder && *folder ? folder : "/run/kairelon") + "/" +
           EventObjectName("kairelon-clockd.lock").substr(1);
}

TNamedEvent::~TNamedEvent() {
    Close();
}

TNamedEvent::TNamedEvent(TNamedEvent&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), fd_(std::exchange(other.fd_, -1)),
      guard_(std::exchange(other.guard_, -1)), path_(std::move(other.path_)),
      error_(std::exchange(other.error_, EBADF)),
      createdDevice_(std::exchange(other.createdDevice_, 0)),
      createdInode_(std::exchange(other.createdInode_, 0)) {}

TNamedEvent& TNamedEvent::operator=(TNamedEvent&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        fd_ = std::exchange(other.fd_, -1);
        guard_ = std::exchange(other.guard_, -1);
        path_ = std::move(other.path_);
        error_ = std::exchange(other.error_, EBADF);
        createdDevice_ = std::exchange(other.createdDevice_, 0);
        createdInode_ = std::exchange(other.createdInode_, 0);
    }
    return *this;
}

namespace {

// Maps an open event file and has its page watched; false with errno.
bool MapEvent(int fd, void*& handle, int& guard) {
    void* mapping = mmap(nullptr, kEventSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        return false;
    }
    handle = mapping;
    guard = Guard(mapping);
    return true;
}

// Opens what stands at the path as an event file: a regular file, never through a link, never
// blocking (a FIFO planted there), at least as long as an event. -1 with errno.
int OpenEventFile(const std::string& path, struct stat& st) {
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kEventSize)) {
        const int error = st.st_mode == 0 ? errno : EINVAL; // no event file, or cut short
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

TNamedEvent TNamedEvent::Open(const std::string& name) {
    TNamedEvent event;
    const std::string objectName = EventObjectName(name);
    if (!ValidName(objectName)) {
        event.error_ = EINVAL;
        return event;
    }
    const std::string path = SemaphorePath(objectName);
    struct stat st {};
    const int fd = OpenEventFile(path, st);
    if (fd < 0) {
        event.error_ = errno;
        return event;
    }
    event.fd_ = fd;
    event.path_ = path;
    if (!MapEvent(fd, event.handle_, event.guard_)) {
        const int error = errno;
        event.Close();
        event.error_ = error;
        return event;
    }
    event.error_ = 0;
    return event;
}

TNamedEvent TNamedEvent::OpenTrusted(const std::string& name) {
    const TEventTrust trust = CurrentEventTrust();
    TNamedEvent refused;
    const std::string objectName = EventObjectName(name);
    if (!ValidName(objectName)) {
        refused.error_ = EINVAL;
        return refused;
    }
    struct stat before {};
    if (lstat(SemaphorePath(objectName).c_str(), &before) != 0) {
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
    // What was opened, not what the name showed a moment before.
    struct stat opened {};
    if (fstat(event.fd_, &opened) != 0 || opened.st_dev != before.st_dev ||
        opened.st_ino != before.st_ino || !Trusted(opened, trust)) {
        refused.error_ = EPERM;
        return refused; // `event` closes its handle
    }
    return event;
}

TNamedEvent TNamedEvent::Create(const std::string& name, long groupId) {
    const std::string objectName = EventObjectName(name);
    TNamedEvent failed;
    if (!ValidName(objectName)) {
        failed.error_ = EINVAL;
        return failed;
    }
    const std::string path = SemaphorePath(objectName);
    // Made complete under a name of its own, then linked in place: the event is never seen
    // half made, and whatever stands at the name is replaced, never written through.
    std::string temp = "/dev/shm/sem.XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        failed.error_ = errno;
        return failed;
    }
    const auto fail = [&](int error) {
        close(fd);
        unlink(temp.c_str());
        failed.error_ = error;
        return std::move(failed);
    };
    // Not set, no waiters, and the flags of a process-shared semaphore.
    unsigned char initial[kEventSize] = {};
    for (std::size_t i = 0; i < sizeof kSharedFlags; ++i) {
        initial[kFlagsOffset + i] = static_cast<unsigned char>(kSharedFlags >> (8 * i));
    }
    if (write(fd, initial, sizeof initial) != static_cast<ssize_t>(sizeof initial)) {
        return fail(errno != 0 ? errno : EIO);
    }
    mode_t mode = S_IRUSR | S_IWUSR;
    if (groupId >= 0) {
        if (fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(groupId)) != 0) {
            return fail(errno);
        }
        mode |= S_IRGRP | S_IWGRP;
    }
    if (fchmod(fd, mode) != 0) {
        return fail(errno);
    }
    bool linked = false;
    for (int attempt = 0; attempt < kCreateAttempts && !linked; ++attempt) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            return fail(errno);
        }
        if (link(temp.c_str(), path.c_str()) == 0) {
            linked = true;
        } else if (errno != EEXIST) {
            return fail(errno);
        }
    }
    if (!linked) {
        return fail(EEXIST);
    }
    unlink(temp.c_str());
    TNamedEvent event;
    event.fd_ = fd;
    event.path_ = path;
    if (!MapEvent(fd, event.handle_, event.guard_)) {
        const int error = errno;
        unlink(path.c_str());
        event.Close();
        event.error_ = error;
        return event;
    }
    event.error_ = 0;
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        event.createdDevice_ = st.st_dev;
        event.createdInode_ = st.st_ino;
    }
    return event;
}

bool TNamedEvent::Remove(const std::string& name) {
    const std::string objectName = EventObjectName(name);
    if (!ValidName(objectName)) {
        errno = EINVAL;
        return false;
    }
    return unlink(SemaphorePath(objectName).c_str()) == 0;
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
    return unlink(SemaphorePath(objectName).c_str()) == 0;
}

bool TNamedEvent::Set() {
    if (!handle_) {
        error_ = EBADF;
        return false;
    }
    auto word = Word(handle_);
    std::uint64_t now = word.load();
    while ((now & kCountMask) == 0) {
        if (word.compare_exchange_weak(now, now + 1)) {
            if ((now >> 32) != 0) {
                syscall(SYS_futex, CountWord(handle_), FUTEX_WAKE, 1, nullptr, nullptr, 0);
            }
            break;
        }
    }
    if (Faulted(guard_)) {
        error_ = EIO;
        return false;
    }
    return true; // a second set while it is set changes nothing
}

bool TNamedEvent::Reset() {
    if (!handle_) {
        error_ = EBADF;
        return false;
    }
    auto word = Word(handle_);
    std::uint64_t now = word.load();
    while ((now & kCountMask) != 0 && !word.compare_exchange_weak(now, now & ~kCountMask)) {
    }
    if (Faulted(guard_)) {
        error_ = EIO;
        return false;
    }
    return true;
}

TWaitResult TNamedEvent::Wait(int timeoutMs) {
    if (!handle_) {
        error_ = EBADF;
        return TWaitResult::Failed;
    }
    const auto result = [this](TWaitResult outcome) {
        if (Faulted(guard_)) {
            error_ = EIO;
            return TWaitResult::Failed;
        }
        return outcome;
    };
    if (Take(handle_, false)) {
        return result(TWaitResult::Signalled);
    }
    const timespec deadline = DeadlineAfter(timeoutMs > 0 ? timeoutMs : 0);
    auto word = Word(handle_);
    word.fetch_add(kOneWaiter);
    for (;;) {
        if (Take(handle_, true)) {
            return result(TWaitResult::Signalled);
        }
        // Sleeps while the count is 0, until a set wakes it or the deadline (monotonic,
        // absolute, so a signal does not stretch the wait) passes.
        const long slept = syscall(SYS_futex, CountWord(handle_), FUTEX_WAIT_BITSET, 0u, &deadline,
                                   nullptr, FUTEX_BITSET_MATCH_ANY);
        if (slept != 0 && errno != EAGAIN && errno != EINTR) {
            const int error = errno;
            // The last look: a set may have come with the deadline.
            std::uint64_t now = word.load();
            for (;;) {
                if ((now & kCountMask) != 0) {
                    if (word.compare_exchange_weak(now, now - 1 - kOneWaiter)) {
                        return result(TWaitResult::Signalled);
                    }
                } else if (word.compare_exchange_weak(now, now - kOneWaiter)) {
                    break;
                }
            }
            if (error == ETIMEDOUT) {
                return result(TWaitResult::TimedOut);
            }
            error_ = error;
            return result(TWaitResult::Failed);
        }
        if (Faulted(guard_)) {
            error_ = EIO;
            return TWaitResult::Failed;
        }
    }
}

bool TNamedEvent::Healthy() {
    if (!handle_) {
        error_ = EBADF;
        return false;
    }
    if (Faulted(guard_)) {
        error_ = EIO;
        return false;
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd_, &held) != 0 || held.st_size < static_cast<off_t>(kEventSize)) {
        error_ = EIO;
        return false;
    }
    if (lstat(path_.c_str(), &named) != 0) {
        error_ = ENOENT;
        return false;
    }
    if (named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        error_ = EEXIST;
        return false;
    }
    // Flags other than those of a process-shared semaphore make the C library's calls on
    // this event misbehave in every process that uses them.
    const std::atomic_ref<std::uint32_t> flags(
        *reinterpret_cast<std::uint32_t*>(static_cast<char*>(handle_) + kFlagsOffset));
    if (flags.load() != kSharedFlags || Faulted(guard_)) {
        error_ = Faulted(guard_) ? EIO : EINVAL;
        return false;
    }
    return true;
}

void TNamedEvent::Close() {
    if (handle_) {
        if (guard_ >= 0) {
            guardedPages[guard_].store(0);
            guard_ = -1;
        }
        munmap(handle_, kEventSize);
        handle_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    error_ = EBADF;
}

} // namespace kairelon
