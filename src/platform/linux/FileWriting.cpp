#include "platform/FileWriting.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kairelon {

bool MayMakeFolder(const std::string& folder) {
    // The same folder however it is written: double and trailing slashes do not count.
    std::string plain;
    for (char c : folder)
        if (c != '/' || plain.empty() || plain.back() != '/')
            plain.push_back(c);
    while (plain.size() > 1 && plain.back() == '/')
        plain.pop_back();
    return plain != kMachineWideFolder;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeFolders(const std::string& folder, mode_t mode) {
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
    if (!MayMakeFolder(folder))
        return (errno = ENOENT, false);
    const std::string parent = FolderOf(folder);
    if (parent != folder && !MakeFolders(parent, 0700))
        return false;
    if (::mkdir(folder.c_str(), mode) != 0) {
        // Made by someone else meanwhile: used as it is, its mode is not ours to change.
        if (errno != EEXIST)
            return false;
        return (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ||
               (errno = ENOTDIR, false);
    }
    // mkdir masks the mode with the umask; a setgid bit and group bits must stand as asked.
    ::chmod(folder.c_str(), mode);
    return true;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return (errno = EIO, false);
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool GiveFolderGroup(int fd, const std::string& folder) {
    struct stat dir, file;
    if (::stat(folder.c_str(), &dir) != 0 || ::fstat(fd, &file) != 0)
        return false;
    return file.st_gid == dir.st_gid || ::fchown(fd, static_cast<uid_t>(-1), dir.st_gid) == 0;
}

std::string LinkTarget(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            return current;
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
    }
    return current;
}

int ReplaceFile(const std::string& target, const std::string& text, const ReplaceRules& rules) {
    // The mode of the file it replaces, as far as the rules keep it.
    mode_t mode = rules.mode;
    struct stat old;
    if (::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        mode = (old.st_mode & rules.keptModeBits) | (rules.mode & ~rules.keptModeBits);
    const std::string folder = FolderOf(target);
    // mkostemp makes a new file of its own (O_EXCL: never a planted name or link), so the
    // changes below only ever touch our own file.
    std::string temp = folder + "/." + BaseName(target) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    if ((rules.groupOfFolder && !GiveFolderGroup(fd, folder)) || ::fchmod(fd, mode & 07777) != 0 ||
        !WriteAll(fd, text) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

int ReplaceFileAtomically(const std::string& linkOrFile, const std::string& text, mode_t mode) {
    // A link (a file kept in a dotfiles folder) stays a link: its target is replaced, in the
    // target's folder. An existing file keeps its mode, as far as `mode` and its owner allow.
    const std::string path = LinkTarget(linkOrFile);
    if (!MakeFolders(FolderOf(path)))
        return errno;
    return ReplaceFile(path, text, ReplaceRules{mode, static_cast<mode_t>(mode | 0700), false});
}

} // namespace kairelon
