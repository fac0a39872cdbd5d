// What the time-zone page shows: the name of the zone in its current season and its bias.
//
// `ShowTimeZoneInfo` reads the system's time-zone record and gives the name, the bias in
// minutes and whether the zone could be determined; the page (drawn elsewhere) puts the first
// two into its read-only fields, and start-up warns when the third is false. A zone without
// daylight time (UTC servers, much of the world) counts as determined: it shows its standard
// name and bias. Only a record that could not be read at all gives false.
#pragma once

#include "platform/TimeZone.h"

#include <cstdint>
#include <string>

namespace kairelon {

struct TTimeZoneDisplay {
    std::string Name;      // empty when the zone could not be determined
    std::int32_t Bias = 0; // minutes, UTC = local time + bias; 0 when not determined
    bool Success = false;
};

TTimeZoneDisplay ShowTimeZoneInfo();
// The same from a record and its result code, for a chosen moment or a made-up record.
TTimeZoneDisplay TimeZoneDisplayOf(std::uint32_t result, const TIME_ZONE_INFORMATION& info);

} // namespace kairelon
