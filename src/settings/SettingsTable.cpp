#include "settings/SettingsTable.h"

#include "platform/RegistryFile.h"

namespace kairelon {

namespace {

constexpr SettingInfo kTable[] = {
    settings::CurrentServer,
    settings::Timeout,
    settings::SyncModus,
    settings::Intervall,
    settings::Einheit,
    settings::Wochentag,
    settings::Stunde,
    settings::Minute,
    settings::UseMaxAbweich,
    settings::MaxAbweichIntervall,
    settings::MaxAbweichEinheit,
    settings::UseService,
    settings::ConnectRAS,
    settings::RASConnection,
    settings::RASUsername,
    settings::RASPassword,
    settings::AskOnShutdown,
    settings::NachholenNachStandby,
};

} // namespace

std::span<const SettingInfo> AllSettings() {
    return kTable;
}

const SettingInfo* FindSetting(std::string_view name) {
    for (const SettingInfo& s : kTable)
        if (SameKeyText(s.name, name))
            return &s;
    return nullptr;
}

} // namespace kairelon
