// The machine's hardware clock (the battery-backed real-time clock, RTC).
//
// Setting the system clock on Linux leaves the RTC alone, so a correction would be gone after
// the next boot. After a successful set the program writes the RTC as the system's own tools
// do: in UTC, unless the third line of /etc/adjtime says LOCAL (a machine that also boots an
// operating system that keeps the RTC in local time). `CHardwareClock` is what may be asked of
// an RTC: take a reading (whole seconds) and name the adjtime file that says how it counts.
// `CSystemHardwareClock` writes /dev/rtc0 (or /dev/rtc) with RTC_SET_TIME; `CFakeHardwareClock`
// records the readings for tests and can be told to refuse. `WriteHardwareClock` holds the
// rules shared by both. A machine without an RTC (a container, some virtual machines) is
// normal: nothing is written and nothing is said. This module never sets the system clock.
#pragma once

#include "platform/SystemTime.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kairelon {

class CHardwareClock {
public:
    virtual ~CHardwareClock() = default;

    // Sets the RTC to this reading (UTC or local time, as the caller decided; the milliseconds
    // are ignored). 0 on success, ENOENT (or ENODEV, ENXIO) when the machine has no RTC,
    // otherwise the errno of the failure.
    virtual int SetReading(const SYSTEMTIME& reading) = 0;
    // The device written, for messages ("/dev/rtc0").
    virtual std::string Device() const = 0;
    // The file that says whether the RTC keeps UTC or local time ("/etc/adjtime").
    virtual std::string AdjtimePath() const = 0;
};

class CSystemHardwareClock : public CHardwareClock {
public:
    int SetReading(const SYSTEMTIME& reading) override;
    std::string Device() const override;
    std::string AdjtimePath() const override { return "/etc/adjtime"; }

private:
    std::string device_ = "/dev/rtc0";
};

class CFakeHardwareClock : public CHardwareClock {
public:
    explicit CFakeHardwareClock(std::string adjtimePath) : adjtime_(std::move(adjtimePath)) {}

    int SetReading(const SYSTEMTIME& reading) override;
    std::string Device() const override { return "/dev/rtc-fake"; }
    std::string AdjtimePath() const override { return adjtime_; }

    void RefuseWith(int error);               // later writes fail with this errno; 0 accepts
    std::vector<SYSTEMTIME> Readings() const; // every accepted write, in order
    int Attempts() const;                     // every write asked for, accepted or not

private:
    mutable std::mutex mutex_;
    std::string adjtime_;
    int refusal_ = 0;
    int attempts_ = 0;
    std::vector<SYSTEMTIME> readings_;
};

// True when the adjtime text's third line is "LOCAL"; a missing file, a shorter text or any
// other word means UTC.
bool AdjtimeSaysLocal(const std::string& adjtimeText);

// The outcome of writing the RTC: `error` 0 when it was written or the machine has none
// (`written` tells which), otherwise the errno of the failure.
struct THardwareClockOutcome {
    bool written = false;
    int error = 0;
    std::string device;
};

// Writes `utc` (the system time just set) to the RTC, rounded to the nearest second, in
// local time when the adjtime file says LOCAL, else in UTC.
THardwareClockOutcome WriteHardwareClock(CHardwareClock& rtc, const SYSTEMTIME& utc);

} // namespace kairelon
