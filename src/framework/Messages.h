// The message pump of the component framework.
//
// One Qt event loop per thread stands in for the window-message loop. `ProcessMessages`
// handles every pending event and returns; `WaitUntil` keeps handling events, sleeping in the
// event loop between them, until its condition holds, so a wait never spins. A condition that
// another thread makes true must be followed by `WakeUp(thread)` (or by posting any event to
// an object of the waiting thread), otherwise the waiter sleeps on until its next event.
#pragma once

#include <functional>

class QThread;

namespace kairelon {

void ProcessMessages();
void WaitUntil(const std::function<bool()>& done);
void WakeUp(QThread* thread);

} // namespace kairelon
