#include "framework/Registry.h"

#include "framework/Exception.h"

#include <cstring>

namespace kairelon {

namespace {

[[noreturn]] void InvalidType(const std::string& name) {
    throw ERegistryException("Invalid data type for '" + name + "'");
}

[[noreturn]] void GetFailed(const std::string& name) {
    throw ERegistryException("Failed to get data for '" + name + "'");
}

RegistryValue DwordValue(std::uint32_t v) {
    RegistryValue value;
    value.type = REG_DWORD;
    value.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                  static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    return value;
}

RegistryValue StringValue(const std::string& text) {
    RegistryValue value;
    value.type = REG_SZ;
    value.data.assign(text.begin(), text.end());
    return value;
}

RegistryValue BinaryValue(const void* buffer, int size) {
    RegistryValue value;
    value.type = REG_BINARY;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    value.data.assign(bytes, bytes + size);
    return value;
}

std::uint32_t DwordOf(const RegistryValue& value) {
    const auto& d = value.data;
    return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
}

bool IsOurRoot(HKEY root) {
    return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE;
}

RegistryRoot RootOf(HKEY root) {
    return root == HKEY_CURRENT_USER ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
}

} // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    if (root != rootKey_)
        file_.reset();
    rootKey_ = root;
}

RegistryFile* TRegistry::FileForRoot() {
    if (!IsOurRoot(rootKey_))
        return nullptr;
    // The location comes from the environment, so a changed registry folder is honoured.
    std::string path = RegistryFilePath(RootOf(rootKey_));
    if (!file_ || file_->Path() != path)
        file_ = std::make_unique<RegistryFile>(RegistryFile::ForRoot(RootOf(rootKey_)));
    return file_.get();
}

std::string TRegistry::FullPath(const std::string& key) const {
    std::string relative = NormaliseKeyPath(key);
    if (!currentPath_.empty() && !key.starts_with('\\'))
        return relative.empty() ? currentPath_ : currentPath_ + "\\" + relative;
    std::string root = RegistryRootName(RootOf(rootKey_));
    return relative.empty() ? root : root + "\\" + relative;
}

std::string TRegistry::CurrentPath() const {
    if (currentPath_.empty())
        return {};
    size_t slash = currentPath_.find('\\');
    return slash == std::string::npos ? std::string() : currentPath_.substr(slash + 1);
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    return OpenKeyAs(key, canCreate ? MissingKey::Create : MissingKey::Fail);
}

bool TRegistry::OpenKeyWithoutWriting(const std::string& key) {
    return OpenKeyAs(key, MissingKey::CheckWritable);
}

bool TRegistry::OpenKeyAs(const std::string& key, MissingKey missing) {
    RegistryFile* file = FileForRoot();
    openError_ = "no store for this root";
    if (!file)
        return false;
    std::string path = FullPath(key);
    openError_ = "the key '" + path + "' cannot be stored";
    if (!RegistryDocument::CanStore(path))
        return false;
    try {
        const bool isRoot = path.find('\\') == std::string::npos;
        if (missing == MissingKey::CheckWritable) {
            if (!file->Current().HasKey(path)) {
                openError_ = file->WriteProblem();
                if (!openError_.empty())
                    return false;
            }
        } else if (!isRoot && !file->Current().HasKey(path)) {
            openError_ = "the key '" + path + "' does not exist";
            if (missing == MissingKey::Fail)
                return false;
            file->Update([&](RegistryDocument& doc) { return doc.AddKey(path); });
        }
    } catch (const ERegistryException& e) {
        openError_ = e.Message();
        return false;
    }
    openError_.clear();
    currentPath_ = path;
    return true;
}

std::string TRegistry::StorePath() {
    RegistryFile* file = FileForRoot();
    return file ? file->Path() : std::string();
}

std::string TRegistry::ReadProblem() {
    RegistryFile* file = FileForRoot();
    if (!file)
        return {};
    try {
        file->Current();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return {};
}

void TRegistry::CloseKey() {
    currentPath_.clear();
    openError_.clear();
}

bool TRegistry::KeyExists(const std::string& key) {
    RegistryFile* file = FileForRoot();
    if (!file)
        return false;
    std::string path = FullPath(key);
    if (path.find('\\') == std::string::npos)
        return true;
    try {
        return file->Current().HasKey(path);
    } catch (const ERegistryException&) {
        return false;
    }
}

bool TRegistry::ValueExists(const std::string& name) {
    RegistryFile* file = FileForRoot();
    if (currentPath_.empty() || !file)
        return false;
    try {
        return file->Current().FindValue(currentPath_, name) != nullptr;
    } catch (const ERegistryException&) {
        return false;
    }
}

std::uint32_t TRegistry::GetDataType(const std::string& name) {
    RegistryFile* file = FileForRoot();
    if (currentPath_.empty() || !file)
        return REG_NONE;
    try {
        const RegistryValue* value = file->Current().FindValue(currentPath_, name);
        return value && value->readable ? value->type : REG_NONE;
    } catch (const ERegistryException&) {
        return REG_NONE;
    }
}

int TRegistry::GetDataSize(const std::string& name) {
    RegistryFile* file = FileForRoot();
    if (currentPath_.empty() || !file)
        return -1;
    try {
        const RegistryValue* value = file->Current().FindValue(currentPath_, name);
        return value && value->readable ? static_cast<int>(value->data.size()) : -1;
    } catch (const ERegistryException&) {
        return -1;
    }
}

bool TRegistry::DeleteValue(const std::string& name) {
    RegistryFile* file = FileForRoot();
    if (currentPath_.empty() || !file)
        return false;
    bool deleted = false;
    try {
        file->Update(
            [&](RegistryDocument& doc) { return deleted = doc.DeleteValue(currentPath_, name); });
    } catch (const ERegistryException&) {
        return false;
    }
    return deleted;
}

const RegistryValue& TRegistry::ReadValue(const std::string& name, std::uint32_t type) {
    RegistryFile* file = FileForRoot();
    if (currentPath_.empty() || !file)
        GetFailed(name);
    const RegistryValue* value = file->Current().FindValue(currentPath_, name);
    if (!value)
        GetFailed(name);
    if (!value->readable)
        InvalidType(name);
    bool typeMatches = value->type == type || (type == REG_SZ && value->type == REG_EXPAND_SZ);
    if (!typeMatches)
        InvalidType(name);
    return *value;
}

bool TRegistry::WriteValue(const std::string& name, const RegistryValue& value,
                           bool onlyIfMissing) {
    RegistryFile* file = FileForRoot();
    if (currentPath_.empty() && !openError_.empty())
        throw ERegistryException("Failed to set data for '" + name + "' (" + openError_ + ")");
    if (currentPath_.empty() || !file || !RegistryDocument::CanStore(name))
        throw ERegistryException("Failed to set data for '" + name + "'");
    bool written = true;
    try {
        std::string path = currentPath_;
        file->Update([&](RegistryDocument& doc) {
            if (onlyIfMissing && doc.FindValue(path, name)) {
                written = false;
                return false;
            }
            return doc.SetValue(path, name, value);
        });
    } catch (const ERegistryException& e) {
        throw ERegistryException("Failed to set data for '" + name + "' (" + e.Message() + ")");
    }
    return written;
}

std::int32_t TRegistry::ReadInteger(const std::string& name) {
    const RegistryValue& value = ReadValue(name, REG_DWORD);
    if (value.data.size() != 4)
        GetFailed(name);
    return static_cast<std::int32_t>(DwordOf(value));
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
    WriteValue(name, DwordValue(static_cast<std::uint32_t>(value)));
}

bool TRegistry::AddIntegerIfMissing(const std::string& name, std::int32_t value) {
    return WriteValue(name, DwordValue(static_cast<std::uint32_t>(value)), true);
}

bool TRegistry::AddStringIfMissing(const std::string& name, const std::string& value) {
    return WriteValue(name, StringValue(value), true);
}

bool TRegistry::AddBoolIfMissing(const std::string& name, bool value) {
    return AddIntegerIfMissing(name, value ? 1 : 0);
}

bool TRegistry::AddDateTimeIfMissing(const std::string& name, TDateTime value) {
    return WriteValue(name, BinaryValue(&value, sizeof value), true);
}

std::string TRegistry::ReadString(const std::string& name) {
    const RegistryValue& value = ReadValue(name, REG_SZ);
    std::string text(value.data.begin(), value.data.end());
    // Data written in hex form carries the terminating NUL; the text ends at the first one.
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    WriteValue(name, StringValue(value));
}

bool TRegistry::ReadBool(const std::string& name) {
    return ReadInteger(name) != 0;
}

void TRegistry::WriteBool(const std::string& name, bool value) {
    WriteInteger(name, value ? 1 : 0);
}

TDateTime TRegistry::ReadDateTime(const std::string& name) {
    const RegistryValue& value = ReadValue(name, REG_BINARY);
    if (value.data.size() != sizeof(TDateTime))
        GetFailed(name);
    TDateTime result;
    std::memcpy(&result, value.data.data(), sizeof result);
    return result;
}

void TRegistry::WriteDateTime(const std::string& name, TDateTime value) {
    WriteBinaryData(name, &value, sizeof value);
}

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int size) {
    const RegistryValue& value = ReadValue(name, REG_BINARY);
    if (size < 0 || value.data.size() > static_cast<size_t>(size))
        GetFailed(name);
    if (!value.data.empty())
        std::memcpy(buffer, value.data.data(), value.data.size());
    return static_cast<int>(value.data.size());
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int size) {
    if (size < 0 || (size > 0 && !buffer))
        throw ERegistryException("Failed to set data for '" + name + "'");
    WriteValue(name, BinaryValue(buffer, size));
}

} // namespace kairelon
