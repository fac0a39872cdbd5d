#include "platform/StateFolder.h"

#include "platform/FileWriting.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kairelon {

std::string StateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/kairelon";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    return home + "/.local/state/kairelon";
}

bool AppendToFile(const std::string& path, const std::string& text) {
    if (!MakeFolders(FolderOf(path)))
        return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // One write for the whole text; WriteAll only continues a write the kernel cut short.
    const bool ok = WriteAll(fd, text);
    return ::close(fd) == 0 && ok;
}

} // namespace kairelon
