#include "sync/ClockSetting.h"

#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/NamedEvent.h"
#include "platform/SystemError.h"
#include "settings/Options.h"

namespace kairelon {
namespace {

TNamedEvent OpenServiceEvent(const char* name) {
    TNamedEvent event = TNamedEvent::Open(name);
    if (!event.IsOpen()) {
        OutputDebugString(SystemErrorText(static_cast<std::uint32_t>(event.Error())));
    }
    return event;
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

    TNamedEvent begin = OpenServiceEvent(SyncBeginEventName);
    TNamedEvent done = OpenServiceEvent(SyncDoneEventName);
    // A confirmation that came after an earlier hand-over had given up must not count as the
    // answer to this one.
    done.Reset();
    begin.Set();
    const bool confirmed = done.Wait(waitMs) == TWaitResult::Signalled;
    done.Reset();
    begin.Close();
    done.Close();
    if (!confirmed) {
        throw EServiceError(LoadStr(1074));
    }
}

bool CheckServiceEvent(std::string& message) {
    TNamedEvent begin = TNamedEvent::Open(SyncBeginEventName);
    if (begin.IsOpen()) {
        begin.Close();
        return true;
    }
    message = Format(LoadStr(1077), SystemErrorText(static_cast<std::uint32_t>(begin.Error())));
    return false;
}

} // namespace kairelon
