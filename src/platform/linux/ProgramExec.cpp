#include "platform/ProgramExec.h"

#include "platform/FileWriting.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

namespace kairelon {

int ExecSibling(const std::string& name, char** argv) {
    std::string self(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= self.size())
        return n < 0 ? errno : ENAMETOOLONG;
    self.resize(static_cast<std::size_t>(n));
    const std::string program = FolderOf(self) + "/" + name;
    ::execv(program.c_str(), argv);
    return errno;
}

} // namespace kairelon
