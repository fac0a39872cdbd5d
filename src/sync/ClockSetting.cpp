#include "sync/ClockSetting.h"

#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/NamedEvent.h"

#include <cstring>

namespace kairelon {
namespace {

// The system's text for an error number; "n/a" where it has none.
std::string SystemErrorText(int error) {
    char buffer[256];
    const std::string text = strerror_r(error, buffer, sizeof buffer);
    return text.empty() || text.rfind("Unknown error", 0) == 0 ? "n/a" : text;
}

} // namespace

void SetClockDirectly(CClock& clock, const SYSTEMTIME& utc) {
    const int error = clock.SetSystemTime(utc);
    if (error != 0) {
        throw ESetSystemTimeError(SystemErrorText(error));
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
