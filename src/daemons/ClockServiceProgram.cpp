#include "daemons/ClockServiceProgram.h"

#include "daemons/ClockService.h"
#include "platform/InstanceLock.h"
#include "platform/NamedEvent.h"
#include "platform/StopSignals.h"
#include "platform/SystemError.h"

#include <signal.h>

#include <cstdio>

namespace kairelon {
namespace {

constexpr const char* kHelp =
    "Usage: kairelon-clockd [--dry-run]\n"
    "\n"
    "The clock-setting service of Kairelon. It creates the events KairelSyncBegin,\n"
    "KairelSyncDone and KairelSyncRefused for the members of the group \"kairelon\" (for root\n"
    "alone where that group does not exist). When a program signals KairelSyncBegin, it reads\n"
    "\"NewTime\" from the machine-wide settings, checks it and the age of the hand-over (at\n"
    "most 8 s, by \"OldTimeUtc\"), adds the time passed since \"NewTime\" was true (by\n"
    "\"NewTimeBoot\", when the program wrote it), sets the clock and the hardware clock and\n"
    "signals KairelSyncDone. A refusal is\n"
    "signalled as KairelSyncRefused followed by KairelSyncDone and logged with its reason on\n"
    "standard error. It stops on SIGTERM, SIGINT, SIGHUP or SIGQUIT and removes the events\n"
    "it made. One service runs at a time: a second one refuses to start. Events a member\n"
    "of the group damaged (cut short, removed, replaced) are logged and made anew.\n"
    "\n"
    "Options:\n"
    "  --dry-run       never change the clock; log what would have been set\n"
    "  -h, --help      show this text\n"
    "  -V, --version   show the version\n"
    "\n"
    "Environment:\n"
    "  KAIRELON_REGISTRY_DIR   folder of the settings files (default /var/lib/kairelon)\n"
    "  KAIRELON_EVENT_PREFIX   prefix of the event names (for tests)\n"
    "  KAIRELON_RUNTIME_DIR    folder of the service's lock kairelon-clockd.lock\n"
    "                          (default /run/kairelon; for tests)\n"
    "\n"
    "Exit status: 0 after a stop signal, 1 when the events cannot be created or another\n"
    "service runs, 64 for a wrong command line.\n";

} // namespace

int ClockServiceMain(int argc, char** argv, const std::function<void(const std::string&)>& log) {
    bool dryRun = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-V") {
            std::printf("kairelon-clockd %s\n", KAIRELON_VERSION);
            return 0;
        }
        if (arg == "--dry-run") {
            dryRun = true;
            continue;
        }
        std::fprintf(stderr, "kairelon-clockd: unknown option '%s' (try --help)\n", argv[i]);
        return 64;
    }

    // Every signal that ends a service in the ordinary way ends it in order, so the events
    // are never left behind for programs to take for a running service.
    NoteStopSignals({SIGTERM, SIGINT, SIGHUP, SIGQUIT});

    // A second service would replace the first one's events, and either's stop would remove
    // events the other still waits on. The lock lives where only root creates files, and
    // others may read it: a program that finds it naming a process that is gone knows the
    // events it sees are left over from a service that died.
    const TInstanceLock lock = TInstanceLock::Acquire(ServiceLockPath(), true, 0644);
    if (lock.Result() == TInstanceLock::Outcome::Busy) {
        log("another kairelon-clockd (process " + std::to_string(lock.Holder()) +
            ") already serves the events " + EventObjectName(SyncBeginEventName) + " and " +
            EventObjectName(SyncDoneEventName) + "; this one does not start");
        return 1;
    }
    if (!lock.Held()) {
        log("cannot lock " + lock.Path() + ": " +
            SystemErrorText(static_cast<std::uint32_t>(lock.Error())));
        return 1;
    }

    CRealClock realClock;
    CDryRunClock dryRunClock;
    CClock& clock = dryRun ? static_cast<CClock&>(dryRunClock) : realClock;
    if (dryRun) {
        log("dry run: the clock is never changed");
    }
    CClockService service(clock, log);
    if (!service.Start(ServiceGroupId())) {
        return 1;
    }
    service.Run([] { return ReceivedStopSignal() != 0; });
    service.Stop();
    return 0;
}

} // namespace kairelon
