// The error log: failures that escaped a synchronisation, appended as records to a file.
//
// `WriteErrorLog` appends one record to "error.log" in the state folder (platform/
// StateFolder.h): a line "Datum  : " with the date in the user's short date format, ", ", the
// time in the user's long time format and " Uhr"; a line "Fehler : " with the message as
// given (it may span lines); a line "Quelle : " with the source; a line of nine hyphens. The
// file is opened, appended and closed per record and never truncated. Every failure is
// silent: the record is lost and the caller goes on.
#pragma once

#include <QDateTime>
#include <QLocale>

#include <string>

namespace kairelon {

std::string ErrorLogPath();

// The record as written, for the given moment and the given locale's formats. The long time
// format is taken without its time-zone field.
std::string FormatErrorLogRecord(const std::string& source, const std::string& message,
                                 const QDateTime& when, const QLocale& locale);

void WriteErrorLog(const std::string& source, const std::string& message);
// The same with the moment and the locale given, for tests.
void WriteErrorLog(const std::string& source, const std::string& message, const QDateTime& when,
                   const QLocale& locale);

} // namespace kairelon
