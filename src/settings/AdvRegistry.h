// Typed registry reads that never fail.
//
// `TAdvRegistry` adds to the framework's `TRegistry` four reads with a default: a value that is
// present is read with the framework's typed read; a missing one is written back with its
// default (when asked) so the key comes to list every value the program uses; a value that
// cannot be read (another registry type, an unparseable line, an unreadable store) or a refused
// write-back yields the default and leaves the store unchanged. Only the framework's exception
// family (`Exception`) is absorbed. The overloads taking a setting of the settings table read
// and write that setting with its one declared default.
//
// A default that stands in for a value the file holds but that cannot be read (another type,
// a damaged line), or for a whole file that cannot be read, is not silent: a warning names the
// value or the file and what was used, once per value (per file) and process, on standard
// error and in the error log; tests put a sink of their own in their place.
#pragma once

#include "framework/Registry.h"
#include "settings/SettingsTable.h"

#include <functional>
#include <string>

namespace kairelon {

using SettingsWarningSink = std::function<void(const std::string& text)>;
// Puts a sink in place of standard error and the error log (an empty one restores them);
// returns the one before. Either way, which warnings were given is forgotten.
SettingsWarningSink SetSettingsWarningSink(SettingsWarningSink sink);

class TAdvRegistry : public TRegistry {
public:
    TAdvRegistry() = default;

    // With writeBack false a missing value gives the default (integer, boolean), the empty
    // string (string) or 0.0 (date-time), and nothing is written.
    std::int32_t ReadIntegerDefault(const std::string& name, std::int32_t def, bool writeBack);
    std::string ReadStringDefault(const std::string& name, const std::string& def, bool writeBack);
    bool ReadBoolDefault(const std::string& name, bool def, bool writeBack);
    TDateTime ReadDateTimeDefault(const std::string& name, TDateTime def, bool writeBack);

    // A setting of the table: read with its default and write-back; plain write (raises
    // ERegistryException when refused).
    std::int32_t Read(const IntegerSetting& setting);
    bool Read(const BoolSetting& setting);
    std::string Read(const StringSetting& setting);
    void Write(const IntegerSetting& setting, std::int32_t value);
    void Write(const BoolSetting& setting, bool value);
    void Write(const StringSetting& setting, const std::string& value);
};

} // namespace kairelon
