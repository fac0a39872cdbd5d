// When a scheduled synchronisation run is due.
//
// The rules of the scheduler, apart from its timer, its counters and its runs (those stay in
// the engine, sync/SyncEngine.h): the interval in running time ("SyncModus" 2), the fixed
// time of day on every day or one weekday ("SyncModus" 1), the latest fixed time before a
// moment, whether a run was missed while no tick could see it, and the "next run" line for a
// person. Plain functions over the values the engine passes in (settings as stored, counters,
// the scheduler's memory, "now"), so each rule is tested without an engine. The settings keep
// their stored numbers; `SyncMode` and `TimeUnit` name them. Nothing here reads the store or
// the clock.
#pragma once

#include "framework/DateTime.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kairelon {

// "SyncModus": which schedule runs; any other stored value runs nothing.
enum class SyncMode : std::int32_t { FixedTime = 1, Interval = 2 };
// "Einheit" of the interval and "MaxAbweichEinheit" of the deviation limit; any other stored
// value is no unit.
enum class TimeUnit : std::int32_t { Minutes = 1, Hours = 2, Days = 3 };

std::optional<SyncMode> ToSyncMode(std::int32_t stored);
std::optional<TimeUnit> ToTimeUnit(std::int32_t stored);
// Minutes in one unit of a stored "Einheit"; 0 for a value that is no unit.
std::uint64_t UnitMinutes(std::int32_t unit);
// "minutes", "hours" or "days" (for a person; "days" for a value that is no unit).
const char* UnitName(std::int32_t unit);

// The interval schedule ("SyncModus" 2), in running minutes since the timer started: a run is
// due at every whole multiple of `interval` units; a tick runs a due point when it falls
// within the unit that begins there (so a lost tick is made up within it) and the last run
// (`lastRun`, 0 for none) came before it. Returns the due point that the tick at running
// minute `minutes` runs, when it runs one, otherwise the next due point after it; nothing when
// the unit or the interval (not positive) never runs. The first run comes after a full
// interval.
std::optional<std::uint64_t> IntervalRunAt(std::int32_t unit, std::int32_t interval,
                                           std::uint64_t minutes, std::uint64_t lastRun);

// The catch-up's judgement for the interval: `passedMinutes` (whole minutes by the clock since
// the last interval run or the start of the schedule; negative when the clock went back) reach
// the interval while `countedMinutes` (running time counted since then) do not.
bool IntervalMissed(std::int32_t unit, std::int32_t interval, double passedMinutes,
                    std::uint64_t countedMinutes);

// The fixed time as stored: "Stunde" (0 to 23), "Minute" (0 to 59) and "Wochentag" (0 every
// day, 1 Monday to 7 Sunday).
struct FixedTimeSetting {
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t weekday = 0;
};

// A fixed-time run: its local date and the "Stunde" and "Minute" it ran for. The tick in the
// minute after the fixed time forgives a lost tick, but it does not run a second time that
// day, nor does a tick after the run set the clock back.
struct FixedTimeRun {
    int year = 0, month = 0, day = 0;
    std::int32_t hour = 0, minute = 0;
    bool operator==(const FixedTimeRun&) const = default;
};

// The fixed-time rules for a tick in the local time `now`: "Stunde" (compared as an unsigned
// 16-bit number) is the hour; "Minute" is the minute or the one before it (a lost tick is
// forgiven; no wrap-around); "Wochentag" 0 every day, 1 Monday to 7 Sunday, anything else
// never.
bool FixedHourMatches(std::int32_t hour, const DecodedDateTime& now);
bool FixedMinuteMatches(std::int32_t minute, const DecodedDateTime& now);
bool FixedDayMatches(std::int32_t weekday, const DecodedDateTime& now);

// The local times that the clock skipped when it was put forward (the change to summer time):
// from `from` (the first time not shown) up to `to` (the first time shown after the change).
struct SkippedTimes {
    TDateTime from = 0;
    TDateTime to = 0;
};

// The local times skipped between the handled tick before (at UTC `previousUtc`) and this one
// (at UTC `nowUtc`); nothing when the local clock was not put forward between them. `toLocal`
// turns UTC into local time.
std::optional<SkippedTimes> SkippedBetween(TDateTime previousUtc, TDateTime nowUtc,
                                           const std::function<TDateTime(TDateTime)>& toLocal);

// The run that a tick at the local time `now` makes for the fixed time, unless it is
// `lastRun` (a run is made once per matching day); nothing when the tick makes none. A fixed
// time that the clock skipped since the tick before (`skipped`) never showed on the clock: it
// runs with this tick, the first after the change. Without `skipped`, `fixed.minute` is used
// only when the hour matches.
std::optional<FixedTimeRun> FixedTimeTickRun(const FixedTimeSetting& fixed, TDateTime now,
                                             const std::optional<SkippedTimes>& skipped,
                                             const std::optional<FixedTimeRun>& lastRun);

// The latest fixed time on a matching day at or before the local time `now`, with the record
// a run for it leaves; nothing when the setting allows none.
struct FixedTimeOccurrence {
    TDateTime at = 0; // local
    FixedTimeRun run;
};
std::optional<FixedTimeOccurrence> LatestFixedTime(const FixedTimeSetting& fixed, TDateTime now);

// What the "next run" line is worked out from: the settings as the tick uses them, the
// counters and the scheduler's memory, "now" and the local time zone.
struct ScheduleView {
    std::int32_t modus = 0;    // "SyncModus"
    std::int32_t unit = 1;     // the engine's copy of "Einheit"
    std::int32_t interval = 0; // the engine's copy of "Intervall"
    FixedTimeSetting fixed;    // used for SyncMode::FixedTime only
    std::uint64_t runningMinutes = 0;
    std::uint64_t lastRunCounter = 0; // running minutes at the last interval run (0: none)
    std::optional<FixedTimeRun> lastFixedTimeRun;
    TDateTime nowUtc = 0;
    TDateTime lastTickUtc = 0; // the last handled tick, or the start of the schedule
    std::function<TDateTime(TDateTime)> toLocal = UtcToLocal; // UTC to local time
};

// "next run: <local date and time> (...)" for the run the ticks (once a minute of real time
// from `nowUtc`) make by the rules above, named in the local time it really comes at (across a
// change of summer time too), or "next run: none: ..." naming the value that never runs or whose
// run would come after the calendar's end (31.12.9999). May throw on a value no date holds.
std::string NextRunLine(const ScheduleView& view);

} // namespace kairelon
