#include "platform/MemoryStatus.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string_view>

namespace kairelon {

namespace {

std::mutex QueryLock;
MemoryStatusQuery& Query() {
    static MemoryStatusQuery query;
    return query;
}

// Value of the line "<key>: <digits> kB" in bytes; false when absent or malformed.
bool FindKilobytes(std::string_view text, std::string_view key, std::uint64_t& bytes) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != ':') {
            continue;
        }
        std::size_t i = key.size() + 1;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i >= line.size() || line[i] < '0' || line[i] > '9') {
            return false;
        }
        std::uint64_t value = 0;
        constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / 1024;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
            const std::uint64_t digit = static_cast<std::uint64_t>(line[i] - '0');
            if (value > (limit - digit) / 10) {
                return false;
            }
            value = value * 10 + digit;
            ++i;
        }
        std::string_view unit = line.substr(i);
        while (!unit.empty() && (unit.front() == ' ' || unit.front() == '\t')) {
            unit.remove_prefix(1);
        }
        while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\r')) {
            unit.remove_suffix(1);
        }
        if (unit == "kB") {
            bytes = value * 1024;
        } else if (unit.empty()) {
            bytes = value;
        } else {
            return false;
        }
        return true;
    }
    return false;
}

std::uint64_t SystemAvailableMemory() {
    if (std::FILE* file = std::fopen("/proc/meminfo", "re")) {
        char text[8192];
        const std::size_t length = std::fread(text, 1, sizeof text, file);
        std::fclose(file);
        if (const std::uint64_t bytes = ParseAvailableMemory(text, length); bytes > 0) {
            return bytes;
        }
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) {
        return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    }
    return 0;
}

} // namespace

std::uint64_t ParseAvailableMemory(const char* text, std::size_t length) {
    if (text == nullptr) {
        return 0;
    }
    const std::string_view view(text, length);
    std::uint64_t bytes = 0;
    if (FindKilobytes(view, "MemAvailable", bytes) || FindKilobytes(view, "MemFree", bytes)) {
        return bytes;
    }
    return 0;
}

std::uint64_t AvailablePhysicalMemory() {
    {
        std::lock_guard<std::mutex> lock(QueryLock);
        if (Query()) {
            return Query()();
        }
    }
    // Reading /proc/meminfo costs tens of microseconds, about as much as a whole short
    // connection, and every new receive buffer asks; a figure up to a second old serves as
    // well. One sample for the whole process.
    static std::mutex sampleLock;
    static std::chrono::steady_clock::time_point sampledAt;
    static std::uint64_t sample = 0;
    static bool sampled = false;
    std::lock_guard<std::mutex> lock(sampleLock);
    const auto now = std::chrono::steady_clock::now();
    if (!sampled || now - sampledAt >= std::chrono::seconds(1) || now < sampledAt) {
        sample = SystemAvailableMemory();
        sampledAt = now;
        sampled = true;
    }
    return sample;
}

void SetMemoryStatusQuery(MemoryStatusQuery query) {
    std::lock_guard<std::mutex> lock(QueryLock);
    Query() = std::move(query);
}

} // namespace kairelon
