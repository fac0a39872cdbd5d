#include "diag/ErrorLog.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kairelon;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const QDateTime kWhen(QDate(2026, 12, 8), QTime(7, 5, 9));

} // namespace

TEST(ErrorLog, RecordLayoutToTheByte) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(
        FormatErrorLogRecord("TfrmOptions::tGetTime()", "Socket Error\nline two", kWhen, german),
        "Datum  : 08.12.26, 07:05:09 Uhr\n"
        "Fehler : Socket Error\nline two\n"
        "Quelle : TfrmOptions::tGetTime()\n"
        "---------\n");
    EXPECT_EQ(FormatErrorLogRecord("", "", kWhen, german),
              "Datum  : 08.12.26, 07:05:09 Uhr\nFehler : \nQuelle : \n---------\n");
    // Another locale's formats, with the seconds and without a time-zone name.
    const std::string us =
        FormatErrorLogRecord("s", "m", kWhen, QLocale(QLocale::English, QLocale::UnitedStates));
    const std::string firstLine = us.substr(0, us.find('\n'));
    EXPECT_TRUE(firstLine.starts_with("Datum  : 12/8/26, 7:05:09")) << firstLine;
    EXPECT_TRUE(firstLine.ends_with("AM Uhr")) << firstLine; // no zone name before " Uhr"
}

TEST(ErrorLog, FirstRecordCreatesTheFileLaterOnesAppend) {
    test::IsolatedHome home;
    const std::string path = home.Path() + "/state/kairelon/error.log";
    EXPECT_EQ(ErrorLogPath(), path);
    EXPECT_FALSE(std::filesystem::exists(path));
    const QLocale german(QLocale::German, QLocale::Germany);
    WriteErrorLog("TfrmOptions::mnuSyncClick()", "first", kWhen, german);
    const std::string first = ReadFile(path);
    EXPECT_EQ(first, FormatErrorLogRecord("TfrmOptions::mnuSyncClick()", "first", kWhen, german));
    WriteErrorLog("TfrmOptions::tGetTime()", "second", kWhen.addSecs(61), german);
    EXPECT_EQ(ReadFile(path), first + "Datum  : 08.12.26, 07:06:10 Uhr\nFehler : second\n"
                                      "Quelle : TfrmOptions::tGetTime()\n---------\n");

    // The real clock and the user's locale give a record of the same shape.
    WriteErrorLog("src", "now");
    const std::string all = ReadFile(path);
    const std::string last = all.substr(all.rfind("Datum  : "));
    EXPECT_NE(last.find(" Uhr\nFehler : now\nQuelle : src\n---------\n"), std::string::npos);
}

TEST(ErrorLog, AFolderThatCannotBeWrittenLosesTheRecordSilently) {
    test::IsolatedHome home;
    // The state folder's parent is a plain file: no folder can be made there, not even by root.
    const std::string blocker = home.Path() + "/not-a-folder";
    std::ofstream(blocker) << "x";
    setenv("XDG_STATE_HOME", blocker.c_str(), 1);
    EXPECT_NO_THROW(WriteErrorLog("source", "message"));
    EXPECT_EQ(ReadFile(blocker), "x");
    // The log path itself taken by a folder: no record, no failure.
    setenv("XDG_STATE_HOME", (home.Path() + "/state").c_str(), 1);
    std::filesystem::create_directories(ErrorLogPath());
    EXPECT_NO_THROW(WriteErrorLog("source", "message"));
    EXPECT_TRUE(std::filesystem::is_directory(ErrorLogPath()));
}
