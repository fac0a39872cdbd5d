// Orderly stop of a daemon on SIGTERM and SIGINT, and a reload on SIGHUP.
//
// `QuitOnStopSignals` makes the first SIGTERM or SIGINT end the application's event loop
// (QCoreApplication::exit(0)) instead of killing the process, so the daemon can finish what it
// serves and release its socket; a second signal of either kind ends the process at once. The
// signal handler only writes to a pipe; the event loop reads it, and there, before the loop is
// told to end, runs `onStop` (when given) with the signal's number, so a program can abort
// what it is waiting for in a nested wait. It also ignores SIGPIPE, so a client that
// disappears cannot kill the process. Call it once, after the application object exists, on
// the thread that runs its loop.
//
// `NoteStopSignals` is for a program without an event loop whose own loop waits in short
// slices (the clock-setting service): each of the given signals only notes itself for
// `ReceivedStopSignal` (the first one wins) and interrupts the wait it arrives in; the program
// ends in order when it next looks.
//
// `ReloadOnHangUp` (after QuitOnStopSignals) makes SIGHUP run `reload` on the loop's thread
// instead of ending the process.
#pragma once

#include <functional>
#include <initializer_list>

namespace kairelon {

void QuitOnStopSignals(std::function<void(int signalNumber)> onStop = {});
void NoteStopSignals(std::initializer_list<int> signalNumbers);
void ReloadOnHangUp(std::function<void()> reload);
// The signal that asked for the stop, 0 while none came. Set by the signal handler itself, so
// a wait that blocks the loop's thread (the loop cannot run `onStop` then) looks at it between
// short slices and ends at once: the hand-over's wait for the clock-setting service does.
int ReceivedStopSignal();

} // namespace kairelon
