#include "platform/RasLayer.h"

#include "framework/Format.h"

#include <algorithm>
#include <cstring>

namespace kairelon {

std::string RasErrorText(UINT errorValue) {
    switch (errorValue) {
    case ERROR_ACCESS_DENIED:
        return "Der Netzwerkdienst hat den Verbindungsaufbau abgelehnt: keine Berechtigung.";
    case ERROR_INVALID_HANDLE:
        return "Die Verbindungskennung ist ungültig.";
    case ERROR_INVALID_PARAMETER:
        return "Ein Parameter der Wählverbindung ist ungültig.";
    case ERROR_BUFFER_TOO_SMALL:
        return "Der Puffer ist zu klein.";
    case ERROR_DEVICE_DOES_NOT_EXIST:
        return "Das Gerät für die Verbindung ist nicht vorhanden.";
    case ERROR_PORT_NOT_CONNECTED:
        return "Die Verbindung konnte nicht hergestellt werden.";
    case ERROR_CANNOT_FIND_PHONEBOOK_ENTRY:
        return "Es gibt keine Verbindung mit diesem Namen.";
    case ERROR_PORT_DISCONNECTED:
        return "Die Verbindung wurde vom Gerät getrennt.";
    case ERROR_REMOTE_DISCONNECTION:
        return "Die Gegenstelle hat die Verbindung getrennt.";
    case ERROR_HARDWARE_FAILURE:
        return "Das Modem oder Gerät der Verbindung hat einen Fehler gemeldet.";
    case ERROR_USER_DISCONNECTION:
        return "Die Verbindung wurde vom Benutzer oder von einem anderen Programm getrennt.";
    case ERROR_INVALID_SIZE:
        return "Die Größe der übergebenen Struktur ist falsch.";
    case ERROR_PORT_NOT_AVAILABLE:
        return "Kein Gerät kann diese Verbindung zur Zeit aufbauen.";
    case ERROR_REQUEST_TIMEOUT:
        return "Die Verbindung wurde nicht rechtzeitig aufgebaut.";
    case ERROR_LINE_BUSY:
        return "Die Leitung ist besetzt.";
    case ERROR_NO_ANSWER:
        return "Die Gegenstelle antwortet nicht.";
    case ERROR_NO_CARRIER:
        return "Es wurde kein Trägersignal erkannt.";
    case ERROR_NO_DIALTONE:
        return "Es ist kein Wählton vorhanden.";
    case ERROR_AUTHENTICATION_FAILURE:
        return "Benutzername oder Passwort wurden nicht angenommen.";
    case ERROR_INTERACTIVE_MODE:
        return "Die Verbindung braucht Anmeldedaten (Benutzername oder Passwort), die nicht "
               "angegeben wurden.";
    case ERROR_RASMAN_CANNOT_INITIALIZE:
        return "Der Netzwerkdienst (NetworkManager) antwortet nicht.";
    case ERROR_IP_CONFIGURATION:
        return "Für die Verbindung konnte keine gültige IP-Konfiguration bezogen werden.";
    case ERROR_PPP_LCP_TERMINATED:
        return "Die PPP-Verbindung ist fehlgeschlagen oder wurde beendet.";
    default:
        return Format("Unbekannter Fehler %u der Wählverbindung.", errorValue);
    }
}

DWORD RasErrorStringInto(UINT errorValue, char* buffer, DWORD bufferSize) {
    if (buffer == nullptr || bufferSize == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string text = RasErrorText(errorValue);
    if (text.size() + 1 > bufferSize) {
        return ERROR_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return SUCCESS;
}

void CopyRasString(char* field, std::size_t fieldSize, std::string_view text) {
    if (fieldSize == 0) {
        return;
    }
    std::size_t n = std::min(text.size(), fieldSize - 1);
    if (n < text.size()) {
        // Step back over continuation bytes so that no UTF-8 character is split.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, fieldSize - n);
}

std::string RasString(const char* field, std::size_t fieldSize) {
    const void* end = std::memchr(field, 0, fieldSize);
    const std::size_t n =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : fieldSize;
    return std::string(field, n);
}

namespace {

// The size check and the 603 answer shared by both enumerations. Returns 0 when the buffer
// holds `items` records of `recordSize` bytes.
DWORD CheckEnumBuffer(const void* buffer, DWORD* cb, DWORD* count, std::size_t items,
                      DWORD recordSize) {
    if (buffer == nullptr || cb == nullptr || count == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*cb < sizeof(DWORD) || *static_cast<const DWORD*>(buffer) != recordSize) {
        return ERROR_INVALID_SIZE;
    }
    const std::size_t needed = items * recordSize;
    if (needed > 0xFFFFFFFFu) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*cb < needed) {
        *cb = static_cast<DWORD>(needed);
        *count = static_cast<DWORD>(items);
        return ERROR_BUFFER_TOO_SMALL;
    }
    *cb = static_cast<DWORD>(needed);
    *count = static_cast<DWORD>(items);
    return SUCCESS;
}

} // namespace

DWORD WriteRasEntryNames(const std::vector<std::string>& names, RASENTRYNAME* buffer, DWORD* cb,
                         DWORD* entries) {
    const DWORD status = CheckEnumBuffer(buffer, cb, entries, names.size(), kRasEntryNameSize);
    if (status != SUCCESS) {
        return status;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        RASENTRYNAME& record = buffer[i];
        std::memset(&record, 0, sizeof record);
        record.dwSize = kRasEntryNameSize;
        CopyRasString(record.szEntryName, sizeof record.szEntryName, names[i]);
    }
    return SUCCESS;
}

DWORD WriteRasConnections(const std::vector<RasConnectionInfo>& connections, RASCONN* buffer,
                          DWORD* cb, DWORD* count) {
    const DWORD status = CheckEnumBuffer(buffer, cb, count, connections.size(), kRasConnSize);
    if (status != SUCCESS) {
        return status;
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
        RASCONN& record = buffer[i];
        std::memset(&record, 0, sizeof record);
        record.dwSize = kRasConnSize;
        record.hrasconn = connections[i].handle;
        CopyRasString(record.szEntryName, sizeof record.szEntryName, connections[i].entryName);
        CopyRasString(record.szDeviceType, sizeof record.szDeviceType, connections[i].deviceType);
        CopyRasString(record.szDeviceName, sizeof record.szDeviceName, connections[i].deviceName);
    }
    return SUCCESS;
}

} // namespace kairelon
