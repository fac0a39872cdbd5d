#include "platform/OverflowFile.h"

#include "framework/Exception.h"
#include "platform/TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kairelon {

namespace {

[[noreturn]] void Fail(const char* what, int error) {
    throw EInOutError(std::string(what) + " the overflow file: " + std::strerror(error));
}

} // namespace

OverflowFile::OverflowFile(const std::string& directory) {
    // A file that is born without a name where the file system can do that; elsewhere a new,
    // exclusively created one whose name goes at once.
    fd_ = ::open(directory.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd_ < 0) {
        const std::string path = CreateTempFile(directory, "Buf");
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        const int error = errno;
        ::unlink(path.c_str());
        if (fd_ < 0) {
            throw EOSError("Can't open the overflow file in " + directory + ": " +
                           std::strerror(error));
        }
    }
    ::fchmod(fd_, S_IRUSR | S_IWUSR); // whatever the umask, only the owner
}

OverflowFile::~OverflowFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void OverflowFile::Read(std::int64_t offset, char* destination, std::int64_t count) const {
    while (count > 0) {
        const ssize_t got = ::pread(fd_, destination, static_cast<std::size_t>(count), offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            Fail("Can't read", got == 0 ? EIO : errno);
        }
        destination += got;
        offset += got;
        count -= got;
    }
}

void OverflowFile::Write(std::int64_t offset, const char* source, std::int64_t count) {
    while (count > 0) {
        const ssize_t put = ::pwrite(fd_, source, static_cast<std::size_t>(count), offset);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            Fail("Can't write", put == 0 ? ENOSPC : errno);
        }
        source += put;
        offset += put;
        count -= put;
    }
}

void OverflowFile::Discard(std::int64_t offset, std::int64_t length) {
    DiscardFileRange(fd_, offset, length);
}

bool OverflowFile::Truncate() {
    while (::ftruncate(fd_, 0) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

std::int64_t OverflowFile::Size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

} // namespace kairelon
