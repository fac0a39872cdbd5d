#include "settings/AdvRegistry.h"

#include "diag/ErrorLog.h"
#include "framework/Exception.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

namespace kairelon {

namespace {

struct Warnings {
    std::mutex mutex;
    SettingsWarningSink sink;
    std::set<std::pair<std::string, std::string>> given; // (file, value name in lower case)
};

Warnings& TheWarnings() {
    static Warnings warnings;
    return warnings;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Says `text` once per file and value name (an empty name: the file as a whole).
void WarnOnce(const std::string& file, const std::string& name, const std::string& text) {
    SettingsWarningSink sink;
    {
        Warnings& w = TheWarnings();
        std::lock_guard lock(w.mutex);
        if (!w.given.emplace(file, Lower(name)).second)
            return;
        sink = w.sink;
    }
    if (sink) {
        sink(text);
        return;
    }
    std::fprintf(stderr, "warning: %s\n", text.c_str());
    std::fflush(stderr);
    WriteErrorLog("TAdvRegistry", text);
}

const char* TypeText(std::uint32_t type) {
    switch (type) {
    case REG_SZ:
        return "a string";
    case REG_EXPAND_SZ:
        return "an expandable string";
    case REG_DWORD:
        return "a dword";
    case REG_BINARY:
        return "binary data";
    case REG_NONE:
        return "a line that cannot be read";
    default:
        return "data of another type";
    }
}

std::string ExpectedText(std::uint32_t type) {
    return type == REG_BINARY ? "8 bytes of binary data" : TypeText(type);
}

// What a value that could not be read holds, as far as it can be told.
std::string StoredText(TRegistry& reg, const std::string& name, std::uint32_t expectedType) {
    const std::uint32_t type = reg.GetDataType(name);
    if (type == REG_SZ) {
        try {
            return "the string \"" + reg.ReadString(name) + "\"";
        } catch (const Exception&) {
        }
    }
    std::string text = TypeText(type);
    if (type == expectedType)
        text += " of another size";
    return text;
}

std::string DefaultText(std::int32_t v) {
    return std::to_string(v);
}
std::string DefaultText(bool v) {
    return v ? "true" : "false";
}
std::string DefaultText(const std::string& v) {
    return "\"" + v + "\"";
}
std::string DefaultText(TDateTime v) {
    return std::to_string(v);
}

// The common steps: the stored value when present; otherwise the default, written back when
// asked; the default whenever the store raises. Nothing is written after a failed read. The
// write-back adds the default only if the value is still missing under the store's lock, so a
// value another process stored since the first look is read, never replaced.
template <typename T, typename ReadFn, typename AddFn>
T ReadWithDefault(TRegistry& reg, const std::string& name, const T& def, const T& missing,
                  bool writeBack, std::uint32_t expectedType, ReadFn read, AddFn addIfMissing) {
    // A file that cannot be read is no file without settings: say so (once), then go on as
    // before, with the defaults.
    if (const std::string problem = reg.ReadProblem(); !problem.empty())
        WarnOnce(reg.StorePath(), "", problem + "; the settings in it take their defaults for now");
    try {
        if (reg.ValueExists(name)) {
            try {
                return read();
            } catch (const Exception&) {
                WarnOnce(reg.StorePath(), name,
                         "the value \"" + name + "\" in '" + reg.StorePath() + "' holds " +
                             StoredText(reg, name, expectedType) + " where " +
                             ExpectedText(expectedType) + " is expected; the default " +
                             DefaultText(def) + " is used");
                return def;
            }
        }
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

SettingsWarningSink SetSettingsWarningSink(SettingsWarningSink sink) {
    Warnings& w = TheWarnings();
    std::lock_guard lock(w.mutex);
    w.given.clear();
    return std::exchange(w.sink, std::move(sink));
}

std::int32_t TAdvRegistry::ReadIntegerDefault(const std::string& name, std::int32_t def,
                                              bool writeBack) {
    return ReadWithDefault<std::int32_t>(
        *this, name, def, def, writeBack, REG_DWORD, [&] { return ReadInteger(name); },
        [&] { return AddIntegerIfMissing(name, def); });
}

std::string TAdvRegistry::ReadStringDefault(const std::string& name, const std::string& def,
                                            bool writeBack) {
    return ReadWithDefault<std::string>(
        *this, name, def, std::string(), writeBack, REG_SZ, [&] { return ReadString(name); },
        [&] { return AddStringIfMissing(name, def); });
}

bool TAdvRegistry::ReadBoolDefault(const std::string& name, bool def, bool writeBack) {
    return ReadWithDefault<bool>(
        *this, name, def, def, writeBack, REG_DWORD, [&] { return ReadBool(name); },
        [&] { return AddBoolIfMissing(name, def); });
}

TDateTime TAdvRegistry::ReadDateTimeDefault(const std::string& name, TDateTime def,
                                            bool writeBack) {
    return ReadWithDefault<TDateTime>(
        *this, name, def, 0.0, writeBack, REG_BINARY, [&] { return ReadDateTime(name); },
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
