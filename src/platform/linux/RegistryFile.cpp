// Registry files on Linux: locations, change detection, locking and atomic replacement.
#include "platform/RegistryFile.h"

#include "framework/Exception.h"
#include "platform/FileWriting.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kairelon {

namespace {

constexpr const char* kUserFile = "user.reg";
constexpr const char* kSystemFile = "system.reg";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw ERegistryException(what + " '" + path + "': " + std::strerror(error));
}

// Closes a descriptor when leaving the scope; closing a lock file's descriptor releases the
// lock.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// "1 MiB (1048576 bytes)", "1000 bytes"
std::string SizeText(off_t bytes) {
    const std::string exact = std::to_string(bytes) + " bytes";
    if (bytes >= 1024 && bytes % (1 << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB (" + exact + ")";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB (" + exact + ")";
    return exact;
}

// "3 s", "250 ms"
std::string Milliseconds(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::int64_t Nanoseconds(const timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

extern "C" void EndLockWait(int) {}

// The signal that ends a timed lock wait (0 when it cannot be had): a real-time signal that
// nobody else handles, given a handler that does nothing and restarts no call, so that a
// blocking flock returns with EINTR when it arrives.
int LockWaitSignal() {
    static const int number = [] {
        const int candidate = SIGRTMIN + 4;
        struct sigaction old {};
        if (candidate > SIGRTMAX || ::sigaction(candidate, nullptr, &old) != 0 ||
            (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
            return 0;
        struct sigaction action {};
        action.sa_handler = EndLockWait;
        sigemptyset(&action.sa_mask);
        return ::sigaction(candidate, &action, nullptr) == 0 ? candidate : 0;
    }();
    return number;
}

// Tries the lock without blocking until the wait runs out, every 2 ms: used where no timer
// signal can be had.
bool LockByTrying(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            deadline - now, std::chrono::milliseconds(2)));
    }
}

// Takes the exclusive lock, waiting at most `waitMs` milliseconds (monotonic) for another
// holder to let go: a member of the service's group holding the machine-wide lock must not
// stop the program for good. False with errno (EWOULDBLOCK when the wait ran out).
//
// flock has no timed wait. The wait blocks in flock, so the kernel hands the lock over as
// soon as it is let go (trying again now and then would lose it to a busy writer that takes
// it again at once), and a timer of this thread's own ends it: its signal arrives at the
// deadline and every 10 ms after (so one that came just before flock was entered is no
// matter), and flock returns with EINTR. A refused wait leaves nothing behind: no thread, no
// descriptor, the timer deleted, the signal mask as it was.
bool LockWithin(int fd, int waitMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EWOULDBLOCK)
            break;
        if (errno != EINTR)
            return false;
    }
    const int signal = LockWaitSignal();
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal;
    event._sigev_un._tid = ::gettid();
    timer_t timer{};
    if (signal == 0 || ::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0)
        return LockByTrying(fd, deadline);
    itimerspec times{};
    times.it_value.tv_sec = waitMs / 1000;
    times.it_value.tv_nsec = static_cast<long>(waitMs % 1000) * 1000000 + 1;
    times.it_interval.tv_nsec = 10000000;
    sigset_t only, before;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, &before);
    int error = 0;
    if (::timer_settime(timer, 0, &times, nullptr) != 0) {
        error = -1;
    } else {
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error = errno;
                break;
            }
            if (Clock::now() >= deadline) {
                error = EWOULDBLOCK;
                break;
            }
        }
    }
    ::timer_delete(timer);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (error == -1)
        return LockByTrying(fd, deadline);
    errno = error;
    return error == 0;
}

// Opens (creating when missing) the lock file beside a registry file. The folder of the
// machine-wide file is group-writable, so whatever stands at the lock's name may have been
// planted there: a link is not followed, anything but a regular file is refused (-1, errno
// set), and the mode is set only on a file this process owns.
int OpenLockFile(const std::string& lockPath, mode_t mode, const std::string& groupFolder) {
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    if (st.st_uid == ::geteuid()) {
        // Against the umask; a lock file left with another group (by a run before the folder
        // was handed to its group) gets the folder's, so the group's members can open it.
        if (!groupFolder.empty())
            GiveFolderGroup(fd, groupFolder);
        ::fchmod(fd, mode);
    }
    return fd;
}

} // namespace

const char* RegistryRootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string RegistryFilePath(RegistryRoot root) {
    const char* file = root == RegistryRoot::CurrentUser ? kUserFile : kSystemFile;
    std::string dir = Env("KAIRELON_REGISTRY_DIR");
    if (!dir.empty())
        return dir + "/" + file;
    if (root == RegistryRoot::LocalMachine)
        return std::string(kMachineWideFolder) + "/" + file;
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')
        config = HomeFolder() + "/.config";
    return config + "/kairelon/" + file;
}

RegistryFile::RegistryFile(std::string path, mode_t fileMode, mode_t folderMode)
    : RegistryFile(std::move(path), RegistryFileRules{fileMode, folderMode}) {}

RegistryFile::RegistryFile(std::string path, const RegistryFileRules& rules)
    : path_(std::move(path)), rules_(rules) {}

RegistryFile RegistryFile::ForRoot(RegistryRoot root) {
    RegistryFileRules rules;
    if (root == RegistryRoot::CurrentUser) {
        // It holds the dial-up password: never readable by others, whatever it was.
        rules.fileMode = 0600;
        rules.keptModeBits = 0700;
        rules.followLink = true;
    } else {
        // Shared with the service's group: group-readable and -writable, of the folder's
        // group. The folder is the package's or the service's to make (setgid, group
        // kairelon); one made by a program run would be root's for good.
        rules.fileMode = 0660;
        rules.keptModeBits = 0704;
        rules.createFolder = false;
        rules.groupOfFolder = true;
        // It holds the three values of the hand-over to the service.
        rules.maxSize = kMachineWideMaxSize;
    }
    return RegistryFile(RegistryFilePath(root), rules);
}

std::string RegistryFile::Target() const {
    if (!rules_.followLink)
        return path_;
    return LinkTarget(path_); // a link left over is refused below
}

std::string RegistryFile::WriteProblem() const {
    const std::string folder = FolderOf(Target());
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) {
        if (rules_.createFolder && errno == ENOENT)
            return {}; // made by the first write
        return "Cannot write the registry file '" + path_ + "': " + std::strerror(errno) +
               (rules_.createFolder ? "" : " (the folder is made when the package is installed)");
    }
    if (!S_ISDIR(st.st_mode))
        return "Cannot write the registry file '" + path_ + "': " + std::strerror(ENOTDIR);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return "Cannot write the registry file '" + path_ + "': " + std::strerror(errno);
    const std::string lockPath = path_ + ".lock";
    if (::faccessat(AT_FDCWD, lockPath.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        return "Cannot lock the registry file '" + lockPath + "': " + std::strerror(errno);
    return {};
}

RegistryFile::Stamp RegistryFile::StampOf(const struct stat& st) {
    return Stamp{
        true, st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

const RegistryDocument& RegistryFile::Current() {
    Reload(false);
    return doc_;
}

void RegistryFile::Reload(bool force) {
    const std::string target = Target();
    if (target != readFrom_) {
        force = true; // a link now leads elsewhere
        readFrom_ = target;
    }
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT)
            Fail("Cannot read the registry file", target, errno);
        if (!stamp_ || stamp_->exists || force) {
            doc_ = RegistryDocument();
            stamp_ = Stamp{};
        }
        return;
    }
    // Only a regular file is a store. A link may lead to any file (whose content the next
    // write would copy into this one), and opening a pipe or a device may block for ever.
    if (!S_ISREG(st.st_mode))
        Fail("Cannot read the registry file", target, S_ISLNK(st.st_mode) ? ELOOP : EINVAL);
    Stamp now = StampOf(st);
    if (!force && stamp_ && *stamp_ == now)
        return;

    FileDescriptor fd(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.Get() < 0)
        Fail("Cannot read the registry file", target, errno);
    if (::fstat(fd.Get(), &st) != 0)
        Fail("Cannot read the registry file", target, errno);
    if (!S_ISREG(st.st_mode))
        Fail("Cannot read the registry file", target, EINVAL);
    now = StampOf(st);
    // The size is checked before anything is read: a member of the service's group may fill
    // the machine-wide file, or make it a sparse file of any length at no cost of disk.
    if (st.st_size > rules_.maxSize)
        TooLarge(target, st.st_size);
    std::string text;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot read the registry file", target, errno);
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(rules_.maxSize)) // grown since the fstat
            TooLarge(target, static_cast<off_t>(text.size()));
    }
    doc_ = RegistryDocument::Parse(text);
    stamp_ = now;
}

void RegistryFile::TooLarge(const std::string& target, off_t size) const {
    throw ERegistryException("Cannot read the registry file '" + target + "': it holds " +
                             std::to_string(size) + " bytes, more than the " +
                             SizeText(rules_.maxSize) + " a registry file may hold");
}

void RegistryFile::EnsureFolder() const {
    std::string folder = FolderOf(path_);
    if (!rules_.createFolder) {
        struct stat st;
        if (::stat(folder.c_str(), &st) != 0)
            throw ERegistryException("Cannot write the registry file '" + path_ +
                                     "': " + std::strerror(errno) +
                                     " (the folder is made when the package is installed)");
        if (!S_ISDIR(st.st_mode))
            Fail("Cannot write the registry file", path_, ENOTDIR);
        return;
    }
    if (!MakeFolders(folder, rules_.folderMode))
        Fail("Cannot create the registry folder", folder, errno ? errno : ENOTDIR);
}

void RegistryFile::RemoveStaleTemporaries(const std::string& target) const {
    // Only the holder of the lock creates temporaries, so any found under the lock were left
    // by a writer that died before its rename.
    std::string folder = FolderOf(target);
    std::string prefix = "." + BaseName(target) + ".tmp-";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            ::unlink((folder + "/" + entry->d_name).c_str());
    }
    ::closedir(dir);
}

void RegistryFile::Replace(const std::string& target, const std::string& text) {
    const ReplaceRules rules{rules_.fileMode, rules_.keptModeBits, rules_.groupOfFolder};
    if (const int error = ReplaceFile(target, text, rules); error != 0)
        Fail("Cannot write the registry file", target, error);
}

void RegistryFile::Update(const std::function<bool(RegistryDocument&)>& change) {
    EnsureFolder();
    std::string lockPath = path_ + ".lock";
    FileDescriptor lock(OpenLockFile(lockPath, rules_.fileMode,
                                     rules_.groupOfFolder ? FolderOf(path_) : std::string()));
    if (lock.Get() < 0)
        Fail("Cannot lock the registry file", lockPath, errno);
    if (!LockWithin(lock.Get(), rules_.lockWaitMs)) {
        if (errno == EWOULDBLOCK)
            throw ERegistryException("Cannot lock the registry file '" + lockPath +
                                     "': another process has held the lock for more than " +
                                     Milliseconds(rules_.lockWaitMs));
        Fail("Cannot lock the registry file", lockPath, errno);
    }
    // Another process may have written since our last read: change what is there now.
    Reload(true);
    const std::string target = readFrom_;
    RemoveStaleTemporaries(target);
    RegistryDocument next = doc_;
    if (!change(next))
        return;
    const std::string text = next.Serialize();
    if (text.size() > static_cast<size_t>(rules_.maxSize))
        throw ERegistryException("Cannot write the registry file '" + target + "': it would hold " +
                                 std::to_string(text.size()) + " bytes, more than the " +
                                 SizeText(rules_.maxSize) + " it may hold");
    Replace(target, text);
    doc_ = std::move(next);
    // Nobody else writes while we hold the lock, so this stamp belongs to what we wrote.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0)
        stamp_ = StampOf(st);
    else
        stamp_.reset();
}

} // namespace kairelon
