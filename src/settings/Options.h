// The two option stores: per-user settings and the machine-wide service hand-over.
//
// `CLocalOptions` is the key "Software\Quarnel Developments\Kairel" under HKEY_CURRENT_USER,
// holding every setting of the settings table; `CGlobalOptions` is the same key under
// HKEY_LOCAL_MACHINE, holding only "NewTime" (the new clock time as a SYSTEMTIME's 16 bytes)
// and "OldTime" (a date-time) handed to the clock-setting service. Each store opens its key
// with `Open` and keeps it open for its life; both are used from one thread and are not
// locked (the registry files lock themselves against other processes). A store whose `Open`
// failed still answers typed reads with defaults; its plain writes raise
// ERegistryException.
#pragma once

#include "platform/SystemTime.h"
#include "settings/AdvRegistry.h"

#include <string>

namespace kairelon {

// Key of both stores, relative to their roots.
inline constexpr const char* kOptionsKey = "Software\\Quarnel Developments\\Kairel";
// Machine-wide values of the service hand-over.
inline constexpr const char* kNewTimeValue = "NewTime"; // REG_BINARY, 16 bytes (SYSTEMTIME)
inline constexpr const char* kOldTimeValue = "OldTime"; // REG_BINARY, 8 bytes (TDateTime)
// REG_BINARY, 8 bytes: the moment of the hand-over, milliseconds since 1970 UTC (int64 LE).
inline constexpr const char* kOldTimeUtcValue = "OldTimeUtc";
// REG_BINARY, 16 bytes: the boot-time instant (nanoseconds, CLOCK_BOOTTIME) at which "NewTime"
// was true, then the "OldTimeUtc" of the same hand-over (each int64 LE). Older programs do not
// write it; a value whose second half is not this hand-over's "OldTimeUtc" is an earlier one's.
inline constexpr const char* kNewTimeBootValue = "NewTimeBoot";

class CLocalOptions : public TAdvRegistry {
public:
    CLocalOptions() = default;
    ~CLocalOptions() override;

    // Opens (creating when missing) the key under HKEY_CURRENT_USER; false on failure.
    bool Open();

    // Reads with default "" and write-back; writes raise ERegistryException when refused.
    std::string ReadCurrentServer();
    void WriteCurrentServer(const std::string& value);
    std::string ReadRasUsername();
    void WriteRasUsername(const std::string& value);
    std::string ReadRasPassword();
    void WriteRasPassword(const std::string& value);
    std::string ReadRasConnection();
    void WriteRasConnection(const std::string& value);
};

class CGlobalOptions : public TAdvRegistry {
public:
    CGlobalOptions() = default;

    // Opens the key under HKEY_LOCAL_MACHINE without writing anything (a missing key is made
    // by the first hand-over); false when the store cannot be read, or the key is missing and
    // the store cannot be written, for example for a user outside the service's group. A
    // write after a failed open raises with the reason of the failure.
    bool Open();

    // Writes "NewTime" as 16 bytes: the eight fields in order, each 16 bits little endian.
    // ERegistryException when the store refuses it.
    void WriteNewTime(const SYSTEMTIME& time);
    void WriteNewTime(const std::uint8_t (&buffer)[16]);
    // Reads "NewTime" back; ERegistryException when it is missing, of another type or not
    // 16 bytes long.
    SYSTEMTIME ReadNewTime();
};

} // namespace kairelon
