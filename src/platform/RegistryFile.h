// The registry stand-in: keys and typed values kept in text files.
//
// Each registry root lives in one file in the registry-export text format ("Windows Registry
// Editor Version 5.00", "[key path]" sections, "name"="text" / dword: / hex: / hex(N): value
// lines), so a person can read and edit it. `RegistryDocument` is the pure parser and writer
// of that format: it keeps every line it does not understand verbatim in its place, keeps
// value lines it did not change byte for byte, and compares key paths and value names without
// regard to ASCII case. `RegistryFile` owns one such file on disk: it re-reads the file when
// it changed, and changes it only as read-modify-write of the current file under an advisory
// lock, replacing it atomically (temporary file, fsync, rename), so two processes never lose
// each other's values and a crash leaves either the old or the new file. Failures are raised
// as ERegistryException. This module knows nothing of the program's settings; the framework's
// `TRegistry` builds the typed operations on top of it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kairelon {

// Registry value types, as the system numbers them.
constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

struct RegistryValue {
    std::uint32_t type = REG_NONE;
    // REG_SZ: the 8-bit text (no terminating NUL when it came from a quoted string);
    // REG_DWORD: 4 bytes little endian; other types: the bytes as they stand.
    std::vector<std::uint8_t> data;
    // False for a value line whose name could be read but whose data could not: the value
    // exists, yet every typed read of it fails.
    bool readable = true;
};

class RegistryDocument {
public:
    // Never fails: what cannot be parsed is kept as text.
    static RegistryDocument Parse(std::string_view text);
    std::string Serialize() const;

    // Key paths are full paths with the root name first ("HKEY_CURRENT_USER\Software\...").
    // A key exists when it has a section of its own or a section below it. When a value name
    // appears more than once in a key (in one section or in several sections of the same
    // key), the last line in the file wins: it is the one read and the one a write changes,
    // as when the file is imported line by line; the earlier lines are kept as they are.
    // Deleting a value removes every line of its name.
    bool HasKey(std::string_view path) const;
    const RegistryValue* FindValue(std::string_view path, std::string_view name) const;

    // Whether a key path or value name can be stored: line breaks cannot.
    static bool CanStore(std::string_view text);

    // Each returns whether the document changed; a path or name that cannot be stored changes
    // nothing.
    bool AddKey(std::string_view path);
    bool SetValue(std::string_view path, std::string_view name, const RegistryValue& value);
    bool DeleteValue(std::string_view path, std::string_view name);

    // For checks and tests: the sections in file order, the values of each, and the lines kept
    // verbatim because they could not be parsed (blank lines and the header excluded).
    struct Entry {
        std::string path;
        std::string name;
        RegistryValue value;
    };
    std::vector<std::string> KeyPaths() const;
    std::vector<Entry> Values() const;
    std::vector<std::string> KeptLines() const;

    // One value line as the writer formats it ("name"=... without a line break).
    static std::string FormatValueLine(std::string_view name, const RegistryValue& value);

private:
    // Bracket: a line starting with "[" that is no key this reader takes; kept as text, it
    // ends the key above it.
    enum class LineKind { Text, Key, Value, Bracket };
    struct Line {
        LineKind kind = LineKind::Text;
        std::string text; // as read or as formatted; may span continuation lines
        std::string path; // Key: the normalised path; Value: the path of its section
        std::string name; // Value only
        RegistryValue value;
    };
    std::vector<Line> lines_;

    int FindSection(std::string_view path) const;
    int FindValueLine(std::string_view path, std::string_view name) const;
};

// Canonical form of a key path: components split at backslashes, empty ones dropped.
std::string NormaliseKeyPath(std::string_view path);
bool SameKeyText(std::string_view a, std::string_view b); // ASCII case-insensitive

enum class RegistryRoot { CurrentUser, LocalMachine };

const char* RegistryRootName(RegistryRoot root); // "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"

// Where a root's file lives: both in $KAIRELON_REGISTRY_DIR when that is set, otherwise
// $XDG_CONFIG_HOME/kairelon/user.reg (default ~/.config/kairelon/user.reg) and
// /var/lib/kairelon/system.reg. Read from the environment on every call.
std::string RegistryFilePath(RegistryRoot root);

class RegistryFile {
public:
    // fileMode: the permission bits of the file and its lock file (0600 for the per-user file
    // that holds a dial-up password; 0660 for the machine-wide file shared with the service's
    // group). folderMode: used only when the folder has to be created.
    RegistryFile(std::string path, mode_t fileMode, mode_t folderMode);
    static RegistryFile ForRoot(RegistryRoot root);

    const std::string& Path() const { return path_; }

    // The current content; re-read when the file changed on disk since the last read. A
    // missing file is an empty document. ERegistryException when the file cannot be read.
    const RegistryDocument& Current();

    // Read-modify-write under the lock: `change` gets the file's content as it is now and
    // returns whether it changed anything; only then is the file replaced. Raises
    // ERegistryException when the file cannot be read, locked or replaced; the file on disk is
    // then untouched.
    void Update(const std::function<bool(RegistryDocument&)>& change);

private:
    struct Stamp {
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    static Stamp StampOf(const struct stat& st);

    std::string path_;
    mode_t fileMode_;
    mode_t folderMode_;
    std::optional<Stamp> stamp_; // of the content in doc_; empty before the first read
    RegistryDocument doc_;

    void Reload(bool force);
    void EnsureFolder() const;
    void RemoveStaleTemporaries() const;
    void Replace(const std::string& text);
};

} // namespace kairelon
