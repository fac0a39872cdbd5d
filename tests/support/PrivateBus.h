// A dbus-daemon of a test's own: tests that talk D-Bus start one on a socket in a temporary
// folder instead of using the user's buses, and it ends with the test even when the test dies.
#pragma once

#include <QProcess>
#include <QString>

namespace kairelon::test {

// For QProcess::setChildProcessModifier: the child gets SIGTERM when the test process ends.
void EndWithParent();

// Starts `daemon` (the dbus-daemon program) as a bus listening in `folder` and returns its
// address; empty when it did not start within 10 s.
QString StartPrivateBus(QProcess& bus, const QString& daemon, const QString& folder);

// Terminates a running process, killing it when it has not ended after 5 s.
void StopProcess(QProcess& process);

} // namespace kairelon::test
