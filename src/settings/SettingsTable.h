// Every setting of the program, declared once: registry value name, type, default, and for
// integers the control rule of the options dialog (up-down range and step, or list position).
//
// All settings are values of the per-user store (CLocalOptions, key
// "Software\Quarnel Developments\Kairel" under HKEY_CURRENT_USER). Code that reads or writes a
// setting names it through the constants below (`settings::Timeout`), so a default and a range
// are written in exactly one place; `AllSettings()` walks the whole table in its order. The
// machine-wide values of the service hand-over ("NewTime", "OldTime") are not settings and live in
// Options.h. This module holds no values and touches no store.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kairelon {

// How the options dialog shows an integer setting, and so which stored values it can show.
enum class IntegerControl {
    Plain,    // no fixed range
    UpDown,   // an up-down control: range [minimum, maximum], arrows move by step
    ListItem, // a drop-down list: the item at position (value - minimum) stands for the value;
              // there are (maximum - minimum + 1) items
};

struct IntegerSetting {
    const char* name;
    std::int32_t defaultValue;
    IntegerControl control = IntegerControl::Plain;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1; // UpDown only

    // The up-down position that shows a stored value: the value kept inside the range (a
    // stored value outside it shows at the nearest end; the stored value is not changed).
    // Plain and ListItem settings give the value itself.
    constexpr std::int32_t ShownPosition(std::int32_t value) const {
        if (control != IntegerControl::UpDown)
            return value;
        return value < minimum ? minimum : value > maximum ? maximum : value;
    }
    // The list position that shows a stored value; -1 (no selection) when no item stands for
    // it or the setting is no list.
    constexpr int ListPosition(std::int32_t value) const {
        if (control != IntegerControl::ListItem || value < minimum || value > maximum)
            return -1;
        return static_cast<int>(value - minimum);
    }
    // The value a list position stands for; no selection (-1) gives minimum - 1, as the
    // dialog writes it.
    constexpr std::int32_t ValueOfListPosition(int position) const {
        return static_cast<std::int32_t>(position) + minimum;
    }
    // Whether a stored value is one the dialog can show as it is.
    constexpr bool InRange(std::int32_t value) const {
        return control == IntegerControl::Plain || (value >= minimum && value <= maximum);
    }
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
// Time-out of the daytime query, milliseconds; must not be 0. Up-down 1000..30000, step 1000
// (typed values outside it are stored and used as they are).
inline constexpr IntegerSetting Timeout{"Timeout", 10000, IntegerControl::UpDown,
                                        1000,      30000, 1000};
// 1 = at a fixed time of day; 2 = in a relative interval (any other value counts as 2).
inline constexpr IntegerSetting SyncModus{"SyncModus", 2};
// Relative interval, counted in the unit of "Einheit"; must not be 0. Up-down 1..999.
inline constexpr IntegerSetting Intervall{"Intervall", 30, IntegerControl::UpDown, 1, 999};
// Unit of "Intervall": 1 = minutes, 2 = hours, 3 = days (list position + 1).
inline constexpr IntegerSetting Einheit{"Einheit", 1, IntegerControl::ListItem, 1, 3};
// Day for the fixed time: 0 = every day, 1 = Monday ... 7 = Sunday (list position).
inline constexpr IntegerSetting Wochentag{"Wochentag", 0, IntegerControl::ListItem, 0, 7};
// Hour of the fixed time. Up-down 0..23.
inline constexpr IntegerSetting Stunde{"Stunde", 12, IntegerControl::UpDown, 0, 23};
// Minute of the fixed time. Up-down 0..59.
inline constexpr IntegerSetting Minute{"Minute", 30, IntegerControl::UpDown, 0, 59};
// Refuse to set the clock when the difference exceeds the maximum deviation.
inline constexpr BoolSetting UseMaxAbweich{"UseMaxAbweich", false};
// Maximum deviation, counted in the unit of "MaxAbweichEinheit". Up-down 1..999.
inline constexpr IntegerSetting MaxAbweichIntervall{"MaxAbweichIntervall", 30,
                                                    IntegerControl::UpDown, 1, 999};
// Unit of the maximum deviation: 1 = minutes, 2 = hours, 3 = days (list position + 1).
inline constexpr IntegerSetting MaxAbweichEinheit{"MaxAbweichEinheit", 1, IntegerControl::ListItem,
                                                  1, 3};
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
// After the machine wakes up or the network returns, start a scheduled run that was missed
// meanwhile (once, a few seconds later).
inline constexpr BoolSetting NachholenNachStandby{"NachholenNachStandby", true};

} // namespace settings

enum class SettingType { Integer, Boolean, String };

// One row of the table, for code that walks every setting.
struct SettingInfo {
    const char* name;
    SettingType type;
    std::int32_t integerDefault; // Integer and Boolean (0 or 1)
    const char* stringDefault;   // String; "" otherwise
    IntegerSetting integer;      // Integer: the whole setting with its control rule

    constexpr SettingInfo(const IntegerSetting& s)
        : name(s.name), type(SettingType::Integer), integerDefault(s.defaultValue),
          stringDefault(""), integer(s) {}
    constexpr SettingInfo(const BoolSetting& s)
        : name(s.name), type(SettingType::Boolean), integerDefault(s.defaultValue ? 1 : 0),
          stringDefault(""), integer{s.name, s.defaultValue ? 1 : 0} {}
    constexpr SettingInfo(const StringSetting& s)
        : name(s.name), type(SettingType::String), integerDefault(0),
          stringDefault(s.defaultValue), integer{s.name, 0} {}
};

// The whole table, in the order of the settings reference.
std::span<const SettingInfo> AllSettings();
// Null when no setting has this value name (compared without regard to ASCII case).
const SettingInfo* FindSetting(std::string_view name);

} // namespace kairelon
