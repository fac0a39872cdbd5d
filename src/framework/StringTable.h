// The program's string table.
//
// Every text the user sees is numbered (1000-1082 messages and captions, 2000-2007 buttons and
// box captions, 3000-3004 menu items, ...). The texts live as data in resources/strings.txt,
// compiled into the program as a resource, one "number<TAB>text" a line with \n, \t and \\ as
// escapes. `LoadStr` gives the text of a number, or an empty string for a number without one.
// The table is read once, on first use, and is safe to read from any thread.
// `SetStringTable` puts another table in its place (tests, and previews of the windows with
// other texts); `ResetStringTable` returns to the program's own.
#pragma once

#include <map>
#include <string>

namespace kairelon {

std::string LoadStr(int number);

void SetStringTable(std::map<int, std::string> table);
void ResetStringTable();

} // namespace kairelon
