#include "sync/ClockSetting.h"

#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "platform/NamedEvent.h"
#include "settings/Options.h"

#include <cstring>

namespace kairelon {
namespace {

// The system's text for an error number; "n/a" where it has none.
std::string SystemErrorText(int error) {
    char buffer[256];
    const std::string text = strerror_r(error, buffer, sizeof buffer);
    return text.empty() || text.rfind("Unknown error", 0) == 0 ? "n/a" : text;
}

TNamedEvent OpenServiceEvent(const char* name) {
    TNamedEvent event = TNamedEvent::Open(name);
    if (!event.IsOpen()) {
        OutputDebugString(SystemErrorText(event.Error()));
    }
    return event;
}

} // namespace

void SetClockDirectly(CClock& clock, const SYSTEMTIME& utc) {
    const int error = clock.SetSystemTime(utc);
    if (error != 0) {
        throw ESetSystemTimeError(SystemErrorText(error));
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
    message = Format(LoadStr(1077), SystemErrorText(begin.Error()));
    return false;
}

} // namespace kairelon
