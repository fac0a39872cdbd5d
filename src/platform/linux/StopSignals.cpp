#include "platform/StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <utility>

namespace kairelon {
namespace {

int pipeFds[2] = {-1, -1};
std::atomic<int> received{0};
std::function<void(int)> stopAction;
std::function<void()> reloadAction;

void OnStopSignal(int signalNumber) {
    int expected = 0;
    if (!received.compare_exchange_strong(expected, signalNumber)) {
        _exit(128 + signalNumber); // asked twice: stop now
    }
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t n = write(pipeFds[1], &byte, 1);
}

void NoteSignal(int signalNumber) {
    int expected = 0;
    received.compare_exchange_strong(expected, signalNumber);
}

void OnHangUp(int signalNumber) {
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t n = write(pipeFds[1], &byte, 1);
}

void Install(int signalNumber, void (*handler)(int), int flags = SA_RESTART) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

void QuitOnStopSignals(std::function<void(int signalNumber)> onStop) {
    signal(SIGPIPE, SIG_IGN);
    stopAction = std::move(onStop);
    if (pipeFds[0] >= 0) {
        return;
    }
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // without the pipe the default action (ending the process) stays
    }
    auto* notifier =
        new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        bool stop = false;
        bool reload = false;
        char byte = 0;
        while (read(pipeFds[0], &byte, 1) > 0) {
            (byte == SIGHUP ? reload : stop) = true;
        }
        if (reload && !stop && reloadAction) {
            reloadAction();
        }
        if (stop) {
            notifier->setEnabled(false);
            if (stopAction) {
                stopAction(received.load());
            }
            QCoreApplication::exit(0);
        }
    });
    Install(SIGTERM, OnStopSignal);
    Install(SIGINT, OnStopSignal);
}

void NoteStopSignals(std::initializer_list<int> signalNumbers) {
    for (const int signalNumber : signalNumbers) {
        Install(signalNumber, NoteSignal, 0); // no restart: the wait it arrives in ends
    }
}

void ReloadOnHangUp(std::function<void()> reload) {
    reloadAction = std::move(reload);
    if (pipeFds[0] >= 0) {
        Install(SIGHUP, OnHangUp);
    }
}

int ReceivedStopSignal() {
    return received.load();
}

} // namespace kairelon
