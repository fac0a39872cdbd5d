// Where the program keeps files of its own state, and appending to them.
//
// `StateFolder` is $XDG_STATE_HOME/kairelon (default ~/.local/state/kairelon), read from the
// environment on every call: the program's own folder is not writable on an installed
// system, so the error log lives here. `AppendToFile` adds text to the end of a file in one
// write, creating the file (mode 0600) and its folders (0700) when missing; the file is opened
// and closed per call. Neither raises.
//
// No folder maker of the program makes the machine-wide folder /var/lib/kairelon, not even as
// the parent of a per-user folder placed inside it (the headless service's settings): the
// package and the clock-setting service make it, with its group and setgid bit; one made by a
// run would be root's for good. `MayMakeFolder` says whether a folder may be made.
#pragma once

#include <string>

namespace kairelon {

inline constexpr const char* kMachineWideFolder = "/var/lib/kairelon";
bool MayMakeFolder(const std::string& folder); // false for the machine-wide folder

std::string StateFolder();
bool AppendToFile(const std::string& path, const std::string& text); // false on any failure

} // namespace kairelon
