#include "platform/Privileges.h"

#include <cerrno>
#include <cstring>

namespace kairelon {

DropOutcome DropRoot(const std::string& user, const PrivilegeCalls& calls) {
    DropOutcome outcome;
    if (calls.geteuid() != 0) {
        return outcome;
    }
    outcome.result = DropOutcome::Failed;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!calls.lookupUser(user, uid, gid)) {
        outcome.message = "there is no user '" + user + "' to run as";
        return outcome;
    }
    if (uid == 0) {
        outcome.message = "the user '" + user + "' is root; name an unprivileged user";
        return outcome;
    }
    // The groups first: once the user id changes, the groups can no longer be changed.
    const auto fail = [&](const char* step) {
        outcome.message = std::string(step) + " failed: " + std::strerror(errno);
        return outcome;
    };
    if (calls.initgroups(user, gid) != 0) {
        return fail("setting the supplementary groups");
    }
    if (calls.setgid(gid) != 0) {
        return fail("setting the group");
    }
    if (calls.setuid(uid) != 0) {
        return fail("setting the user");
    }
    if (calls.setuid(0) == 0) {
        outcome.message = "root could be taken back after switching to '" + user + "'";
        return outcome;
    }
    outcome.result = DropOutcome::Dropped;
    outcome.uid = uid;
    outcome.gid = gid;
    return outcome;
}

} // namespace kairelon
