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
//
// A file is read in the encoding it was written in: UTF-8 (with or without a byte-order mark)
// or UTF-16 with a byte-order mark, little or big endian, as registry exports are; the text is
// UTF-8 inside, and a file is written back in the encoding (and, for UTF-16, the line ends) it
// was read in.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// How the bytes of a registry file carry its text.
enum class RegistryEncoding { Utf8, Utf8Bom, Utf16Le, Utf16Be };

class RegistryDocument {
public:
    // Never fails: what cannot be parsed is kept as text. The bytes may be UTF-8, or UTF-16
    // (either byte order) led by its byte-order mark. Every line is kept as the bytes it was
    // read as, line end included, until a change of the program replaces it, so a line the
    // program does not write comes back byte for byte, whatever it holds (UTF-16 units that
    // pair to no character, bytes that are no UTF-8, odd line ends). In the text that is read
    // from a UTF-16 line, a lone surrogate stands as the bytes of its UTF-8 form; bytes that
    // are no UTF-8 in a text written into a UTF-16 file come back unchanged when it is read
    // again.
    static RegistryDocument Parse(std::string_view bytes);
    // The file's bytes, in the encoding the document was read in (new documents: UTF-8). The
    // lines the program wrote end as the file's first line ends (new documents: LF).
    std::string Serialize() const;
    RegistryEncoding Encoding() const { return encoding_; }

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
        // The line as read, its line end included: bytes [rawBegin, rawBegin + rawSize) of
        // source_. rawSize is 0 for a line the program wrote; it is made from text.
        size_t rawBegin = 0;
        size_t rawSize = 0;
    };
    std::vector<Line> lines_;
    RegistryEncoding encoding_ = RegistryEncoding::Utf8;
    std::shared_ptr<const std::string> source_; // the bytes read, after the byte-order mark
    bool crlf_ = false;                         // lines end in CR LF, as the file's first line did
    std::string trailing_;                      // UTF-16 only: an odd last byte, kept as it was

    // raw: the text of each line of the file, without its line end; spans: where each line
    // stands in source_, its line end included.
    void ParseLines(const std::vector<std::string_view>& raw,
                    const std::vector<std::pair<size_t, size_t>>& spans);
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

// Largest registry files, in bytes: the per-user one (the default of the rules below) and
// the machine-wide one.
constexpr off_t kRegistryMaxSize = 1 << 20;
constexpr off_t kMachineWideMaxSize = 64 << 10;

// How one registry file is kept on disk.
struct RegistryFileRules {
    // Permission bits of a new file and of its lock file.
    mode_t fileMode = 0600;
    // Used only when the folder has to be created.
    mode_t folderMode = 0700;
    // Bits of an existing file's mode that a write keeps; the others come from fileMode.
    mode_t keptModeBits = 0;
    // False: the folder must exist already (the machine-wide folder is made by the package or
    // the clock-setting service, with its group and mode; a program run never makes it).
    bool createFolder = true;
    // The file name may be a symbolic link (a settings file kept in a dotfiles folder): the
    // link's target is read, and replaced in the target's folder, so the link stays a link.
    // Otherwise a link is refused.
    bool followLink = false;
    // Files made in the folder (the file, its lock file) get the folder's group, with or
    // without the folder's setgid bit.
    bool groupOfFolder = false;
    // Bytes; a larger file is refused before it is read (it would cost far more memory and
    // time than a store of settings ever needs), and no write makes the file larger.
    off_t maxSize = kRegistryMaxSize;
    // Milliseconds a write waits at most for another holder of the lock.
    int lockWaitMs = 3000;
};

class RegistryFile {
public:
    // fileMode: the permission bits of the file and its lock file, set at every write.
    // folderMode: used only when the folder has to be created. No link is followed.
    RegistryFile(std::string path, mode_t fileMode, mode_t folderMode);
    RegistryFile(std::string path, const RegistryFileRules& rules);
    // Per-user: mode 0600 (the owner's bits of an existing file are kept), folder 0700
    // created when missing, a link is followed, at most 1 MiB. Machine-wide: group-readable
    // and -writable (0660; an existing file keeps its other bits but never becomes writable
    // for others), the folder's group, the folder never created, no link followed, at most
    // 64 KiB.
    static RegistryFile ForRoot(RegistryRoot root);

    const std::string& Path() const { return path_; }

    // Empty when a write could be made now as far as the folder and the lock file tell (the
    // folder exists and may be written, the lock file, when there, may be opened); otherwise
    // the reason, naming the file and the system's text. Changes nothing.
    std::string WriteProblem() const;

    // The current content; re-read when the file changed on disk since the last read. A
    // missing file is an empty document. ERegistryException when the file cannot be read or
    // is larger than the rules allow (then nothing of it is read).
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
    RegistryFileRules rules_;
    std::optional<Stamp> stamp_; // of the content in doc_; empty before the first read
    std::string readFrom_;       // the file the content came from (a link's target)
    RegistryDocument doc_;

    // The file to read and replace: the path itself, or where its links lead.
    std::string Target() const;
    void Reload(bool force);
    void EnsureFolder() const;
    void RemoveStaleTemporaries(const std::string& target) const;
    [[noreturn]] void TooLarge(const std::string& target, off_t size) const;
    void Replace(const std::string& target, const std::string& text);
};

} // namespace kairelon
