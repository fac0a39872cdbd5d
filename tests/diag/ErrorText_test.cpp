// German texts of system errors inside the program's German messages.
#include "diag/ErrorText.h"
#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace kairelon;

TEST(ErrorText, ErrorsTheProgramMeetsAreGermanOthersKeepTheSystemText) {
    struct Case {
        std::uint32_t code;
        const char* text; // nullptr: the system's own text
    };
    const Case cases[] = {
        {ENOENT, "Die Datei oder das Verzeichnis ist nicht vorhanden."},
        {EACCES, "Der Zugriff wurde verweigert."},
        {EPERM, "Der Vorgang ist nicht erlaubt."},
        {EINVAL, "Ein Parameter ist ungültig."},
        {EMFILE, "Das Programm hat zu viele Dateien geöffnet."},
        {ENAMETOOLONG, "Der Name ist zu lang."},
        {EXDEV, nullptr},
        {EPIPE, nullptr},
        {99999, nullptr},
        {0xFFFFFFFFu, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GermanSystemErrorText(c.code),
                  c.text ? std::string(c.text) : SystemErrorText(c.code))
            << c.code;
    }
    EXPECT_EQ(GermanSystemErrorText(99999), "n/a");
}
