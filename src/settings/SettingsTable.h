// Every setting of the program, declared once: registry value name, type and default.
//
// All settings are values of the per-user store (CLocalOptions, key
// "Software\Quarnel Developments\Kairel" under HKEY_CURRENT_USER). Code that reads or writes a
// setting names it through the constants below (`settings::Timeout`), so a default is written
// in exactly one place; `AllSettings()` walks the whole table in its order. The machine-wide
// values of the service hand-over ("NewTime", "OldTime") are not settings and live in
// Options.h. This module holds no values and touches no store.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kairelon {

struct IntegerSetting {
    const char* name;
    std::int32_t defaultValue;
};
struct BoolSetting {
    const char* name;
    bool defaultValue;
};
struct StringSetting {
    const char* name;
    const char* defaultValue;
};

namespace settings {

// Host name or address of the time server to ask.
inline constexpr StringSetting CurrentServer{"CurrentServer", ""};
// Time-out of the daytime query, milliseconds; must not be 0.
inline constexpr IntegerSetting Timeout{"Timeout", 10000};
// 1 = at a fixed time of day; 2 = in a relative interval (any other value counts as 2).
inline constexpr IntegerSetting SyncModus{"SyncModus", 2};
// Relative interval, counted in the unit of "Einheit"; must not be 0.
inline constexpr IntegerSetting Intervall{"Intervall", 30};
// Unit of "Intervall": 1 = minutes, 2 = hours, 3 = days.
inline constexpr IntegerSetting Einheit{"Einheit", 1};
// Day for the fixed time: 0 = every day, 1 = Monday ... 7 = Sunday.
inline constexpr IntegerSetting Wochentag{"Wochentag", 0};
// Hour of the fixed time, 0..23.
inline constexpr IntegerSetting Stunde{"Stunde", 12};
// Minute of the fixed time, 0..59.
inline constexpr IntegerSetting Minute{"Minute", 30};
// Refuse to set the clock when the difference exceeds the maximum deviation.
inline constexpr BoolSetting UseMaxAbweich{"UseMaxAbweich", false};
// Maximum deviation, counted in the unit of "MaxAbweichEinheit".
inline constexpr IntegerSetting MaxAbweichIntervall{"MaxAbweichIntervall", 30};
// Unit of the maximum deviation: 1 = minutes, 2 = hours, 3 = days.
inline constexpr IntegerSetting MaxAbweichEinheit{"MaxAbweichEinheit", 1};
// Hand the new time to the clock-setting service instead of setting the clock directly.
inline constexpr BoolSetting UseService{"UseService", false};
// Dial the dial-up connection "RASConnection" when no connection is up.
inline constexpr BoolSetting ConnectRAS{"ConnectRAS", false};
// Name of the dial-up connection (phonebook entry).
inline constexpr StringSetting RASConnection{"RASConnection", ""};
// User name for dialling.
inline constexpr StringSetting RASUsername{"RASUsername", ""};
// Password for dialling, kept as plain text (the per-user file is readable by its owner only).
inline constexpr StringSetting RASPassword{"RASPassword", ""};
// Ask before quitting.
inline constexpr BoolSetting AskOnShutdown{"AskOnShutdown", true};

} // namespace settings

enum class SettingType { Integer, Boolean, String };

// One row of the table, for code that walks every setting.
struct SettingInfo {
    const char* name;
    SettingType type;
    std::int32_t integerDefault; // Integer and Boolean (0 or 1)
    const char* stringDefault;   // String; "" otherwise

    constexpr SettingInfo(const IntegerSetting& s)
        : name(s.name), type(SettingType::Integer), integerDefault(s.defaultValue),
          stringDefault("") {}
    constexpr SettingInfo(const BoolSetting& s)
        : name(s.name), type(SettingType::Boolean), integerDefault(s.defaultValue ? 1 : 0),
          stringDefault("") {}
    constexpr SettingInfo(const StringSetting& s)
        : name(s.name), type(SettingType::String), integerDefault(0),
          stringDefault(s.defaultValue) {}
};

// The whole table, in the order of the settings reference.
std::span<const SettingInfo> AllSettings();
// Null when no setting has this value name (compared without regard to ASCII case).
const SettingInfo* FindSetting(std::string_view name);

} // namespace kairelon
