#include "sync/TimeZoneInfo.h"

namespace kairelon {

TTimeZoneDisplay TimeZoneDisplayOf(std::uint32_t result, const TIME_ZONE_INFORMATION& info) {
    switch (result) {
    case TIME_ZONE_ID_STANDARD:
    case TIME_ZONE_ID_UNKNOWN: // no daylight time: standard time all year
        return {info.StandardName, info.Bias + info.StandardBias, true};
    case TIME_ZONE_ID_DAYLIGHT:
        return {info.DaylightName, info.Bias + info.DaylightBias, true};
    default:
        return {};
    }
}

TTimeZoneDisplay ShowTimeZoneInfo() {
    TIME_ZONE_INFORMATION info;
    const std::uint32_t result = GetTimeZoneInformation(info);
    return TimeZoneDisplayOf(result, info);
}

} // namespace kairelon
