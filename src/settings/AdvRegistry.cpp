#include "settings/AdvRegistry.h"

#include "framework/Exception.h"

namespace kairelon {

namespace {

// The common steps: the stored value when present; otherwise the default, written back when
// asked; the default whenever the store raises. Nothing is written after a failed read.
template <typename T, typename ReadFn, typename WriteFn>
T ReadWithDefault(TRegistry& reg, const std::string& name, const T& def, const T& missing,
                  bool writeBack, ReadFn read, WriteFn write) {
    try {
        if (reg.ValueExists(name))
            return read();
        if (!writeBack)
            return missing;
        write();
        return def;
    } catch (const Exception&) {
        return def;
    }
}

} // namespace

std::int32_t TAdvRegistry::ReadIntegerDefault(const std::string& name, std::int32_t def,
                                              bool writeBack) {
    return ReadWithDefault<std::int32_t>(
        *this, name, def, def, writeBack, [&] { return ReadInteger(name); },
        [&] { WriteInteger(name, def); });
}

std::string TAdvRegistry::ReadStringDefault(const std::string& name, const std::string& def,
                                            bool writeBack) {
    return ReadWithDefault<std::string>(
        *this, name, def, std::string(), writeBack, [&] { return ReadString(name); },
        [&] { WriteString(name, def); });
}

bool TAdvRegistry::ReadBoolDefault(const std::string& name, bool def, bool writeBack) {
    return ReadWithDefault<bool>(
        *this, name, def, def, writeBack, [&] { return ReadBool(name); },
        [&] { WriteBool(name, def); });
}

TDateTime TAdvRegistry::ReadDateTimeDefault(const std::string& name, TDateTime def,
                                            bool writeBack) {
    return ReadWithDefault<TDateTime>(
        *this, name, def, 0.0, writeBack, [&] { return ReadDateTime(name); },
        [&] { WriteDateTime(name, def); });
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
