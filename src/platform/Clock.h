// The system clock, as the program may read and set it.
//
// `CClock` is what the rest of the program asks of the clock: the current UTC date and time,
// and setting it. Three implementations stand behind it: `CRealClock` reads and sets the
// machine's clock; `CDryRunClock` reads the machine's clock but never changes it, saying on
// standard error what it would have set; `CFakeClock` keeps a time of its own for tests and
// can be told to refuse with a chosen error number. Which one a program uses is decided by
// whoever creates it; this module keeps no global clock.
//
// Beside the wall clock each keeps a monotonic one, `MonotonicNs`: the boot-time clock of the
// machine (it counts on through suspend and is the same for every process, so one program can
// hand an instant to another), which no setting of the wall clock moves. Durations ("how long
// since the reply came") are measured on it. Each also names the hardware clock that a
// successful set should be written to (platform/HardwareClock.h): the real clock the
// machine's RTC, the dry-run clock none, the fake clock the one a test attached.
#pragma once

#include "platform/HardwareClock.h"
#include "platform/SystemTime.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kairelon {

class CClock {
public:
    virtual ~CClock() = default;

    virtual SYSTEMTIME GetSystemTime() = 0; // UTC, with day of week and milliseconds
    // Sets the clock to a UTC time. 0 on success, otherwise the errno of the refusal (EINVAL
    // for a record that names no real date and time, EPERM without the right to set it).
    virtual int SetSystemTime(const SYSTEMTIME& utc) = 0;
    // Nanoseconds on the machine's boot-time clock (BootTimeNs).
    virtual std::int64_t MonotonicNs();
    // The RTC a successful set is also written to; null for none.
    virtual CHardwareClock* HardwareClock() { return nullptr; }
};

// After a successful set: the time just set written to the clock's RTC (WriteHardwareClock);
// the outcome says nothing was written when the clock has none.
THardwareClockOutcome CopyToHardwareClock(CClock& clock);

// Nanoseconds since boot on CLOCK_BOOTTIME: monotonic, counting suspended time, the same in
// every process of the machine.
std::int64_t BootTimeNs();

class CRealClock : public CClock {
public:
    SYSTEMTIME GetSystemTime() override;
    int SetSystemTime(const SYSTEMTIME& utc) override;
    CHardwareClock* HardwareClock() override { return &rtc_; }

private:
    CSystemHardwareClock rtc_;
};

class CDryRunClock : public CClock {
public:
    SYSTEMTIME GetSystemTime() override;
    // Checks the record as the real clock would, then writes "would set the clock to
    // yyyy-mm-dd hh:mm:ss.zzz UTC" on standard error instead of setting it.
    int SetSystemTime(const SYSTEMTIME& utc) override;
};

class CFakeClock : public CClock {
public:
    explicit CFakeClock(const SYSTEMTIME& start = SYSTEMTIME{2026, 1, 4, 1, 12, 0, 0, 0});

    SYSTEMTIME GetSystemTime() override;
    int SetSystemTime(const SYSTEMTIME& utc) override; // EINVAL for an invalid record

    void RefuseWith(int error);               // later sets fail with this errno; 0 accepts
    std::vector<SYSTEMTIME> SetCalls() const; // every accepted set, in order
    // Moves the fake time on, the wall clock and the monotonic clock alike.
    void Advance(int milliseconds);
    // The monotonic clock starts at 1000 s and moves only with Advance.
    std::int64_t MonotonicNs() override;
    void AttachHardwareClock(CHardwareClock* rtc) { rtc_ = rtc; } // not owned; null: none
    CHardwareClock* HardwareClock() override { return rtc_; }

private:
    mutable std::mutex mutex_;
    SYSTEMTIME now_;
    std::int64_t monotonicNs_ = 1000000000000;
    CHardwareClock* rtc_ = nullptr;
    int refusal_ = 0;
    std::vector<SYSTEMTIME> sets_;
};

// "yyyy-mm-dd hh:mm:ss.zzz" of a record, for logs.
std::string SystemTimeText(const SYSTEMTIME& st);

} // namespace kairelon
