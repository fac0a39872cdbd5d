#include "framework/Exception.h"
#include "platform/RegistryFile.h"
#include "settings/AdvRegistry.h"
#include "settings/Options.h"
#include "settings/SettingsTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

using namespace kairelon;

namespace {

const std::string kUserKey = "HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string UserFileWith(const std::string& lines) {
    return "Windows Registry Editor Version 5.00\n\n[" + kUserKey + "]\n" + lines;
}

// Runs a block without the power to write other users' folders: as root, the effective user
// becomes "nobody" for the block's life.
class Unprivileged {
public:
    Unprivileged() {
        if (::geteuid() == 0)
            switched_ = ::seteuid(65534) == 0;
    }
    ~Unprivileged() {
        if (switched_)
            (void)::seteuid(0);
    }

    // False when the process keeps a power to write everywhere.
    bool Effective() const { return switched_ || ::geteuid() != 0; }

private:
    bool switched_ = false;
};

} // namespace

class OptionsTest : public ::testing::Test {
protected:
    test::IsolatedHome home;
    std::string userFile = home.RegistryDir() + "/user.reg";
    std::string machineFile = home.RegistryDir() + "/system.reg";
};

TEST_F(OptionsTest, FirstStartWritesEverySettingWithItsDefaultIntoAPrivateFile) {
    CLocalOptions local;
    ASSERT_TRUE(local.Open());
    EXPECT_EQ(local.RootKey(), HKEY_CURRENT_USER);
    for (const SettingInfo& s : AllSettings()) {
        switch (s.type) {
        case SettingType::Integer:
            EXPECT_EQ(local.ReadIntegerDefault(s.name, s.integerDefault, true), s.integerDefault);
            break;
        case SettingType::Boolean:
            EXPECT_EQ(local.ReadBoolDefault(s.name, s.integerDefault != 0, true),
                      s.integerDefault != 0);
            break;
        case SettingType::String:
            EXPECT_EQ(local.ReadStringDefault(s.name, s.stringDefault, true), s.stringDefault);
            break;
        }
    }
    EXPECT_EQ(ReadFile(userFile), UserFileWith("\"CurrentServer\"=\"\"\n"
                                               "\"Timeout\"=dword:00002710\n"
                                               "\"SyncModus\"=dword:00000002\n"
                                               "\"Intervall\"=dword:0000001e\n"
                                               "\"Einheit\"=dword:00000001\n"
                                               "\"Wochentag\"=dword:00000000\n"
                                               "\"Stunde\"=dword:0000000c\n"
                                               "\"Minute\"=dword:0000001e\n"
                                               "\"UseMaxAbweich\"=dword:00000000\n"
                                               "\"MaxAbweichIntervall\"=dword:0000001e\n"
                                               "\"MaxAbweichEinheit\"=dword:00000001\n"
                                               "\"UseService\"=dword:00000000\n"
                                               "\"ConnectRAS\"=dword:00000000\n"
                                               "\"RASConnection\"=\"\"\n"
                                               "\"RASUsername\"=\"\"\n"
                                               "\"RASPassword\"=\"\"\n"
                                               "\"AskOnShutdown\"=dword:00000001\n"
                                               "\"NachholenNachStandby\"=dword:00000001\n"));
    struct stat st;
    ASSERT_EQ(::stat(userFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(AllSettings().size(), 18u);
    EXPECT_EQ(FindSetting("intervall")->integerDefault, 30);
    EXPECT_EQ(FindSetting("NoSuchSetting"), nullptr);
}

TEST_F(OptionsTest, ValuesOfAnotherTypeYieldTheDefaultAndStayAsTheyAre) {
    const std::string stored = UserFileWith("\"Intervall\"=\"45\"\n"
                                            "\"UseService\"=dword:00000007\n"
                                            "\"Timeout\"=dword:zz\n"
                                            "\"CurrentServer\"=dword:00000001\n"
                                            "\"OldTime\"=hex:01,02\n");
    WriteFile(userFile, stored);
    CLocalOptions local;
    ASSERT_TRUE(local.Open());
    EXPECT_EQ(local.ReadIntegerDefault("Intervall", 30, true), 30);
    EXPECT_TRUE(local.ReadBoolDefault("UseService", false, true));
    EXPECT_EQ(local.Read(settings::Timeout), 10000);
    EXPECT_EQ(local.ReadCurrentServer(), "");
    EXPECT_EQ(local.ReadDateTimeDefault("OldTime", 1.5, true), 1.5);
    EXPECT_EQ(ReadFile(userFile), stored);
}

TEST_F(OptionsTest, WriteBackFalseWritesNothing) {
    CLocalOptions local;
    ASSERT_TRUE(local.Open());
    const std::string before = ReadFile(userFile);
    EXPECT_EQ(local.ReadStringDefault("RASUsername", "someone", false), "");
    EXPECT_EQ(local.ReadIntegerDefault("Stunde", 12, false), 12);
    EXPECT_TRUE(local.ReadBoolDefault("AskOnShutdown", true, false));
    EXPECT_EQ(local.ReadDateTimeDefault("OldTime", 3.0, false), 0.0);
    EXPECT_EQ(ReadFile(userFile), before);
    EXPECT_FALSE(local.ValueExists("Stunde"));
}

TEST_F(OptionsTest, AnUnparseableLineSurvivesEveryWriteInPlace) {
    WriteFile(userFile, UserFileWith("\"Timeout\"=dword:00001388\n"
                                     "%% edited by hand, not a value %%\n"
                                     "\"Minute\"=dword:00000005\n"));
    CLocalOptions local;
    ASSERT_TRUE(local.Open());
    for (int i = 0; i < 50; ++i) {
        local.Write(settings::Timeout, 1000 + i);
        local.WriteRasPassword("pw" + std::to_string(i));
        local.Write(settings::Minute, i);
    }
    EXPECT_EQ(ReadFile(userFile), UserFileWith("\"Timeout\"=dword:00000419\n"
                                               "%% edited by hand, not a value %%\n"
                                               "\"Minute\"=dword:00000031\n"
                                               "\"RASPassword\"=\"pw49\"\n"));
}

TEST_F(OptionsTest, StringAccessorsReadWithDefaultAndWriteThrough) {
    CLocalOptions local;
    ASSERT_TRUE(local.Open());
    EXPECT_EQ(local.ReadCurrentServer(), "");
    EXPECT_TRUE(local.ValueExists("CurrentServer")); // written back
    local.WriteCurrentServer("time.example.org");
    local.WriteRasUsername("user");
    local.WriteRasPassword("p\"w\\d");
    local.WriteRasConnection("Modem");

    CLocalOptions again; // a second store sees what the first wrote
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(again.ReadCurrentServer(), "time.example.org");
    EXPECT_EQ(again.ReadRasUsername(), "user");
    EXPECT_EQ(again.ReadRasPassword(), "p\"w\\d");
    EXPECT_EQ(again.ReadRasConnection(), "Modem");
    EXPECT_EQ(again.Read(settings::RASConnection), "Modem");
}

TEST_F(OptionsTest, NewTimeIsSixteenBytesOfTheRecordInTheMachineWideStore) {
    CGlobalOptions global;
    ASSERT_TRUE(global.Open());
    EXPECT_EQ(global.RootKey(), HKEY_LOCAL_MACHINE);
    SYSTEMTIME st{2026, 12, 2, 8, 19, 42, 38, 5};
    global.WriteNewTime(st);
    global.WriteDateTime(kOldTimeValue, 46364.5);
    EXPECT_NE(ReadFile(machineFile)
                  .find("[HKEY_LOCAL_MACHINE\\Software\\Quarnel Developments\\Kairel]\n"
                        "\"NewTime\"=hex:ea,07,0c,00,02,00,08,00,13,00,2a,00,26,00,05,00\n"
                        "\"OldTime\"=hex:00,00,00,00,90,a3,e6,40\n"),
              std::string::npos);
    CGlobalOptions service;
    ASSERT_TRUE(service.Open());
    SYSTEMTIME back = service.ReadNewTime();
    EXPECT_EQ(back.wYear, 2026);
    EXPECT_EQ(back.wSecond, 38);
    EXPECT_EQ(back.wMilliseconds, 5);
    EXPECT_EQ(service.ReadDateTimeDefault(kOldTimeValue, 0.0, false), 46364.5);
    service.WriteInteger(kNewTimeValue, 1);
    EXPECT_THROW(service.ReadNewTime(), ERegistryException);
}

TEST_F(OptionsTest, MachineWideStoreInAFolderThatCannotBeWritten) {
    // A folder of root's, open to everyone for reading only.
    std::string folder = home.Path() + "/machine";
    std::filesystem::create_directory(folder);
    ::chmod(home.Path().c_str(), 0755);
    ::chmod(folder.c_str(), 0755);
    setenv("KAIRELON_REGISTRY_DIR", folder.c_str(), 1);
    if (::geteuid() != 0)
        ::chmod(folder.c_str(), 0555);

    {
        Unprivileged nobody;
        if (!nobody.Effective())
            GTEST_SKIP() << "cannot give up the power to write every folder";
        CGlobalOptions global;
        EXPECT_FALSE(global.Open());
        EXPECT_EQ(global.ReadIntegerDefault("Anything", 7, true), 7);
        EXPECT_TRUE(global.ReadBoolDefault("Flag", true, true));
        EXPECT_EQ(global.ReadStringDefault("Text", "d", true), "d");
        EXPECT_THROW(global.WriteNewTime(SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0}),
                     ERegistryException);
        EXPECT_FALSE(std::filesystem::exists(folder + "/system.reg"));
    }

    // The key exists and the file is readable, but not writable: Open succeeds, reads work,
    // writes still raise.
    ::chmod(folder.c_str(), 0755);
    {
        CGlobalOptions admin;
        ASSERT_TRUE(admin.Open());
        admin.WriteInteger("Stored", 3);
    }
    ::chmod((folder + "/system.reg").c_str(), 0644);
    if (::geteuid() != 0)
        ::chmod(folder.c_str(), 0555);
    {
        Unprivileged nobody;
        CGlobalOptions global;
        EXPECT_TRUE(global.Open());
        EXPECT_EQ(global.ReadIntegerDefault("Stored", 0, true), 3);
        EXPECT_EQ(global.ReadIntegerDefault("Missing", 9, true), 9);
        EXPECT_THROW(global.WriteNewTime(SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0}),
                     ERegistryException);
    }
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFile(folder + "/system.reg").find("Missing"), std::string::npos);
}

TEST_F(OptionsTest, ASettingsFileThatIsANamedPipeReadsAsAnUnreadableStore) {
    ASSERT_EQ(::mkfifo(userFile.c_str(), 0600), 0);
    auto start = std::async(std::launch::async, [] {
        CLocalOptions local;
        const bool opened = local.Open();
        return std::make_pair(opened, local.Read(settings::Intervall));
    });
    if (start.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Free the start-up that hangs in open, so the test can end.
        int fd = ::open(userFile.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        ADD_FAILURE() << "start-up hangs on a named pipe";
    }
    const auto [opened, intervall] = start.get();
    EXPECT_FALSE(opened);
    EXPECT_EQ(intervall, settings::Intervall.defaultValue);
    struct stat st;
    ASSERT_EQ(::lstat(userFile.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced";
}

namespace {

// How many descriptors of this process are open on the file.
int OpenDescriptorsOn(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path && !error)
            ++count;
    }
    return count;
}

} // namespace

TEST_F(OptionsTest, ADefaultIsAddedOnlyIfTheValueIsStillMissingUnderTheLock) {
    struct Case {
        const char* name;
        std::function<std::string(CLocalOptions&)> read; // the typed read with default
        const char* stored;                              // the line another process writes
        std::string expected;                            // what the read returns
    };
    const Case cases[] = {
        {"Intervall", [](CLocalOptions& o) { return std::to_string(o.Read(settings::Intervall)); },
         "\"Intervall\"=dword:0000002d", "45"},
        {"UseService",
         [](CLocalOptions& o) { return std::to_string(o.Read(settings::UseService)); },
         "\"UseService\"=dword:00000001", "1"},
        {"CurrentServer", [](CLocalOptions& o) { return o.ReadCurrentServer(); },
         "\"CurrentServer\"=\"time.example.org\"", "time.example.org"},
        {"OldTime",
         [](CLocalOptions& o) { return std::to_string(o.ReadDateTimeDefault("OldTime", 2, true)); },
         "\"OldTime\"=hex:00,00,00,00,00,00,f8,3f", std::to_string(1.5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(userFile, UserFileWith(""));
        CLocalOptions local;
        ASSERT_TRUE(local.Open());

        // Another process holds the lock while this one finds the value missing.
        const std::string lockPath = userFile + ".lock";
        const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(lock, 0);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
        auto read = std::async(std::launch::async, [&] { return c.read(local); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (OpenDescriptorsOn(lockPath) < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Two or more: the bounded lock wait may hold a duplicate of its descriptor.
        ASSERT_GE(OpenDescriptorsOn(lockPath), 2) << "the read never went for the lock";

        // ... stores the value, and lets go.
        const std::string stored = UserFileWith(std::string(c.stored) + "\n");
        WriteFile(userFile + ".new", stored);
        std::filesystem::rename(userFile + ".new", userFile);
        ::close(lock);

        EXPECT_EQ(read.get(), c.expected);
        EXPECT_EQ(ReadFile(userFile), stored) << "the stored value was replaced by the default";
    }
}

// ---- What a default stands in for is said -----------------------------------------------------

namespace {

struct RecordedWarnings {
    RecordedWarnings() {
        previous =
            SetSettingsWarningSink([this](const std::string& text) { lines.push_back(text); });
    }
    ~RecordedWarnings() { SetSettingsWarningSink(previous); }
    std::vector<std::string> lines;
    SettingsWarningSink previous;
};

} // namespace

TEST_F(OptionsTest, AValueOfTheWrongTypeIsSaidOncePerValueWithTheDefaultUsed) {
    const std::string stored = UserFileWith("\"UseMaxAbweich\"=\"1\"\n"
                                            "\"Timeout\"=dword:zz\n"
                                            "\"Intervall\"=hex(4):01,00\n"
                                            "\"CurrentServer\"=dword:00000001\n"
                                            "\"Stunde\"=dword:00000003\n");
    WriteFile(userFile, stored);
    RecordedWarnings warnings;
    CLocalOptions local;
    ASSERT_TRUE(local.Open());
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(local.Read(settings::UseMaxAbweich));
        EXPECT_EQ(local.Read(settings::Timeout), 10000);
        EXPECT_EQ(local.Read(settings::Intervall), 30);
        EXPECT_EQ(local.ReadCurrentServer(), "");
        EXPECT_EQ(local.Read(settings::Stunde), 3);
    }
    const std::string where = "\" in '" + userFile + "' holds ";
    EXPECT_EQ(warnings.lines,
              (std::vector<std::string>{
                  "the value \"UseMaxAbweich" + where +
                      "the string \"1\" where a dword is expected; the default false is used",
                  "the value \"Timeout" + where +
                      "a line that cannot be read where a dword is expected; the default 10000 "
                      "is used",
                  "the value \"Intervall" + where +
                      "a dword of another size where a dword is expected; the default 30 is used",
                  "the value \"CurrentServer" + where +
                      "a dword where a string is expected; the default \"\" is used",
              }));
    EXPECT_EQ(ReadFile(userFile), stored) << "a value of the wrong type stays as it is";

    ASSERT_FALSE(warnings.lines.empty());

    // The default sink: standard error and the error log.
    SetSettingsWarningSink(nullptr);
    std::fflush(stderr);
    const std::string errPath = home.Path() + "/stderr";
    const int saved = ::dup(2);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(err, 0);
    ::dup2(err, 2);
    EXPECT_FALSE(local.Read(settings::UseMaxAbweich));
    EXPECT_FALSE(local.Read(settings::UseMaxAbweich));
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(err);
    EXPECT_EQ(ReadFile(errPath), "warning: " + warnings.lines.front() + "\n");
    const std::string log = ReadFile(home.Path() + "/state/kairelon/error.log");
    EXPECT_NE(log.find("Fehler : " + warnings.lines.front() + "\n"), std::string::npos) << log;
}

TEST_F(OptionsTest, ASettingsFileThatCannotBeReadIsSaidOnceAndNotTakenForAnEmptyOne) {
    const std::string stored = UserFileWith("\"CurrentServer\"=\"zeit.example.org\"\n");
    WriteFile(userFile, stored);
    ::chmod(home.Path().c_str(), 0755);
    ::chmod(home.RegistryDir().c_str(), 0777);
    ::chmod(userFile.c_str(), 0600);
    RecordedWarnings warnings;
    {
        // Root reads every file: the file is root's and the reader someone else.
        Unprivileged nobody;
        if (!nobody.Effective())
            GTEST_SKIP() << "cannot give up the power to read every file";
        if (::geteuid() != 0 && ::getuid() != 0)
            ::chmod(userFile.c_str(), 0000);
        CLocalOptions local;
        local.Open();
        EXPECT_EQ(local.ReadCurrentServer(), "");
        EXPECT_EQ(local.Read(settings::Timeout), 10000);
        EXPECT_EQ(local.Read(settings::Intervall), 30);
    }
    ::chmod(userFile.c_str(), 0600);
    ASSERT_EQ(warnings.lines.size(), 1u);
    EXPECT_EQ(warnings.lines[0], "Cannot read the registry file '" + userFile +
                                     "': Permission denied; the settings in it take their "
                                     "defaults for now");
    EXPECT_EQ(ReadFile(userFile), stored);
}

// ---- The machine-wide store
// ----------------------------------------------------------------------

TEST_F(OptionsTest, OpeningTheMachineWideStoreWritesNothing) {
    CGlobalOptions global;
    ASSERT_TRUE(global.Open());
    EXPECT_EQ(global.ReadIntegerDefault("Anything", 7, false), 7);
    EXPECT_TRUE(std::filesystem::is_empty(home.RegistryDir()));
    // The first hand-over makes the key with its value.
    global.WriteNewTime(SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0});
    CGlobalOptions again;
    ASSERT_TRUE(again.Open());
    EXPECT_EQ(again.ReadNewTime().wYear, 2026);
    EXPECT_NE(ReadFile(machineFile)
                  .find("[HKEY_LOCAL_MACHINE\\Software\\Quarnel "
                        "Developments\\Kairel]\n\"NewTime\"=hex:"),
              std::string::npos);

    // A folder that is not there is not made, and a write says why it cannot be made.
    const std::string missing = home.Path() + "/not-installed";
    setenv("KAIRELON_REGISTRY_DIR", missing.c_str(), 1);
    CGlobalOptions none;
    EXPECT_FALSE(none.Open());
    try {
        none.WriteNewTime(SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0});
        ADD_FAILURE() << "the write went through";
    } catch (const ERegistryException& e) {
        EXPECT_NE(e.Message().find("Failed to set data for 'NewTime' (Cannot write the "
                                   "registry file '" +
                                   missing + "/system.reg': No such file or directory"),
                  std::string::npos)
            << e.Message();
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(OptionsTest, ARefusedHandOverWriteNamesTheFileAndTheReason) {
    // The folder of a run as root before it was handed to the group: root's, closed to others.
    const std::string folder = home.Path() + "/machine";
    std::filesystem::create_directory(folder);
    ::chmod(home.Path().c_str(), 0755);
    ::chmod(folder.c_str(), 0755);
    setenv("KAIRELON_REGISTRY_DIR", folder.c_str(), 1);
    {
        CGlobalOptions root;
        ASSERT_TRUE(root.Open());
        root.WriteNewTime(SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0});
    }
    ::chmod((folder + "/system.reg").c_str(), 0600);
    ::chmod((folder + "/system.reg.lock").c_str(), 0600);
    if (::geteuid() != 0)
        ::chmod(folder.c_str(), 0555);
    std::vector<std::string> messages;
    {
        Unprivileged member;
        if (!member.Effective())
            GTEST_SKIP() << "cannot give up the power to write every folder";
        CGlobalOptions global;
        global.Open();
        try {
            global.WriteNewTime(SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0});
            ADD_FAILURE() << "the write went through";
        } catch (const ERegistryException& e) {
            messages.push_back(e.Message());
        }
    }
    ::chmod(folder.c_str(), 0755);
    ASSERT_FALSE(messages.empty());
    for (const std::string& m : messages) {
        EXPECT_EQ(m.rfind("Failed to set data for 'NewTime' (", 0), 0u) << m;
        EXPECT_NE(m.find("'" + folder + "/system.reg"), std::string::npos) << m;
        EXPECT_NE(m.find("Permission denied"), std::string::npos) << m;
    }
}
