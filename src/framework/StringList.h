// String lists as plain text files, one entry a line.
//
// Reading: lines end at CR, LF or CR LF; every line, an empty one included, is an entry in
// file order; a NUL character ends the text; a line break at the very end adds no entry; an
// empty file is an empty list. Writing: every entry followed by CR LF, the file replaced as a
// whole. Entries are 8-bit text taken as they stand. `IndexOfText` is the framework's list
// search: exact text with ASCII letters compared without regard to case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kairelon {

using TStringList = std::vector<std::string>;

TStringList SplitLines(std::string_view text);
std::string JoinLines(const TStringList& list);

TStringList LoadStringList(const std::string& path); // EFOpenError when unreadable
void SaveStringList(const std::string& path, const TStringList& list); // EFCreateError on failure

int IndexOfText(const TStringList& list, std::string_view text); // -1 when absent
bool SameText(std::string_view a, std::string_view b);

} // namespace kairelon
