#include "support/EventLoop.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace kairelon::test {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer wake; // bounds each sleep so that the deadline is seen
    wake.start(20);
    while (!done() && !deadline.hasExpired()) {
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

void PumpFor(int ms) {
    QDeadlineTimer deadline(ms);
    PumpUntil([&] { return deadline.hasExpired(); }, ms + 1000);
}

} // namespace kairelon::test
