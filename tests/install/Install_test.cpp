// The install rules: `cmake --install` of this build into a temporary DESTDIR, for a Debian
// prefix and another one. Checks the installed tree file by file, the units' program paths
// and rights, the sysusers.d and tmpfiles.d entries, that every manual page renders without a
// warning and names every option its program's --help lists, and (as root, with systemd's
// tools) that the entries make the group, the user and the folders the services expect.
#include "platform/RegistryFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

using kairelon::RegistryDocument;
using kairelon::test::RunProgram;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CommandResult
RunCommand(const QString& program, const QStringList& args,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    CommandResult run;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

// The cmake that configured this build, from its cache.
QString CMakeCommand() {
    const std::string cache = ReadFile(std::string(KAIRELON_BUILD_DIR) + "/CMakeCache.txt");
    std::smatch m;
    if (std::regex_search(cache, m, std::regex("CMAKE_COMMAND:INTERNAL=(.*)"))) {
        return QString::fromStdString(m[1]);
    }
    return QStringLiteral("cmake");
}

// Installs this build with the prefix into a new temporary DESTDIR.
struct Installed {
    QTemporaryDir destdir;
    std::string prefix;
    CommandResult run;

    explicit Installed(const std::string& installPrefix) : prefix(installPrefix) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", destdir.path());
        run = RunCommand(
            CMakeCommand(),
            {"--install", KAIRELON_BUILD_DIR, "--prefix", QString::fromStdString(prefix)}, env);
    }
    std::string Root() const { return destdir.path().toStdString(); }
    std::string Path(const std::string& absolute) const { return Root() + absolute; }
    std::string UnitDir() const {
        return prefix == "/usr" ? "/lib/systemd/system" : prefix + "/lib/systemd/system";
    }

    // Every file below the DESTDIR, as absolute paths of the installed system.
    std::set<std::string> Files() const {
        std::set<std::string> files;
        QDirIterator it(destdir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            files.insert(it.next().toStdString().substr(Root().size()));
        }
        return files;
    }
};

// The value of each "Key=" line of a unit; keys that repeat keep the last line.
std::map<std::string, std::string> UnitKeys(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (!line.empty() && line[0] != '#' && line[0] != '[' && eq != std::string::npos) {
            keys[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return keys;
}

// The manual page as man shows it at 80 columns, and its warnings.
CommandResult RenderManualPage(const std::string& path) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MANWIDTH", "80");
    env.remove("MAN_KEEP_FORMATTING");
    env.insert("LC_ALL", "C.UTF-8");
    return RunCommand("man", {"--warnings", "-l", QString::fromStdString(path)}, env);
}

bool HaveMan() {
    return !QStandardPaths::findExecutable("man").isEmpty();
}

const std::string kVersion = KAIRELON_VERSION;

} // namespace

TEST(Install, PutsEveryFileWhereThePrefixSaysAndNothingElse) {
    for (const std::string prefix : {"/usr", "/opt/kairelon"}) {
        Installed installed(prefix);
        ASSERT_EQ(installed.run.exitCode, 0) << installed.run.out << installed.run.err;
        const std::string units = installed.UnitDir();
        std::set<std::string> expected = {
            prefix + "/bin/kairelon",
            prefix + "/bin/kairelon-tray",
            prefix + "/sbin/kairelon-clockd",
            prefix + "/sbin/kairelon-daytimed",
            units + "/kairelon-clockd.service",
            units + "/kairelon-daytimed.service",
            units + "/kairelon-headless.service",
            prefix + "/lib/sysusers.d/kairelon.conf",
            prefix + "/lib/tmpfiles.d/kairelon.conf",
            prefix + "/share/man/man1/kairelon.1.gz",
            prefix + "/share/man/man1/kairelon-tray.1.gz",
            prefix + "/share/man/man8/kairelon-clockd.8.gz",
            prefix + "/share/man/man8/kairelon-daytimed.8.gz",
            prefix + "/share/doc/kairelon/README.md",
            prefix + "/share/doc/kairelon/docs/settings.md",
            prefix + "/share/doc/kairelon/LICENSE",
            prefix + "/share/doc/kairelon/Kairelon.html",
            prefix + "/share/icons/hicolor/scalable/apps/kairelon.svg",
            prefix + "/share/applications/kairelon.desktop",
            (prefix == "/usr" ? std::string() : prefix) + "/etc/xdg/autostart/kairelon.desktop",
        };
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const std::string edge = std::to_string(size);
            expected.insert(prefix + "/share/icons/hicolor/" + edge + "x" + edge +
                            "/apps/kairelon.png");
        }
        EXPECT_EQ(installed.Files(), expected) << "prefix " << prefix;
        for (const std::string program :
             {"/bin/kairelon", "/bin/kairelon-tray", "/sbin/kairelon-clockd",
              "/sbin/kairelon-daytimed"}) {
            struct stat st {};
            ASSERT_EQ(::stat(installed.Path(prefix + program).c_str(), &st), 0) << program;
            EXPECT_EQ(st.st_mode & 0777, 0755u) << program;
        }
    }
}

TEST(Install, TheInstalledProgramsAnswerHelpAndVersion) {
    Installed installed("/usr");
    ASSERT_EQ(installed.run.exitCode, 0) << installed.run.err;
    for (const std::string program :
         {"/usr/bin/kairelon", "/usr/sbin/kairelon-clockd", "/usr/sbin/kairelon-daytimed"}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        const QString path = QString::fromStdString(installed.Path(program));
        for (const QString option : {"--version", "-V"}) {
            const CommandResult version = RunCommand(path, {option});
            EXPECT_EQ(version.exitCode, 0) << name << " " << option.toStdString();
            EXPECT_EQ(version.out, name + " " + kVersion + "\n");
        }
        for (const QString option : {"--help", "-h"}) {
            const CommandResult help = RunCommand(path, {option});
            EXPECT_EQ(help.exitCode, 0) << name;
            EXPECT_EQ(help.out.rfind("Usage: " + name, 0), 0u) << help.out;
        }
    }
}

TEST(Install, UnitsNameTheInstalledProgramsAndGrantNoMoreThanTheirOneRight) {
    for (const std::string prefix : {"/usr", "/opt/kairelon"}) {
        Installed installed(prefix);
        ASSERT_EQ(installed.run.exitCode, 0) << installed.run.err;
        const auto unit = [&](const std::string& name) {
            const std::string text = ReadFile(installed.Path(installed.UnitDir() + "/" + name));
            EXPECT_EQ(text.find("@KAIRELON_"), std::string::npos) << name << " left unconfigured";
            return UnitKeys(text);
        };

        auto clockd = unit("kairelon-clockd.service");
        EXPECT_EQ(clockd["ExecStart"], prefix + "/sbin/kairelon-clockd");
        EXPECT_EQ(clockd["CapabilityBoundingSet"], "CAP_SYS_TIME");
        EXPECT_EQ(clockd["AmbientCapabilities"], "CAP_SYS_TIME");
        EXPECT_EQ(clockd["Group"], "kairelon");
        EXPECT_EQ(clockd["NoNewPrivileges"], "yes");
        // The hardware clock is written after each set: the RTC devices, and no other.
        EXPECT_EQ(clockd["DevicePolicy"], "closed");
        EXPECT_EQ(clockd["DeviceAllow"], "char-rtc rw");
        // The service's lock where only root creates files.
        EXPECT_EQ(clockd["RuntimeDirectory"], "kairelon");
        EXPECT_EQ(clockd["RuntimeDirectoryMode"], "0755");
        EXPECT_EQ(clockd["RuntimeDirectoryPreserve"], "yes");

        auto daytimed = unit("kairelon-daytimed.service");
        EXPECT_EQ(daytimed["ExecStart"], prefix + "/sbin/kairelon-daytimed");
        EXPECT_EQ(daytimed["DynamicUser"], "yes");
        EXPECT_EQ(daytimed.count("User"), 0u);
        EXPECT_EQ(daytimed["CapabilityBoundingSet"], "CAP_NET_BIND_SERVICE");
        EXPECT_EQ(daytimed["AmbientCapabilities"], "CAP_NET_BIND_SERVICE");
        EXPECT_EQ(daytimed["NoNewPrivileges"], "yes");

        auto headless = unit("kairelon-headless.service");
        EXPECT_EQ(headless["ExecStart"], prefix + "/bin/kairelon --headless");
        EXPECT_EQ(headless["User"], "kairelon");
        EXPECT_EQ(headless["CapabilityBoundingSet"], "") << "no capability at all";
        EXPECT_EQ(headless.count("AmbientCapabilities"), 0u);
        EXPECT_EQ(headless["NoNewPrivileges"], "yes");
        EXPECT_EQ(headless["Environment"], "XDG_CONFIG_HOME=/var/lib/kairelon/headless "
                                           "XDG_STATE_HOME=/var/lib/kairelon/headless");
        EXPECT_NE(headless["Wants"].find("kairelon-clockd.service"), std::string::npos);
        EXPECT_NE(headless["After"].find("kairelon-clockd.service"), std::string::npos);
        EXPECT_EQ(headless["ExecReload"], "/bin/kill -HUP $MAINPID") << "reload reads the settings";
    }
}

TEST(Install, SysusersAndTmpfilesEntriesNameTheGroupUserAndFolders) {
    Installed installed("/usr");
    ASSERT_EQ(installed.run.exitCode, 0) << installed.run.err;
    const std::string sysusers = ReadFile(installed.Path("/usr/lib/sysusers.d/kairelon.conf"));
    EXPECT_NE(sysusers.find("\ng kairelon -\n"), std::string::npos) << sysusers;
    EXPECT_NE(sysusers.find("\nu kairelon -:kairelon \"Kairelon scheduler\" "
                            "/var/lib/kairelon/headless\n"),
              std::string::npos)
        << sysusers;
    const std::string tmpfiles = ReadFile(installed.Path("/usr/lib/tmpfiles.d/kairelon.conf"));
    EXPECT_NE(tmpfiles.find("\nd /var/lib/kairelon 2770 root kairelon -\n"), std::string::npos)
        << tmpfiles;
    EXPECT_NE(tmpfiles.find("\nd /var/lib/kairelon/headless 0700 kairelon kairelon -\n"),
              std::string::npos)
        << tmpfiles;
}

// The menu entry and the autostart entry pass the desktop-entry validator, start the program
// by the name the icon theme and PATH know, and the autostart entry is one a user can switch
// off; every PNG icon has the size of its folder.
TEST(Install, DesktopEntriesAreValidAndTheIconsHaveTheirSizes) {
    Installed installed("/usr");
    ASSERT_EQ(installed.run.exitCode, 0) << installed.run.err;
    const std::string menu = installed.Path("/usr/share/applications/kairelon.desktop");
    const std::string autostart = installed.Path("/etc/xdg/autostart/kairelon.desktop");
    for (const std::string& path : {menu, autostart}) {
        auto keys = UnitKeys(ReadFile(path));
        EXPECT_EQ(keys["Type"], "Application") << path;
        EXPECT_EQ(keys["Exec"], "kairelon") << path;
        EXPECT_EQ(keys["Icon"], "kairelon") << path;
        EXPECT_EQ(keys["Name"], "Kairelon") << path;
        EXPECT_FALSE(keys["Comment"].empty()) << path;
        EXPECT_FALSE(keys["Comment[de]"].empty()) << path;
        EXPECT_EQ(keys.count("Hidden"), 0u) << "installed switched off: " << path;
    }
    EXPECT_NE(UnitKeys(ReadFile(menu))["Categories"].find("Utility;"), std::string::npos);
    EXPECT_EQ(UnitKeys(ReadFile(autostart))["X-GNOME-Autostart-enabled"], "true");

    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty()) {
        ADD_FAILURE() << "desktop-file-validate is missing (apt-get install desktop-file-utils)";
    } else {
        for (const std::string& path : {menu, autostart}) {
            const CommandResult check =
                RunCommand("desktop-file-validate", {QString::fromStdString(path)});
            EXPECT_EQ(check.exitCode, 0) << path << "\n" << check.out << check.err;
            EXPECT_EQ(check.out + check.err, "") << path;
        }
    }

    // A PNG's width and height are big-endian words at bytes 16 and 20.
    const auto word = [](const std::string& data, size_t at) {
        return (static_cast<unsigned char>(data[at]) << 24) |
               (static_cast<unsigned char>(data[at + 1]) << 16) |
               (static_cast<unsigned char>(data[at + 2]) << 8) |
               static_cast<unsigned char>(data[at + 3]);
    };
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string edge = std::to_string(size);
        const std::string png = ReadFile(
            installed.Path("/usr/share/icons/hicolor/" + edge + "x" + edge + "/apps/kairelon.png"));
        ASSERT_GE(png.size(), 24u) << edge;
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << edge;
        EXPECT_EQ(word(png, 16), size) << edge;
        EXPECT_EQ(word(png, 20), size) << edge;
    }
}

TEST(Install, ManualPagesRenderWithoutWarningsAndNameEveryOptionOfTheHelp) {
    if (!HaveMan()) {
        GTEST_SKIP() << "man is not installed (apt-get install man-db)";
    }
    Installed installed("/usr");
    ASSERT_EQ(installed.run.exitCode, 0) << installed.run.err;
    const std::pair<std::string, std::string> pages[] = {
        {"kairelon", "/usr/share/man/man1/kairelon.1.gz"},
        {"kairelon-clockd", "/usr/share/man/man8/kairelon-clockd.8.gz"},
        {"kairelon-daytimed", "/usr/share/man/man8/kairelon-daytimed.8.gz"},
    };
    for (const auto& [program, page] : pages) {
        const CommandResult shown = RenderManualPage(installed.Path(page));
        EXPECT_EQ(shown.exitCode, 0) << page;
        EXPECT_EQ(shown.err, "") << page;
        for (const std::string section :
             {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES"}) {
            EXPECT_NE(shown.out.find("\n" + section + "\n"), std::string::npos)
                << page << " lacks " << section;
        }
        EXPECT_NE(shown.out.find("Kairelon " + kVersion), std::string::npos) << page;

        // Every option the program lists must be explained on its page.
        const auto help = RunProgram(program, {"--help"});
        ASSERT_EQ(help.exitCode, 0) << program;
        const std::regex option(R"((^|[\s\[,])(--?[a-zA-Z][a-z-]*))");
        int count = 0;
        for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option);
             it != std::sregex_iterator(); ++it, ++count) {
            const std::string name = (*it)[2];
            EXPECT_TRUE(
                std::regex_search(shown.out, std::regex("(^|[\\s\\[,])" + name + "([\\s,=\\]]|$)")))
                << page << " does not name " << name;
        }
        EXPECT_GE(count, 3) << program << ": " << help.out;
    }
}

TEST(Install, TheEntriesMakeTheGroupUserAndFoldersAndTheSchedulerUsesTheService) {
    if (geteuid() != 0 || QStandardPaths::findExecutable("systemd-sysusers").isEmpty() ||
        QStandardPaths::findExecutable("systemd-tmpfiles").isEmpty()) {
        GTEST_SKIP() << "needs root and systemd-sysusers and systemd-tmpfiles";
    }
    Installed installed("/usr");
    ASSERT_EQ(installed.run.exitCode, 0) << installed.run.err;
    const QString root = "--root=" + installed.destdir.path();
    ASSERT_TRUE(QDir(installed.destdir.path()).mkpath("etc"));
    const CommandResult users = RunCommand("systemd-sysusers", {root, "kairelon.conf"});
    ASSERT_EQ(users.exitCode, 0) << users.err;
    const CommandResult folders =
        RunCommand("systemd-tmpfiles", {root, "--create", "kairelon.conf"});
    ASSERT_EQ(folders.exitCode, 0) << folders.err;

    // The group and the user, with the group as the user's primary group.
    std::smatch group;
    const std::string groups = ReadFile(installed.Path("/etc/group"));
    ASSERT_TRUE(std::regex_search(groups, group, std::regex(R"((^|\n)kairelon:x:(\d+):)")))
        << groups;
    const unsigned gid = std::stoul(group[2]);
    std::smatch user;
    const std::string passwd = ReadFile(installed.Path("/etc/passwd"));
    ASSERT_TRUE(std::regex_search(
        passwd, user,
        std::regex(
            R"((^|\n)kairelon:x:(\d+):(\d+):Kairelon scheduler:/var/lib/kairelon/headless:)")))
        << passwd;
    EXPECT_EQ(std::stoul(user[3]), gid);
    const unsigned uid = std::stoul(user[2]);

    struct Expect {
        std::string path;
        unsigned mode;
        unsigned uid;
        unsigned gid;
    };
    for (const Expect& e : {
             Expect{"/var/lib/kairelon", 02770, 0, gid},
             Expect{"/var/lib/kairelon/headless", 0700, uid, gid},
             Expect{"/var/lib/kairelon/headless/kairelon", 0700, uid, gid},
             Expect{"/var/lib/kairelon/headless/kairelon/user.reg", 0600, uid, gid},
         }) {
        struct stat st {};
        ASSERT_EQ(::lstat(installed.Path(e.path).c_str(), &st), 0) << e.path;
        EXPECT_EQ(st.st_mode & 07777, e.mode) << e.path;
        EXPECT_EQ(st.st_uid, e.uid) << e.path;
        EXPECT_EQ(st.st_gid, e.gid) << e.path;
    }

    // The headless scheduler's settings start with the clock-setting service switched on.
    const RegistryDocument settings = RegistryDocument::Parse(
        ReadFile(installed.Path("/var/lib/kairelon/headless/kairelon/user.reg")));
    const auto* useService = settings.FindValue(
        "HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel", "UseService");
    ASSERT_NE(useService, nullptr);
    EXPECT_EQ(useService->type, kairelon::REG_DWORD);
    EXPECT_EQ(useService->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
}
