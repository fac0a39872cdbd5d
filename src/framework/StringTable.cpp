#include "framework/StringTable.h"

#include <QFile>
#include <QIODevice>

#include <memory>
#include <mutex>
#include <unordered_map>

// Resources of a static library must be registered by name, outside any namespace.
static void InitKairelonResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kairelon {
namespace {

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::unordered_map<int, std::string> ReadTable() {
    InitKairelonResources();
    std::unordered_map<int, std::string> table;
    QFile file(QStringLiteral(":/kairelon/strings.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        return table;
    }
    const QByteArray data = file.readAll();
    std::size_t start = 0;
    const std::string text(data.constData(), static_cast<std::size_t>(data.size()));
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos || tab == 0) {
            continue;
        }
        try {
            table[std::stoi(line.substr(0, tab))] = Unescape(line.substr(tab + 1));
        } catch (const std::exception&) {
            continue; // a malformed number line is skipped, never fatal
        }
    }
    return table;
}

using Table = std::unordered_map<int, std::string>;

const Table& OwnTable() {
    static const Table table = ReadTable();
    return table;
}

std::mutex replacementMutex;
std::shared_ptr<const Table> replacement; // guarded by replacementMutex

} // namespace

std::string LoadStr(int number) {
    std::shared_ptr<const Table> other;
    {
        const std::lock_guard lock(replacementMutex);
        other = replacement;
    }
    const Table& table = other ? *other : OwnTable();
    const auto it = table.find(number);
    return it == table.end() ? std::string() : it->second;
}

void SetStringTable(std::map<int, std::string> table) {
    auto other = std::make_shared<const Table>(table.begin(), table.end());
    const std::lock_guard lock(replacementMutex);
    replacement = std::move(other);
}

void ResetStringTable() {
    const std::lock_guard lock(replacementMutex);
    replacement.reset();
}

} // namespace kairelon
