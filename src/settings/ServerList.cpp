#include "settings/ServerList.h"

#include "framework/Exception.h"
#include "platform/FileWriting.h"
#include "platform/RegistryFile.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kairelon {

std::string ServerListPath() {
    const std::string settings = RegistryFilePath(RegistryRoot::CurrentUser);
    const std::size_t slash = settings.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : settings.substr(0, slash);
    return folder + "/" + kServerListFile;
}

TStringList LoadServerListFile() {
    const std::string path = ServerListPath();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        SaveServerListFile({});
    }
    return LoadStringList(path);
}

void SaveServerListFile(const TStringList& list) {
    const std::string path = ServerListPath();
    // Owner-only, like the settings file beside it.
    if (const int error = ReplaceFileAtomically(path, JoinLines(list), 0600); error != 0) {
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(error));
    }
}

} // namespace kairelon
