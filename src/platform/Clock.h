// The system clock, as the program may read and set it.
//
// `CClock` is what the rest of the program asks of the clock: the current UTC date and time,
// and setting it. Three implementations stand behind it: `CRealClock` reads and sets the
// machine's clock; `CDryRunClock` reads the machine's clock but never changes it, saying on
// standard error what it would have set; `CFakeClock` keeps a time of its own for tests and
// can be told to refuse with a chosen error number. Which one a program uses is decided by
// whoever creates it; this module keeps no global clock.
#pragma once

#include "platform/SystemTime.h"

#include <mutex>
#include <vector>

namespace kairelon {

class CClock {
public:
    virtual ~CClock() = default;

    virtual SYSTEMTIME GetSystemTime() = 0; // UTC, with day of week and milliseconds
    // Sets the clock to a UTC time. 0 on success, otherwise the errno of the refusal (EINVAL
    // for a record that names no real date and time, EPERM without the right to set it).
    virtual int SetSystemTime(const SYSTEMTIME& utc) = 0;
};

class CRealClock : public CClock {
public:
    SYSTEMTIME GetSystemTime() override;
    int SetSystemTime(const SYSTEMTIME& utc) override;
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
    void Advance(int milliseconds);           // moves the fake time on

private:
    mutable std::mutex mutex_;
    SYSTEMTIME now_;
    int refusal_ = 0;
    std::vector<SYSTEMTIME> sets_;
};

// "yyyy-mm-dd hh:mm:ss.zzz" of a record, for logs.
std::string SystemTimeText(const SYSTEMTIME& st);

} // namespace kairelon
