// Temporary files: where they go and how a new one is made.
//
// The receive buffer spills into a temporary file of its own. This module finds the folder for
// temporary files and creates a new, empty, uniquely named file there that only the current
// user can read and write. It can also hand the space of a consumed range of such a file back to
// the system. It does not open, track or delete the file: the caller owns it.
#pragma once

#include <cstdint>
#include <string>

namespace kairelon {

// The folder for temporary files: $TMPDIR when it names an existing folder, else /tmp.
// Raises EOSError when neither is usable. The result ends without a path separator.
std::string TempDirectory();

// Creates a new empty file in directory named prefix + hexadecimal number + ".tmp", created
// exclusively (never an existing file or link) with permissions 0600, and returns its path.
// Raises EOSError with the system's reason when no file can be created.
std::string CreateTempFile(const std::string& directory, const std::string& prefix);

// Gives the disk space of the byte range [offset, offset + length) of an open file back to
// the system without changing the file's size; the range then reads as zeros. handle is the
// file's descriptor (QFile::handle). Best effort: where the file system cannot do it, nothing
// happens. Never raises.
void DiscardFileRange(int handle, std::int64_t offset, std::int64_t length);

} // namespace kairelon
