#include "platform/Library.h"

#include <dlfcn.h>

namespace kairelon {

bool LoadLibrary(const std::string& path, std::string* reason) {
    // The handle is never closed: the library and what it registered stay for the program's
    // life. Local binding keeps its symbols from resolving anyone else's.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (reason) {
            const char* text = ::dlerror();
            *reason = text ? text : "the library could not be loaded";
        }
        return false;
    }
    return true;
}

} // namespace kairelon
