// The clock-setting service as a program: its command line, stop signals, one instance at a
// time, and the choice of the clock.
//
// `ClockServiceMain` is the whole of `kairelon-clockd` but for `main`: it parses the command
// line (--dry-run, --help, --version), makes SIGTERM, SIGINT, SIGHUP and SIGQUIT stop the
// service in order (platform/StopSignals.h, noted only: the service's loop looks at them
// between its short waits), takes the service's one-instance lock (`ServiceLockPath`, where
// only root creates files; readable by all, so a program can tell the events of a service that
// died), chooses the real or the dry-run clock and runs `CClockService` until a stop signal
// came. Messages go to `log`. Exit status: 0 after a stop signal, 1 when the events cannot be
// made or another service runs, 64 for a wrong command line.
//
// This module does not set the clock or read hand-overs itself; CClockService does.
#pragma once

#include <functional>
#include <string>

namespace kairelon {

int ClockServiceMain(int argc, char** argv, const std::function<void(const std::string&)>& log);

} // namespace kairelon
