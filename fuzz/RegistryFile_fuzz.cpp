// Fuzzes the registry-file parser: it must never crash, and writing what it read must give
// the very bytes it read (so reading those again gives the same document). Of a name that appears
// more than once in a key, the last line is the one read. A value set afterwards must read back as
// set, in the file's encoding, with every other line unchanged. The input's first byte picks how
// the rest is tried: as it is, or as UTF-16 in either byte order (the bytes behind that byte-order
// mark). Inputs are kept small (a registry file of the program holds a few dozen lines), so a run
// tries many of them.
#include "platform/RegistryFile.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <utility>

using namespace kairelon;

namespace {

constexpr std::size_t kMaxInput = 1024; // bytes

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
    return a.type == b.type && a.data == b.data && a.readable == b.readable;
}

void Check(std::string_view text) {
    // Unchanged, the document is the bytes it was read from (so reading them again gives the
    // same document).
    RegistryDocument first = RegistryDocument::Parse(text);
    if (first.Serialize() != text)
        std::abort();
    // The last line of each name, found walking back from the end.
    const auto values = first.Values();
    std::set<std::pair<std::string, std::string>> seen;
    for (size_t i = values.size(); i-- > 0;) {
        if (!seen.emplace(Lower(values[i].path), Lower(values[i].name)).second)
            continue;
        const RegistryValue* found = first.FindValue(values[i].path, values[i].name);
        if (!found || !SameValue(*found, values[i].value))
            std::abort();
    }

    // Set a value whose name and text come from the input's first bytes.
    std::string_view head = text.substr(0, 16);
    std::string name(head.substr(0, head.size() / 2));
    RegistryValue value{REG_SZ, std::vector<std::uint8_t>(head.begin(), head.end()), true};
    const auto keys = first.KeyPaths();
    const std::string key = keys.empty() ? std::string("HKEY_CURRENT_USER\\Fuzz") : keys.back();
    auto before = first.KeptLines();
    if (!RegistryDocument::CanStore(name) || !RegistryDocument::CanStore(key)) {
        if (first.SetValue(key, name, value))
            std::abort();
        return;
    }
    first.SetValue(key, name, value);
    RegistryDocument third = RegistryDocument::Parse(first.Serialize());
    const RegistryValue* back = third.FindValue(key, name);
    if (!back || back->type != REG_SZ || back->data != value.data || third.KeptLines() != before ||
        third.Encoding() != first.Encoding())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxInput)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        Check(text);
        break;
    case 1:
        Check("\xFF\xFE" + text);
        break;
    default:
        Check("\xFE\xFF" + text);
        break;
    }
    return 0;
}
