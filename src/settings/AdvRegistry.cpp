#include "settings/AdvRegistry.h"

#include "framework/Exception.h"

namespace kairelon {

namespace {

// The common steps: the stored value when present; otherwise the default, written back when
// asked; the default whenever the store raises. Nothing is written after a failed read. The
// write-back adds the default only if the value is still missing under the store's lock, so a
// value another process stored since the first look is read, never replaced.
template <typename T, typename ReadFn, typename AddFn>
T ReadWithDefault(TRegistry& reg, const std::string& name, const T& def, const T& missing,
                  bool writeBack, ReadFn read, AddFn addIfMissing) {
    try {
        if (reg.ValueExists(name))
            return read();
        if (!writeBack)
            return missing;
        if (addIfMissing())
            return def;
        return read();
    } catch (const Exception&) {
        return def;
    }
}

} // namespace

std::int32_t TAdvRegistry::ReadIntegerDefault(const std::string& name, std::int32_t def,
                                              bool writeBack) {
    return ReadWithDefault<std::int32_t>(
        *this, name, def, def, writeBack, [&] { return ReadInteger(name); },
        [&] { return AddIntegerIfMissing(name, def); });
}

std::string TAdvRegistry::ReadStringDefault(const std::string& name, const std::string& def,
                                            bool writeBack) {
    return ReadWithDefault<std::string>(
        *this, name, def, std::string(), writeBack, [&] { return ReadString(name); },
        [&] { return AddStringIfMissing(name, def); });
}

bool TAdvRegistry::ReadBoolDefault(const std::string& name, bool def, bool writeBack) {
    return ReadWithDefault<bool>(
        *this, name, def, def, writeBack, [&] { return ReadBool(name); },
        [&] { return AddBoolIfMissing(name, def); });
}

TDateTime TAdvRegistry::ReadDateTimeDefault(const std::string& name, TDateTime def,
                                            bool writeBack) {
    return ReadWithDefault<TDateTime>(
        *this, name, def, 0.0, writeBack, [&] { return ReadDateTime(name); },
        [&] { return AddDateTimeIfMissing(name, def); });
}

std::int32_t TAdvRegistry::Read(const IntegerSetting& setting) {
    return ReadIntegerDefault(setting.name, setting.defaultValue, true);
}

bool TAdvRegistry::Read(const BoolSetting& setting) {
    return ReadBoolDefault(setting.name, setting.defaultValue, true);
}

std::string TAdvRegistry::Read(const StringSetting& setting) {
    return ReadStringDefault(setting.name, setting.defaultValue, true);
}

void TAdvRegistry::Write(const IntegerSetting& setting, std::int32_t value) {
    WriteInteger(setting.name, value);
}

void TAdvRegistry::Write(const BoolSetting& setting, bool value) {
    WriteBool(setting.name, value);
}

void TAdvRegistry::Write(const StringSetting& setting, const std::string& value) {
    WriteString(setting.name, value);
}

} // namespace kairelon
