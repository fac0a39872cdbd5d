#include "diag/ErrorText.h"

#include "platform/SystemError.h"

#include <cerrno>

namespace kairelon {
namespace {

struct GermanText {
    int code;
    const char* text;
};

// The errors of opening the service's events, setting the clock and reading or writing the
// program's files.
constexpr GermanText GermanTexts[] = {
    {EPERM, "Der Vorgang ist nicht erlaubt."},
    {ENOENT, "Die Datei oder das Verzeichnis ist nicht vorhanden."},
    {EINTR, "Der Aufruf wurde unterbrochen."},
    {EIO, "Beim Lesen oder Schreiben ist ein Fehler aufgetreten."},
    {EAGAIN, "Die Ressource ist zur Zeit nicht verfügbar."},
    {ENOMEM, "Es ist nicht genügend Speicher verfügbar."},
    {EACCES, "Der Zugriff wurde verweigert."},
    {EBUSY, "Das Gerät oder die Ressource ist belegt."},
    {EEXIST, "Die Datei ist bereits vorhanden."},
    {ENODEV, "Das Gerät ist nicht vorhanden."},
    {ENOTDIR, "Ein Teil des Pfades ist kein Verzeichnis."},
    {EISDIR, "Der Pfad bezeichnet ein Verzeichnis."},
    {EINVAL, "Ein Parameter ist ungültig."},
    {ENFILE, "Im System sind zu viele Dateien geöffnet."},
    {EMFILE, "Das Programm hat zu viele Dateien geöffnet."},
    {ENOSPC, "Auf dem Datenträger ist kein Platz mehr frei."},
    {EROFS, "Das Dateisystem kann nur gelesen werden."},
    {ENAMETOOLONG, "Der Name ist zu lang."},
    {ENOSYS, "Die Funktion wird vom System nicht unterstützt."},
    {ELOOP, "Der Pfad enthält zu viele symbolische Verknüpfungen."},
    {ETIMEDOUT, "Die Zeit für den Vorgang ist abgelaufen."},
};

} // namespace

std::string GermanSystemErrorText(std::uint32_t code) {
    for (const GermanText& entry : GermanTexts) {
        if (static_cast<std::uint32_t>(entry.code) == code) {
            return entry.text;
        }
    }
    return SystemErrorText(code);
}

} // namespace kairelon
