#include "platform/Privileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace kairelon {

PrivilegeCalls PrivilegeCalls::System() {
    PrivilegeCalls calls;
    calls.geteuid = [] { return ::geteuid(); };
    calls.lookupUser = [](const std::string& name, uid_t& uid, gid_t& gid) {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr) {
            return false;
        }
        uid = found->pw_uid;
        gid = found->pw_gid;
        return true;
    };
    calls.initgroups = [](const std::string& name, gid_t gid) {
        return ::initgroups(name.c_str(), gid);
    };
    // The C library applies these to every thread of the process.
    calls.setgid = [](gid_t gid) { return ::setgid(gid); };
    calls.setuid = [](uid_t uid) { return ::setuid(uid); };
    return calls;
}

} // namespace kairelon
