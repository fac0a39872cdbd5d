// Orderly stop of a daemon on SIGTERM and SIGINT.
//
// `QuitOnStopSignals` makes the first SIGTERM or SIGINT end the application's event loop
// (QCoreApplication::exit(0)) instead of killing the process, so the daemon can finish what it
// serves and release its socket; a second signal of either kind ends the process at once. The
// signal handler only writes to a pipe; the event loop reads it. It also ignores SIGPIPE, so a
// client that disappears cannot kill the process. Call it once, after the application object
// exists, on the thread that runs its loop.
#pragma once

namespace kairelon {

void QuitOnStopSignals();
int ReceivedStopSignal(); // the signal that asked for the stop, 0 while none came

} // namespace kairelon
