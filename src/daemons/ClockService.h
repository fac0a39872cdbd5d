// The clock-setting service: sets the clock for programs whose users may not.
//
// `CClockService` creates the named events (so that members of the `kairelon` group, or
// root alone where that group does not exist, can open them), waits for the begin event,
// reads "NewTime", "OldTime" and "OldTimeUtc" from the machine-wide store, checks them, sets
// the clock and only then sets the done event. It never confirms a time it did not set: a
// hand-over it refuses (or cannot carry out) is answered by setting the refusal event and
// then the done event, so the program reports the refusal at once instead of waiting for a
// silent service; every refusal is logged with its reason. Creating the events at start
// discards a begin signal left over from before. A hand-over older than `MaxHandOverAgeMs`,
// which stops well short of the program's wait, is refused, so the clock is never set after
// the program has reported failure. The age is judged from "OldTimeUtc", the same moment to
// a program and a service in different time zones; only a program that does not write it is
// judged from "OldTime", its local time of day.
//
// The group's members may write the events' files. Between hand-overs the service looks at
// its events; one that was cut short, removed, replaced or filled with foreign content is
// logged (once a minute at most) and all three are made anew, so the service serves on
// whatever a member did to them.
// A value a member wrote is logged only as far as its expected size.
//
// "NewTime" carries milliseconds; "NewTimeBoot", when the program wrote it for this
// hand-over, names the boot-time instant at which it was true, and the service adds the time
// passed since then (on the clock's monotonic clock) just before it sets the clock. A
// hand-over without it (as older programs write it) is set as it stands. After a successful
// set the hardware clock is written too (platform/HardwareClock.h); a failure to write it is
// one line in the log, and the hand-over is still confirmed.
//
// The clock, the log, "now" in UTC and the local time of day are injected; this class does
// not install signal handlers or parse command lines (the program's main does).
#pragma once

#include "framework/DateTime.h"
#include "platform/Clock.h"
#include "platform/NamedEvent.h"
#include "platform/SystemTime.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kairelon {

// The hand-over values as read from the store. A missing value is an empty vector.
struct THandOverValues {
    std::vector<std::uint8_t> NewTime;
    std::vector<std::uint8_t> OldTime;
    std::vector<std::uint8_t> OldTimeUtc;
    std::vector<std::uint8_t> NewTimeBoot{}; // 16 bytes; missing from older programs
};

// The latest age of a hand-over that is still acted on, in milliseconds: 2 s short of the
// program's wait (ServiceReplyTimeoutMs, 10 s), so that a clock set at the very end of it
// is still confirmed while the program waits.
inline constexpr int MaxHandOverAgeMs = 8000;

// Checks "NewTime" as the program writes it: 16 bytes, a real date and time the clock can
// hold (milliseconds 0 to 999), day of week 0. Empty when sound (and `utc` filled), otherwise the
// reason for refusing.
std::string CheckNewTime(const std::vector<std::uint8_t>& bytes, SYSTEMTIME& utc);

// Checks that "OldTime" (8 bytes, a time of day in [0, 1)) lies no more than
// MaxHandOverAgeMs before `nowTimeOfDay` (a time of day as well), allowing for midnight
// between them. Empty when fresh, otherwise the reason for refusing.
std::string CheckHandOverAge(const std::vector<std::uint8_t>& bytes, TDateTime nowTimeOfDay);

// Checks that "OldTimeUtc" (8 bytes, milliseconds since 1970 UTC) lies no more than
// MaxHandOverAgeMs before `nowUtcMs`, and not ahead of it beyond the rounding of the two
// readings. Empty when fresh, otherwise the reason for refusing.
std::string CheckHandOverAgeUtc(const std::vector<std::uint8_t>& bytes, std::int64_t nowUtcMs);

// The age check for a hand-over: by "OldTimeUtc" when the program wrote it, else by
// "OldTime".
std::string CheckHandOverAge(const THandOverValues& values, std::int64_t nowUtcMs,
                             TDateTime nowTimeOfDay);

// How long ago "NewTime" was true, by "NewTimeBoot" (16 bytes: the boot-time instant in
// nanoseconds, then the "OldTimeUtc" it belongs to) against the monotonic `nowNs`. A missing
// value, or one that belongs to an earlier hand-over (its stamp is not `oldTimeUtc`), leaves
// `elapsedNs` empty: "NewTime" is set as it stands. Empty when sound, otherwise the
// reason for refusing: another size, an instant more than 1 ms ahead of `nowNs`, or one more than
// MaxHandOverAgeMs back.
std::string CheckNewTimeBoot(const std::vector<std::uint8_t>& bytes,
                             const std::vector<std::uint8_t>& oldTimeUtc, std::int64_t nowNs,
                             std::optional<std::int64_t>& elapsedNs);

// `utc` moved on by `elapsedNs`, to the nearest millisecond, day of week 0.
SYSTEMTIME MovedOn(const SYSTEMTIME& utc, std::int64_t elapsedNs);

enum class THandOverOutcome {
    Confirmed, // the clock was set and the done event signalled
    Refused,   // the values were missing, unsound or stale; nothing set, refusal answered
    Failed,    // the clock or the store refused; nothing set, refusal answered
};

class CClockService {
public:
    using Log = std::function<void(const std::string& line)>;
    using ReadValues = std::function<THandOverValues()>;
    using LocalTimeOfDay = std::function<TDateTime()>;
    using UtcNowMs = std::function<std::int64_t()>; // milliseconds since 1970 UTC

    // `read` defaults to the machine-wide store; `timeOfDay` to the local time of the clock;
    // `utcNow` to the system's clock.
    CClockService(CClock& clock, Log log, ReadValues read = {}, LocalTimeOfDay timeOfDay = {},
                  UtcNowMs utcNow = {});
    ~CClockService(); // removes the events if still there
    CClockService(const CClockService&) = delete;
    CClockService& operator=(const CClockService&) = delete;

    // Creates the events for the given group (< 0: owner only). False, with the reason
    // logged, when they cannot be created.
    bool Start(long groupId);
    // Waits at most waitMs for the begin event and serves one hand-over if it came. False
    // when no signal came in time.
    bool ServeOnce(int waitMs);
    // Serves hand-overs until `stopRequested` says so (asked at least every 250 ms), making
    // the events anew whenever one of them is no longer sound (see MendEvents).
    void Run(const std::function<bool()>& stopRequested);
    // Makes the events anew when one of them was cut short, removed, replaced or holds foreign
    // content, and logs which and why. False when that was needed and failed (tried again at
    // the next call).
    bool MendEvents();
    // Closes and removes the events, so programs find no service any more.
    void Stop();

    THandOverOutcome HandOver(); // one hand-over, after its begin signal

private:
    THandOverOutcome Refuse(THandOverOutcome outcome, const std::string& reason);
    void WriteHardwareClockAfterSet(); // after a set; a failure is one log line
    bool CreateEvents();               // all three anew; false, logged, when one cannot be made
    void LogMend(const std::string& line);

    CClock& clock_;
    Log log_;
    ReadValues read_;
    LocalTimeOfDay timeOfDay_;
    UtcNowMs utcNow_;
    TNamedEvent begin_;
    TNamedEvent done_;
    TNamedEvent refused_;
    bool started_ = false;
    long groupId_ = -1;
    // A member may damage the events again and again: their mending is logged at most once a
    // minute, with the number of times since the last line.
    std::chrono::steady_clock::time_point lastMendLog_{};
    bool mendLogged_ = false;
    int unloggedMends_ = 0;
};

// The group that may hand over times: the id of `kairelon`, or -1 where it does not exist.
long ServiceGroupId();

// The hand-over values from the machine-wide store of this process's registry folder.
THandOverValues ReadHandOverValues();

} // namespace kairelon
