// The system's time-zone record.
//
// What the program may learn about the local time zone: the bias of standard time, the bias
// added in daylight time, the names of both seasons, and which season is in effect. The
// record and the result codes are those the time-zone page reads; the Linux side takes them
// from the C library and tzdata (the TZ variable or /etc/localtime). This module reads only;
// it never changes the zone.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kairelon {

// Results of GetTimeZoneInformation.
inline constexpr std::uint32_t TIME_ZONE_ID_UNKNOWN = 0;           // the zone has no daylight time
inline constexpr std::uint32_t TIME_ZONE_ID_STANDARD = 1;          // standard time in effect
inline constexpr std::uint32_t TIME_ZONE_ID_DAYLIGHT = 2;          // daylight time in effect
inline constexpr std::uint32_t TIME_ZONE_ID_INVALID = 0xFFFFFFFFu; // could not be determined

// Biases in minutes, signed so that UTC = local time + bias (one hour east of GMT: -60).
struct TIME_ZONE_INFORMATION {
    std::int32_t Bias = 0;         // of standard time
    std::string StandardName;      // e.g. "CET"; UTF-8
    std::int32_t StandardBias = 0; // added to Bias in standard time; always 0 here
    std::string DaylightName;      // e.g. "CEST"; empty for a zone without daylight time
    std::int32_t DaylightBias = 0; // added to Bias in daylight time (usually -60)
};

// The record for the zone as it stands now.
std::uint32_t GetTimeZoneInformation(TIME_ZONE_INFORMATION& info);
// The same at a given moment (seconds since 1970, UTC), so tests choose the season. The
// daylight and standard parts are found by looking half a year either side of the moment.
std::uint32_t GetTimeZoneInformationAt(std::time_t when, TIME_ZONE_INFORMATION& info);

} // namespace kairelon
