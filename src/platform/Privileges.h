// Giving up root once the steps that need it are done.
//
// A daemon started by hand as root only to bind a port below 1024 switches to an unprivileged
// user as soon as the port is bound: supplementary groups to that user's groups, then the
// user's primary group, then the user. Afterwards it checks that root cannot be taken back; a
// daemon that could not give up root must not go on. A process that is not root is left as it
// is (a service manager may already have started it unprivileged, with only the right to bind
// the port). The system calls go through `PrivilegeCalls`, so tests drive every step and
// every failure without being root; `PrivilegeCalls::System()` is the real one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace kairelon {

struct PrivilegeCalls {
    std::function<uid_t()> geteuid;
    // The user's id and primary group; false when there is no such user.
    std::function<bool(const std::string& name, uid_t& uid, gid_t& gid)> lookupUser;
    // Each returns 0 on success, otherwise -1 with errno set, as the system calls do.
    std::function<int(const std::string& name, gid_t gid)> initgroups;
    std::function<int(gid_t)> setgid;
    std::function<int(uid_t)> setuid;

    static PrivilegeCalls System();
};

struct DropOutcome {
    enum Result {
        NotRoot, // nothing to give up; nothing was changed
        Dropped, // now running as `uid`:`gid`
        Failed,  // `message` says why; the caller must stop
    };
    Result result = NotRoot;
    std::string message;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Switches a root process to `user` and its groups. Refuses a user whose id is 0.
DropOutcome DropRoot(const std::string& user,
                     const PrivilegeCalls& calls = PrivilegeCalls::System());

} // namespace kairelon
