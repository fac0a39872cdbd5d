// The one-instance lock: held while its holder lives, named with the holder's process id to a
// second comer, released (and its file removed) when the holder lets go or ends, never taken
// through a link, and taken over from a file another user planted where that is asked for.
#include "platform/InstanceLock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

using namespace kairelon;

namespace {

std::string Folder(const QTemporaryDir& dir) {
    return dir.path().toStdString();
}

} // namespace

TEST(InstanceLock, OneHolderAtATimeNamedToTheNext) {
    QTemporaryDir dir;
    const std::string path = Folder(dir) + "/missing/folder/x.lock";
    TInstanceLock first = TInstanceLock::Acquire(path);
    ASSERT_TRUE(first.Held()) << first.Error();
    struct stat st {};
    ASSERT_EQ(stat((Folder(dir) + "/missing").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Another process (a child, so the lock is not shared) finds it busy, with our id.
    const pid_t child = fork();
    if (child == 0) {
        const TInstanceLock second = TInstanceLock::Acquire(path);
        _exit(second.Result() == TInstanceLock::Outcome::Busy && second.Holder() == getppid() ? 0
                                                                                              : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    first.Release();
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the file goes with the lock";
    EXPECT_TRUE(TInstanceLock::Acquire(path).Held());
}

TEST(InstanceLock, AHolderThatDiesLeavesNothingThatBlocks) {
    QTemporaryDir dir;
    const std::string path = Folder(dir) + "/x.lock";
    const pid_t child = fork();
    if (child == 0) {
        const TInstanceLock held = TInstanceLock::Acquire(path);
        _exit(held.Held() ? 0 : 1); // no release: the process just ends (_exit runs nothing)
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(access(path.c_str(), F_OK), 0) << "its file stays";
    EXPECT_TRUE(TInstanceLock::Acquire(path).Held());
}

TEST(InstanceLock, NeverThroughALinkAndAPlantedFileIsReplacedWhereAsked) {
    QTemporaryDir dir;
    const std::string link = Folder(dir) + "/link.lock";
    const std::string target = Folder(dir) + "/target";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const TInstanceLock throughLink = TInstanceLock::Acquire(link);
    EXPECT_EQ(throughLink.Result(), TInstanceLock::Outcome::Failed);
    EXPECT_EQ(throughLink.Error(), ELOOP);
    EXPECT_NE(access(target.c_str(), F_OK), 0) << "nothing made at the link's target";

    if (geteuid() != 0) {
        GTEST_SKIP() << "planting a file of another user needs root";
    }
    const std::string planted = Folder(dir) + "/planted.lock";
    {
        const TInstanceLock made = TInstanceLock::Acquire(planted);
        ASSERT_TRUE(made.Held());
    }
    FILE* file = fopen(planted.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
    const TInstanceLock replaced = TInstanceLock::Acquire(planted, true);
    ASSERT_TRUE(replaced.Held());
    struct stat st {};
    ASSERT_EQ(stat(planted.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
}

// Others tell from the lock file, without taking the lock, that its holder has gone without
// letting go; a living holder, a released lock and a file that names no process tell nothing.
TEST(InstanceLock, AHolderThatIsGoneIsToldFromItsFile) {
    QTemporaryDir dir;
    const std::string path = Folder(dir) + "/run/x.lock";
    const pid_t child = fork();
    if (child == 0) {
        const TInstanceLock held = TInstanceLock::Acquire(path, false, 0644);
        _exit(held.Held() ? 0 : 1); // gone without releasing
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(TInstanceLock::DeadHolder(path), static_cast<long>(child));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "others may read the holder's id";
    ASSERT_EQ(stat((Folder(dir) + "/run").c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask) << "and reach it";

    TInstanceLock mine = TInstanceLock::Acquire(path);
    ASSERT_TRUE(mine.Held());
    EXPECT_EQ(TInstanceLock::DeadHolder(path), 0) << "a living holder";
    mine.Release();
    EXPECT_EQ(TInstanceLock::DeadHolder(path), 0) << "released: no file";

    for (const char* content : {"", "abc\n", "0\n", "-5\n", "12x\n"}) {
        FILE* file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(content, file);
        fclose(file);
        EXPECT_EQ(TInstanceLock::DeadHolder(path), 0) << "'" << content << "'";
    }
}
