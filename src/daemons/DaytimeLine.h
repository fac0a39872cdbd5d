// The reply line of the daytime server.
//
// One line in fixed columns, the layout the daytime client reads (sync/ reply conversion):
//
//     <LF>JJJJJ YY-MM-DD hh:mm:ss TT L H msADV UTC(Kairelon) *<LF>
//
// JJJJJ is the Modified Julian Date (days since 17 November 1858, five digits), then the
// date and time in UTC, then the status fields: TT "00" (the time is UTC, no daylight-saving
// term), L "0" (no leap second announced), H "0" (the server is healthy), msADV (how many
// milliseconds before the stated time the line is sent, one decimal, five columns), a label
// naming the time scale and its source, and "*" as the closing marker. With the leading line
// feed stripped, the year stands in columns 7-8, month 10-11, day 13-14, hour 16-17, minute
// 19-20, second 22-23. This module only formats; it reads no clock.
//
// A line for an instant states the next whole second and, as msADV, the time until then: a
// client that reads the field knows the time to a tenth of a millisecond, one that does not is
// at most a second off. msADV is never "  0.0", which says "no advance stated": an instant on
// (or within 0.05 ms of) a whole second states it with "  0.1".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kairelon {

// Days since 17 November 1858 00:00 UTC for a count of seconds since 1970-01-01 00:00 UTC
// (negative before 1970). 1970-01-01 is day 40587.
std::int64_t ModifiedJulianDate(std::int64_t unixSeconds);

// The whole reply for the given UTC instant: the next whole second with its advance. The
// day number is kept to five digits (modulo 100000) so the columns never move; it has five
// digits from 1886 to 2132.
std::string DaytimeLine(std::chrono::system_clock::time_point utc);
// The reply stating the second `unixSeconds` with msADV `advanceTenthsMs` tenths of a
// millisecond (0 to 9999; 0 writes "  0.0", no advance stated).
std::string DaytimeLine(std::int64_t unixSeconds, int advanceTenthsMs = 0);

} // namespace kairelon
