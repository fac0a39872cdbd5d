#include "platform/TempFile.h"

#include "framework/Exception.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace kairelon {

namespace {

bool IsFolder(const char* path) {
    struct stat info {};
    return path != nullptr && *path != '\0' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string TempDirectory() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string directory = IsFolder(fromEnvironment) ? fromEnvironment : "/tmp";
    if (!IsFolder(directory.c_str())) {
        throw EOSError("No folder for temporary files: " + directory);
    }
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }
    return directory;
}

std::string CreateTempFile(const std::string& directory, const std::string& prefix) {
    // Unpredictable names, so another user cannot lay a file or link in the way beforehand;
    // O_EXCL refuses anything that is already there, and a taken name just means another try.
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid())};
    int error = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char number[17];
        std::snprintf(number, sizeof number, "%016llX", static_cast<unsigned long long>(random()));
        const std::string path =
            directory + (directory.ends_with('/') ? "" : "/") + prefix + number + ".tmp";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              S_IRUSR | S_IWUSR);
        if (fd >= 0) {
            ::fchmod(fd, S_IRUSR | S_IWUSR); // whatever the umask, only the owner
            ::close(fd);
            return path;
        }
        error = errno;
        if (error != EEXIST) {
            break;
        }
    }
    throw EOSError("Can't create a temporary file in " + directory + ": " + std::strerror(error));
}

void DiscardFileRange(int handle, std::int64_t offset, std::int64_t length) {
    if (handle < 0 || offset < 0 || length <= 0) {
        return;
    }
    ::fallocate(handle, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length);
}

} // namespace kairelon
