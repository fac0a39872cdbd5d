// Reading the daytime reply and measuring clock differences.
//
// `StripControlCharacters` reduces a server's reply to its printable ASCII bytes (32–127).
// `NTPtoDateTime` reads the date and the time of day out of such a reply by fixed columns, the
// layout of the common daytime servers: "JJJJJ YY-MM-DD hh:mm:ss ..." (columns counted from 1:
// year 7–8, month 10–11, day 13–14, hour 16–17, minute 19–20, second 22–23; separators are not
// checked; "00"–"50" are 2000–2050, "51"–"99" 1951–1999; the time is UTC). `GetTimeDifference`
// gives the absolute distance between two UTC readings in whole minutes (cut towards zero).
// `DaytimeHealth` reads the server's own health from the status fields that follow the time
// in that line ("... hh:mm:ss TT L H ...": H in column 30); `DaytimeHealthy` says which values
// a clock may be set from. Nothing here reads the clock.
#pragma once

#include "framework/DateTime.h"
#include "platform/SystemTime.h"

#include <optional>
#include <string>

namespace kairelon {

// Keeps the bytes 32..127 in their order and drops every other byte (line ends included).
void StripControlCharacters(std::string& text);

// True when all six fields were read and form a valid date and time: `date` gets the date
// (time of day 0), `time` the time of day (date 0). On false both are unusable.
bool NTPtoDateTime(const std::string& reply, TDateTime& date, TDateTime& time);

// The health digit H of a reply in the fixed columns, or empty when the line has no such
// field. The field is there when column 24 is a blank, 25–26 are the two digits TT, 27 a
// blank, 28 the digit L, 29 a blank, 30 the digit H, and column 31 is a blank or the end of
// the text. H is 0 for a healthy server, 1 when its time may be off by up to 5 s, 2 when it
// may be off by more, 4 when it is failing.
std::optional<int> DaytimeHealth(const std::string& reply);

// Whether a clock may be set from a server that reports this health: 0 and 1 only. 2 and 4
// say the server's own time is wrong; other values are not defined by the line and are not
// trusted either.
bool DaytimeHealthy(int health);

// |second − first| in whole minutes; distances beyond the 32-bit range give INT32_MAX.
int GetTimeDifference(const SYSTEMTIME& first, const SYSTEMTIME& second);

void CopyFileTime(const FILETIME& source, FILETIME& destination);

} // namespace kairelon
