#include "platform/StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace kairelon {
namespace {

int pipeFds[2] = {-1, -1};
std::atomic<int> received{0};

void OnStopSignal(int signalNumber) {
    int expected = 0;
    if (!received.compare_exchange_strong(expected, signalNumber)) {
        _exit(128 + signalNumber); // asked twice: stop now
    }
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t n = write(pipeFds[1], &byte, 1);
}

} // namespace

void QuitOnStopSignals() {
    signal(SIGPIPE, SIG_IGN);
    if (pipeFds[0] >= 0) {
        return;
    }
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // without the pipe the default action (ending the process) stays
    }
    auto* notifier =
        new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char byte = 0;
        while (read(pipeFds[0], &byte, 1) > 0) {
        }
        notifier->setEnabled(false);
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int ReceivedStopSignal() {
    return received.load();
}

} // namespace kairelon
