#include "framework/Exception.h"
#include "net/FifoBuffer.h"
#include "platform/MemoryStatus.h"
#include "platform/TempFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace kairelon;

namespace {

// Every test gets its own folder for temporary files and a known memory status, so overflow
// files can be counted and capacities are predictable.
class FifoBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tempDir.isValid());
        if (const char* old = std::getenv("TMPDIR")) {
            oldTmpDir = old;
            hadTmpDir = true;
        }
        setenv("TMPDIR", tempDir.path().toLocal8Bit().constData(), 1);
        // 5 % of 1310720 bytes is exactly 64 KiB.
        SetMemoryStatusQuery([] { return std::uint64_t{1310720}; });
    }

    void TearDown() override {
        TNMFifoBufferProbe::SetRefillHook({});
        SetMemoryStatusQuery({});
        if (hadTmpDir) {
            setenv("TMPDIR", oldTmpDir.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

    // Files with a name in the folder for temporary files.
    QStringList OverflowFiles() const {
        return QDir(tempDir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    // Files of that folder this process holds open, named or not.
    int OpenOverflowFiles() const {
        int count = 0;
        const std::string folder = tempDir.path().toStdString() + "/";
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
            if (!error && target.starts_with(folder)) {
                ++count;
            }
        }
        return count;
    }

    QTemporaryDir tempDir;
    std::string oldTmpDir;
    bool hadTmpDir = false;
};

std::string Bytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(count, '\0');
    for (char& c : text) {
        c = static_cast<char>(random() % 256);
    }
    return text;
}

std::string Letters(std::size_t count, char first = 'a') {
    std::string text(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        text[i] = static_cast<char>(first + i % 26);
    }
    return text;
}

std::string RemoveAll(TNMFifoBuffer& fifo) {
    std::string out;
    std::vector<char> chunk(100000);
    for (;;) {
        const int got = fifo.Remove(chunk.data(), static_cast<int>(chunk.size()));
        if (got == 0) {
            break;
        }
        out.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return out;
}

void Append(TNMFifoBuffer& fifo, const std::string& bytes) {
    ASSERT_EQ(fifo.Append(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
}

void SlowRefills(int milliseconds) {
    TNMFifoBufferProbe::SetRefillHook(
        [milliseconds] { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); });
}

} // namespace

TEST_F(FifoBufferTest, CapacityIsFivePercentOfFreeMemoryInWholeKibibytesAtLeast64KiB) {
    const std::vector<std::pair<std::uint64_t, int>> cases = {
        {1310720, 65536},                     // exactly 64 KiB
        {30000000, 1499136},                  // 1 500 000 rounded down to a multiple of 1024
        {1000000, 65536},                     // 50 000 is raised to the minimum
        {0, 65536},                           // unknown memory status
        {std::uint64_t{1} << 40, 2147482624}, // 1 TiB: capped below 2 GiB, still whole KiB
    };
    for (const auto& [available, capacity] : cases) {
        SetMemoryStatusQuery([available = available] { return available; });
        TNMFifoBuffer fifo;
        EXPECT_EQ(fifo.MemoryCapacity(), capacity) << available;
    }
}

TEST_F(FifoBufferTest, NewQueueHoldsNothingAndTakesNoMemoryUpFront) {
    SetMemoryStatusQuery([] { return std::uint64_t{24} << 30; }); // 24 GiB free
    TNMFifoBuffer fifo;
    EXPECT_GT(fifo.MemoryCapacity(), 1 << 30); // the threshold is above a gigabyte
    EXPECT_EQ(fifo.BufferSize(), 0);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated, 0);
    char out[8] = {};
    EXPECT_EQ(fifo.Remove(out, 8), 0);
    EXPECT_EQ(fifo.Peek(out, 8), 0);
    EXPECT_EQ(fifo.Search("x"), 0);
    EXPECT_EQ(fifo.Search("longer than the queue"), 0);

    Append(fifo, "hello");
    EXPECT_LE(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated,
              4096); // memory follows the bytes held
    const std::string burst = Bytes(3 << 20, 1);
    Append(fifo, burst);
    EXPECT_LE(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated, 2 * (3 << 20) + 4096);
    EXPECT_EQ(RemoveAll(fifo), "hello" + burst);
    EXPECT_GT(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated,
              0); // kept for the next burst: up to 8 MiB
    const std::string big = Bytes(9 << 20, 8);
    Append(fifo, big);
    EXPECT_EQ(RemoveAll(fifo), big);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated,
              0); // a drained big burst gives its memory back
    EXPECT_TRUE(OverflowFiles().isEmpty());
}

TEST_F(FifoBufferTest, CountsOfZeroOrLessAndNullPointers) {
    TNMFifoBuffer fifo;
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(fifo.Append(buffer, 0), 0);
    EXPECT_EQ(fifo.Append(buffer, -5), 0);
    Append(fifo, "abc");
    EXPECT_EQ(fifo.Remove(buffer, 0), 0);
    EXPECT_EQ(fifo.Peek(buffer, -1), 0);
    try {
        fifo.Append(nullptr, 3);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Can't read the source buffer");
    }
    try {
        fifo.Remove(nullptr, 3);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Can't write to the destination buffer");
    }
    EXPECT_THROW(fifo.Peek(nullptr, 1), Exception);
    EXPECT_EQ(fifo.BufferSize(), 3);
    EXPECT_EQ(RemoveAll(fifo), "abc");
}

TEST_F(FifoBufferTest, AppendBeyondTheLargestSizeTakesNothing) {
    TNMFifoBuffer fifo;
    Append(fifo, "0123456789");
    const char small[1] = {'x'};
    // Raised before the source is read, so a short source is safe here.
    EXPECT_THROW(fifo.Append(small, INT_MAX - 5), ERangeError);
    EXPECT_EQ(fifo.BufferSize(), 10);
    EXPECT_EQ(RemoveAll(fifo), "0123456789");
}

TEST_F(FifoBufferTest, OverflowFileAppearsOneByteBeyondCapacityAndGoesWithClear) {
    TNMFifoBuffer fifo;
    ASSERT_EQ(fifo.MemoryCapacity(), 65536);
    const std::string full = Bytes(65536, 2);
    Append(fifo, full);
    EXPECT_EQ(OpenOverflowFiles(), 0);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).DiskCount, 0);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).OverflowHandle, -1);

    Append(fifo, "Z");
    const TNMFifoLayout layout = TNMFifoBufferProbe::Layout(fifo);
    EXPECT_EQ(layout.DiskCount, 1);
    EXPECT_EQ(layout.MemoryCount, 65536);
    EXPECT_EQ(fifo.BufferSize(), 65537);
    EXPECT_EQ(OpenOverflowFiles(), 1);
    ASSERT_GE(layout.OverflowHandle, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(layout.OverflowHandle, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    fifo.Clear();
    EXPECT_EQ(OpenOverflowFiles(), 0);
    EXPECT_EQ(fifo.BufferSize(), 0);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).OverflowHandle, -1);
    Append(fifo, "again");
    EXPECT_EQ(RemoveAll(fifo), "again");
}

TEST_F(FifoBufferTest, TheOverflowFileHasNoNameSoAKilledProcessLeavesNoBytesOnDisk) {
    {
        TNMFifoBuffer fifo;
        fifo.SetMemoryBufferCapacity(100);
        Append(fifo, Bytes(1000, 3));
        EXPECT_EQ(OpenOverflowFiles(), 1);
        EXPECT_TRUE(OverflowFiles().isEmpty()) << "the overflow file has a name";
        struct stat info {};
        ASSERT_EQ(::fstat(TNMFifoBufferProbe::Layout(fifo).OverflowHandle, &info), 0);
        EXPECT_EQ(info.st_nlink, 0u);
        EXPECT_EQ(RemoveAll(fifo), Bytes(1000, 3)) << "the bytes are still there to read";
    }

    // A process killed while its buffer spills leaves nothing behind.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TNMFifoBuffer fifo;
        fifo.SetMemoryBufferCapacity(100);
        const std::string bytes = Bytes(5000, 4);
        fifo.Append(bytes.data(), static_cast<int>(bytes.size()));
        ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(OverflowFiles().isEmpty()) << "received bytes outlived the process on disk";
}

TEST_F(FifoBufferTest, DestructionDeletesTheOverflowFileEvenDuringARefill) {
    {
        TNMFifoBuffer fifo;
        fifo.SetMemoryBufferCapacity(100);
        Append(fifo, Bytes(1000, 3));
        EXPECT_EQ(OpenOverflowFiles(), 1);
    }
    EXPECT_EQ(OpenOverflowFiles(), 0);
    {
        SlowRefills(100);
        TNMFifoBuffer fifo;
        fifo.SetMemoryBufferCapacity(100);
        Append(fifo, Bytes(1000, 4));
        char out[100];
        ASSERT_EQ(fifo.Remove(out, 100), 100);
        EXPECT_TRUE(TNMFifoBufferProbe::Refilling(fifo));
    } // the destructor waits for the refill before it deletes anything
    EXPECT_EQ(OpenOverflowFiles(), 0);
    EXPECT_TRUE(OverflowFiles().isEmpty());
}

TEST_F(FifoBufferTest, DrainingMemoryRefillsFromDiskInOrderWhileTheNextOperationWaits) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(1000);
    const std::string data = Bytes(2500, 5);
    Append(fifo, data);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).DiskCount, 1500);

    SlowRefills(150);
    std::string out(1000, '\0');
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(fifo.Remove(out.data(), 1000), 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100))
        << "Remove must not wait for the refill it starts";
    EXPECT_TRUE(TNMFifoBufferProbe::Refilling(fifo));
    EXPECT_EQ(out, data.substr(0, 1000));

    // Peek waits for the refill, then sees the former disk bytes in memory.
    std::string head(10, '\0');
    ASSERT_EQ(fifo.Peek(head.data(), 10), 10);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(140));
    EXPECT_EQ(head, data.substr(1000, 10));
    const TNMFifoLayout layout = TNMFifoBufferProbe::Layout(fifo);
    EXPECT_EQ(layout.MemoryCount, 1000); // exactly one capacity's worth per refill
    EXPECT_EQ(layout.DiskCount, 500);
    EXPECT_EQ(layout.DiskReadPos, 1000);

    TNMFifoBufferProbe::SetRefillHook({});
    ASSERT_EQ(fifo.Remove(out.data(), 1000), 1000);
    EXPECT_EQ(out, data.substr(1000, 1000));
    const TNMFifoLayout drained = TNMFifoBufferProbe::Layout(fifo);
    EXPECT_EQ(drained.MemoryCount, 500);
    EXPECT_EQ(drained.DiskCount, 0);
    EXPECT_EQ(drained.DiskReadPos, 0); // an empty disk part starts again at the file's start
    EXPECT_EQ(drained.DiskWritePos, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(drained.OverflowHandle, &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(RemoveAll(fifo), data.substr(2000));
    EXPECT_EQ(OpenOverflowFiles(), 1); // kept for reuse until Clear or destruction
}

TEST_F(FifoBufferTest, NewBytesGoBehindTheDiskPartEvenWhenMemoryHasRoom) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(10);
    Append(fifo, "0123456789AB"); // 10 in memory, 2 on disk
    char out[4];
    ASSERT_EQ(fifo.Remove(out, 4), 4);
    Append(fifo, "CD"); // memory has room, but the disk part is younger than memory
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).DiskCount, 4);
    EXPECT_EQ(RemoveAll(fifo), "456789ABCD");
}

TEST_F(FifoBufferTest, CountsBeyondWhatIsHeldDeliverOnlyWhatIsHeld) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(8);
    Append(fifo, "abcdefghijkl"); // 8 in memory, 4 on disk
    std::string out(64, '#');
    EXPECT_EQ(fifo.Peek(out.data(), 64), 12);
    EXPECT_EQ(out, "abcdefghijkl" + std::string(52, '#'));
    out.assign(64, '#');
    EXPECT_EQ(fifo.Remove(out.data(), 64), 12);
    EXPECT_EQ(out, "abcdefghijkl" + std::string(52, '#'));
    EXPECT_EQ(fifo.BufferSize(), 0);
    EXPECT_EQ(fifo.Remove(out.data(), 64), 0);
    const TNMFifoLayout layout = TNMFifoBufferProbe::Layout(fifo);
    EXPECT_EQ(layout.MemoryCount, 0);
    EXPECT_EQ(layout.DiskCount, 0);
}

TEST_F(FifoBufferTest, SearchGivesTheEndOfTheFirstOccurrence) {
    TNMFifoBuffer fifo;
    Append(fifo, std::string("ab\nc", 4));
    EXPECT_EQ(fifo.Search("\n"), 3);
    EXPECT_EQ(fifo.Search("b\nc"), 4);
    EXPECT_EQ(fifo.Search("x"), 0);
    EXPECT_EQ(fifo.Search(""), 0);
    EXPECT_EQ(fifo.Search("abcde"), -1); // longer than the bytes held
    EXPECT_EQ(fifo.Search(std::string(70000, 'a').c_str()), -1);

    // A zero byte in the data hides nothing.
    fifo.Clear();
    Append(fifo, std::string("x\0y\r\n", 5));
    EXPECT_EQ(fifo.Search("\n"), 5);
    EXPECT_EQ(fifo.Search("y"), 3);
}

TEST_F(FifoBufferTest, SearchFindsOccurrencesAcrossEverySeam) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(10);
    Append(fifo, "....START-"); // exactly fills memory
    Append(fifo, "END......."); // disk part
    EXPECT_EQ(fifo.Search("START-END"), 13);
    EXPECT_EQ(fifo.Search("-E"), 11);
    EXPECT_EQ(fifo.Search("...."), 4);
    EXPECT_EQ(fifo.Search("END......."), 20);
    EXPECT_EQ(fifo.Search("....START-END......."), 20); // pattern as long as the queue

    // Across the chunks in which the disk part is read (65536 bytes each).
    fifo.Clear();
    fifo.SetMemoryBufferCapacity(100);
    std::string data(100 + 65536 * 2 + 50, '.');
    data.replace(100 + 65536 - 3, 7, "NEEDLE!");
    data.replace(100 + 2 * 65536 - 1, 2, "\r\n");
    Append(fifo, data);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).DiskCount, 65536 * 2 + 50);
    EXPECT_EQ(fifo.Search("NEEDLE!"), 100 + 65536 - 3 + 7);
    EXPECT_EQ(fifo.Search("\r\n"), 100 + 2 * 65536 + 1);
    EXPECT_EQ(fifo.Search("missing"), 0);

    // Across the wrap of the memory ring.
    fifo.Clear();
    fifo.SetMemoryBufferCapacity(4096);
    Append(fifo, std::string(4000, '.'));
    std::string out(3990, '\0');
    fifo.Remove(out.data(), 3990);
    Append(fifo, std::string(94, '.') + "WRAP" + std::string(6, '.')); // "WRAP" at 4094..4097
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated, 4096);
    EXPECT_LT(TNMFifoBufferProbe::Layout(fifo).MemoryWritePos,
              TNMFifoBufferProbe::Layout(fifo).MemoryReadPos);
    EXPECT_EQ(fifo.Search("WRAP"), 10 + 94 + 4);
    EXPECT_EQ(RemoveAll(fifo), std::string(104, '.') + "WRAP" + std::string(6, '.'));
}

TEST_F(FifoBufferTest, SearchWaitsForARunningRefill) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(16);
    Append(fifo, "0123456789abcdefline one\n");
    SlowRefills(150);
    std::string out(16, '\0');
    ASSERT_EQ(fifo.Remove(out.data(), 16), 16);
    ASSERT_TRUE(TNMFifoBufferProbe::Refilling(fifo));
    EXPECT_EQ(fifo.Search("\n"), 9); // not 0 because the memory part was empty a moment ago
}

TEST_F(FifoBufferTest, LoweringCapacityBelowTheBytesInMemoryIsRefused) {
    TNMFifoBuffer fifo;
    Append(fifo, "0123456789");
    try {
        fifo.SetMemoryBufferCapacity(9);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Can not lower memory capacity at this time");
    }
    EXPECT_EQ(fifo.MemoryCapacity(), 65536);
    EXPECT_EQ(fifo.BufferSize(), 10);
    EXPECT_THROW(fifo.SetMemoryBufferCapacity(0), ERangeError);
    fifo.SetMemoryBufferCapacity(10);
    EXPECT_EQ(fifo.MemoryCapacity(), 10);
    EXPECT_LE(TNMFifoBufferProbe::Layout(fifo).MemoryAllocated, 10);
    Append(fifo, "ABC");
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).DiskCount, 3);

    // Raising it while the disk part holds bytes keeps the order.
    fifo.SetMemoryBufferCapacity(1000);
    Append(fifo, "DEF");
    char out[5];
    ASSERT_EQ(fifo.Remove(out, 5), 5);
    Append(fifo, "GHI");
    EXPECT_EQ(RemoveAll(fifo), "56789ABCDEFGHI");
}

TEST_F(FifoBufferTest, LoadFromStreamReplacesTheContent) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(1000);
    Append(fifo, "old bytes");

    QByteArray small("new content");
    QBuffer smallStream(&small);
    ASSERT_TRUE(smallStream.open(QIODevice::ReadOnly));
    smallStream.seek(4); // the whole stream is loaded, not only the rest
    fifo.LoadFromStream(smallStream);
    EXPECT_EQ(fifo.BufferSize(), 11);
    EXPECT_TRUE(OverflowFiles().isEmpty());

    QByteArray empty;
    QBuffer emptyStream(&empty);
    ASSERT_TRUE(emptyStream.open(QIODevice::ReadOnly));
    fifo.LoadFromStream(emptyStream); // nothing changes
    EXPECT_EQ(RemoveAll(fifo), "new content");

    Append(fifo, "old");
    const std::string large = Bytes(3500, 6);
    QByteArray largeBytes(large.data(), static_cast<qsizetype>(large.size()));
    QBuffer largeStream(&largeBytes);
    ASSERT_TRUE(largeStream.open(QIODevice::ReadOnly));
    SlowRefills(50);
    fifo.LoadFromStream(largeStream);
    EXPECT_TRUE(
        TNMFifoBufferProbe::Refilling(fifo)); // the memory part was left empty; a refill runs
    EXPECT_EQ(fifo.BufferSize(), 3500);
    EXPECT_EQ(TNMFifoBufferProbe::Layout(fifo).MemoryCount, 1000);
    EXPECT_EQ(RemoveAll(fifo), large);
}

TEST_F(FifoBufferTest, LoadFromFile) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(100);
    const std::string data = Bytes(777, 7);
    const QString path = QDir(tempDir.path()).filePath("input.bin");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data.data(), static_cast<qint64>(data.size()));
    }
    fifo.LoadFromFile(path.toStdString());
    EXPECT_EQ(fifo.BufferSize(), 777);
    EXPECT_EQ(RemoveAll(fifo), data);
    EXPECT_THROW(fifo.LoadFromFile((tempDir.path() + "/missing").toStdString()), EFOpenError);
}

TEST_F(FifoBufferTest, AFailedRefillIsReportedAndLosesNothing) {
    TNMFifoBuffer fifo;
    fifo.SetMemoryBufferCapacity(10);
    const std::string data = Letters(35);
    Append(fifo, data);
    TNMFifoBufferProbe::SetRefillHook([] { throw EInOutError("disk gone"); });
    std::string out(10, '\0');
    ASSERT_EQ(fifo.Remove(out.data(), 10), 10);
    EXPECT_THROW(fifo.Peek(out.data(), 1), EInOutError);
    TNMFifoBufferProbe::SetRefillHook({});
    EXPECT_EQ(fifo.BufferSize(), 25);
    EXPECT_EQ(fifo.Search("z"), 26 - 10);
    EXPECT_EQ(RemoveAll(fifo), data.substr(10));
}

TEST(TempFile, CreatesPrivateFilesWithUniqueNames) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    const std::string first = CreateTempFile(folder, "Buf");
    const std::string second = CreateTempFile(folder + "/", "Buf");
    EXPECT_NE(first, second);
    for (const std::string& path : {first, second}) {
        const QFileInfo info(QString::fromStdString(path));
        EXPECT_TRUE(info.fileName().startsWith("Buf"));
        EXPECT_TRUE(info.fileName().endsWith(".tmp"));
        EXPECT_EQ(info.size(), 0);
        EXPECT_EQ(info.absolutePath(), dir.path());
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    EXPECT_THROW(CreateTempFile(folder + "/missing", "Buf"), EOSError);
}

TEST(MemoryStatus, ReadsMemAvailableThenMemFree) {
    const std::string text = "MemTotal:       24000000 kB\nMemFree:         1000 kB\n"
                             "MemAvailable:   20000000 kB\n";
    EXPECT_EQ(ParseAvailableMemory(text.data(), text.size()), 20000000ull * 1024);
    const std::string older = "MemTotal: 5 kB\nMemFree: 1000 kB\n";
    EXPECT_EQ(ParseAvailableMemory(older.data(), older.size()), 1000ull * 1024);
    const std::string broken = "MemAvailable: lots\nMemAvailableX: 3 kB\n";
    EXPECT_EQ(ParseAvailableMemory(broken.data(), broken.size()), 0u);
    const std::string huge = "MemAvailable: 99999999999999999999999 kB\n";
    EXPECT_EQ(ParseAvailableMemory(huge.data(), huge.size()), 0u);
    EXPECT_GT(AvailablePhysicalMemory(), 0u); // the machine running the test has some
}

// Drives random operation sequences with a tiny memory part, so that spills and refills
// happen all the time, and compares every byte with a plain double-ended queue.
TEST_F(FifoBufferTest, BehavesLikeAPlainQueueUnderRandomOperations) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto below = [&random](int limit) { return static_cast<int>(random() % limit); };
        TNMFifoBuffer fifo;
        fifo.SetMemoryBufferCapacity(1 + below(300));
        if (seed % 3 == 0) {
            SlowRefills(1); // widen the window in which operations meet a running refill
        } else {
            TNMFifoBufferProbe::SetRefillHook({});
        }
        std::deque<char> model;
        std::vector<char> out;
        for (int step = 0; step < 600; ++step) {
            const int op = below(100);
            if (op < 35) { // append, now and then a lot so the disk part spans chunks
                const int count = below(10) == 0 ? below(150000) : below(700);
                const std::string bytes = Bytes(static_cast<std::size_t>(count), random());
                ASSERT_EQ(fifo.Append(bytes.data(), count), count);
                model.insert(model.end(), bytes.begin(), bytes.end());
            } else if (op < 65) { // remove, sometimes more than is held
                const int count = below(5) == 0 ? below(200000) : below(900);
                out.assign(static_cast<std::size_t>(count) + 1, '\x5A');
                const int got = fifo.Remove(out.data(), count);
                const int expected = std::min<int>(count, static_cast<int>(model.size()));
                ASSERT_EQ(got, expected);
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, model.begin()));
                ASSERT_EQ(out[static_cast<std::size_t>(got)], '\x5A');
                model.erase(model.begin(), model.begin() + got);
            } else if (op < 75) { // peek
                const int count = below(2000);
                out.assign(static_cast<std::size_t>(count), '\0');
                const int got = fifo.Peek(out.data(), count);
                ASSERT_EQ(got, std::min<int>(count, static_cast<int>(model.size())));
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, model.begin()));
            } else if (op < 90) { // search for a piece of the content or for random bytes
                std::string pattern;
                const int length = 1 + below(below(4) == 0 ? 400 : 3);
                if (!model.empty() && below(2) == 0) {
                    const int from = below(static_cast<int>(model.size()));
                    for (int i = from; i < static_cast<int>(model.size()) && i - from < length;
                         ++i) {
                        if (model[static_cast<std::size_t>(i)] != '\0') {
                            pattern.push_back(model[static_cast<std::size_t>(i)]);
                        } else {
                            break;
                        }
                    }
                } else {
                    for (int i = 0; i < length; ++i) {
                        pattern.push_back(static_cast<char>(1 + below(255)));
                    }
                }
                int expected = 0;
                if (model.empty()) {
                    expected = 0;
                } else if (pattern.size() > model.size()) {
                    expected = -1;
                } else if (!pattern.empty()) {
                    const auto at =
                        std::search(model.begin(), model.end(), pattern.begin(), pattern.end());
                    expected = at == model.end()
                                   ? 0
                                   : static_cast<int>(at - model.begin() + pattern.size());
                }
                ASSERT_EQ(fifo.Search(pattern.c_str()), expected) << pattern.size();
            } else if (op < 93) {
                fifo.Clear();
                model.clear();
            } else if (op < 96) {
                const std::string bytes = Bytes(static_cast<std::size_t>(below(1500)), random());
                QByteArray array(bytes.data(), static_cast<qsizetype>(bytes.size()));
                QBuffer stream(&array);
                ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
                fifo.LoadFromStream(stream);
                if (!bytes.empty()) {
                    model.assign(bytes.begin(), bytes.end());
                }
            } else { // change the capacity; refused below the bytes in memory
                const int capacity = 1 + below(400);
                const int inMemory = TNMFifoBufferProbe::Layout(fifo).MemoryCount;
                if (capacity < inMemory) {
                    EXPECT_THROW(fifo.SetMemoryBufferCapacity(capacity), Exception);
                } else {
                    fifo.SetMemoryBufferCapacity(capacity);
                }
            }
            ASSERT_EQ(fifo.BufferSize(), static_cast<int>(model.size())) << "step " << step;
        }
        out.assign(model.size() + 1, '\0');
        ASSERT_EQ(fifo.Remove(out.data(), static_cast<int>(out.size())),
                  static_cast<int>(model.size()));
        ASSERT_TRUE(std::equal(model.begin(), model.end(), out.begin()));
    }
    EXPECT_TRUE(OverflowFiles().isEmpty());
}
