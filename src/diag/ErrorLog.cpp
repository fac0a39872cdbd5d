#include "diag/ErrorLog.h"

#include "platform/StateFolder.h"

#include <QRegularExpression>

namespace kairelon {

namespace {

// The long time format without the time-zone field ("HH:mm:ss t" becomes "HH:mm:ss"): the
// record names the local time of day.
QString LongTimeFormat(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    format.remove(zone);
    return format.trimmed();
}

} // namespace

std::string ErrorLogPath() {
    return StateFolder() + "/error.log";
}

std::string FormatErrorLogRecord(const std::string& source, const std::string& message,
                                 const QDateTime& when, const QLocale& locale) {
    std::string date =
        locale.toString(when.date(), locale.dateFormat(QLocale::ShortFormat)).toStdString();
    std::string time = locale.toString(when.time(), LongTimeFormat(locale)).toStdString();
    return "Datum  : " + date + ", " + time + " Uhr\n" + "Fehler : " + message + "\n" +
           "Quelle : " + source + "\n" + "---------\n";
}

void WriteErrorLog(const std::string& source, const std::string& message, const QDateTime& when,
                   const QLocale& locale) {
    try {
        AppendToFile(ErrorLogPath(), FormatErrorLogRecord(source, message, when, locale));
    } catch (...) {
        // A record that cannot be written is lost; the caller must go on.
    }
}

void WriteErrorLog(const std::string& source, const std::string& message) {
    WriteErrorLog(source, message, QDateTime::currentDateTime(), QLocale::system());
}

} // namespace kairelon
