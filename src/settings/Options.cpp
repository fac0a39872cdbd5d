#include "settings/Options.h"

#include "framework/Exception.h"
#include "settings/SettingsTable.h"

namespace kairelon {

CLocalOptions::~CLocalOptions() {
    CloseKey();
}

bool CLocalOptions::Open() {
    SetRootKey(HKEY_CURRENT_USER);
    return OpenKey(kOptionsKey, true);
}

std::string CLocalOptions::ReadCurrentServer() {
    return ReadStringDefault(settings::CurrentServer.name, "", true);
}

void CLocalOptions::WriteCurrentServer(const std::string& value) {
    WriteString(settings::CurrentServer.name, value);
}

std::string CLocalOptions::ReadRasUsername() {
    return ReadStringDefault(settings::RASUsername.name, "", true);
}

void CLocalOptions::WriteRasUsername(const std::string& value) {
    WriteString(settings::RASUsername.name, value);
}

std::string CLocalOptions::ReadRasPassword() {
    return ReadStringDefault(settings::RASPassword.name, "", true);
}

void CLocalOptions::WriteRasPassword(const std::string& value) {
    WriteString(settings::RASPassword.name, value);
}

std::string CLocalOptions::ReadRasConnection() {
    return ReadStringDefault(settings::RASConnection.name, "", true);
}

void CLocalOptions::WriteRasConnection(const std::string& value) {
    WriteString(settings::RASConnection.name, value);
}

bool CGlobalOptions::Open() {
    SetRootKey(HKEY_LOCAL_MACHINE);
    // Nothing is written before a hand-over: a start, a dry run or a run that sets the clock
    // directly leaves the machine-wide folder as it is. The key is made with the first value.
    return OpenKeyWithoutWriting(kOptionsKey);
}

void CGlobalOptions::WriteNewTime(const std::uint8_t (&buffer)[16]) {
    WriteBinaryData(kNewTimeValue, buffer, sizeof buffer);
}

void CGlobalOptions::WriteNewTime(const SYSTEMTIME& time) {
    const std::uint16_t fields[8] = {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                                     time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
    std::uint8_t buffer[16];
    for (int i = 0; i < 8; ++i) {
        buffer[2 * i] = static_cast<std::uint8_t>(fields[i] & 0xff);
        buffer[2 * i + 1] = static_cast<std::uint8_t>(fields[i] >> 8);
    }
    WriteNewTime(buffer);
}

SYSTEMTIME CGlobalOptions::ReadNewTime() {
    std::uint8_t buffer[16];
    if (ReadBinaryData(kNewTimeValue, buffer, sizeof buffer) != sizeof buffer)
        throw ERegistryException("Failed to get data for 'NewTime'");
    std::uint16_t f[8];
    for (int i = 0; i < 8; ++i)
        f[i] = static_cast<std::uint16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
    return SYSTEMTIME{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
}

} // namespace kairelon
