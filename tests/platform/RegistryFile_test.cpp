#include "framework/Exception.h"
#include "platform/FileWriting.h"
#include "platform/InstanceLock.h"
#include "platform/RegistryFile.h"
#include "platform/StateFolder.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

using namespace kairelon;

namespace {

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

RegistryValue Text(const std::string& s) {
    return RegistryValue{REG_SZ, std::vector<std::uint8_t>(s.begin(), s.end()), true};
}

RegistryValue Dword(std::uint32_t v) {
    return RegistryValue{
        REG_DWORD,
        {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)},
        true};
}

std::string TextOf(const RegistryValue* v) {
    return v ? std::string(v->data.begin(), v->data.end()) : std::string("<missing>");
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

int CountTemporaries(const std::string& folder) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().find(".tmp-") != std::string::npos)
            ++n;
    return n;
}

size_t EntriesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                             std::filesystem::directory_iterator()));
}

} // namespace

TEST(RegistryDocument, ReadsEveryValueKindAndKeepsWhatItCannotParse) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "; a comment someone added\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n"
                             "\"CurrentServer\"=\"time.example.org\"\r\n"
                             "\"Quoted\"=\"a \\\"b\\\" c:\\\\d\"\r\n"
                             "\"Timeout\"=dword:00002710\r\n"
                             "\"NewTime\"=hex:ea,07,0c,00,\\\r\n"
                             "  02,00,08,00\r\n"
                             "\"Multi\"=hex(7):61,00,00\r\n"
                             "@=\"default\"\r\n"
                             "\"Broken\"=dword:xyz\r\n"
                             "this line means nothing\r\n";
    RegistryDocument doc = RegistryDocument::Parse(text);

    EXPECT_EQ(doc.KeyPaths(), std::vector<std::string>{kKey});
    const std::string lower = "hkey_current_user\\software\\quarnel developments\\KAIREL";
    EXPECT_EQ(TextOf(doc.FindValue(lower, "currentserver")), "time.example.org");
    EXPECT_EQ(TextOf(doc.FindValue(kKey, "Quoted")), "a \"b\" c:\\d");
    ASSERT_NE(doc.FindValue(kKey, "Timeout"), nullptr);
    EXPECT_EQ(doc.FindValue(kKey, "Timeout")->type, REG_DWORD);
    EXPECT_EQ(doc.FindValue(kKey, "Timeout")->data, Dword(10000).data);
    ASSERT_NE(doc.FindValue(kKey, "NewTime"), nullptr);
    EXPECT_EQ(doc.FindValue(kKey, "NewTime")->type, REG_BINARY);
    EXPECT_EQ(doc.FindValue(kKey, "NewTime")->data,
              (std::vector<std::uint8_t>{0xea, 7, 0x0c, 0, 2, 0, 8, 0}));
    EXPECT_EQ(doc.FindValue(kKey, "Multi")->type, 7u);
    EXPECT_EQ(TextOf(doc.FindValue(kKey, "")), "default");
    ASSERT_NE(doc.FindValue(kKey, "Broken"), nullptr);
    EXPECT_FALSE(doc.FindValue(kKey, "Broken")->readable);
    EXPECT_EQ(doc.KeptLines(),
              (std::vector<std::string>{"; a comment someone added", "this line means nothing"}));

    // Unchanged, the text comes back byte for byte, its line ends included.
    EXPECT_EQ(doc.Serialize(), text);
}

TEST(RegistryDocument, ChangesTouchOnlyTheirOwnLines) {
    RegistryDocument doc = RegistryDocument::Parse("Windows Registry Editor Version 5.00\n"
                                                   "\n"
                                                   "[HKEY_CURRENT_USER\\A]\n"
                                                   "\"One\"=dword:00000001\n"
                                                   "garbage in the middle\n"
                                                   "\"Two\"=\"x\"\n"
                                                   "\n"
                                                   "[HKEY_CURRENT_USER\\B]\n"
                                                   "\"Other\"=\"y\"\n");
    EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\a", "ONE", Dword(2)));
    EXPECT_FALSE(doc.SetValue("HKEY_CURRENT_USER\\A", "One", Dword(2))); // same value
    EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\A", "Three", Text("3")));
    EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\C\\D", "New", Text("tab\there")));
    EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\A", "Lines", Text("a\r\nb")));
    EXPECT_EQ(doc.Serialize(), "Windows Registry Editor Version 5.00\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\A]\n"
                               "\"One\"=dword:00000002\n"
                               "garbage in the middle\n"
                               "\"Two\"=\"x\"\n"
                               "\"Three\"=\"3\"\n"
                               "\"Lines\"=hex(1):61,0d,0a,62\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\B]\n"
                               "\"Other\"=\"y\"\n"
                               "\n"
                               "[HKEY_CURRENT_USER\\C\\D]\n"
                               "\"New\"=\"tab\there\"\n");
    RegistryDocument again = RegistryDocument::Parse(doc.Serialize());
    EXPECT_EQ(TextOf(again.FindValue("HKEY_CURRENT_USER\\A", "Lines")), "a\r\nb");
    EXPECT_TRUE(again.HasKey("HKEY_CURRENT_USER\\C"));   // a parent of a section
    EXPECT_FALSE(again.HasKey("HKEY_CURRENT_USER\\Cx")); // not a parent, only a prefix
    EXPECT_TRUE(again.DeleteValue("HKEY_CURRENT_USER\\B", "other"));
    EXPECT_FALSE(again.DeleteValue("HKEY_CURRENT_USER\\B", "other"));
}

TEST(RegistryDocument, ValueLinesOutsideAnySectionAndOddHeadersAreKeptAsText) {
    RegistryDocument doc = RegistryDocument::Parse("\"Orphan\"=\"x\"\n[-HKEY_CURRENT_USER\\X]\n"
                                                   "[]\n[HKEY_CURRENT_USER\\\\K\\]\n"
                                                   "\"Unterminated=\"y\"\n");
    EXPECT_EQ(doc.KeyPaths(), std::vector<std::string>{"HKEY_CURRENT_USER\\K"});
    EXPECT_EQ(doc.Values().size(), 0u);
    EXPECT_EQ(doc.KeptLines().size(), 4u);
}

class RegistryFileTest : public ::testing::Test {
protected:
    test::IsolatedHome home;
    std::string path = home.RegistryDir() + "/user.reg";
};

TEST_F(RegistryFileTest, LocationsFollowTheEnvironment) {
    EXPECT_EQ(RegistryFilePath(RegistryRoot::CurrentUser), path);
    EXPECT_EQ(RegistryFilePath(RegistryRoot::LocalMachine), home.RegistryDir() + "/system.reg");
    unsetenv("KAIRELON_REGISTRY_DIR");
    EXPECT_EQ(RegistryFilePath(RegistryRoot::CurrentUser),
              home.Path() + "/config/kairelon/user.reg");
    EXPECT_EQ(RegistryFilePath(RegistryRoot::LocalMachine), "/var/lib/kairelon/system.reg");
}

TEST_F(RegistryFileTest, PerUserFileIsPrivateInAPrivateFolder) {
    unsetenv("KAIRELON_REGISTRY_DIR");
    ::umask(022);
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
    file.Update(
        [](RegistryDocument& doc) { return doc.SetValue(kKey, "RASPassword", Text("pw")); });
    std::string folder = home.Path() + "/config/kairelon";
    EXPECT_EQ(file.Path(), folder + "/user.reg");
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(folder + "/user.reg"), 0600u);
    // A file someone made readable is private again after the next write.
    ::chmod(file.Path().c_str(), 0644);
    file.Update(
        [](RegistryDocument& doc) { return doc.SetValue(kKey, "RASPassword", Text("p2")); });
    EXPECT_EQ(ModeOf(file.Path()), 0600u);
    EXPECT_EQ(CountTemporaries(folder), 0);
}

TEST_F(RegistryFileTest, MachineWideFileStaysGroupWritable) {
    ::umask(022);
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
    file.Update([](RegistryDocument& doc) {
        return doc.SetValue("HKEY_LOCAL_MACHINE\\X", "NewTime", Dword(1));
    });
    EXPECT_EQ(ModeOf(file.Path()), 0660u);
    EXPECT_EQ(ModeOf(file.Path() + ".lock"), 0660u);
}

TEST_F(RegistryFileTest, SeesChangesMadeOnDiskAndWritesOnTopOfThem) {
    RegistryFile mine(path, 0600, 0700);
    RegistryFile theirs(path, 0600, 0700);
    EXPECT_FALSE(mine.Current().HasKey(kKey)); // no file yet: empty
    mine.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); });
    theirs.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "B", Text("2")); });
    EXPECT_EQ(TextOf(mine.Current().FindValue(kKey, "B")), "2");
    // An edit by hand, even one that keeps size and time, is a new file after rename.
    std::string edited = ReadFile(path);
    edited.replace(edited.find("\"2\""), 3, "\"3\"");
    WriteFile(path + ".new", edited);
    std::filesystem::rename(path + ".new", path);
    EXPECT_EQ(TextOf(mine.Current().FindValue(kKey, "B")), "3");
    mine.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("4")); });
    EXPECT_EQ(TextOf(theirs.Current().FindValue(kKey, "B")), "3");
    EXPECT_EQ(TextOf(theirs.Current().FindValue(kKey, "A")), "4");
    // A file removed from under us reads as empty.
    std::filesystem::remove(path);
    EXPECT_EQ(mine.Current().FindValue(kKey, "A"), nullptr);
}

TEST_F(RegistryFileTest, AFileThatCannotBeReadIsReportedAndNeverOverwritten) {
    std::filesystem::create_directory(path); // a folder where the file should be
    RegistryFile file(path, 0600, 0700);
    EXPECT_THROW(file.Current(), ERegistryException);
    EXPECT_THROW(
        file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); }),
        ERegistryException);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

// ---- Planted names in a group-writable folder ----------------------------------------------

TEST_F(RegistryFileTest, ALinkPlantedAtTheLockNameChangesNoOtherFile) {
    const std::string victim = home.Path() + "/victim";
    WriteFile(victim, "someone's file");
    ::chmod(victim.c_str(), 0644);
    const std::string missing = home.Path() + "/not-there";
    for (const std::string& target : {victim, missing}) {
        SCOPED_TRACE(target);
        std::filesystem::remove(path + ".lock");
        std::filesystem::create_symlink(target, path + ".lock");
        RegistryFile file(path, 0600, 0700);
        EXPECT_THROW(
            file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); }),
            ERegistryException);
        EXPECT_TRUE(std::filesystem::is_symlink(path + ".lock"));
        EXPECT_FALSE(std::filesystem::exists(path)) << "nothing written without the lock";
    }
    EXPECT_EQ(ModeOf(victim), 0644u);
    EXPECT_EQ(ReadFile(victim), "someone's file");
    EXPECT_FALSE(std::filesystem::exists(missing)) << "the link's target was created";
}

TEST_F(RegistryFileTest, ALockFileOfAnotherOwnerIsUsedButItsModeIsLeftAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    WriteFile(path + ".lock", "");
    ASSERT_EQ(::chown((path + ".lock").c_str(), 65534, 65534), 0);
    ::chmod((path + ".lock").c_str(), 0644);
    RegistryFile file(path, 0660, 0700);
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); });
    EXPECT_EQ(TextOf(file.Current().FindValue(kKey, "A")), "1");
    EXPECT_EQ(ModeOf(path + ".lock"), 0644u);
}

TEST_F(RegistryFileTest, ALockNameThatIsNoRegularFileIsRefused) {
    ASSERT_EQ(::mkfifo((path + ".lock").c_str(), 0600), 0);
    RegistryFile file(path, 0600, 0700);
    EXPECT_THROW(
        file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); }),
        ERegistryException);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RegistryFileTest, AStoreThatIsALinkIsUnreadableAndItsTargetIsNeverCopied) {
    const std::string secret = home.Path() + "/secret";
    WriteFile(secret, "root-only line\n");
    ::chmod(secret.c_str(), 0600);
    std::filesystem::create_symlink(secret, path);
    RegistryFile file(path, 0660, 0700);
    EXPECT_THROW(file.Current(), ERegistryException);
    EXPECT_THROW(
        file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); }),
        ERegistryException);
    EXPECT_TRUE(std::filesystem::is_symlink(path)) << "the link was replaced by a copy";
    EXPECT_EQ(ReadFile(secret), "root-only line\n");
}

TEST_F(RegistryFileTest, AStoreThatIsANamedPipeIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [this] {
        RegistryFile file(path, 0600, 0700);
        try {
            file.Current();
        } catch (const ERegistryException&) {
            return true;
        }
        return false;
    });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Free the reader that hangs in open, so the test can end.
        int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        ADD_FAILURE() << "reading a named pipe hangs";
    }
    EXPECT_TRUE(read.get()) << "a named pipe was read as a store";
}

TEST_F(RegistryFileTest, LeftoverTemporariesOfADeadWriterAreRemoved) {
    WriteFile(home.RegistryDir() + "/.user.reg.tmp-abcdef", "half a file");
    WriteFile(home.RegistryDir() + "/unrelated.tmp-x", "kept");
    RegistryFile file(path, 0600, 0700);
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); });
    EXPECT_FALSE(std::filesystem::exists(home.RegistryDir() + "/.user.reg.tmp-abcdef"));
    EXPECT_TRUE(std::filesystem::exists(home.RegistryDir() + "/unrelated.tmp-x"));
}

TEST_F(RegistryFileTest, AnUnchangedDocumentIsNotRewritten) {
    RegistryFile file(path, 0600, 0700);
    file.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); });
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    file.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); });
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryFileTest, ALockHeldElsewhereIsWaitedForAFewSecondsAtMost) {
    RegistryFile file(path, 0600, 0700);
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("1")); });
    const std::string before = ReadFile(path);

    // Another open file description holds the lock, as another process would.
    int holder = ::open((path + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuBefore = std::clock();
    try {
        file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "B", Text("2")); });
        ADD_FAILURE() << "the write went through a held lock";
    } catch (const ERegistryException& e) {
        EXPECT_NE(e.Message().find("another process has held the lock"), std::string::npos)
            << e.Message();
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_GE(waited, std::chrono::seconds(2));
    EXPECT_LT(waited, std::chrono::seconds(6));
    EXPECT_LT(cpuMs, 100.0); // sleeps between tries
    EXPECT_EQ(ReadFile(path), before);

    // A holder that lets go within the wait only delays the write.
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(holder);
    });
    EXPECT_NO_THROW(
        file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "B", Text("2")); }));
    release.join();
    EXPECT_EQ(TextOf(file.Current().FindValue(kKey, "B")), "2");
}

TEST_F(RegistryFileTest, AnOversizedFileIsRefusedBeforeItIsRead) {
    const std::string system = home.RegistryDir() + "/system.reg";
    struct Case {
        const char* name;
        RegistryRoot root;
        off_t size;
        bool sparse; // made with ftruncate: costs no disk
        const char* bound;
    };
    const Case cases[] = {
        {"per-user, 1 MiB and a line feed", RegistryRoot::CurrentUser, (1 << 20) + 1, false,
         "1 MiB"},
        {"per-user, sparse 512 MiB", RegistryRoot::CurrentUser, off_t{512} << 20, true, "1 MiB"},
        {"machine-wide, 64 KiB and a line feed", RegistryRoot::LocalMachine, (64 << 10) + 1, false,
         "64 KiB"},
        {"machine-wide, sparse 512 MiB", RegistryRoot::LocalMachine, off_t{512} << 20, true,
         "64 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = c.root == RegistryRoot::CurrentUser ? path : system;
        if (c.sparse) {
            WriteFile(file, "");
            ASSERT_EQ(::truncate(file.c_str(), c.size), 0);
        } else {
            WriteFile(file, std::string(static_cast<size_t>(c.size), '\n'));
        }
        RegistryFile store = RegistryFile::ForRoot(c.root);
        const auto start = std::chrono::steady_clock::now();
        try {
            store.Current();
            ADD_FAILURE() << "an oversized file was read";
        } catch (const ERegistryException& e) {
            EXPECT_NE(e.Message().find(file), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(c.bound), std::string::npos) << e.Message();
        }
        EXPECT_THROW(store.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); }),
                     ERegistryException);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(std::filesystem::file_size(file), static_cast<std::uintmax_t>(c.size));

        // Cut back to the bound, the file is read again.
        const off_t bound =
            c.root == RegistryRoot::CurrentUser ? kRegistryMaxSize : kMachineWideMaxSize;
        ASSERT_EQ(::truncate(file.c_str(), bound), 0);
        EXPECT_FALSE(store.Current().HasKey(kKey));
        std::filesystem::remove(file);
    }

    // Nor does a write make a file larger than its bound.
    RegistryFileRules rules;
    rules.maxSize = 200;
    RegistryFile small(path, rules);
    small.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "A", Text("short")); });
    const std::string before = ReadFile(path);
    EXPECT_THROW(small.Update([](RegistryDocument& doc) {
        return doc.SetValue(kKey, "B", Text(std::string(200, 'x')));
    }),
                 ERegistryException);
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(RegistryFileTest, WritesRefusedUnderAHeldLockLeaveNoThreadOrDescriptorBehind) {
    RegistryFileRules rules;
    rules.lockWaitMs = 50;
    RegistryFile file(path, rules);
    file.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); });
    int holder = ::open((path + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    const size_t descriptors = EntriesIn("/proc/self/fd"), threads = EntriesIn("/proc/self/task");
    for (int i = 0; i < 20; ++i)
        EXPECT_THROW(file.Update([i](RegistryDocument& doc) {
            return doc.SetValue(kKey, "NewTime", Dword(std::uint32_t(i)));
        }),
                     ERegistryException);
    EXPECT_EQ(EntriesIn("/proc/self/fd"), descriptors);
    EXPECT_EQ(EntriesIn("/proc/self/task"), threads);

    ::close(holder);
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "NewTime", Dword(99)); });
    EXPECT_EQ(file.Current().FindValue(kKey, "NewTime")->data, Dword(99).data);
}

// ---- Several processes on one file ----------------------------------------------------------
//
// The test program re-runs itself with a disabled helper test as the second process; the
// helper takes its orders from the environment.

namespace {

QProcess* StartHelper(const std::string& test, const QProcessEnvironment& env) {
    auto* p = new QProcess;
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string()),
             {QStringLiteral("--gtest_also_run_disabled_tests"),
              QString::fromStdString("--gtest_filter=RegistryFileHelper." + test)});
    return p;
}

QProcessEnvironment HelperEnv(const std::string& path, const std::string& prefix, int count) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KAIRELON_TEST_REGISTRY_FILE", QString::fromStdString(path));
    env.insert("KAIRELON_TEST_PREFIX", QString::fromStdString(prefix));
    env.insert("KAIRELON_TEST_COUNT", QString::number(count));
    return env;
}

} // namespace

// Writes "<prefix><i>" = i for i in 0..count-1, each as a write of its own.
TEST(RegistryFileHelper, DISABLED_WriteDistinctValues) {
    const char* file = std::getenv("KAIRELON_TEST_REGISTRY_FILE");
    ASSERT_NE(file, nullptr);
    std::string prefix = std::getenv("KAIRELON_TEST_PREFIX");
    int count = std::atoi(std::getenv("KAIRELON_TEST_COUNT"));
    RegistryFile reg(file, 0600, 0700);
    for (int i = 0; i < count; ++i)
        reg.Update([&](RegistryDocument& doc) {
            return doc.SetValue(kKey, prefix + std::to_string(i), Dword(std::uint32_t(i)));
        });
}

// Cycles through the names N0..N9 writing "w<i>" until killed.
TEST(RegistryFileHelper, DISABLED_WriteUntilKilled) {
    const char* file = std::getenv("KAIRELON_TEST_REGISTRY_FILE");
    ASSERT_NE(file, nullptr);
    RegistryFile reg(file, 0600, 0700);
    for (int i = 0; i < 1000000; ++i)
        reg.Update([&](RegistryDocument& doc) {
            return doc.SetValue(kKey, "N" + std::to_string(i % 10), Text("w" + std::to_string(i)));
        });
}

TEST_F(RegistryFileTest, TwoProcessesWritingAtOnceLoseNothing) {
    const int count = 500;
    std::unique_ptr<QProcess> a(
        StartHelper("DISABLED_WriteDistinctValues", HelperEnv(path, "A", count)));
    std::unique_ptr<QProcess> b(
        StartHelper("DISABLED_WriteDistinctValues", HelperEnv(path, "B", count)));
    ASSERT_TRUE(a->waitForFinished(100000));
    ASSERT_TRUE(b->waitForFinished(100000));
    ASSERT_EQ(a->exitCode(), 0);
    ASSERT_EQ(b->exitCode(), 0);

    RegistryDocument doc = RegistryDocument::Parse(ReadFile(path));
    EXPECT_EQ(doc.Values().size(), 2u * count);
    for (const std::string prefix : {"A", "B"})
        for (int i = 0; i < count; ++i) {
            const RegistryValue* v = doc.FindValue(kKey, prefix + std::to_string(i));
            ASSERT_NE(v, nullptr) << prefix << i;
            EXPECT_EQ(v->data, Dword(std::uint32_t(i)).data) << prefix << i;
        }
    EXPECT_EQ(CountTemporaries(home.RegistryDir()), 0);
}

TEST_F(RegistryFileTest, AWriterKilledMidwayLeavesOldOrNewValuesOnly) {
    std::mt19937 random(12345);
    for (int round = 0; round < 6; ++round) {
        std::string initial = "Windows Registry Editor Version 5.00\n\n[" + kKey + "]\n";
        for (int i = 0; i < 10; ++i)
            initial += "\"N" + std::to_string(i) + "\"=\"old\"\n";
        initial += "a line kept for round " + std::to_string(round) + "\n";
        WriteFile(path, initial);

        std::unique_ptr<QProcess> writer(
            StartHelper("DISABLED_WriteUntilKilled", HelperEnv(path, "", 0)));
        ASSERT_TRUE(writer->waitForStarted(10000));
        // Wait until the writer is at work, then kill it at a random moment.
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (ReadFile(path) == initial && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        writer->kill(); // SIGKILL
        ASSERT_TRUE(writer->waitForFinished(10000));

        RegistryDocument doc = RegistryDocument::Parse(ReadFile(path));
        EXPECT_EQ(doc.KeyPaths(), std::vector<std::string>{kKey});
        EXPECT_EQ(doc.KeptLines(),
                  std::vector<std::string>{"a line kept for round " + std::to_string(round)});
        EXPECT_EQ(doc.Values().size(), 10u);
        int changed = 0;
        for (int i = 0; i < 10; ++i) {
            std::string value = TextOf(doc.FindValue(kKey, "N" + std::to_string(i)));
            EXPECT_TRUE(std::regex_match(value, std::regex("old|w[0-9]+"))) << value;
            changed += value != "old";
        }
        EXPECT_GT(changed, 0);

        // The lock died with the writer: the next write goes through and clears its leftovers.
        RegistryFile after(path, 0600, 0700);
        after.Update([](RegistryDocument& d) { return d.SetValue(kKey, "After", Text("x")); });
        EXPECT_EQ(CountTemporaries(home.RegistryDir()), 0);
    }
}

TEST(RegistryDocument, ANewValueAfterADanglingContinuationStaysItsOwnLine) {
    RegistryDocument doc = RegistryDocument::Parse("[HKEY_CURRENT_USER\\A]\n"
                                                   "\"Bin\"=hex:01,02,\\\n"
                                                   "  03\n"
                                                   "\"Cut\"=hex:01,\\\n");
    EXPECT_EQ(doc.FindValue("HKEY_CURRENT_USER\\A", "Bin")->data,
              (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\A", "New", Text("x")));
    RegistryDocument again = RegistryDocument::Parse(doc.Serialize());
    EXPECT_EQ(TextOf(again.FindValue("HKEY_CURRENT_USER\\A", "New")), "x");
    EXPECT_EQ(again.FindValue("HKEY_CURRENT_USER\\A", "Cut")->data, std::vector<std::uint8_t>{1});
    EXPECT_FALSE(again.SetValue("HKEY_CURRENT_USER\\A", "two\nlines", Text("x")));
    EXPECT_FALSE(again.AddKey("HKEY_CURRENT_USER\\B\nC"));
}

// ---- Files edited by hand --------------------------------------------------------------------

TEST(RegistryDocument, AnyBracketLineEndsTheKeyAboveIt) {
    const std::string a = "HKEY_CURRENT_USER\\A";
    struct Case {
        const char* name;
        const char* bracket;
    };
    const Case cases[] = {
        {"deletion line", "[-HKEY_CURRENT_USER\\B]"},
        {"trailing comment", "[HKEY_CURRENT_USER\\B] ; moved here"},
        {"empty path", "[]"},
        {"unclosed", "[HKEY_CURRENT_USER\\B"},
        {"indented deletion", "  [-HKEY_CURRENT_USER\\A]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = std::string("[HKEY_CURRENT_USER\\A]\n\"Kept\"=\"a\"\n") +
                                 c.bracket + "\n\"Under\"=\"b\"\n";
        RegistryDocument doc = RegistryDocument::Parse(text);
        EXPECT_EQ(TextOf(doc.FindValue(a, "Kept")), "a");
        EXPECT_EQ(doc.FindValue(a, "Under"), nullptr) << "filed under the key above";
        // A new value of the key goes into its own section, above the bracket line.
        EXPECT_TRUE(doc.SetValue(a, "New", Text("n")));
        const std::string written = doc.Serialize();
        EXPECT_EQ(written, std::string("[HKEY_CURRENT_USER\\A]\n\"Kept\"=\"a\"\n\"New\"=\"n\"\n") +
                               c.bracket + "\n\"Under\"=\"b\"\n");
        RegistryDocument again = RegistryDocument::Parse(written);
        EXPECT_EQ(TextOf(again.FindValue(a, "New")), "n");
        EXPECT_EQ(again.FindValue(a, "Under"), nullptr);
    }
}

TEST(RegistryDocument, OnlyHexDataContinuesAHexList) {
    const std::string a = "HKEY_CURRENT_USER\\A";
    struct Case {
        const char* name;
        const char* next;              // the line after a "Bin" list that ends in a backslash
        std::vector<std::uint8_t> bin; // what "Bin" then holds
        bool nextIsValue;              // whether "Next" is a value of A
    };
    const Case cases[] = {
        {"hex data", "  03,04", {1, 2, 3, 4}, false},
        {"hex data going on", "  03,\\", {1, 2, 3}, false},
        {"indented value", "  \"Next\"=dword:00000002", {1, 2}, true},
        {"indented default value", "  @=\"x\"", {1, 2}, false},
        {"value", "\"Next\"=\"x\"", {1, 2}, true},
        {"indented text", "  not hex at all", {1, 2}, false},
        {"key line", "  [HKEY_CURRENT_USER\\A]", {1, 2}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text =
            std::string("[HKEY_CURRENT_USER\\A]\n\"Bin\"=hex:01,02,\\\n") + c.next + "\n";
        RegistryDocument doc = RegistryDocument::Parse(text);
        ASSERT_NE(doc.FindValue(a, "Bin"), nullptr);
        EXPECT_EQ(doc.FindValue(a, "Bin")->data, c.bin);
        EXPECT_EQ(doc.FindValue(a, "Next") != nullptr, c.nextIsValue);
        // Rewriting "Bin" keeps every line that was not its own.
        EXPECT_TRUE(doc.SetValue(a, "Bin", RegistryValue{REG_BINARY, {9}, true}));
        const std::string written = doc.Serialize();
        if (c.bin.size() == 2)
            EXPECT_NE(written.find(std::string(c.next) + "\n"), std::string::npos) << written;
        else
            EXPECT_EQ(written, "[HKEY_CURRENT_USER\\A]\n\"Bin\"=hex:09\n");
    }
}

TEST(RegistryDocument, TheLastLineOfANameWins) {
    const std::string a = "HKEY_CURRENT_USER\\A";
    const std::string text = "[HKEY_CURRENT_USER\\A]\n"
                             "\"Twice\"=\"first\"\n"
                             "\"twice\"=\"second\"\n"
                             "[HKEY_CURRENT_USER\\B]\n"
                             "\"Twice\"=\"other key\"\n"
                             "[HKEY_CURRENT_USER\\a]\n"
                             "\"TWICE\"=\"third, in a second section of the key\"\n"
                             "\"Once\"=\"x\"\n";
    RegistryDocument doc = RegistryDocument::Parse(text);
    EXPECT_EQ(TextOf(doc.FindValue(a, "Twice")), "third, in a second section of the key");
    EXPECT_EQ(TextOf(doc.FindValue("HKEY_CURRENT_USER\\B", "Twice")), "other key");

    // A write changes the line that is read; the earlier ones stay as they were.
    EXPECT_TRUE(doc.SetValue(a, "Twice", Text("new")));
    RegistryDocument again = RegistryDocument::Parse(doc.Serialize());
    EXPECT_EQ(TextOf(again.FindValue(a, "Twice")), "new");
    const std::string written = doc.Serialize();
    EXPECT_NE(written.find("\"Twice\"=\"first\"\n\"twice\"=\"second\"\n"), std::string::npos);
    EXPECT_NE(written.find("\"TWICE\"=\"new\"\n\"Once\"=\"x\"\n"), std::string::npos);

    // Deleting a value removes all its lines, so no earlier one comes back.
    EXPECT_TRUE(again.DeleteValue(a, "Twice"));
    EXPECT_EQ(again.FindValue(a, "Twice"), nullptr);
    EXPECT_EQ(TextOf(again.FindValue("HKEY_CURRENT_USER\\B", "Twice")), "other key");
    EXPECT_FALSE(again.DeleteValue(a, "Twice"));
}

// ---- Encodings ------------------------------------------------------------------------------

namespace {

std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::u16string units =
        QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String();
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : units) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xff);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

} // namespace

TEST(RegistryDocument, Utf16ExportsAreReadAndWrittenBackInTheirEncoding) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]\r\n"
                             "\"CurrentServer\"=\"zeit.example.org\"\r\n"
                             "\"RASUsername\"=\"J\xC3\xBCrgen \xF0\x9F\x95\x92\"\r\n"
                             "\"UseMaxAbweich\"=dword:00000000\r\n"
                             "\"NewTime\"=hex:ea,07,0c,00,\\\r\n"
                             "  02,00\r\n"
                             "\"usemaxabweich\"=dword:00000001\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        RegistryEncoding encoding;
    };
    const Case cases[] = {
        {"UTF-16 little endian", Utf16(text, false), RegistryEncoding::Utf16Le},
        {"UTF-16 big endian", Utf16(text, true), RegistryEncoding::Utf16Be},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + text, RegistryEncoding::Utf8Bom},
        {"UTF-8", text, RegistryEncoding::Utf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryDocument doc = RegistryDocument::Parse(c.bytes);
        EXPECT_EQ(doc.Encoding(), c.encoding);
        EXPECT_EQ(doc.KeyPaths(), std::vector<std::string>{kKey});
        EXPECT_TRUE(doc.KeptLines().empty()) << doc.KeptLines().front();
        EXPECT_EQ(TextOf(doc.FindValue(kKey, "CurrentServer")), "zeit.example.org");
        EXPECT_EQ(TextOf(doc.FindValue(kKey, "RASUsername")), "J\xC3\xBCrgen \xF0\x9F\x95\x92");
        ASSERT_NE(doc.FindValue(kKey, "NewTime"), nullptr);
        ASSERT_NE(doc.FindValue(kKey, "UseMaxAbweich"), nullptr);
        EXPECT_EQ(doc.FindValue(kKey, "NewTime")->data,
                  (std::vector<std::uint8_t>{0xea, 7, 0x0c, 0, 2, 0}));
        // A name given twice: the later line wins, in every encoding.
        EXPECT_EQ(doc.FindValue(kKey, "UseMaxAbweich")->data, Dword(1).data);
        if (c.encoding == RegistryEncoding::Utf16Le || c.encoding == RegistryEncoding::Utf16Be) {
            EXPECT_EQ(doc.Serialize(), c.bytes) << "an unchanged file comes back byte for byte";
        }

        // A change goes into the section that is there, in the file's encoding.
        EXPECT_TRUE(doc.SetValue(kKey, "UseMaxAbweich", Dword(0)));
        EXPECT_TRUE(doc.SetValue(kKey, "RASConnection", Text("Einwahl \xC3\xA4")));
        EXPECT_TRUE(doc.SetValue(kKey, "Bytes", Text("\xFF\xC3 no UTF-8 \xED\xA0\x80")));
        const std::string written = doc.Serialize();
        std::string expected = text;
        expected.replace(expected.find("\"usemaxabweich\"=dword:00000001"), 30,
                         "\"usemaxabweich\"=dword:00000000");
        expected += "\"RASConnection\"=\"Einwahl \xC3\xA4\"\r\n";
        if (c.encoding == RegistryEncoding::Utf16Le || c.encoding == RegistryEncoding::Utf16Be) {
            const bool be = c.encoding == RegistryEncoding::Utf16Be;
            EXPECT_EQ(written.substr(0, Utf16(expected, be).size()), Utf16(expected, be));
        }
        RegistryDocument again = RegistryDocument::Parse(written);
        EXPECT_EQ(again.Encoding(), c.encoding);
        EXPECT_EQ(again.KeyPaths(), std::vector<std::string>{kKey});
        ASSERT_NE(again.FindValue(kKey, "UseMaxAbweich"), nullptr);
        EXPECT_EQ(again.FindValue(kKey, "UseMaxAbweich")->data, Dword(0).data);
        EXPECT_EQ(TextOf(again.FindValue(kKey, "RASConnection")), "Einwahl \xC3\xA4");
        EXPECT_EQ(TextOf(again.FindValue(kKey, "Bytes")), "\xFF\xC3 no UTF-8 \xED\xA0\x80");
        EXPECT_EQ(again.Serialize(), written);
    }
}

TEST(RegistryDocument, OddUtf16IsKeptAsWellAsItCanBe) {
    // An odd last byte and units that pair with nothing: nothing is thrown away, and what was
    // written reads back the same.
    const std::string bytes = std::string("\xFF\xFE[\0A\0]\0\n\0\"\0N\0\"\0=\0\"\0", 20) +
                              std::string("\x00\xD8x\0\x80\xDC\"\0\n\0", 10) + "!";
    RegistryDocument doc = RegistryDocument::Parse(bytes);
    EXPECT_EQ(doc.Encoding(), RegistryEncoding::Utf16Le);
    ASSERT_NE(doc.FindValue("A", "N"), nullptr);
    const std::string written = doc.Serialize();
    EXPECT_EQ(written.back(), '!');
    RegistryDocument again = RegistryDocument::Parse(written);
    EXPECT_EQ(TextOf(again.FindValue("A", "N")), TextOf(doc.FindValue("A", "N")));
    EXPECT_EQ(again.Serialize(), written);
}

namespace {

// UTF-16 code units as the bytes of a file of that byte order (byte-order mark first).
std::string Units(const std::u16string& units, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : units) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xff);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

} // namespace

TEST(RegistryDocument, LinesTheProgramDoesNotWriteStayByteForByte) {
    // Each file gets a value of the program's own ("Timeout", new, after "A") and a changed
    // one ("B"); every other line must come back as it was, and the two written lines end as
    // the file's lines end.
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER"
                                u"\\K]\r\n\"A\"=\"x";
    const std::u16string wrote = u"\"Timeout\"=dword:000001f4\r\n";
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    auto utf16 = [&](const std::u16string& odd, bool be) {
        const std::u16string before = head + odd + u"\"\r\n; note " + odd + u"\r\n\"B\"=\"1\"\r\n";
        const std::u16string after =
            head + odd + u"\"\r\n; note " + odd + u"\r\n\"B\"=\"2\"\r\n" + wrote;
        return Case{"", Units(before, be), Units(after, be)};
    };
    std::vector<Case> cases;
    for (bool be : {false, true}) {
        for (const std::u16string& odd : {std::u16string(u"\xD800"), std::u16string(u"\xDC10"),
                                          std::u16string(u"\xDCC3\xDCA4"), // escapes of UTF-8
                                          std::u16string(u"\xDBFF!\xDFFF")}) {
            cases.push_back(utf16(odd, be));
            cases.back().name = be ? "UTF-16 BE, units that pair to nothing"
                                   : "UTF-16 LE, units that pair to nothing";
        }
    }
    const std::string crlf = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]"
                             "\r\n\"A\"=\"x\"\r\n; note\r\n\"B\"=\"1\"\r\n";
    const std::string crlfAfter =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"A\"=\"x\"\r\n; "
        "note\r\n\"B\"=\"2\"\r\n\"Timeout\"=dword:000001f4\r\n";
    cases.push_back({"UTF-8, CR LF", crlf, crlfAfter});
    cases.push_back(
        {"UTF-8 with byte-order mark, CR LF", "\xEF\xBB\xBF" + crlf, "\xEF\xBB\xBF" + crlfAfter});
    cases.push_back(
        {"UTF-8, odd bytes and mixed line ends",
         "[HKEY_CURRENT_USER\\K]\n\"A\"=\"x\xFF\xED\xA0\x80\"  \r\r\n;\xC3\n\"B\"=\"1\"",
         "[HKEY_CURRENT_USER\\K]\n\"A\"=\"x\xFF\xED\xA0\x80\"  \r\r\n;\xC3\n\"B\"=\"2\"\n"
         "\"Timeout\"=dword:000001f4\n"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegistryDocument doc = RegistryDocument::Parse(c.before);
        EXPECT_EQ(doc.Serialize(), c.before);
        EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\K", "B", Text("2")));
        EXPECT_TRUE(doc.SetValue("HKEY_CURRENT_USER\\K", "Timeout", Dword(500)));
        EXPECT_EQ(doc.Serialize(), c.after);
        EXPECT_EQ(RegistryDocument::Parse(c.after).Serialize(), c.after);
    }
}

TEST_F(RegistryFileTest, AFileWithCrLfLineEndsKeepsThem) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[" + kKey +
                             "]\r\n\"CurrentServer\"=\"zeit.example.org\"\r\n";
    WriteFile(path, text);
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "Timeout", Dword(500)); });
    EXPECT_EQ(ReadFile(path), text + "\"Timeout\"=dword:000001f4\r\n");
}

TEST_F(RegistryFileTest, AUtf16FileGetsNoUtf8SectionAppended) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[" + kKey +
                             "]\r\n\"CurrentServer\"=\"zeit.example.org\"\r\n";
    WriteFile(path, Utf16(text, false));
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
    EXPECT_EQ(TextOf(file.Current().FindValue(kKey, "CurrentServer")), "zeit.example.org");
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "Timeout", Dword(500)); });
    EXPECT_EQ(ReadFile(path), Utf16(text + "\"Timeout\"=dword:000001f4\r\n", false));
}

// ---- Links and modes ------------------------------------------------------------------------

TEST_F(RegistryFileTest, APerUserFileThatIsALinkStaysALinkAndKeepsItsMode) {
    const std::string dotfiles = home.Path() + "/dotfiles";
    std::filesystem::create_directories(dotfiles + "/kairelon");
    const std::string target = dotfiles + "/kairelon/user.reg";
    WriteFile(target, "Windows Registry Editor Version 5.00\n\n[" + kKey + "]\n\"A\"=\"1\"\n");
    struct Case {
        const char* name;
        std::string link; // as stored in the link
        mode_t before, after;
    };
    const Case cases[] = {
        {"absolute link, read-only file", target, 0400, 0400},
        {"relative link, file readable by all", "../dotfiles/kairelon/user.reg", 0644, 0600},
        {"link to a link", home.Path() + "/hop", 0600, 0600},
    };
    std::filesystem::create_symlink(target, home.Path() + "/hop");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        std::filesystem::create_symlink(c.link, path);
        ::chmod(target.c_str(), c.before);
        RegistryFile file = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
        EXPECT_EQ(TextOf(file.Current().FindValue(kKey, "A")), "1");
        const std::string value = std::to_string(++n);
        file.Update([&](RegistryDocument& doc) { return doc.SetValue(kKey, "B", Text(value)); });
        EXPECT_TRUE(std::filesystem::is_symlink(path));
        EXPECT_EQ(std::filesystem::read_symlink(path).string(), c.link);
        EXPECT_NE(ReadFile(target).find("\"B\"=\"" + value + "\""), std::string::npos);
        EXPECT_EQ(ModeOf(target), c.after);
        EXPECT_EQ(CountTemporaries(dotfiles + "/kairelon"), 0);
        EXPECT_EQ(CountTemporaries(home.RegistryDir()), 0);
    }
    // A link that leads nowhere yet: the file is made where it leads.
    std::filesystem::remove(target);
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
    file.Update([](RegistryDocument& doc) { return doc.SetValue(kKey, "C", Text("3")); });
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(TextOf(RegistryDocument::Parse(ReadFile(target)).FindValue(kKey, "C")), "3");
    EXPECT_EQ(ModeOf(target), 0600u);

    // The machine-wide file never follows a link.
    const std::string machine = home.RegistryDir() + "/system.reg";
    std::filesystem::create_symlink(target, machine);
    RegistryFile shared = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
    EXPECT_THROW(shared.Current(), ERegistryException);
    EXPECT_THROW(shared.Update([](RegistryDocument& doc) { return doc.AddKey("HKEY_X\\Y"); }),
                 ERegistryException);
    EXPECT_TRUE(std::filesystem::is_symlink(machine));
}

TEST_F(RegistryFileTest, TheMachineWideFileKeepsItsModeButStaysGroupWritable) {
    const std::string machine = home.RegistryDir() + "/system.reg";
    const std::pair<mode_t, mode_t> cases[] = {{0664, 0664}, {0600, 0660}, {0666, 0664}};
    for (const auto& [before, after] : cases) {
        SCOPED_TRACE(before);
        WriteFile(machine, "");
        ::chmod(machine.c_str(), before);
        RegistryFile file = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
        file.Update([](RegistryDocument& doc) { return doc.AddKey("HKEY_LOCAL_MACHINE\\X"); });
        EXPECT_EQ(ModeOf(machine), after);
    }
}

TEST_F(RegistryFileTest, ServerListLinkStaysALink) {
    const std::string target = home.Path() + "/server.ini";
    WriteFile(target, "old\n");
    ::chmod(target.c_str(), 0644);
    const std::string link = home.RegistryDir() + "/server.ini";
    std::filesystem::create_symlink(target, link);
    ASSERT_EQ(ReplaceFileAtomically(link, "new\n", 0600), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "new\n");
    EXPECT_EQ(ModeOf(target), 0600u); // owner-only, like the settings beside it
    ::chmod(target.c_str(), 0400);
    ASSERT_EQ(ReplaceFileAtomically(link, "newer\n", 0600), 0);
    EXPECT_EQ(ModeOf(target), 0400u);
    EXPECT_EQ(CountTemporaries(home.Path()), 0);
}

// ---- The machine-wide folder -----------------------------------------------------------------

TEST_F(RegistryFileTest, TheMachineWideFolderIsNeverMade) {
    const std::string folder = home.Path() + "/not-installed";
    setenv("KAIRELON_REGISTRY_DIR", folder.c_str(), 1);
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
    EXPECT_FALSE(file.Current().HasKey("HKEY_LOCAL_MACHINE\\X")); // missing: empty
    EXPECT_NE(file.WriteProblem().find(folder + "/system.reg': No such file or directory"),
              std::string::npos)
        << file.WriteProblem();
    try {
        file.Update([](RegistryDocument& doc) { return doc.AddKey("HKEY_LOCAL_MACHINE\\X"); });
        ADD_FAILURE() << "the write went through";
    } catch (const ERegistryException& e) {
        EXPECT_NE(e.Message().find("'" + folder + "/system.reg': No such file or directory"),
                  std::string::npos)
            << e.Message();
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    // The per-user file makes its folder.
    RegistryFile user = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
    EXPECT_EQ(user.WriteProblem(), "");
    user.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); });
    EXPECT_TRUE(std::filesystem::exists(folder + "/user.reg"));
}

TEST_F(RegistryFileTest, FilesMadeInTheMachineWideFolderGetItsGroup) {
    // A group of ours other than the one files are made with.
    gid_t other = 0;
    if (::geteuid() == 0) {
        other = 65534;
    } else {
        gid_t groups[64];
        const int n = ::getgroups(64, groups);
        for (int i = 0; i < n; ++i)
            if (groups[i] != ::getegid())
                other = groups[i];
        if (other == 0)
            GTEST_SKIP() << "needs a second group of this user, or root";
    }
    ASSERT_NE(other, ::getegid());
    const std::string folder = home.RegistryDir();
    ASSERT_EQ(::chown(folder.c_str(), static_cast<uid_t>(-1), other), 0);
    ::chmod(folder.c_str(), 0770); // no setgid bit: the group is given all the same
    ::umask(077);
    // A lock file a run made before the folder was handed to the group is put right.
    WriteFile(folder + "/system.reg.lock", "");
    ::chmod((folder + "/system.reg.lock").c_str(), 0600);
    RegistryFile file = RegistryFile::ForRoot(RegistryRoot::LocalMachine);
    file.Update([](RegistryDocument& doc) {
        return doc.SetValue("HKEY_LOCAL_MACHINE\\X", "NewTime", Dword(1));
    });
    for (const std::string name : {"/system.reg", "/system.reg.lock"}) {
        SCOPED_TRACE(name);
        struct stat st;
        ASSERT_EQ(::stat((folder + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_gid, other);
        EXPECT_EQ(st.st_mode & 07777, 0660u);
    }
    ::umask(022);
}

TEST_F(RegistryFileTest, NoFolderMakerMakesTheMachineWideFolder) {
    const std::pair<const char*, bool> names[] = {
        {"/var/lib/kairelon", false},
        {"/var/lib/kairelon/", false},
        {"//var//lib/kairelon//", false},
        {"/var/lib/kairelon/headless", true},
        {"/var/lib", true},
        {"/var/lib/kairelon2", true},
        {"/home/u/.config/kairelon", true},
    };
    for (const auto& [name, may] : names)
        EXPECT_EQ(MayMakeFolder(name), may) << name;

    // The headless service's settings lie inside the machine-wide folder; before the package
    // made it, a run with that environment must not make it as a parent of its own.
    if (::geteuid() != 0 || std::filesystem::exists(kMachineWideFolder))
        GTEST_SKIP() << "needs root and no " << kMachineWideFolder << " on this computer";
    unsetenv("KAIRELON_REGISTRY_DIR");
    setenv("XDG_CONFIG_HOME", "/var/lib/kairelon/headless", 1);
    RegistryFile user = RegistryFile::ForRoot(RegistryRoot::CurrentUser);
    EXPECT_THROW(user.Update([](RegistryDocument& doc) { return doc.AddKey(kKey); }),
                 ERegistryException);
    EXPECT_FALSE(AppendToFile("/var/lib/kairelon/headless/kairelon/error.log", "x\n"));
    EXPECT_NE(ReplaceFileAtomically("/var/lib/kairelon/headless/kairelon/server.ini", "", 0600), 0);
    // The headless scheduler's one-instance lock beside its settings file.
    const TInstanceLock lock =
        TInstanceLock::Acquire("/var/lib/kairelon/headless/kairelon/headless.lock");
    EXPECT_FALSE(lock.Held());
    const bool made = std::filesystem::exists(kMachineWideFolder);
    if (made)
        std::filesystem::remove_all(kMachineWideFolder);
    EXPECT_FALSE(made) << "a run made " << kMachineWideFolder;
}
