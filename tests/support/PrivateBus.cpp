#include "support/PrivateBus.h"

#include <signal.h>
#include <sys/prctl.h>

namespace kairelon::test {

void EndWithParent() {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

QString StartPrivateBus(QProcess& bus, const QString& daemon, const QString& folder) {
    bus.setChildProcessModifier(EndWithParent);
    bus.setProgram(daemon);
    bus.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1"),
                      QStringLiteral("--address=unix:dir=") + folder});
    bus.start();
    if (!bus.waitForReadyRead(10000))
        return {};
    return QString::fromUtf8(bus.readLine()).trimmed();
}

void StopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace kairelon::test
