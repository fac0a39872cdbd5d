// Fuzzes the registry-file parser: it must never crash, and writing what it read and reading
// that again must give the same keys, values and kept lines, in the same encoding. Of a name
// that appears more than once in a key, the last line is the one read. A value set afterwards
// must read back as set, with every other line unchanged. Each input is tried as it is and as
// UTF-16 in both byte orders (the input's bytes behind each byte-order mark).
#include "platform/RegistryFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace kairelon;

namespace {

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
    return a.type == b.type && a.data == b.data && a.readable == b.readable;
}

bool SameContent(const RegistryDocument& a, const RegistryDocument& b) {
    if (a.KeyPaths() != b.KeyPaths() || a.KeptLines() != b.KeptLines())
        return false;
    auto va = a.Values(), vb = b.Values();
    if (va.size() != vb.size())
        return false;
    for (size_t i = 0; i < va.size(); ++i)
        if (va[i].path != vb[i].path || va[i].name != vb[i].name ||
            !SameValue(va[i].value, vb[i].value))
            return false;
    return true;
}

void Check(std::string_view text) {
    RegistryDocument first = RegistryDocument::Parse(text);
    std::string written = first.Serialize();
    RegistryDocument second = RegistryDocument::Parse(written);
    if (!SameContent(first, second) || second.Serialize() != written ||
        second.Encoding() != first.Encoding())
        std::abort();
    const bool utf16 = first.Encoding() == RegistryEncoding::Utf16Le ||
                       first.Encoding() == RegistryEncoding::Utf16Be;
    if (utf16 && written.substr(0, 2) != text.substr(0, 2))
        std::abort();
    const auto values = first.Values();
    for (size_t i = 0; i < values.size(); ++i) {
        size_t last = i;
        for (size_t j = i + 1; j < values.size(); ++j)
            if (SameKeyText(values[j].path, values[i].path) &&
                SameKeyText(values[j].name, values[i].name))
                last = j;
        const RegistryValue* found = first.FindValue(values[i].path, values[i].name);
        if (!found || !SameValue(*found, values[last].value))
            std::abort();
    }

    // Set a value whose name and text come from the input's first bytes.
    std::string_view head = text.substr(0, 16);
    std::string name(head.substr(0, head.size() / 2));
    RegistryValue value{REG_SZ, std::vector<std::uint8_t>(head.begin(), head.end()), true};
    const std::string key = second.KeyPaths().empty() ? std::string("HKEY_CURRENT_USER\\Fuzz")
                                                      : second.KeyPaths().back();
    auto before = second.KeptLines();
    if (!RegistryDocument::CanStore(name) || !RegistryDocument::CanStore(key)) {
        if (second.SetValue(key, name, value))
            std::abort();
        return;
    }
    second.SetValue(key, name, value);
    RegistryDocument third = RegistryDocument::Parse(second.Serialize());
    const RegistryValue* back = third.FindValue(key, name);
    if (!back || back->type != REG_SZ || back->data != value.data || third.KeptLines() != before ||
        third.Encoding() != first.Encoding())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Check(text);
    Check("\xFF\xFE" + text);
    Check("\xFE\xFF" + text);
    return 0;
}
