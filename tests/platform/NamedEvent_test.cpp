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
