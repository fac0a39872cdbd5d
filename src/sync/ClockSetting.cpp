#include "sync/ClockSetting.h"

#include "diag/ErrorText.h"
#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/NamedEvent.h"
#include "platform/SystemError.h"
#include "settings/Options.h"

#include <chrono>
#include <cstdint>

namespace kairelon {
namespace {

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
void WriteHandOverMoment(CGlobalOptions& options) {
    const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(ms) >> (8 * i));
    }
    options.WriteBinaryData(kOldTimeUtcValue, bytes, sizeof bytes);
}

} // namespace

void SetClockDirectly(CClock& clock, const SYSTEMTIME& utc) {
    const int error = clock.SetSystemTime(utc);
    if (error != 0) {
        throw ESetSystemTimeError(SystemErrorText(static_cast<std::uint32_t>(error)));
    }
}

void HandOverToService(CGlobalOptions& options, const SYSTEMTIME& utc) {
    HandOverToServiceWaiting(options, utc, ServiceReplyTimeoutMs);
}

void HandOverToServiceWaiting(CGlobalOptions& options, const SYSTEMTIME& utc, int waitMs) {
    options.WriteNewTime(utc);
    options.WriteDateTime(kOldTimeValue, Time());
    WriteHandOverMoment(options);

    TNamedEvent begin = OpenServiceEvent(SyncBeginEventName);
    TNamedEvent done = OpenServiceEvent(SyncDoneEventName);
    // A service without this event never refuses visibly; its failure to open is no news.
    TNamedEvent refused = TNamedEvent::OpenTrusted(SyncRefusedEventName);
    // An answer that came after an earlier hand-over had given up must not count as the
    // answer to this one.
    done.Reset();
    refused.Reset();
    begin.Set();
    const bool answered = done.Wait(waitMs) == TWaitResult::Signalled;
    // The service sets the refusal before the done event, so it is there once done is.
    const bool wasRefused = answered && refused.Wait(0) == TWaitResult::Signalled;
    done.Reset();
    refused.Reset();
    begin.Close();
    done.Close();
    refused.Close();
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
