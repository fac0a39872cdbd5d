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
//
// The time a reply means: the line names a whole second, so the estimate of the true time
// takes what else is known. A server in that layout that states how many milliseconds early
// it sent its on-time marker (the msADV field after the health digit) says the true time at
// the marker's arrival was the stated time less that advance; one that states none (or 0.0)
// says only that the true time lay somewhere within the stated second, and its middle is the
// best guess. Either way the reply spent half the connect's round trip on its way.
// `DaytimeAdvanceMs` reads the field, `TimeAtReceipt` makes the estimate, `ReceiptInstantNs`
// says which arrival it belongs to, and `TimeAfter` moves it on to the moment the clock is set.
#pragma once

#include "framework/DateTime.h"
#include "net/DayTime.h"
#include "platform/SystemTime.h"

#include <cstdint>
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

// The server's advance in milliseconds: the field after the health digit of a reply whose
// status fields DaytimeHealth finds (after blanks from column 31: one to three digits, a point
// and one digit, then a blank or the end, e.g. " 50.0", "742.2"). Empty when the line has no
// such field or it has another shape.
std::optional<double> DaytimeAdvanceMs(const std::string& reply);

// 100-nanosecond intervals since 1601-01-01 UTC (the FILETIME count), signed.
using TTicks = std::int64_t;
inline constexpr TTicks TicksPerMs = 10000;

// The true UTC time when the reply arrived, for the whole second it states (`stated`, as
// NTPtoDateTime gave it): stated − msADV when the reply states an advance above 0, else
// stated + 500 ms; plus half the round trip (nanoseconds, not negative). 0 for a record that
// names no date and time.
TTicks TimeAtReceipt(const SYSTEMTIME& stated, const std::string& reply, std::int64_t roundTripNs);

// The monotonic moment TimeAtReceipt belongs to: the arrival of the on-time marker for a
// reply in the layout with status fields (when one came), else the arrival of its last byte.
std::int64_t ReceiptInstantNs(const std::string& reply, const TReplyTiming& timing);

// The time at `receipt` (ticks) moved on by what passed from `receivedNs` to `nowNs` on the
// monotonic clock, to the nearest millisecond, as a record with day of week 0. `trueAtNs`
// gets the monotonic moment at which that millisecond is exactly true.
SYSTEMTIME TimeAfter(TTicks receipt, std::int64_t receivedNs, std::int64_t nowNs,
                     std::int64_t& trueAtNs);

// |second − first| in whole minutes; distances beyond the 32-bit range give INT32_MAX.
int GetTimeDifference(const SYSTEMTIME& first, const SYSTEMTIME& second);

void CopyFileTime(const FILETIME& source, FILETIME& destination);

} // namespace kairelon
