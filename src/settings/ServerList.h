// The list of known time servers, kept in the text file "server.ini".
//
// One server a line, taken as it stands (a host name or an address; no trimming, no comments):
// lines end at CR, LF or CR LF, every line (an empty one too) is an entry, a NUL ends the text,
// and a line break at the very end adds no entry. The list is written with CR LF after every
// entry and replaces the file as a whole, atomically. The file lives beside the per-user
// settings file: in $KAIRELON_REGISTRY_DIR when that is set, otherwise in
// $XDG_CONFIG_HOME/kairelon/ (default ~/.config/kairelon/). It never depends on the current
// directory, which for a program started by the desktop or by systemd is "/" or the home
// folder. The server in use is not kept here but in the setting "CurrentServer". This module
// reads and writes the file only; the options dialog holds the list while it is edited.
#pragma once

#include "framework/StringList.h"

#include <string>

namespace kairelon {

inline constexpr const char* kServerListFile = "server.ini";

// The full path of "server.ini", read from the environment on every call.
std::string ServerListPath();

// Reads the list; a missing file is first created empty (0 bytes). EFOpenError when the file
// cannot be read, EFCreateError when the missing file cannot be created.
TStringList LoadServerListFile();

// Replaces the file with the list. EFCreateError when it cannot be written; the old file is
// then unchanged.
void SaveServerListFile(const TStringList& list);

} // namespace kairelon
