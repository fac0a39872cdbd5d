#include "sync/Schedule.h"

#include "framework/Format.h"

#include <cmath>

namespace kairelon {
namespace {

constexpr double kMinutesPerDay = 24.0 * 60.0;

// "10.12.2026, 03:00 local time".
std::string LocalMinuteText(TDateTime t) {
    return FormatDateTime("dd.mm.yyyy, hh:mm", t) + " local time";
}

// The first moment past the calendar's last day, 31.12.9999: no date-time value reaches it.
TDateTime CalendarEnd() {
    return EncodeDate(9999, 12, 31) + 1.0;
}

// The local time of a UTC moment; past the calendar's end with the offset in effect two days
// before it (no zone says more about later moments).
TDateTime LocalOf(const ScheduleView& view, TDateTime utc) {
    const TDateTime last = CalendarEnd() - 2.0;
    return utc < last ? view.toLocal(utc) : utc + (view.toLocal(last) - last);
}

std::string IntervalLine(const ScheduleView& view) {
    if (UnitMinutes(view.unit) == 0) {
        return Format("next run: none: \"Einheit\" holds %d, which never runs (1 minutes, "
                      "2 hours, 3 days)",
                      view.unit);
    }
    const std::uint64_t minutes = view.runningMinutes;
    const auto due = IntervalRunAt(view.unit, view.interval, minutes, view.lastRunCounter);
    if (!due) {
        return Format("next run: none: \"Intervall\" holds %d, which never runs", view.interval);
    }
    // The tick that reaches the due point comes (due - minutes) ticks from now.
    const std::uint64_t ahead = *due > minutes ? *due - minutes : 1;
    const std::string every = Format("%d %s", view.interval, UnitName(view.unit));
    const TDateTime at = LocalOf(view, view.nowUtc + static_cast<double>(ahead) / kMinutesPerDay);
    if (!(at < CalendarEnd())) {
        return Format("next run: none: \"Intervall\" holds %s, so the next run would come "
                      "after the calendar's end (31.12.9999)",
                      every);
    }
    return "next run: " + LocalMinuteText(at) +
           (view.lastRunCounter == 0 && minutes == 0
                ? ", after a full interval of " + every + " of running time (then every " + every +
                      ")"
                : " (every " + every + " of running time)");
}

std::string FixedTimeLine(const ScheduleView& view) {
    const FixedTimeSetting& fixed = view.fixed;
    // The ticks come once a minute of real time from now on; the first that makes a run is
    // named, in local time. Eight days cover every weekday.
    TDateTime previousUtc = view.lastTickUtc;
    for (int ahead = 1; ahead <= 8 * 24 * 60 + 1; ++ahead) {
        const TDateTime tickUtc = view.nowUtc + ahead / kMinutesPerDay;
        const TDateTime at = LocalOf(view, tickUtc);
        if (!(at < CalendarEnd())) {
            return Format("next run: none: the fixed time \"Stunde\" %d, \"Minute\" %d, "
                          "\"Wochentag\" %d would next come after the calendar's end "
                          "(31.12.9999)",
                          fixed.hour, fixed.minute, fixed.weekday);
        }
        const std::optional<SkippedTimes> skipped = SkippedBetween(
            previousUtc, tickUtc, [&view](TDateTime utc) { return LocalOf(view, utc); });
        previousUtc = tickUtc;
        if (FixedTimeTickRun(fixed, at, skipped, view.lastFixedTimeRun)) {
            static const char* const kDays[] = {"every day", "Mondays", "Tuesdays",  "Wednesdays",
                                                "Thursdays", "Fridays", "Saturdays", "Sundays"};
            return "next run: " + LocalMinuteText(at) +
                   Format(" (%s at %.2d:%.2d)", kDays[fixed.weekday], fixed.hour, fixed.minute);
        }
    }
    return Format("next run: none: the fixed time \"Stunde\" %d, \"Minute\" %d, "
                  "\"Wochentag\" %d never comes (0 to 23, 0 to 59, 0 every day or 1 Monday "
                  "to 7 Sunday)",
                  fixed.hour, fixed.minute, fixed.weekday);
}

} // namespace

std::optional<SyncMode> ToSyncMode(std::int32_t stored) {
    switch (stored) {
    case static_cast<std::int32_t>(SyncMode::FixedTime):
        return SyncMode::FixedTime;
    case static_cast<std::int32_t>(SyncMode::Interval):
        return SyncMode::Interval;
    default:
        return std::nullopt;
    }
}

std::optional<TimeUnit> ToTimeUnit(std::int32_t stored) {
    switch (stored) {
    case static_cast<std::int32_t>(TimeUnit::Minutes):
        return TimeUnit::Minutes;
    case static_cast<std::int32_t>(TimeUnit::Hours):
        return TimeUnit::Hours;
    case static_cast<std::int32_t>(TimeUnit::Days):
        return TimeUnit::Days;
    default:
        return std::nullopt;
    }
}

std::uint64_t UnitMinutes(std::int32_t unit) {
    switch (ToTimeUnit(unit).value_or(static_cast<TimeUnit>(0))) {
    case TimeUnit::Minutes:
        return 1;
    case TimeUnit::Hours:
        return 60;
    case TimeUnit::Days:
        return 24 * 60;
    }
    return 0;
}

const char* UnitName(std::int32_t unit) {
    const std::optional<TimeUnit> known = ToTimeUnit(unit);
    return known == TimeUnit::Minutes ? "minutes" : known == TimeUnit::Hours ? "hours" : "days";
}

std::optional<std::uint64_t> IntervalRunAt(std::int32_t unit, std::int32_t interval,
                                           std::uint64_t minutes, std::uint64_t lastRun) {
    const std::uint64_t unitMinutes = UnitMinutes(unit);
    if (unitMinutes == 0 || interval <= 0) {
        return std::nullopt;
    }
    const std::uint64_t period = unitMinutes * static_cast<std::uint64_t>(interval);
    const std::uint64_t last = minutes / period * period; // the latest due point so far
    if (last != 0 && last > lastRun && minutes < last + unitMinutes) {
        return last;
    }
    return last + period;
}

bool IntervalMissed(std::int32_t unit, std::int32_t interval, double passedMinutes,
                    std::uint64_t countedMinutes) {
    const std::uint64_t unitMinutes = UnitMinutes(unit);
    if (unitMinutes == 0 || interval <= 0) {
        return false; // the tick runs nothing either
    }
    const double period = static_cast<double>(unitMinutes) * interval;
    return passedMinutes >= period && static_cast<double>(countedMinutes) < period;
}

bool FixedHourMatches(std::int32_t hour, const DecodedDateTime& now) {
    return static_cast<std::uint16_t>(hour) == now.hour;
}

bool FixedMinuteMatches(std::int32_t minute, const DecodedDateTime& now) {
    // "Minute" + 1 in 64 bits: a hand-edited 2147483647 must not overflow.
    return minute == now.minute || std::int64_t{minute} + 1 == now.minute;
}

bool FixedDayMatches(std::int32_t weekday, const DecodedDateTime& now) {
    return weekday == 0 || (weekday >= 1 && weekday <= 6 && now.dayOfWeek == weekday + 1) ||
           (weekday == 7 && now.dayOfWeek == 1);
}

std::optional<FixedTimeRun> FixedTimeTickRun(const FixedTimeSetting& fixed, TDateTime now,
                                             const std::optional<SkippedTimes>& skipped,
                                             const std::optional<FixedTimeRun>& lastRun) {
    const DecodedDateTime t = DecodeDateTime(now);
    if (!FixedDayMatches(fixed.weekday, t)) {
        return std::nullopt;
    }
    bool due = FixedHourMatches(fixed.hour, t) && FixedMinuteMatches(fixed.minute, t);
    TDateTime timeOfDay = 0;
    if (!due && skipped && TryEncodeTime(fixed.hour, fixed.minute, 0, 0, timeOfDay)) {
        // The fixed time lies in the hour the clock skipped: it never showed on the clock, so
        // it runs now, right after the change.
        for (const double day : {std::floor(skipped->from), std::floor(now)}) {
            const TDateTime at = day + timeOfDay;
            due = due || (skipped->from <= at && at < skipped->to);
        }
    }
    if (!due) {
        return std::nullopt;
    }
    const FixedTimeRun run{t.year, t.month, t.day, fixed.hour, fixed.minute};
    if (lastRun == run) {
        return std::nullopt;
    }
    return run;
}

std::optional<SkippedTimes> SkippedBetween(TDateTime previousUtc, TDateTime nowUtc,
                                           const std::function<TDateTime(TDateTime)>& toLocal) {
    constexpr double kSecond = 1.0 / 86400.0;
    const auto offset = [&toLocal](TDateTime utc) { return toLocal(utc) - utc; };
    const double before = offset(previousUtc);
    const double after = offset(nowUtc);
    if (!(after - before > kSecond) || !(previousUtc < nowUtc)) {
        return std::nullopt; // not put forward (or put back, where times come twice)
    }
    // The moment of the change (a whole second) to a millisecond: `hi` is the first moment
    // found with the new offset.
    TDateTime lo = previousUtc;
    TDateTime hi = nowUtc;
    while (hi - lo > kSecond / 1000) {
        const TDateTime mid = lo + (hi - lo) / 2;
        (offset(mid) - before > kSecond / 2 ? hi : lo) = mid;
    }
    const TDateTime change = hi - kSecond / 2; // within half a second before the change
    return SkippedTimes{change + before, change + after};
}

std::optional<FixedTimeOccurrence> LatestFixedTime(const FixedTimeSetting& fixed, TDateTime now) {
    if (fixed.hour < 0 || fixed.hour > 23 || fixed.minute < 0 || fixed.minute > 59) {
        return std::nullopt; // a time no clock shows: the tick never runs it either
    }
    const TDateTime timeOfDay = EncodeTime(fixed.hour, fixed.minute, 0, 0);
    const double today = std::floor(now);
    for (int back = 0; back <= 7; ++back) {
        const TDateTime day = today - back;
        const TDateTime at = day + timeOfDay;
        const DecodedDateTime date = DecodeDateTime(day);
        if (at > now || !FixedDayMatches(fixed.weekday, date)) {
            continue;
        }
        return FixedTimeOccurrence{
            at, FixedTimeRun{date.year, date.month, date.day, fixed.hour, fixed.minute}};
    }
    return std::nullopt;
}

std::string NextRunLine(const ScheduleView& view) {
    switch (ToSyncMode(view.modus).value_or(static_cast<SyncMode>(0))) {
    case SyncMode::Interval:
        return IntervalLine(view);
    case SyncMode::FixedTime:
        return FixedTimeLine(view);
    }
    return Format("next run: none: \"SyncModus\" holds %d, which never runs (1 fixed time, 2 "
                  "interval)",
                  view.modus);
}

} // namespace kairelon
