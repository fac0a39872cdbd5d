// The program's help page, "Kairelon.html", and opening it in the desktop's browser.
//
// The page ships with the program: installed under the documentation folder
// (<prefix>/share/doc/kairelon/), and copied beside the program in a build tree. `FindHelpPage`
// gives the first of these that exists for the program's folder; `OpenHelp` hands it to the
// desktop (QDesktopServices), or to an opener a test puts in its place.
#pragma once

#include <QUrl>

#include <functional>
#include <string>
#include <vector>

namespace kairelon {

inline constexpr const char* HelpPageName = "Kairelon.html";

// The places looked at, in order: beside the program, <folder>/../share/doc/kairelon/, and
// /usr/share/doc/kairelon/.
std::vector<std::string> HelpPageCandidates(const std::string& programFolder);
// The first candidate that is a readable file, or an empty string.
std::string FindHelpPage(const std::string& programFolder);

// Opens a URL in the desktop's handler; true when the desktop accepted it.
using UrlOpener = std::function<bool(const QUrl&)>;
UrlOpener DesktopUrlOpener();

// Finds the page and opens it at its start. False when no page was found or the opener
// refused it; the caller tells the user.
bool OpenHelp(const std::string& programFolder, const UrlOpener& open = DesktopUrlOpener());

} // namespace kairelon
