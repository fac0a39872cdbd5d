// The help page: where it is looked for, that the shipped page is found in the build tree and
// in an installed layout, and that opening hands its file URL to the desktop.
#include "app/Help.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kairelon {
namespace {

void WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

TEST(HelpPage, IsLookedForBesideTheProgramThenUnderTheDocumentationFolder) {
    const struct {
        const char* folder;
        std::vector<std::string> want;
    } cases[] = {
        {"/opt/k/bin",
         {"/opt/k/bin/Kairelon.html", "/opt/k/bin/../share/doc/kairelon/Kairelon.html",
          "/usr/share/doc/kairelon/Kairelon.html"}},
        {"/usr/bin/",
         {"/usr/bin/Kairelon.html", "/usr/bin/../share/doc/kairelon/Kairelon.html",
          "/usr/share/doc/kairelon/Kairelon.html"}},
        {"", {"/usr/share/doc/kairelon/Kairelon.html"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HelpPageCandidates(c.folder), c.want) << c.folder;
}

TEST(HelpPage, TheBuildTreeHasThePageBesideTheProgram) {
    const std::string page = FindHelpPage(KAIRELON_BUILD_DIR "/src");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page, QFileInfo(QStringLiteral(KAIRELON_BUILD_DIR "/src/Kairelon.html"))
                        .canonicalFilePath()
                        .toStdString());
}

TEST(HelpPage, AnInstalledLayoutIsFoundFromTheProgramsFolder) {
    QTemporaryDir prefix;
    WriteFile(prefix.path() + QStringLiteral("/share/doc/kairelon/Kairelon.html"), "<html/>");
    QDir().mkpath(prefix.path() + QStringLiteral("/bin"));
    const std::string page = FindHelpPage((prefix.path() + QStringLiteral("/bin")).toStdString());
    EXPECT_EQ(page, QFileInfo(prefix.path() + QStringLiteral("/share/doc/kairelon/Kairelon.html"))
                        .canonicalFilePath()
                        .toStdString());
}

TEST(HelpPage, AFolderOfThatNameOrAnUnreadableFileIsNoPage) {
    QTemporaryDir prefix;
    QDir().mkpath(prefix.path() + QStringLiteral("/bin/Kairelon.html"));
    const std::string bin = (prefix.path() + QStringLiteral("/bin")).toStdString();
    const std::string found = FindHelpPage(bin);
    EXPECT_NE(found, bin + "/Kairelon.html");
    if (geteuid() != 0) { // root reads every file
        WriteFile(prefix.path() + QStringLiteral("/share/doc/kairelon/Kairelon.html"), "x");
        chmod((prefix.path() + QStringLiteral("/share/doc/kairelon/Kairelon.html"))
                  .toLocal8Bit()
                  .constData(),
              0);
        EXPECT_EQ(FindHelpPage(bin).find(prefix.path().toStdString()), std::string::npos);
    }
}

TEST(HelpPage, OpeningHandsTheFileUrlToTheDesktop) {
    std::vector<QUrl> opened;
    const UrlOpener record = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    EXPECT_TRUE(OpenHelp(KAIRELON_BUILD_DIR "/src", record));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(opened[0].toLocalFile().endsWith(QStringLiteral("/Kairelon.html")));
    EXPECT_TRUE(QFile::exists(opened[0].toLocalFile()));
}

TEST(HelpPage, ARefusalOrAMissingPageIsReported) {
    int calls = 0;
    EXPECT_FALSE(OpenHelp(KAIRELON_BUILD_DIR "/src", [&](const QUrl&) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
    QTemporaryDir empty;
    if (!QFile::exists(QStringLiteral("/usr/share/doc/kairelon/Kairelon.html"))) {
        EXPECT_FALSE(OpenHelp(empty.path().toStdString(), [&](const QUrl&) {
            ++calls;
            return true;
        }));
        EXPECT_EQ(calls, 1) << "nothing to open, the desktop is not asked";
    }
}

TEST(HelpPage, ThePageExplainsEveryDialogPageAndTheMenuInGerman) {
    QFile file(QStringLiteral(KAIRELON_SOURCE_DIR "/resources/help/Kairelon.html"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(html.contains(QStringLiteral("lang=\"de\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("charset=\"utf-8\"")));
    for (const char* page : {"Server", "Intervall", "Zeitzone", "RAS", "Protokoll", "Monitor"})
        EXPECT_TRUE(html.contains(QStringLiteral("Seite „%1“").arg(QLatin1String(page)))) << page;
    for (const char* item : {"Optionen...", "Synchronisieren", "Hilfe", "Info...", "Beenden"})
        EXPECT_TRUE(html.contains(QStringLiteral("<dt>%1</dt>").arg(QLatin1String(item)))) << item;
}

} // namespace
} // namespace kairelon
