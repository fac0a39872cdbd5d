// Giving up root: the order of the steps, every failing step, and the refusals, with the
// system calls recorded instead of made.
#include "platform/Privileges.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using kairelon::DropOutcome;
using kairelon::DropRoot;
using kairelon::PrivilegeCalls;

namespace {

// A pretend system: one user "daemon-user" (uid 4242, group 4343), a root process, and a
// step that may be told to fail.
struct FakeSystem {
    uid_t euid = 0;
    std::string failing;          // "initgroups", "setgid" or "setuid"
    bool rootComesBack = false;   // setuid(0) succeeds after the switch
    std::vector<std::string> log; // the calls made, in order

    PrivilegeCalls Calls() {
        PrivilegeCalls calls;
        calls.geteuid = [this] { return euid; };
        calls.lookupUser = [this](const std::string& name, uid_t& uid, gid_t& gid) {
            log.push_back("lookup " + name);
            if (name == "daemon-user") {
                uid = 4242;
                gid = 4343;
                return true;
            }
            if (name == "root") {
                uid = 0;
                gid = 0;
                return true;
            }
            return false;
        };
        calls.initgroups = [this](const std::string& name, gid_t gid) {
            log.push_back("initgroups " + name + " " + std::to_string(gid));
            return Result("initgroups");
        };
        calls.setgid = [this](gid_t gid) {
            log.push_back("setgid " + std::to_string(gid));
            return Result("setgid");
        };
        calls.setuid = [this](uid_t uid) {
            log.push_back("setuid " + std::to_string(uid));
            if (uid == 0) {
                if (rootComesBack) {
                    return 0;
                }
                errno = EPERM;
                return -1;
            }
            return Result("setuid");
        };
        return calls;
    }

    int Result(const std::string& step) {
        if (step == failing) {
            errno = EPERM;
            return -1;
        }
        return 0;
    }
};

} // namespace

TEST(DropRoot, RootSwitchesGroupsThenGroupThenUserAndChecksRootIsGone) {
    FakeSystem system;
    const DropOutcome outcome = DropRoot("daemon-user", system.Calls());
    EXPECT_EQ(outcome.result, DropOutcome::Dropped) << outcome.message;
    EXPECT_EQ(outcome.uid, 4242u);
    EXPECT_EQ(outcome.gid, 4343u);
    EXPECT_EQ(system.log,
              (std::vector<std::string>{"lookup daemon-user", "initgroups daemon-user 4343",
                                        "setgid 4343", "setuid 4242", "setuid 0"}));
}

TEST(DropRoot, AProcessThatIsNotRootIsLeftAlone) {
    FakeSystem system;
    system.euid = 1000;
    const DropOutcome outcome = DropRoot("daemon-user", system.Calls());
    EXPECT_EQ(outcome.result, DropOutcome::NotRoot);
    EXPECT_TRUE(system.log.empty());
}

TEST(DropRoot, EveryFailingStepStopsThereAndIsReported) {
    struct Case {
        std::string failing;
        std::string messageStart;
        size_t callsMade; // the lookup and the steps up to the failing one
    };
    const Case cases[] = {
        {"initgroups", "setting the supplementary groups failed: ", 2},
        {"setgid", "setting the group failed: ", 3},
        {"setuid", "setting the user failed: ", 4},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        system.failing = c.failing;
        const DropOutcome outcome = DropRoot("daemon-user", system.Calls());
        EXPECT_EQ(outcome.result, DropOutcome::Failed) << c.failing;
        EXPECT_EQ(outcome.message.rfind(c.messageStart, 0), 0u) << outcome.message;
        EXPECT_NE(outcome.message.find("Operation not permitted"), std::string::npos)
            << outcome.message;
        EXPECT_EQ(system.log.size(), c.callsMade) << c.failing;
    }
}

TEST(DropRoot, RefusesAnUnknownUserAndRootItselfWithoutChangingAnything) {
    for (const std::string user : {"no-such-user", "root"}) {
        FakeSystem system;
        const DropOutcome outcome = DropRoot(user, system.Calls());
        EXPECT_EQ(outcome.result, DropOutcome::Failed) << user;
        EXPECT_NE(outcome.message.find("'" + user + "'"), std::string::npos) << outcome.message;
        EXPECT_EQ(system.log, std::vector<std::string>{"lookup " + user});
    }
}

TEST(DropRoot, RootThatCanBeTakenBackIsAFailure) {
    FakeSystem system;
    system.rootComesBack = true;
    const DropOutcome outcome = DropRoot("daemon-user", system.Calls());
    EXPECT_EQ(outcome.result, DropOutcome::Failed);
    EXPECT_NE(outcome.message.find("taken back"), std::string::npos) << outcome.message;
}

TEST(DropRoot, TheSystemCallsFindRootAndNobody) {
    const PrivilegeCalls calls = PrivilegeCalls::System();
    uid_t uid = 1;
    gid_t gid = 1;
    ASSERT_TRUE(calls.lookupUser("root", uid, gid));
    EXPECT_EQ(uid, 0u);
    EXPECT_EQ(gid, 0u);
    EXPECT_FALSE(calls.lookupUser("kairelon-no-such-user", uid, gid));
}
