// Writing the program's files: folders, whole buffers and atomic replacement.
//
// Every file the program keeps (the settings files, the server list, the error log, the lock
// files) is written through this module, so they all follow the same rules:
// - `MakeFolders` makes a folder and its missing parents (parents owner-only). It never makes
//   the machine-wide folder /var/lib/kairelon, not even as the parent of a folder placed inside
//   it (the headless scheduler's settings): the package and the clock-setting service make it,
//   with its group and setgid bit; one made by a run would be root's for good.
//   `MayMakeFolder` says whether a folder may be made.
// - `WriteAll` writes a whole buffer, going on where the kernel cut a write short.
// - `ReplaceFile` replaces a file so that a crash cannot leave it half written: the new content
//   goes to a temporary file in the same folder, is flushed to the disk and renamed over the
//   old file, so a reader sees either the old content or the new one.
//   `ReplaceFileAtomically` does the same for a path that may be a symbolic link (a link stays
//   one: the file it leads to is replaced, in that file's folder) and makes the folder when it
//   is missing.
// This module does not lock: callers that share a file with other processes lock around it.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace kairelon {

inline constexpr const char* kMachineWideFolder = "/var/lib/kairelon";
bool MayMakeFolder(const std::string& folder); // false for the machine-wide folder

// The folder part of a path ("." for a bare name, "/" for a file in the root folder), and the
// name after the last slash.
std::string FolderOf(const std::string& path);
std::string BaseName(const std::string& path);

// Makes `folder` with the permission bits `mode` (set as asked, whatever the umask, so a
// setgid bit stands) and its missing parents with 0700. A folder that exists is used as it is.
// False with errno set when it cannot be made: ENOTDIR when something else stands there,
// ENOENT when it (or a parent) is the machine-wide folder.
bool MakeFolders(const std::string& folder, mode_t mode = 0700);

// Writes all of `size` bytes; false with errno set on a failure.
bool WriteAll(int fd, const char* data, std::size_t size);
inline bool WriteAll(int fd, const std::string& text) {
    return WriteAll(fd, text.data(), text.size());
}

// Gives an open file the group of a folder (as a setgid folder would). False with errno when
// the group cannot be given (a group this user is no member of).
bool GiveFolderGroup(int fd, const std::string& folder);

// How a replaced file is kept.
struct ReplaceRules {
    mode_t mode = 0600;         // permission bits of a new file
    mode_t keptModeBits = 0700; // the bits an existing file keeps of its own
    bool groupOfFolder = false; // the file gets its folder's group (see GiveFolderGroup)
};

// Replaces exactly `target` (no link is followed, no folder made) with `text`. Returns 0 on
// success, otherwise the errno of the failing step (the old file is then untouched and no
// temporary file is left behind).
int ReplaceFile(const std::string& target, const std::string& text, const ReplaceRules& rules);

// Replaces `path` (or the file its links lead to) with `text`, making the folder (0700) when
// it is missing; a new file gets the permission bits `mode`, an existing one keeps its own
// within `mode` and its owner's bits. Returns 0 or the errno of the failing step, as above.
int ReplaceFileAtomically(const std::string& path, const std::string& text, mode_t mode);

// Where a chain of symbolic links leads (a relative link counts from the link's folder); the
// path itself when it is no link. A link leading nowhere names the file to create.
std::string LinkTarget(const std::string& path);

} // namespace kairelon
