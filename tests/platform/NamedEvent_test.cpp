#include "platform/NamedEvent.h"
#include "support/EventPrefix.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace kairelon;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct stat StatOfEvent(const std::string& name) {
    struct stat st {};
    const std::string path = "/dev/shm/sem." + EventObjectName(name).substr(1);
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

} // namespace

TEST(NamedEvent, OpeningAMissingEventFailsAndTheHandleFailsEveryCallAtOnce) {
    test::UniqueEventPrefix prefix;
    TNamedEvent event = TNamedEvent::Open(SyncBeginEventName);
    EXPECT_FALSE(event.IsOpen());
    EXPECT_EQ(event.Error(), ENOENT);
    EXPECT_FALSE(event.Set());
    EXPECT_FALSE(event.Reset());
    const auto start = Clock::now();
    EXPECT_EQ(event.Wait(10000), TWaitResult::Failed);
    EXPECT_LT(MsSince(start), 100);
    event.Close(); // harmless on a handle that is not open
}

TEST(NamedEvent, TheNameCarriesThePrefixFromTheEnvironment) {
    test::UniqueEventPrefix prefix;
    EXPECT_EQ(EventObjectName("KairelSyncDone"), "/" + prefix.Prefix() + "KairelSyncDone");
    TNamedEvent created = TNamedEvent::Create(SyncDoneEventName, -1);
    ASSERT_TRUE(created.IsOpen()) << created.Error();
    unsetenv("KAIRELON_EVENT_PREFIX");
    EXPECT_EQ(EventObjectName("KairelSyncDone"), "/KairelSyncDone");
    setenv("KAIRELON_EVENT_PREFIX", "bad/prefix-", 1);
    EXPECT_EQ(TNamedEvent::Open(SyncDoneEventName).Error(), EINVAL);
    setenv("KAIRELON_EVENT_PREFIX", prefix.Prefix().c_str(), 1);
    EXPECT_TRUE(TNamedEvent::Open(SyncDoneEventName).IsOpen());
}

TEST(NamedEvent, ASignalWakesOneWaitAndIsConsumedByIt) {
    test::UniqueEventPrefix prefix;
    TNamedEvent service = TNamedEvent::Create(SyncBeginEventName, -1);
    ASSERT_TRUE(service.IsOpen());
    TNamedEvent program = TNamedEvent::Open(SyncBeginEventName);
    ASSERT_TRUE(program.IsOpen()) << program.Error();

    EXPECT_EQ(service.Wait(0), TWaitResult::TimedOut); // created non-signalled
    EXPECT_TRUE(program.Set());
    EXPECT_TRUE(program.Set()); // an event, not a counter: the second set changes nothing
    EXPECT_EQ(service.Wait(0), TWaitResult::Signalled);
    EXPECT_EQ(service.Wait(0), TWaitResult::TimedOut);

    EXPECT_TRUE(program.Set());
    EXPECT_TRUE(program.Reset());
    EXPECT_TRUE(program.Reset()); // resetting a clear event is no failure
    EXPECT_EQ(service.Wait(0), TWaitResult::TimedOut);
}

TEST(NamedEvent, AWaitEndsAtItsTimeOutOrAtOnceWhenSetFromAnotherThread) {
    test::UniqueEventPrefix prefix;
    TNamedEvent event = TNamedEvent::Create(SyncDoneEventName, -1);
    ASSERT_TRUE(event.IsOpen());

    auto start = Clock::now();
    EXPECT_EQ(event.Wait(300), TWaitResult::TimedOut);
    const auto waited = MsSince(start);
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 1500);

    std::thread setter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        TNamedEvent other = TNamedEvent::Open(SyncDoneEventName);
        other.Set();
    });
    start = Clock::now();
    EXPECT_EQ(event.Wait(10000), TWaitResult::Signalled);
    EXPECT_LT(MsSince(start), 5000);
    setter.join();
}

TEST(NamedEvent, CreatingReplacesAnEventLeftBehindWithItsSignal) {
    test::UniqueEventPrefix prefix;
    {
        TNamedEvent old = TNamedEvent::Create(SyncBeginEventName, -1);
        ASSERT_TRUE(old.IsOpen());
        ASSERT_TRUE(old.Set());
    } // closed but not removed, as after a crash
    TNamedEvent fresh = TNamedEvent::Create(SyncBeginEventName, -1);
    ASSERT_TRUE(fresh.IsOpen()) << fresh.Error();
    EXPECT_EQ(fresh.Wait(0), TWaitResult::TimedOut);
}

TEST(NamedEvent, RemovingTheNameKeepsOpenHandlesWorking) {
    test::UniqueEventPrefix prefix;
    TNamedEvent service = TNamedEvent::Create(SyncDoneEventName, -1);
    TNamedEvent program = TNamedEvent::Open(SyncDoneEventName);
    ASSERT_TRUE(program.IsOpen());
    EXPECT_TRUE(TNamedEvent::Remove(SyncDoneEventName));
    EXPECT_EQ(TNamedEvent::Open(SyncDoneEventName).Error(), ENOENT);
    EXPECT_TRUE(program.Set());
    EXPECT_EQ(service.Wait(0), TWaitResult::Signalled);
    EXPECT_FALSE(TNamedEvent::Remove(SyncDoneEventName));
}

TEST(NamedEvent, PermissionsAreTheOwnersAloneOrTheGroups) {
    test::UniqueEventPrefix prefix;
    TNamedEvent ownerOnly = TNamedEvent::Create(SyncBeginEventName, -1);
    ASSERT_TRUE(ownerOnly.IsOpen());
    EXPECT_EQ(StatOfEvent(SyncBeginEventName).st_mode & 0777, 0600u);

    const gid_t group = getegid();
    TNamedEvent grouped = TNamedEvent::Create(SyncDoneEventName, static_cast<long>(group));
    ASSERT_TRUE(grouped.IsOpen()) << grouped.Error();
    const struct stat st = StatOfEvent(SyncDoneEventName);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(st.st_gid, group);
}

TEST(NamedEvent, MovingAHandleTakesItsSemaphoreAlong) {
    test::UniqueEventPrefix prefix;
    TNamedEvent created = TNamedEvent::Create(SyncBeginEventName, -1);
    TNamedEvent moved = std::move(created);
    EXPECT_FALSE(created.IsOpen()); // NOLINT(bugprone-use-after-move): the moved-from state
    ASSERT_TRUE(moved.IsOpen());
    EXPECT_TRUE(moved.Set());
    EXPECT_EQ(moved.Wait(0), TWaitResult::Signalled);
}

namespace {

std::string EventPath(const std::string& name) {
    return "/dev/shm/sem." + EventObjectName(name).substr(1);
}

} // namespace

TEST(NamedEvent, OnlyEventsOfTheTrustedOwnersAndGroupThatOthersCannotWriteAreOpened) {
    test::UniqueEventPrefix prefix;
    TNamedEvent created = TNamedEvent::Create(SyncDoneEventName, static_cast<long>(getegid()));
    ASSERT_TRUE(created.IsOpen()) << created.Error();
    const long me = static_cast<long>(geteuid());
    const long myGroup = static_cast<long>(getegid());
    struct Case {
        const char* what;
        TEventTrust trust;
        mode_t mode;
        int error; // 0: opened
    };
    const Case cases[] = {
        {"own user and group", {{me}, myGroup}, 0660, 0},
        {"one of several owners", {{me + 1, me}, myGroup}, 0660, 0},
        {"readable by others", {{me}, myGroup}, 0664, 0},
        {"another owner", {{me + 1}, myGroup}, 0660, EPERM},
        {"no owner trusted", {{}, myGroup}, 0660, EPERM},
        {"another group", {{me}, myGroup + 1}, 0660, EPERM},
        {"writable by others", {{me}, myGroup}, 0662, EPERM},
        {"writable by all", {{me}, myGroup}, 0666, EPERM},
        {"no group: owner only", {{me}, -1}, 0600, 0},
        {"no group: group-writable", {{me}, -1}, 0660, EPERM},
    };
    for (const Case& c : cases) {
        SetEventTrust(c.trust);
        ASSERT_EQ(chmod(EventPath(SyncDoneEventName).c_str(), c.mode), 0);
        TNamedEvent opened = TNamedEvent::OpenTrusted(SyncDoneEventName);
        EXPECT_EQ(opened.IsOpen(), c.error == 0) << c.what;
        EXPECT_EQ(opened.Error(), c.error) << c.what;
        // An event that is not trusted behaves as a missing one: nothing reaches the service.
        EXPECT_EQ(opened.Set(), c.error == 0) << c.what;
        EXPECT_EQ(created.Wait(0), c.error == 0 ? TWaitResult::Signalled : TWaitResult::TimedOut)
            << c.what;
    }
    EXPECT_EQ(TNamedEvent::OpenTrusted(SyncBeginEventName).Error(), ENOENT);
}

TEST(NamedEvent, SomethingElseUnderTheEventsNameIsNotTrusted) {
    test::UniqueEventPrefix prefix;
    TNamedEvent created = TNamedEvent::Create(SyncDoneEventName, static_cast<long>(getegid()));
    ASSERT_TRUE(created.IsOpen());
    // A link in the begin event's place, pointing at a trusted event.
    ASSERT_EQ(symlink(EventPath(SyncDoneEventName).c_str(), EventPath(SyncBeginEventName).c_str()),
              0);
    EXPECT_EQ(TNamedEvent::OpenTrusted(SyncBeginEventName).Error(), EPERM);
    EXPECT_TRUE(TNamedEvent::OpenTrusted(SyncDoneEventName).IsOpen());
}

TEST(NamedEvent, TheSystemTrustsRootAndTheGroupKairelon) {
    const std::optional<TEventTrust> previous = SetEventTrust(std::nullopt);
    const TEventTrust trust = CurrentEventTrust();
    SetEventTrust(previous);
    ASSERT_FALSE(trust.owners.empty());
    EXPECT_EQ(trust.owners.front(), 0);
    const group* kairelon = getgrnam("kairelon");
    EXPECT_EQ(trust.group, kairelon ? static_cast<long>(kairelon->gr_gid) : -1L);
}

// A service removes only the events it made: a name that another has made anew since, or that
// is gone, stays as it is; an opened (not created) handle removes nothing.
TEST(NamedEvent, RemovingWhatItCreatedLeavesAnothersEventAlone) {
    test::UniqueEventPrefix prefix;
    TNamedEvent mine = TNamedEvent::Create(SyncBeginEventName, -1);
    ASSERT_TRUE(mine.IsOpen());
    TNamedEvent opened = TNamedEvent::Open(SyncBeginEventName);
    ASSERT_TRUE(opened.IsOpen());
    EXPECT_FALSE(opened.RemoveCreated(SyncBeginEventName)) << "it made nothing";

    TNamedEvent theirs = TNamedEvent::Create(SyncBeginEventName, -1); // replaces the name
    ASSERT_TRUE(theirs.IsOpen());
    EXPECT_FALSE(mine.RemoveCreated(SyncBeginEventName));
    EXPECT_TRUE(TNamedEvent::Open(SyncBeginEventName).IsOpen()) << "theirs stays";

    EXPECT_TRUE(theirs.RemoveCreated(SyncBeginEventName));
    EXPECT_EQ(TNamedEvent::Open(SyncBeginEventName).Error(), ENOENT);
    EXPECT_FALSE(theirs.RemoveCreated(SyncBeginEventName)) << "once";
    EXPECT_TRUE(theirs.Set()) << "the handle stays usable";
}
