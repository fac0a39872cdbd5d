// Where the program keeps files of its own state, and appending to them.
//
// `StateFolder` is $XDG_STATE_HOME/kairelon (default ~/.local/state/kairelon), read from the
// environment on every call: the program's own folder is not writable on an installed
// system, so the error log lives here. `AppendToFile` adds text to the end of a file in one
// write, creating the file (mode 0600) and its folders (0700) when missing; the file is opened
// and closed per call (folders are made by platform/FileWriting.h's rules). Neither raises.
#pragma once

#include <string>

namespace kairelon {

std::string StateFolder();
bool AppendToFile(const std::string& path, const std::string& text); // false on any failure

} // namespace kairelon
