// Setting the clock at the end of a synchronisation: directly, or through the clock-setting
// service.
//
// The direct route asks the clock to take the new UTC time and turns a refusal into
// `ESetSystemTimeError` with the system's text for the reason. The service route,
// `HandOverToService`, writes the time as "NewTime" (with the local time of day as "OldTime"
// and the same moment in UTC as "OldTimeUtc") into the machine-wide store, signals the
// service's begin event and waits at most `ServiceReplyTimeoutMs` for its done event; without
// that answer it raises `EServiceError` with text 1074, and when the service answered by
// refusing, with text `ServiceRefusedText`. Only events of the service's owners and group are
// used (`TNamedEvent::OpenTrusted`). `CheckServiceEvent` is the test the service check box
// makes: does the service's begin event exist?
//
// This module owns none of its collaborators: the clock and the store are passed in. It does
// not decide which route a run takes, nor report results; the run does that.
#pragma once

#include "framework/Exception.h"
#include "platform/Clock.h"
#include "platform/SystemTime.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kairelon {

class CGlobalOptions;

KAIRELON_EXCEPTION(ESetSystemTimeError, Exception); // the clock refused the new time
KAIRELON_EXCEPTION(EServiceError, Exception);       // the service did not confirm in time

// How long the hand-over waits for the service's confirmation, in milliseconds.
inline constexpr int ServiceReplyTimeoutMs = 10000;
// String-table number of the text for a hand-over the service refused.
inline constexpr int ServiceRefusedText = 4170;

// Sets the clock to a UTC time; raises ESetSystemTimeError with the system error text of the
// refusal.
void SetClockDirectly(CClock& clock, const SYSTEMTIME& utc);

// Hands the UTC time to the clock-setting service and waits for its confirmation, in this
// order: write "NewTime", "OldTime" (the local time of day) and "OldTimeUtc" (milliseconds
// since 1970 UTC) into the machine-wide store; open the begin and the done event (a failure
// goes to the debugger output as its system error text, and the hand-over goes on) and the
// refusal event; clear answers left over from an earlier hand-over; set the begin event; wait
// at most ServiceReplyTimeoutMs for the done event; see whether the refusal came with it;
// reset both; close all. Without an answer raises EServiceError with text 1074, for a refusal
// with text ServiceRefusedText; a refused write raises the store's ERegistryException. The
// wait blocks the calling thread.
//
// The whole hand-over holds the hand-over lock beside the machine-wide store, so hand-overs of
// several programs follow one another and each answer is about its own time; when another
// holds it for more than 3 s, ERegistryException. Events left by a service that died (its lock
// names a process that is gone), and events damaged or made anew during the wait, end it at
// once without an answer. A stop signal (see StopSignals.h) ends the wait, and the wait for
// the lock, within 50 ms with EServiceError saying so: never as a confirmation.
//
// `trueAtNs`, when given, is the boot-time instant (platform/Clock.h BootTimeNs) at which
// `utc` (to the millisecond) is true; it is written as "NewTimeBoot" beside "NewTime", and the
// service adds the time passed since then before it sets the clock. Without it the service
// sets `utc` as it stands.
void HandOverToService(CGlobalOptions& options, const SYSTEMTIME& utc,
                       std::optional<std::int64_t> trueAtNs = std::nullopt);
// The same with another wait for the confirmation, in milliseconds; for tests only.
void HandOverToServiceWaiting(CGlobalOptions& options, const SYSTEMTIME& utc, int waitMs,
                              std::optional<std::int64_t> trueAtNs = std::nullopt);

// True when the service's begin event can be opened (it is closed again at once; nothing is
// signalled). Otherwise false, and `message` holds text 1077 with the system error text of
// the failure, for the message box the check box shows.
bool CheckServiceEvent(std::string& message);

} // namespace kairelon
