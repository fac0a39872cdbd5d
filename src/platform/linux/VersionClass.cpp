#include "platform/VersionClass.h"

namespace kairelon {

// Linux has no version record of the kind the classification reads; every version of it is
// "unknown" to that table.
bool GetVersionEx(OSVERSIONINFO&) {
    return false;
}

// The clock-setting service runs as kairelon-clockd, reached through the machine-wide store
// and two named semaphores.
bool PlatformOffersClockService() {
    return true;
}

} // namespace kairelon
