// The framework's registry class.
//
// `TRegistry` opens one key under a root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) and reads
// and writes typed values of that key: integers and booleans as REG_DWORD, strings as REG_SZ,
// date-time values as 8-byte REG_BINARY (the double of `TDateTime`), and raw binary data.
// Typed reads raise ERegistryException when the value is missing, has another registry type
// or cannot be read; writes raise it when the store refuses them. The keys live in the
// registry files of platform/RegistryFile.h; every read sees what other processes wrote,
// every write is a locked read-modify-write. This class carries no defaults; the typed reads
// with default are `TAdvRegistry`'s (settings/AdvRegistry.h).
#pragma once

#include "framework/DateTime.h"
#include "platform/RegistryFile.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kairelon {

using HKEY = std::uint32_t;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

class TRegistry {
public:
    // Root key HKEY_CURRENT_USER, no key open.
    TRegistry();
    virtual ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return rootKey_; }
    void SetRootKey(HKEY root); // closes the open key

    // Opens a key, relative to the open key unless it starts with a backslash; with canCreate
    // the key and its missing parents are created. False when the key is missing (and not to
    // be created), the root is not one of the two, or the store cannot be read or written.
    bool OpenKey(const std::string& key, bool canCreate);
    // Opens a key without writing anything: a missing key is made by the first write into it.
    // False when the store cannot be read, or when the key is missing and the store could not
    // be written now (a folder that is missing or closed to this user).
    bool OpenKeyWithoutWriting(const std::string& key);
    // Why the last open failed (the store's reason, naming its file); empty after a success.
    const std::string& OpenError() const { return openError_; }
    void CloseKey();
    bool HasOpenKey() const { return !currentPath_.empty(); }
    std::string CurrentPath() const; // relative to the root; empty when no key is open
    bool KeyExists(const std::string& key);

    // False when no key is open or the store cannot be read.
    bool ValueExists(const std::string& name);
    // REG_NONE when the value is missing or unreadable.
    std::uint32_t GetDataType(const std::string& name);
    int GetDataSize(const std::string& name); // bytes; -1 when missing or unreadable
    bool DeleteValue(const std::string& name);
    // The file of the root's store, and why it cannot be read (empty when it can).
    std::string StorePath();
    std::string ReadProblem();

    std::int32_t ReadInteger(const std::string& name);
    void WriteInteger(const std::string& name, std::int32_t value);
    std::string ReadString(const std::string& name); // REG_SZ or REG_EXPAND_SZ
    void WriteString(const std::string& name, const std::string& value);
    bool ReadBool(const std::string& name); // a REG_DWORD; any value but 0 is true
    void WriteBool(const std::string& name, bool value);
    TDateTime ReadDateTime(const std::string& name); // 8-byte REG_BINARY
    void WriteDateTime(const std::string& name, TDateTime value);
    // Copies the REG_BINARY value into buffer; raises when it is larger than size bytes.
    // Returns the number of bytes copied.
    int ReadBinaryData(const std::string& name, void* buffer, int size);
    void WriteBinaryData(const std::string& name, const void* buffer, int size);

    // Typed writes that store the value only when the open key has none of that name yet:
    // the check and the write are one read-modify-write under the store's lock, so a value
    // another process stored meanwhile is never replaced. True when written; false when a
    // value was there (it stays as it is). Raise ERegistryException when the store refuses.
    bool AddIntegerIfMissing(const std::string& name, std::int32_t value);
    bool AddStringIfMissing(const std::string& name, const std::string& value);
    bool AddBoolIfMissing(const std::string& name, bool value);
    bool AddDateTimeIfMissing(const std::string& name, TDateTime value);

private:
    HKEY rootKey_ = HKEY_CURRENT_USER;
    std::string currentPath_; // full path with the root name; empty when no key is open
    std::string openError_;
    std::unique_ptr<RegistryFile> file_;

    // What opening a key does when the key is missing: fail, create it, or (writing
    // nothing) only check that a write could make it.
    enum class MissingKey { Fail, Create, CheckWritable };
    bool OpenKeyAs(const std::string& key, MissingKey missing);
    RegistryFile* FileForRoot(); // null for a root without a store
    std::string FullPath(const std::string& key) const;
    const RegistryValue& ReadValue(const std::string& name, std::uint32_t type);
    // With onlyIfMissing, writes nothing when the value exists; returns whether it wrote.
    bool WriteValue(const std::string& name, const RegistryValue& value,
                    bool onlyIfMissing = false);
};

} // namespace kairelon
