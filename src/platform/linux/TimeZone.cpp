// The time-zone record from localtime_r: tm_gmtoff gives the offset east of UTC, tm_isdst
// the season and tm_zone its name. The other season's offset and name are found by probing
// the days half a year either side of the moment and taking the nearest one of that season.
#include "platform/TimeZone.h"

#include <cstdlib>
#include <optional>

namespace kairelon {
namespace {

constexpr std::time_t kSecondsPerDay = 86400;
constexpr int kProbeDays = 183; // each side: a whole year of seasons around the moment

struct Season {
    long gmtoff = 0; // seconds east of UTC
    std::string name;
};

std::optional<Season> SeasonAt(std::time_t when, bool& isDaylight) {
    std::tm tm{};
    if (!localtime_r(&when, &tm) || tm.tm_isdst < 0) {
        return std::nullopt;
    }
    isDaylight = tm.tm_isdst > 0;
    return Season{tm.tm_gmtoff, tm.tm_zone ? tm.tm_zone : ""};
}

// The nearest moment of the other season within the probe window, if the zone has one.
std::optional<Season> NearestOtherSeason(std::time_t when, bool daylightNow) {
    for (int day = 1; day <= kProbeDays; ++day) {
        for (const std::time_t probe : {when + day * kSecondsPerDay, when - day * kSecondsPerDay}) {
            bool daylight = false;
            const auto season = SeasonAt(probe, daylight);
            if (season && daylight != daylightNow) {
                return season;
            }
        }
    }
    return std::nullopt;
}

std::int32_t BiasOf(long gmtoff) {
    return static_cast<std::int32_t>(-gmtoff / 60);
}

} // namespace

std::uint32_t GetTimeZoneInformationAt(std::time_t when, TIME_ZONE_INFORMATION& info) {
    tzset(); // a changed TZ takes effect here, not only at the first call of the process
    bool daylightNow = false;
    const auto now = SeasonAt(when, daylightNow);
    if (!now) {
        return TIME_ZONE_ID_INVALID;
    }
    const auto other = NearestOtherSeason(when, daylightNow);
    info = TIME_ZONE_INFORMATION{};
    if (!other) {
        // A zone without daylight time: its one season is its standard time.
        info.Bias = BiasOf(now->gmtoff);
        info.StandardName = now->name;
        return TIME_ZONE_ID_UNKNOWN;
    }
    const Season& standard = daylightNow ? *other : *now;
    const Season& daylight = daylightNow ? *now : *other;
    info.Bias = BiasOf(standard.gmtoff);
    info.StandardName = standard.name;
    info.DaylightName = daylight.name;
    info.DaylightBias = BiasOf(daylight.gmtoff) - info.Bias;
    return daylightNow ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

std::uint32_t GetTimeZoneInformation(TIME_ZONE_INFORMATION& info) {
    return GetTimeZoneInformationAt(std::time(nullptr), info);
}

} // namespace kairelon
