#include "platform/DebugOutput.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace kairelon {
namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

DebugOutputSink& Sink() {
    static DebugOutputSink sink;
    return sink;
}

} // namespace

void OutputDebugString(const std::string& text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    std::lock_guard lock(SinkMutex());
    if (Sink()) {
        Sink()(line);
        return;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
    std::lock_guard lock(SinkMutex());
    return std::exchange(Sink(), std::move(sink));
}

} // namespace kairelon
