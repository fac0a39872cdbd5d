// Registry files on Linux: locations, change detection, locking and atomic replacement.
#include "platform/RegistryFile.h"

#include "framework/Exception.h"
#include "platform/FileWriting.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace kairelon {

namespace {

constexpr const char* kUserFile = "user.reg";
constexpr const char* kSystemFile = "system.reg";
constexpr int kLockWaitMs = 3000; // longest wait for another holder of the lock

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

std::int64_t Nanoseconds(const timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Takes the exclusive lock, waiting at most `waitMs` milliseconds (monotonic) for another
// holder to let go: a member of the service's group holding the machine-wide lock must not
// stop the program for good. False with errno (EWOULDBLOCK when the wait ran out).
//
// flock has no timed wait, and trying again now and then would lose the lock to a busy writer
// every time, so a helper thread waits in flock on a duplicate of the descriptor (the same
// lock). When the time is up first, the helper is left to take the lock whenever it comes
// free and to let it go again at once by closing its duplicate.
bool LockWithin(int fd, int waitMs) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EWOULDBLOCK)
            break;
        if (errno != EINTR)
            return false;
    }

    struct Wait {
        std::mutex mutex;
        std::condition_variable changed;
        bool finished = false;
        int error = 0;
    };
    auto wait = std::make_shared<Wait>();
    const int duplicate = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0)
        return false;
    std::thread([wait, duplicate] {
        int error = 0;
        while (::flock(duplicate, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error = errno;
                break;
            }
        }
        {
            std::lock_guard lock(wait->mutex);
            wait->finished = true;
            wait->error = error;
        }
        wait->changed.notify_one();
        // Taken for a caller still waiting, the lock stays with the caller's descriptor;
        // taken too late, this is its last descriptor and closing lets the lock go.
        ::close(duplicate);
    }).detach();

    std::unique_lock lock(wait->mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    if (!wait->changed.wait_until(lock, deadline, [&] { return wait->finished; })) {
        errno = EWOULDBLOCK;
        return false;
    }
    errno = wait->error;
    return wait->error == 0;
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
    }
    doc_ = RegistryDocument::Parse(text);
    stamp_ = now;
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
    if (!LockWithin(lock.Get(), kLockWaitMs)) {
        if (errno == EWOULDBLOCK)
            throw ERegistryException("Cannot lock the registry file '" + lockPath +
                                     "': another process has held the lock for more than " +
                                     std::to_string(kLockWaitMs / 1000) + " s");
        Fail("Cannot lock the registry file", lockPath, errno);
    }
    // Another process may have written since our last read: change what is there now.
    Reload(true);
    const std::string target = readFrom_;
    RemoveStaleTemporaries(target);
    RegistryDocument next = doc_;
    if (!change(next))
        return;
    Replace(target, next.Serialize());
    doc_ = std::move(next);
    // Nobody else writes while we hold the lock, so this stamp belongs to what we wrote.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0)
        stamp_ = StampOf(st);
    else
        stamp_.reset();
}

} // namespace kairelon
