#include "sync/ClockSetting.h"

#include "diag/ErrorText.h"
#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/FileLock.h"
#include "platform/InstanceLock.h"
#include "platform/NamedEvent.h"
#include "platform/RegistryFile.h"
#include "platform/StopSignals.h"
#include "platform/SystemError.h"
#include "settings/Options.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace kairelon {
namespace {

// The longest wait for another program's hand-over to end, in milliseconds: as long as the
// store waits for its lock.
constexpr int kHandOverLockWaitMs = 3000;
// How often the wait for the answer looks up from the done event, in milliseconds: for a stop
// signal, for events that can no longer carry the answer, for a service that died.
constexpr int kAnswerSliceMs = 50;

bool StopPending() {
    return ReceivedStopSignal() != 0;
}

std::string StoppedText() {
    return Format("The hand-over to the Kairelon service was abandoned on a stop signal (%d); "
                  "whether the service set the clock is not known.",
                  ReceivedStopSignal());
}

// Beside the machine-wide settings, in the folder every member of the service's group writes.
std::string HandOverLockPath() {
    return RegistryFilePath(RegistryRoot::LocalMachine) + ".handover.lock";
}

// The service whose lock names a process that is gone died and left its events behind.
bool ServiceDied() {
    const long pid = TInstanceLock::DeadHolder(ServiceLockPath());
    if (pid != 0) {
        OutputDebugString(Format("the clock-setting service (process %d) is no longer running; "
                                 "its events are left over",
                                 pid));
    }
    return pid != 0;
}

// Waits at most waitMs for the done event, in slices; between them a stop signal ends the
// wait (`stopped`), and so do events that can no longer carry the answer (damaged, or made
// anew by the service) and a service that died.
TWaitResult AwaitAnswer(TNamedEvent& begin, TNamedEvent& done, int waitMs, bool& stopped) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(std::max(waitMs, 0));
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        const int slice = static_cast<int>(std::clamp<long long>(left, 0, kAnswerSliceMs));
        const TWaitResult result = done.Wait(slice);
        if (result != TWaitResult::TimedOut || left <= kAnswerSliceMs) {
            return result;
        }
        if (StopPending()) {
            stopped = true;
            return TWaitResult::TimedOut;
        }
        if (!done.Healthy() || !begin.Healthy() || ServiceDied()) {
            return TWaitResult::Failed;
        }
    }
}

TNamedEvent OpenServiceEvent(const char* name) {
    TNamedEvent event = TNamedEvent::OpenTrusted(name);
    if (!event.IsOpen()) {
        OutputDebugString(SystemErrorText(static_cast<std::uint32_t>(event.Error())));
    }
    return event;
}

// "OldTimeUtc": the moment of the hand-over as milliseconds since 1970-01-01 UTC, a signed
// 64-bit number, little endian. Unlike "OldTime" it means the same to a service in another
// time zone and across a change to or from daylight time.
std::int64_t WriteHandOverMoment(CGlobalOptions& options) {
    const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(ms) >> (8 * i));
    }
    options.WriteBinaryData(kOldTimeUtcValue, bytes, sizeof bytes);
    return ms;
}

// "NewTimeBoot": the boot-time instant at which "NewTime" is true, and the "OldTimeUtc" of
// this hand-over, which ties the instant to it (an older program leaves the value as it was).
void WriteNewTimeBoot(CGlobalOptions& options, std::int64_t trueAtNs, std::int64_t stampMs) {
    std::uint8_t bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(trueAtNs) >> (8 * i));
        bytes[8 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(stampMs) >> (8 * i));
    }
    options.WriteBinaryData(kNewTimeBootValue, bytes, sizeof bytes);
}

} // namespace

void SetClockDirectly(CClock& clock, const SYSTEMTIME& utc) {
    const int error = clock.SetSystemTime(utc);
    if (error != 0) {
        throw ESetSystemTimeError(SystemErrorText(static_cast<std::uint32_t>(error)));
    }
}

void HandOverToService(CGlobalOptions& options, const SYSTEMTIME& utc,
                       std::optional<std::int64_t> trueAtNs) {
    HandOverToServiceWaiting(options, utc, ServiceReplyTimeoutMs, trueAtNs);
}

void HandOverToServiceWaiting(CGlobalOptions& options, const SYSTEMTIME& utc, int waitMs,
                              std::optional<std::int64_t> trueAtNs) {
    // One hand-over at a time among all programs, from the write through the answer: there is
    // one "NewTime" and one done event, so a hand-over in between would have its time set in
    // place of this one's and share its answer.
    const std::string lockPath = HandOverLockPath();
    const TFileLock serial =
        TFileLock::Acquire(lockPath, 0660, kHandOverLockWaitMs, [] { return StopPending(); });
    switch (serial.Result()) {
    case TFileLock::Outcome::Acquired:
        break;
    case TFileLock::Outcome::Stopped:
        throw EServiceError(StoppedText());
    case TFileLock::Outcome::TimedOut:
        throw ERegistryException(Format("Cannot lock the hand-over '%s': another hand-over has "
                                        "been under way for more than %d s",
                                        lockPath, kHandOverLockWaitMs / 1000));
    case TFileLock::Outcome::Failed:
        throw ERegistryException("Cannot lock the hand-over '" + lockPath + "': " +
                                 SystemErrorText(static_cast<std::uint32_t>(serial.Error())));
    }
    if (StopPending()) {
        throw EServiceError(StoppedText());
    }
    options.WriteNewTime(utc);
    options.WriteDateTime(kOldTimeValue, Time());
    const std::int64_t stampMs = WriteHandOverMoment(options);
    if (trueAtNs) {
        WriteNewTimeBoot(options, *trueAtNs, stampMs);
    }

    TNamedEvent begin = OpenServiceEvent(SyncBeginEventName);
    TNamedEvent done = OpenServiceEvent(SyncDoneEventName);
    // A service without this event never refuses visibly; its failure to open is no news.
    TNamedEvent refused = TNamedEvent::OpenTrusted(SyncRefusedEventName);
    // An answer that came after an earlier hand-over had given up must not count as the
    // answer to this one.
    done.Reset();
    refused.Reset();
    bool answered = false;
    bool stopped = false;
    // Events left behind by a service that died answer nobody: no wait on them.
    if (!(begin.IsOpen() && ServiceDied())) {
        begin.Set();
        answered = AwaitAnswer(begin, done, waitMs, stopped) == TWaitResult::Signalled;
    }
    // The service sets the refusal before the done event, so it is there once done is.
    const bool wasRefused = answered && refused.Wait(0) == TWaitResult::Signalled;
    done.Reset();
    refused.Reset();
    begin.Close();
    done.Close();
    refused.Close();
    if (stopped) {
        throw EServiceError(StoppedText());
    }
    if (!answered) {
        throw EServiceError(LoadStr(1074));
    }
    if (wasRefused) {
        throw EServiceError(LoadStr(ServiceRefusedText));
    }
}

bool CheckServiceEvent(std::string& message) {
    TNamedEvent begin = TNamedEvent::OpenTrusted(SyncBeginEventName);
    if (begin.IsOpen()) {
        begin.Close();
        return true;
    }
    message =
        Format(LoadStr(1077), GermanSystemErrorText(static_cast<std::uint32_t>(begin.Error())));
    return false;
}

} // namespace kairelon
