#include "framework/Format.h"
#include "framework/StringTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace kairelon;

namespace {

// Every number the program asks for lies in one of these blocks; a scan over them finds every
// text the table holds.
constexpr int kFirstScanned = 0;
constexpr int kLastScanned = 4000;

// True when the bytes form well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        unsigned int cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (d & 0x3Fu);
        }
        const unsigned int minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::map<int, std::string> AllTexts() {
    std::map<int, std::string> all;
    for (int n = kFirstScanned; n <= kLastScanned; ++n) {
        std::string text = LoadStr(n);
        if (!text.empty()) {
            all.emplace(n, std::move(text));
        }
    }
    return all;
}

} // namespace

// Kept first: the table is read on first use, and that first use may come from any thread.
TEST(StringTable, FirstUseFromSeveralThreadsGivesTheSameTexts) {
    std::vector<std::string> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = LoadStr(1036); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& text : seen) {
        EXPECT_EQ(text, "Kairelon Einstellungen");
    }
}

TEST(StringTable, TextsOfEveryBlockAreExactlyAsQuoted) {
    const std::pair<int, const char*> cases[] = {
        // messages, labels and captions
        {1000, "Um Ihren Rechner mit einer Uhrzeit aus dem Internet synchronisieren zu können, "
               "müssen Sie einen Rechner angeben, von dem diese Uhrzeit bezogen werden kann. "
               "Wählen Sie einen Rechner aus der Liste aus, oder geben Sie eine neue Adresse ein."},
        {1003, "Es sind keine NTP - Server definiert. Sie sollten mindestens eine entsprechende "
               "Adresse eingeben."},
        {1009, "Falls keine Internet - Verbindung besteht, soll zum Synchronisieren der Zeit die "
               "folgende Verbindung aufgebaut werden :"},
        {1010, "Timeout ( ms )"},
        {1011, "Es wurde kein gültiger Server eingestellt - bitte wählen Sie einen gültigen NTP "
               "Server aus."},
        {1012, "Minuten"},
        {1013, "Stunden"},
        {1014, "Tage"},
        {1015, "Kairelon ist aktiv seit"},
        {1024, "RAS Meldung :"},
        {1029, "Kairelon erfolgreich initialisiert"},
        {1032, "Der Wert für 'Intervall' darf nicht 0 sein."},
        {1033, "Der Wert füt 'Timeout' darf nicht 0 sein."},
        {1036, "Kairelon Einstellungen"},
        {1038, "Kairelon beenden ?"},
        {1039, "Verbindungs - Aufbau zum TimeServer nicht möglich"},
        {1040, "Kairelon ist nicht korrekt konfiguriert - er erfolgt keine Synchronisation"},
        {1041, "Sie müssen einen gültigen Server auswählen."},
        {1053, "&Hilfe"},
        {1060, "Tag"},
        {1067, "Sonntag"},
        {1068, "Intervall"},
        {1073, "Eine RAS Verbindung sollte aufgebaut werden, der NetworkManager stand aber nicht "
               "zur Verfügung."},
        {1074, "Der Kairelon Service hat nicht in der notwendigen Zeit geantwortet. Prüfen Sie, ob "
               "der Kairelon Service auf diesem Rechner läuft."},
        {1076, "Service zum Stellen der Uhrzeit verwenden"},
        {1082, "Maximale Abweichung"},
        // buttons and message-box captions
        {2000, "&Löschen"},
        {2001, "&OK"},
        {2002, "&Abbrechen"},
        {2003, "Hinweis"},
        {2004, "Warnung"},
        {2005, "Löschen"},
        {2006, "Beenden"},
        {2007, "Fehler"},
        // menu items
        {3000, "&Synchronisieren"},
        {3001, "&Optionen..."},
        {3002, "&Hilfe"},
        {3003, "&Info..."},
        {3004, "&Beenden"},
    };
    for (const auto& [number, text] : cases) {
        EXPECT_EQ(LoadStr(number), text) << "text " << number;
    }
}

TEST(StringTable, NumbersWithoutATextGiveAnEmptyString) {
    // Entry 1 holds the caption offset of the resource-captioned controls; it is absent, so the
    // offset is 0 and a control's number is the text's number.
    for (int number : {1, 0, -1, 999, 1017, 1031, 1042, 1049, 1051, 1054, 1078, 1083, 1999, 2008,
                       2999, 3005, 1109, 999999}) {
        EXPECT_EQ(LoadStr(number), "") << "number " << number;
    }
}

TEST(StringTable, EveryBlockIsCompleteWhereTextsAreQuoted) {
    const auto all = AllTexts();
    const std::vector<int> unquoted{1017, 1031, 1042, 1043, 1044, 1045, 1046,
                                    1047, 1048, 1049, 1051, 1054, 1078};
    for (int n = 1000; n <= 1082; ++n) {
        const bool expected = std::find(unquoted.begin(), unquoted.end(), n) == unquoted.end();
        EXPECT_EQ(all.count(n) == 1, expected) << "text " << n;
    }
    for (int n = 2000; n <= 2007; ++n) {
        EXPECT_EQ(all.count(n), 1u) << "text " << n;
    }
    for (int n = 3000; n <= 3004; ++n) {
        EXPECT_EQ(all.count(n), 1u) << "text " << n;
    }
    EXPECT_EQ(all.size(), 83u);
    EXPECT_EQ(all.begin()->first, 1000);
    EXPECT_EQ(all.rbegin()->first, 3004);
}

TEST(StringTable, TextsNameWhatThisSystemHasNotWindowsParts) {
    const std::pair<int, const char*> reworded[] = {
        {1008, "Verwenden Sie die Systemeinstellungen Ihrer Arbeitsumgebung um diese Parameter und "
               "die Berechnungs - Grundlage von Kairelon zu verändern."},
        {1069, "Ein oder mehrere Funktionen des NetworkManager für RAS Unterstützung stehen nicht "
               "zur Verfügung."},
        {1070, "Der für RAS Unterstützung notwendige NetworkManager ist nicht erreichbar."},
        {1071, "Der NetworkManager für RAS Unterstützung ist erreichbar."},
        {1073, "Eine RAS Verbindung sollte aufgebaut werden, der NetworkManager stand aber nicht "
               "zur Verfügung."},
        {1075, "Um auch normalen Benutzern die Verwendung von Kairelon zu ermöglichen, können Sie "
               "den Service kairelon-clockd zum Stellen der Uhrzeit verwenden."},
    };
    for (const auto& [number, text] : reworded) {
        EXPECT_EQ(LoadStr(number), text) << "text " << number;
    }
    for (const auto& [number, text] : AllTexts()) {
        for (const char* absent : {"DLL", "Windows", "Systemsteuerung", "TNA", "RAS Api"}) {
            EXPECT_EQ(text.find(absent), std::string::npos) << "text " << number << ": " << text;
        }
    }
}

TEST(StringTable, TextsAreUtf8WithTheirUmlautsAndNoStrayBlanksOrCarriageReturns) {
    EXPECT_EQ(LoadStr(2000), "&L\xC3\xB6schen");
    EXPECT_NE(LoadStr(1081).find("zu gro\xC3\x9F war"), std::string::npos);
    EXPECT_NE(LoadStr(1071).find("f\xC3\xBCr RAS Unterst\xC3\xBCtzung"), std::string::npos);
    EXPECT_NE(LoadStr(1006).find("gegen\xC3\xBC"
                                 "ber"),
              std::string::npos);
    EXPECT_NE(LoadStr(1005).find("Abh\xC3\xA4ngigkeit"), std::string::npos);
    for (const auto& [number, text] : AllTexts()) {
        EXPECT_TRUE(IsUtf8(text)) << "text " << number;
        EXPECT_EQ(text.find('\r'), std::string::npos) << "text " << number;
        EXPECT_EQ(text.find('\t'), std::string::npos) << "text " << number;
        EXPECT_NE(text.front(), ' ') << "text " << number;
        EXPECT_NE(text.back(), ' ') << "text " << number;
        EXPECT_EQ(text.find("  "), std::string::npos) << "text " << number;
    }
}

TEST(StringTable, ServiceMessageKeepsItsLineBreaksAroundTheSystemText) {
    const std::string pattern = LoadStr(1077);
    EXPECT_EQ(pattern,
              "Kairelon kann nicht mit dem Service kommunizieren. Die Fehlermeldung lautet :"
              "\n\n%s\nStellen Sie sicher, da\xC3\x9F der Service korrekt installiert ist.");
    // System error texts end with a line break of their own; it is inserted unchanged.
    EXPECT_EQ(Format(pattern, "Das System kann die angegebene Datei nicht finden.\n"),
              "Kairelon kann nicht mit dem Service kommunizieren. Die Fehlermeldung lautet :\n\n"
              "Das System kann die angegebene Datei nicht finden.\n\n"
              "Stellen Sie sicher, daß der Service korrekt installiert ist.");
    for (const auto& [number, text] : AllTexts()) {
        if (number != 1077) {
            EXPECT_EQ(text.find('\n'), std::string::npos) << "text " << number;
        }
    }
}

TEST(StringTable, ClockReadingsFillTheirCStylePlaceholders) {
    EXPECT_EQ(Format(LoadStr(1079), 8, 12, 2024, 4, 13, 14),
              "Datum/Uhrzeit lokal (UTC) : 08.12.2024, 04:13:14");
    EXPECT_EQ(Format(LoadStr(1080), 31, 1, 1999, 23, 0, 5),
              "Datum/Uhrzeit remote (UTC) : 31.01.1999, 23:00:05");
    // A year before 1000 keeps its digits unpadded; two-digit fields never get cut.
    EXPECT_EQ(Format(LoadStr(1080), 1, 1, 601, 0, 0, 0),
              "Datum/Uhrzeit remote (UTC) : 01.01.601, 00:00:00");
    EXPECT_EQ(Format(LoadStr(1081), 181),
              "Die Synchronisation wurde nicht durchgeführt, da die Abweichung zu groß war (181 "
              "Minuten)");
    EXPECT_EQ(Format(LoadStr(1081), 0),
              "Die Synchronisation wurde nicht durchgeführt, da die Abweichung zu groß war (0 "
              "Minuten)");
}

TEST(StringTable, HostAndReasonTextsFillTheirTextPlaceholder) {
    EXPECT_EQ(Format(LoadStr(1030), "time.example.org"),
              "Wollen Sie den Server 'time.example.org' wirklich löschen ?");
    EXPECT_EQ(Format(LoadStr(1016), "127.0.0.1"), "Verbindung zu Host 127.0.0.1 hergestellt");
    EXPECT_EQ(Format(LoadStr(1018), "127.0.0.1"), "Verbindung zu Host 127.0.0.1 getrennt");
    EXPECT_EQ(Format(LoadStr(1019), "nirgendwo"),
              "Beim Rechner nirgendwo handelt es sich um keinen gültigen NTP Server");
    EXPECT_EQ(Format(LoadStr(1021), "08.12.2024, 05:13:14"),
              "Synchronisation erfolgreich ( 08.12.2024, 05:13:14 )");
    EXPECT_EQ(Format(LoadStr(1052), "Connection Timed out"),
              "Die Synchronisation konnte nicht durchgeführt werden. Grund : Connection Timed out");
    // A host name holding a percent sign is inserted as it stands, never read as a pattern.
    EXPECT_EQ(Format(LoadStr(1016), "a%sb%d"), "Verbindung zu Host a%sb%d hergestellt");
}

TEST(StringTable, ComposedMessagesReadAsTheUserSeesThem) {
    const std::string uptime =
        "%d " + LoadStr(1014) + ", %d " + LoadStr(1013) + ", %d " + LoadStr(1012);
    EXPECT_EQ(Format(uptime, 0, 2, 5), "0 Tage, 2 Stunden, 5 Minuten");
    EXPECT_EQ(Format("%s %s", LoadStr(1024), LoadStr(1073)),
              "RAS Meldung : Eine RAS Verbindung sollte aufgebaut werden, der NetworkManager stand "
              "aber nicht zur Verfügung.");
    EXPECT_EQ(Format("%s ( %s )", LoadStr(1020), "NTPtoDateTime() failed"),
              "Die Uhrzeit konnte nicht synchronisiert werden ( NTPtoDateTime() failed )");
    EXPECT_EQ(Format("%s ( GetLastError() returned %s )", LoadStr(1020), "n/a"),
              "Die Uhrzeit konnte nicht synchronisiert werden ( GetLastError() returned n/a )");
}

TEST(StringTable, OnlyThePlaceholderTextsHoldAPercentSign) {
    // Which texts are patterns, and of what kind: a stray or missing placeholder would make a
    // message raise or print garbage when it is filled.
    const std::map<int, std::string> patterns{
        {1016, "%s"},
        {1018, "%s"},
        {1019, "%s"},
        {1021, "%s"},
        {1030, "%s"},
        {1052, "%s"},
        {1077, "%s"},
        {1079, "%.2d%.2d%d%.2d%.2d%.2d"},
        {1080, "%.2d%.2d%d%.2d%.2d%.2d"},
        {1081, "%d"},
    };
    for (const auto& [number, text] : AllTexts()) {
        std::string found;
        for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 1)) {
            const std::size_t end = text.find_first_of("sd", i);
            found += text.substr(i, end == std::string::npos ? 1 : end - i + 1);
        }
        const auto it = patterns.find(number);
        EXPECT_EQ(found, it == patterns.end() ? "" : it->second) << "text " << number;
        if (found.empty()) {
            EXPECT_EQ(Format(text), text) << "text " << number;
        }
    }
}

TEST(StringTable, AReplacedTableAnswersUntilTheOwnTableIsRestored) {
    const std::string own1009 = LoadStr(1009);
    ASSERT_FALSE(own1009.empty());
    SetStringTable({{1, "100"}, {1109, "Ersatz"}});
    EXPECT_EQ(LoadStr(1), "100");
    EXPECT_EQ(LoadStr(1109), "Ersatz");
    EXPECT_EQ(LoadStr(1009), "") << "a replaced table does not fall back to the own one";
    ResetStringTable();
    EXPECT_EQ(LoadStr(1009), own1009);
    EXPECT_EQ(LoadStr(1109), "");
}
