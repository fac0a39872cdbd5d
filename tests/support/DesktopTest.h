// Helpers of the whole-desktop tests (an X11 tray, a StatusNotifier panel): waiting for what a
// program shows, and the small files the tests hand over to it or read back.
#pragma once

#include <QString>

#include <functional>
#include <string>

namespace kairelon::test {

// Polls `done` every 20 ms until it is true or `timeoutMs` have passed.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

// The whole file, empty when it cannot be read.
std::string ReadText(const QString& path);

// Writes `text` as the whole file; a failure to open it fails the test.
void WriteText(const std::string& path, const std::string& text);

} // namespace kairelon::test
