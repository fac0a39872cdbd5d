// Event-loop helpers for tests of code that works through posted messages and timers: run the
// calling thread's loop until a condition holds (bounded), or for a fixed time.
#pragma once

#include <functional>

namespace kairelon::test {

// Runs the event loop until `done` or `timeoutMs` ran out; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
// Runs the event loop for `ms` milliseconds.
void PumpFor(int ms);

} // namespace kairelon::test
