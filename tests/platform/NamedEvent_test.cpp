#include "platform/NamedEvent.h"
#include "support/EventPrefix.h"

#include <fcntl.h>
#include <grp.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

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

// Members of the service's group may write the events' files. Whatever one writes into a file
// or does to it, no call on the event crashes or sleeps beyond its time-out, and the handle
// tells that the event can no longer carry a signal.
TEST(NamedEvent, WhatAMemberDoesToTheFileNeverCrashesOrBlocksAndIsSeen) {
    const auto overwrite = [](const std::string& path, const std::vector<unsigned char>& bytes) {
        const int fd = open(path.c_str(), O_WRONLY);
        const bool written = fd >= 0 && pwrite(fd, bytes.data(), bytes.size(), 0) ==
                                            static_cast<ssize_t>(bytes.size());
        close(fd);
        return written ? 0 : -1;
    };
    struct Case {
        const char* what;
        std::function<int(const std::string& path)> damage;
        int error; // what Healthy() reports
    };
    const Case cases[] = {
        {"cut short", [](const std::string& path) { return truncate(path.c_str(), 0); }, EIO},
        {"cut to half", [](const std::string& path) { return truncate(path.c_str(), 16); }, EIO},
        // Not set, a waiter counted, and the flags with which the C library's set of the
        // event would sleep for ever.
        {"foreign flags",
         [&](const std::string& path) {
             return overwrite(path, {0, 0, 0, 0, 1, 0, 0, 0, 0x81, 0, 0, 0});
         },
         EINVAL},
        {"garbage",
         [&](const std::string& path) {
             return overwrite(path, std::vector<unsigned char>(32, 0xff));
         },
         EINVAL},
        {"removed", [](const std::string& path) { return unlink(path.c_str()); }, ENOENT},
        {"replaced",
         [](const std::string& path) {
             unlink(path.c_str());
             const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
             const int grown = ftruncate(fd, 32);
             close(fd);
             return fd >= 0 ? grown : -1;
         },
         EEXIST},
    };
    for (const Case& c : cases) {
        test::UniqueEventPrefix prefix;
        TNamedEvent service = TNamedEvent::Create(SyncDoneEventName, -1);
        TNamedEvent program = TNamedEvent::Open(SyncDoneEventName);
        ASSERT_TRUE(service.Healthy() && program.Healthy()) << c.what;
        ASSERT_EQ(c.damage(EventPath(SyncDoneEventName)), 0) << c.what;

        const auto start = Clock::now();
        for (TNamedEvent* event : {&service, &program}) {
            event->Set();
            event->Wait(50);
            event->Reset();
            event->Wait(50);
            event->Set();
        }
        EXPECT_LT(MsSince(start), 1000) << c.what;
        EXPECT_FALSE(service.Healthy()) << c.what;
        EXPECT_EQ(service.Error(), c.error) << c.what;
        EXPECT_FALSE(program.Healthy()) << c.what;
    }
}

// The files keep the C library's layout of a process-shared semaphore: its calls and ours
// signal each other, in both directions, awake or asleep.
TEST(NamedEvent, TheCLibrarysSemaphoreCallsMeetTheseEvents) {
    test::UniqueEventPrefix prefix;
    TNamedEvent event = TNamedEvent::Create(SyncDoneEventName, -1);
    ASSERT_TRUE(event.IsOpen());
    sem_t* sem = sem_open(EventObjectName(SyncDoneEventName).c_str(), O_RDWR);
    ASSERT_NE(sem, SEM_FAILED);

    EXPECT_EQ(sem_post(sem), 0);
    EXPECT_EQ(event.Wait(0), TWaitResult::Signalled);
    EXPECT_TRUE(event.Set());
    EXPECT_EQ(sem_trywait(sem), 0);
    EXPECT_EQ(sem_trywait(sem), -1);

    std::thread poster([sem] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sem_post(sem);
    });
    auto start = Clock::now();
    EXPECT_EQ(event.Wait(5000), TWaitResult::Signalled);
    EXPECT_LT(MsSince(start), 2000);
    poster.join();

    std::thread setter([&event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        event.Set();
    });
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 5;
    start = Clock::now();
    EXPECT_EQ(sem_timedwait(sem, &deadline), 0);
    EXPECT_LT(MsSince(start), 2000);
    setter.join();
    sem_close(sem);
}
