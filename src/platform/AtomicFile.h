// Whole-file replacement that a crash cannot leave half written.
//
// `ReplaceFileAtomically` writes the new content to a temporary file in the same folder,
// flushes it to the disk and renames it over the old file, so a reader sees either the old
// content or the new one, never a mixture or a truncated file. The folder is created (mode
// 0700, as a configuration folder) when it is missing. A path that is a symbolic link stays
// one: the file it leads to is replaced, in that file's folder. This module does not lock:
// callers that share a file with other processes lock around it themselves.
#pragma once

#include <string>
#include <sys/types.h>

namespace kairelon {

// Replaces `path` (or the file its links lead to) with `text`; a new file gets the permission
// bits `mode`, an existing one keeps its own within `mode` and its owner's bits. Returns 0 on
// success, otherwise the errno of the failing step (the old file is then untouched and no
// temporary file is left behind).
int ReplaceFileAtomically(const std::string& path, const std::string& text, mode_t mode);

// Where a chain of symbolic links leads (a relative link counts from the link's folder); the
// path itself when it is no link. A link leading nowhere names the file to create.
std::string LinkTarget(const std::string& path);

} // namespace kairelon
