// The debugger output.
//
// Diagnostic texts that no user sees in a window (an event the hand-over could not open, what
// a dry-run clock would have set) go to standard error, one line per message. Tests may put a
// sink of their own in its place to see what was written.
#pragma once

#include <functional>
#include <string>

namespace kairelon {

// Writes the text and a line end to standard error (or to the sink, while one is set). A
// trailing line end of the text is not doubled. Safe to call from any thread.
void OutputDebugString(const std::string& text);

using DebugOutputSink = std::function<void(const std::string& line)>;
// Puts a sink in place of standard error (an empty one restores it); returns the one before.
// The sink is called under a lock, one line at a time, and must not write here itself.
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);

} // namespace kairelon
