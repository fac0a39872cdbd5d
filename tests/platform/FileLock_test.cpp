// The lock around a piece of work shared by several processes: one holder at a time, a wait
// bounded in time and ended by a stop, and nothing but a regular file taken as the lock file.
#include "platform/FileLock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

using namespace kairelon;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

TEST(FileLock, OneHolderAtATimeTheOtherWaitsUntilItsTimeOrAStop) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/work.lock";
    TFileLock first = TFileLock::Acquire(path, 0660, 0);
    ASSERT_TRUE(first.Held()) << first.Error();
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    auto start = Clock::now();
    EXPECT_EQ(TFileLock::Acquire(path, 0660, 300).Result(), TFileLock::Outcome::TimedOut);
    EXPECT_GE(MsSince(start), 300);
    EXPECT_LT(MsSince(start), 1500);

    std::atomic<int> asked{0};
    start = Clock::now();
    EXPECT_EQ(TFileLock::Acquire(path, 0660, 10000, [&] { return ++asked > 3; }).Result(),
              TFileLock::Outcome::Stopped);
    EXPECT_LT(MsSince(start), 1000);

    first.Release();
    EXPECT_TRUE(TFileLock::Acquire(path, 0660, 0).Held());
    EXPECT_EQ(access(path.c_str(), F_OK), 0) << "the file stays for the next holder";
}

TEST(FileLock, NothingButARegularFileIsTakenAndNeverThroughALink) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    ASSERT_EQ(symlink((folder + "/target").c_str(), (folder + "/link.lock").c_str()), 0);
    ASSERT_EQ(mkdir((folder + "/folder.lock").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((folder + "/fifo.lock").c_str(), 0600), 0);
    for (const char* name : {"/link.lock", "/folder.lock", "/fifo.lock", "/missing/x.lock"}) {
        const auto start = Clock::now();
        const TFileLock lock = TFileLock::Acquire(folder + name, 0660, 5000);
        EXPECT_EQ(lock.Result(), TFileLock::Outcome::Failed) << name;
        EXPECT_NE(lock.Error(), 0) << name;
        EXPECT_LT(MsSince(start), 1000) << name;
    }
    EXPECT_NE(access((folder + "/target").c_str(), F_OK), 0) << "nothing made at the link's target";
}
