#include "sync/SyncEngine.h"

#include "diag/ErrorLog.h"
#include "diag/ProtocolEntry.h"
#include "dialup/DialUp.h"
#include "framework/Format.h"
#include "framework/Messages.h"
#include "framework/StringTable.h"
#include "net/Powersock.h"
#include "platform/DebugOutput.h"
#include "platform/SystemError.h"
#include "settings/SettingsTable.h"
#include "sync/ClockSetting.h"
#include "sync/ServerAddress.h"
#include "sync/TimeConversion.h"
#include "sync/TimeZoneInfo.h"

#include <algorithm>
#include <cmath>

namespace kairelon {
namespace {

constexpr int kSchedulerIntervalMs = 60000;
// Wait after the last report of the wake watcher: the network usually settles a few seconds
// after the machine wakes, and the reports of one return come in a burst.
constexpr int kCatchUpDelayMs = 5000;
constexpr double kMinutesPerDay = 24.0 * 60.0;
constexpr int kDefaultDeviationLimitMinutes = 360; // for a unit the dialog does not offer

// Entries 1079 and 1080: a UTC reading as "dd.mm.yyyy, hh:mm:ss".
std::string ClockEntry(int textNumber, const SYSTEMTIME& t) {
    return Format(LoadStr(textNumber), t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond);
}

// Sets a flag for the life of a scope and clears it on every exit, exceptions included.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

// Minutes in one unit of "Einheit" (1 minutes, 2 hours, 3 days); 0 for any other value.
std::uint64_t UnitMinutes(std::int32_t unit) {
    return unit == 1 ? 1 : unit == 2 ? 60 : unit == 3 ? 24 * 60 : 0;
}

} // namespace

TSyncEngine::TSyncEngine(SyncHost& host, CClock& clock) : host_(host), clock_(clock) {
    NTP.Port = DaytimePort;
    NTP.TimeOut = 500; // as laid out; start-up sets the stored time-out
    NTP.OnConnect = [this](TObject* Sender) { NTPConnect(Sender); };
    NTP.OnDisconnect = [this](TObject* Sender) { NTPDisconnect(Sender); };
    NTP.OnInvalidHost = [this](bool& Handled) { NTPInvalidHost(Handled); };
    // The reply's moments and the moment of setting on one clock, the one the engine sets.
    NTP.MonotonicClock = [this] { return clock_.MonotonicNs(); };
    Protocol.SetListener([this](const ProtocolItem* item) { host_.ProtocolChanged(item); });
    tGetTime.setInterval(kSchedulerIntervalMs);
    tGetTime.setTimerType(Qt::CoarseTimer);
    QObject::connect(&tGetTime, &QTimer::timeout, [this] { tGetTimeTimer(); });
    tCatchUp.setInterval(kCatchUpDelayMs);
    tCatchUp.setSingleShot(true);
    QObject::connect(&tCatchUp, &QTimer::timeout, [this] { tCatchUpTimer(); });
}

TSyncEngine::~TSyncEngine() {
    FormDestroy();
}

void TSyncEngine::CreateOptionStores() {
    LocalOptions = std::make_unique<CLocalOptions>();
    GlobalOptions = std::make_unique<CGlobalOptions>();
    LocalOptions->Open();
    GlobalOptions->Open();
}

void TSyncEngine::InitializeEngine() {
    InitializeDialUp();
    if (!ShowTimeZoneInfo().Success) {
        host_.MessageBox(LoadStr(1004), LoadStr(2004), MessageBoxStyle::Warning);
    }
    InitializeSchedule();
}

void TSyncEngine::InitializeDialUp() {
    InitializeRasApi(
        RasApi, RasAvailable,
        [this](const std::string& text, int kind) { AddProtocolEntry(text, kind); }, RasLoader);
}

void TSyncEngine::InitializeSchedule() {
    if (!ApplyStoredOptions().empty()) {
        Configured = true;
    } else {
        host_.MessageBox(LoadStr(1011), LoadStr(2003), MessageBoxStyle::Information);
        host_.SetSyncCommandEnabled(false);
    }
    UpdateUptimeLabel(DayCounter, HourCounter, MinuteCounter);

    if (Configured) {
        StartScheduler();
    } else {
        tGetTime.stop();
    }
    AddProtocolEntry(LoadStr(1029), ekInformation);
    // Said once per start: a run is not refused for it, but its result may not last.
    if (TimeServiceCheck) {
        const std::string other = TimeServiceCheck();
        if (!other.empty()) {
            AddProtocolEntry(Format(LoadStr(OtherTimeServiceText), other), ekInformation);
        }
    }
}

std::string TSyncEngine::ApplyStoredOptions() {
    const std::string server = ServerOverride ? *ServerOverride : LocalOptions->ReadCurrentServer();
    if (!server.empty()) {
        SetServer(server);
        if (SplitServerAddress(server).ipv6Literal) {
            // The run would only report an invalid host: say why, once, as the server is taken.
            AddProtocolEntry("\"CurrentServer\": " + Ipv6NotServedText(server), ekWarning);
        }
    }
    // The daytime client takes 0 as "no limit": a hand-edited 0 or a negative value would let
    // a silent server hold the run for ever.
    const std::int32_t timeOut = LocalOptions->Read(settings::Timeout);
    NTP.TimeOut = timeOut > 0 ? timeOut : settings::Timeout.defaultValue;
    SyncInterval = LocalOptions->Read(settings::Intervall);
    SyncUnit = LocalOptions->Read(settings::Einheit);
    return server;
}

void TSyncEngine::ApplyDialogOptions() {
    tGetTime.stop();
    ApplyStoredOptions();
    host_.SetSyncCommandEnabled(true);
    Configured = true;
    StartScheduler();
}

void TSyncEngine::StartScheduler() {
    tGetTime.start();
    if (scheduleStarted_) {
        return;
    }
    // The counters count from here, so the catch-up measures from here too.
    scheduleStarted_ = true;
    LastTickLocal = NowLocal();
    LastIntervalRunLocal = LastTickLocal;
    const WakeListener listener = [this](WakeEvent event) { WakeEventReceived(event); };
    Wake = WakeLoader ? WakeLoader(listener) : LoadSystemWakeWatcher(listener);
}

void TSyncEngine::FormDestroy() {
    Closing = true;
    tGetTime.stop();
    tCatchUp.stop();
    Wake.reset();
    LocalOptions.reset();
    GlobalOptions.reset();
    RasApi.reset();
}

void TSyncEngine::SetServer(const std::string& server) {
    const ServerAddress address = SplitServerAddress(server);
    NTP.Host = address.host;
    NTP.Port = address.port;
}

void TSyncEngine::AddProtocolEntry(const std::string& text, int kind) {
    Protocol.AddProtocolEntry(text, kind);
}

void TSyncEngine::UpdateUptimeLabel(std::uint32_t days, std::uint32_t hours,
                                    std::uint32_t minutes) {
    const std::string pattern =
        "%d " + LoadStr(1014) + ", %d " + LoadStr(1013) + ", %d " + LoadStr(1012);
    host_.SetUptimeCaption(Format(pattern, days, hours, minutes));
}

void TSyncEngine::tGetTimeTimer() {
    if (Closing || Busy) {
        return; // the tick is lost: no counter advances
    }
    const FlagScope busy(Busy);
    try {
        if (++MinuteCounter >= 60) {
            MinuteCounter = 0;
            ++HourCounter;
        }
        if (HourCounter >= 24) {
            HourCounter = 0;
            ++DayCounter;
        }
        UpdateUptimeLabel(DayCounter, HourCounter, MinuteCounter);
        const TDateTime nowLocal = NowLocal();
        LastTickLocal = nowLocal;

        const std::int32_t modus = LocalOptions->Read(settings::SyncModus);

        if (modus == 1) {
            const DecodedDateTime now = DecodeDateTime(nowLocal);
            bool timeMatches = false;
            std::int32_t minute = 0;
            const std::int32_t hour = LocalOptions->Read(settings::Stunde);
            if (FixedHourMatches(hour, now)) {
                minute = LocalOptions->Read(settings::Minute);
                timeMatches = FixedMinuteMatches(minute, now);
            }
            const bool dayMatches = FixedDayMatches(LocalOptions->Read(settings::Wochentag), now);
            // One run per matching day: not again in the forgiving minute, nor when the run
            // set the clock back into the matching minutes.
            const FixedTimeRun thisRun{now.year, now.month, now.day, hour, minute};
            if (timeMatches && dayMatches && LastFixedTimeRun != thisRun) {
                LastFixedTimeRun = thisRun;
                ScheduledRun();
            }
        } else if (modus == 2) {
            // The interval counts running time of its unit since the timer started, so every
            // N minutes, hours or days means every N of them; an interval that divides the
            // next unit (15 minutes, 6 hours) falls on the same ticks as the clock-face
            // counters. An interval that is not positive (only a hand-edited store holds one)
            // runs nothing.
            const std::uint64_t minutes = RunningMinutes();
            const auto due = IntervalRunAt(SyncUnit, SyncInterval, minutes, LastRunCounter);
            if (due && *due <= minutes) {
                LastRunCounter = minutes;
                LastIntervalRunLocal = nowLocal;
                ScheduledRun();
            }
        }
    } catch (const Exception& e) {
        WriteErrorLog("TfrmOptions::tGetTime()", e.Message());
    }
}

void TSyncEngine::ScheduledRun() {
    LastScheduledRunLocal = NowLocal();
    int resultKind = ekInformation;
    std::string resultText;
    SynchronizeTime(resultText, resultKind);
    ScheduledRunFailed = resultKind == ekError;
    AddProtocolEntry(resultText, resultKind);
}

std::optional<TSyncEngine::FixedTime> TSyncEngine::LatestFixedTime(TDateTime now) {
    const std::int32_t hour = LocalOptions->Read(settings::Stunde);
    const std::int32_t minute = LocalOptions->Read(settings::Minute);
    const std::int32_t weekday = LocalOptions->Read(settings::Wochentag);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return std::nullopt; // a time no clock shows: the tick never runs it either
    }
    const TDateTime timeOfDay = EncodeTime(hour, minute, 0, 0);
    const double today = std::floor(now);
    for (int back = 0; back <= 7; ++back) {
        const TDateTime day = today - back;
        const TDateTime at = day + timeOfDay;
        const DecodedDateTime date = DecodeDateTime(day);
        if (at > now || !FixedDayMatches(weekday, date)) {
            continue;
        }
        return FixedTime{at, FixedTimeRun{date.year, date.month, date.day, hour, minute}};
    }
    return std::nullopt;
}

bool TSyncEngine::MissedRun() {
    if (ScheduledRunFailed) {
        return true;
    }
    const TDateTime now = NowLocal();
    const std::int32_t modus = LocalOptions->Read(settings::SyncModus);
    if (modus == 1) {
        const std::optional<FixedTime> latest = LatestFixedTime(now);
        return latest && latest->at > LastTickLocal && LastFixedTimeRun != latest->run;
    }
    if (modus == 2) {
        const std::uint64_t unitMinutes = UnitMinutes(SyncUnit);
        if (unitMinutes == 0 || SyncInterval <= 0) {
            return false; // the tick runs nothing either
        }
        const double interval = static_cast<double>(unitMinutes) * SyncInterval;
        // Whole minutes by the local clock; a clock set back gives a negative count.
        const double passed = std::floor((now - LastIntervalRunLocal) * kMinutesPerDay + 1e-6);
        const std::uint64_t running = RunningMinutes();
        const std::uint64_t counted = running - std::min(running, LastRunCounter);
        return passed >= interval && static_cast<double>(counted) < interval;
    }
    return false;
}

void TSyncEngine::WakeEventReceived(WakeEvent event) {
    if (Closing || !tGetTime.isActive()) {
        return;
    }
    OutputDebugString(event == WakeEvent::Resumed ? "wake watcher: the machine woke up"
                                                  : "wake watcher: the network is back");
    try {
        if (!catchUpSince_ && MissedRun()) {
            catchUpSince_ = NowLocal();
        }
    } catch (const Exception& e) {
        WriteErrorLog("TfrmOptions::tGetTime()", e.Message());
    }
    if (catchUpSince_) {
        tCatchUp.start(); // a later report of the same burst starts the wait anew
    }
}

void TSyncEngine::tCatchUpTimer() {
    if (Closing || !catchUpSince_) {
        return;
    }
    if (Busy) {
        tCatchUp.start(); // a run is in progress: look again when it is over
        return;
    }
    const TDateTime since = *catchUpSince_;
    catchUpSince_.reset();
    const FlagScope busy(Busy);
    try {
        if (!LocalOptions->Read(settings::NachholenNachStandby)) {
            return;
        }
        if (LastScheduledRunLocal && *LastScheduledRunLocal >= since) {
            return; // a tick ran the schedule meanwhile
        }
        // The run counts for the schedule it stands in for, so the tick does not repeat it.
        const TDateTime now = NowLocal();
        const std::int32_t modus = LocalOptions->Read(settings::SyncModus);
        if (modus == 1) {
            if (const std::optional<FixedTime> latest = LatestFixedTime(now)) {
                LastFixedTimeRun = latest->run;
            }
        } else if (modus == 2) {
            LastRunCounter = RunningMinutes();
            LastIntervalRunLocal = now;
        }
        AddProtocolEntry(LoadStr(4190), ekInformation);
        ScheduledRun();
    } catch (const Exception& e) {
        WriteErrorLog("TfrmOptions::tGetTime()", e.Message());
    }
}

void TSyncEngine::SetDialogEnabled(bool enabled) {
    host_.SetDialogEnabled(enabled);
    ProcessMessages();
}

void TSyncEngine::SetClock(TTicks trueAtReceipt, std::int64_t receivedNs, bool useService) {
    // The estimate holds for the moment the reply came: what passed since (the conversion,
    // the protocol lines, a slow handler) is added just before the clock takes it.
    std::int64_t trueAtNs = 0;
    const SYSTEMTIME remote = TimeAfter(trueAtReceipt, receivedNs, clock_.MonotonicNs(), trueAtNs);
    if (DryRun) {
        // Nothing is set and nothing handed over; the run says which route it would take.
        if (useService) {
            OutputDebugString("dry run: service route (\"UseService\" on): would hand " +
                              SystemTimeText(remote) + " UTC to the clock-setting service");
        } else {
            OutputDebugString("dry run: direct route (\"UseService\" off)");
            SetClockDirectly(clock_, remote); // the dry-run clock says what it would set
        }
        return;
    }
    if (!useService) {
        SetClockDirectly(clock_, remote);
        WriteHardwareClockAfterSet();
    } else if (HandOverToServiceFn) {
        HandOverToServiceFn(*GlobalOptions, remote, trueAtNs);
    } else {
        // The service adds what passes from trueAtNs until it sets the clock.
        HandOverToService(*GlobalOptions, remote, trueAtNs);
    }
}

void TSyncEngine::WriteHardwareClockAfterSet() {
    CHardwareClock* rtc = clock_.HardwareClock();
    if (rtc == nullptr) {
        return;
    }
    const THardwareClockOutcome outcome = WriteHardwareClock(*rtc, clock_.GetSystemTime());
    if (outcome.error != 0) {
        // The system clock is right; only the next boot may start from an older time.
        AddProtocolEntry(Format(LoadStr(HardwareClockFailedText), outcome.device,
                                SystemErrorText(static_cast<std::uint32_t>(outcome.error))),
                         ekWarning);
    }
}

void TSyncEngine::SynchronizeTime(std::string& resultText, int& resultKind) {
    const bool useService = LocalOptions->Read(settings::UseService);
    if (!Configured) {
        resultKind = ekWarning;
        resultText = LoadStr(1040);
        return;
    }
    SetDialogEnabled(false);

    std::string rasError;
    HRASCONN rasHandle = 0;
    bool dialledByUs = false;
    const ProtocolSink sink = [this](const std::string& text, int kind) {
        AddProtocolEntry(text, kind);
    };
    try {
        const std::string connection = LocalOptions->ReadRasConnection();
        const std::string user = LocalOptions->ReadRasUsername();
        const std::string password = LocalOptions->ReadRasPassword();
        if (LocalOptions->Read(settings::ConnectRAS)) {
            if (!RasAvailable) {
                throw ERASConnectError(LoadStr(1073));
            }
            if (!RasConnect(*RasApi, sink, connection, user, rasError, rasHandle, dialledByUs,
                            password)) {
                throw ERASConnectError(rasError);
            }
        }

        std::string reply = NTP.GetTimeStr();
        const TReplyTiming timing = NTP.LastReplyTiming;
        StripControlCharacters(reply);
        TDateTime remoteDate = 0;
        TDateTime remoteTimeOfDay = 0;
        if (!NTPtoDateTime(reply, remoteDate, remoteTimeOfDay)) {
            throw ETimeConvertError("NTPtoDateTime() failed");
        }
        SYSTEMTIME remote{};
        const DecodedDateTime date = DecodeDateTime(remoteDate);
        const DecodedDateTime time = DecodeDateTime(remoteTimeOfDay);
        remote.wYear = static_cast<std::uint16_t>(date.year);
        remote.wMonth = static_cast<std::uint16_t>(date.month);
        remote.wDay = static_cast<std::uint16_t>(date.day);
        remote.wHour = static_cast<std::uint16_t>(time.hour);
        remote.wMinute = static_cast<std::uint16_t>(time.minute);
        remote.wSecond = static_cast<std::uint16_t>(time.second);
        remote.wMilliseconds = static_cast<std::uint16_t>(time.msec);

        const SYSTEMTIME local = clock_.GetSystemTime();
        AddProtocolEntry(ClockEntry(1079, local), ekInformation);
        AddProtocolEntry(ClockEntry(1080, remote), ekInformation);

        // A server that says its own time is wrong sets nothing, whatever the deviation.
        const std::optional<int> health = DaytimeHealth(reply);
        const bool unhealthy = health && !DaytimeHealthy(*health);

        bool exceeded = false;
        int deviation = 0;
        if (!unhealthy && LocalOptions->Read(settings::UseMaxAbweich)) {
            const std::int32_t unit = LocalOptions->Read(settings::MaxAbweichEinheit);
            std::int64_t limit = kDefaultDeviationLimitMinutes;
            if (unit >= 1 && unit <= 3) {
                static constexpr std::int64_t kMinutesPerUnit[] = {1, 60, 1440};
                limit = std::int64_t{LocalOptions->Read(settings::MaxAbweichIntervall)} *
                        kMinutesPerUnit[unit - 1];
            }
            deviation = GetTimeDifference(remote, local);
            exceeded = limit < deviation;
        }

        if (unhealthy) {
            resultText = Format(LoadStr(4191), NTP.Host, *health);
            resultKind = ekWarning;
        } else if (exceeded) {
            resultText = Format(LoadStr(1081), deviation);
            resultKind = ekWarning;
        } else {
            SetClock(TimeAtReceipt(remote, reply, timing.RoundTripNs()),
                     ReceiptInstantNs(reply, timing), useService);
            resultText = Format(LoadStr(1021), FormatDateTime("dd.mm.yyyy, hh:mm:ss", NowLocal()));
            resultKind = ekInformation;
        }
    } catch (const EServiceError& e) {
        resultText = e.Message();
        resultKind = ekError;
    } catch (const ERASConnectError& e) {
        resultText = Format("%s %s", LoadStr(1024), e.Message());
        resultKind = ekError;
    } catch (const ESetSystemTimeError& e) {
        resultText = Format("%s ( GetLastError() returned %s )", LoadStr(1020), e.Message());
        resultKind = ekWarning;
    } catch (const ETimeConvertError& e) {
        resultText = Format("%s ( %s )", LoadStr(1020), e.Message());
        resultKind = ekError;
    } catch (const ESockError&) {
        resultText = LoadStr(1039);
        resultKind = ekError;
    } catch (const Exception& e) {
        resultText = Format(LoadStr(1052), e.Message());
        resultKind = ekError;
    }

    HangUpDialledConnection(RasApi.get(), RasAvailable, dialledByUs, rasHandle, sink);
    SetDialogEnabled(true);
}

bool TSyncEngine::mnuSyncClick() {
    if (Busy) {
        // A run is waiting inside the daytime client: a nested run on the same client would
        // tear its exchange apart, so the command is refused as the tray refuses it.
        host_.Beep();
        return false;
    }
    const FlagScope busy(Busy);
    LastResultKind.reset();
    try {
        int resultKind = ekInformation;
        std::string resultText;
        SynchronizeTime(resultText, resultKind);
        AddProtocolEntry(resultText, resultKind);
        LastResultKind = resultKind;
        if (resultKind != ekError) {
            ScheduledRunFailed = false; // the clock is set: nothing is owed any more
        }
    } catch (const Exception& e) {
        WriteErrorLog("TfrmOptions::mnuSyncClick()", e.Message());
    }
    return true;
}

void TSyncEngine::NTPConnect(TObject*) {
    TimeServerConnected = true;
    AddProtocolEntry(Format(LoadStr(1016), NTP.Host), ekInformation);
}

void TSyncEngine::NTPDisconnect(TObject*) {
    if (Closing || !TimeServerConnected) {
        return;
    }
    TimeServerConnected = false;
    AddProtocolEntry(Format(LoadStr(1018), NTP.Host), ekInformation);
}

void TSyncEngine::NTPInvalidHost(bool& Handled) {
    (void)Handled; // left false: the client gives up and raises ESockError
    AddProtocolEntry(Format(LoadStr(1019), NTP.Host), ekWarning);
}

namespace {

const char* UnitName(std::int32_t unit) {
    return unit == 1 ? "minutes" : unit == 2 ? "hours" : "days";
}

// "10.12.2026, 03:00 local time".
std::string LocalMinuteText(TDateTime t) {
    return FormatDateTime("dd.mm.yyyy, hh:mm", t) + " local time";
}

} // namespace

std::optional<std::uint64_t> IntervalRunAt(std::int32_t unit, std::int32_t interval,
                                           std::uint64_t minutes, std::uint64_t lastRun) {
    const std::uint64_t unitMinutes = UnitMinutes(unit);
    if (unitMinutes == 0 || interval <= 0) {
        return std::nullopt;
    }
    const std::uint64_t period = unitMinutes * static_cast<std::uint64_t>(interval);
    const std::uint64_t last = minutes / period * period; // the latest due point so far
    if (last != 0 && last > lastRun && minutes < last + unitMinutes) {
        return last;
    }
    return last + period;
}

bool FixedHourMatches(std::int32_t hour, const DecodedDateTime& now) {
    return static_cast<std::uint16_t>(hour) == now.hour;
}

bool FixedMinuteMatches(std::int32_t minute, const DecodedDateTime& now) {
    // "Minute" + 1 in 64 bits: a hand-edited 2147483647 must not overflow.
    return minute == now.minute || std::int64_t{minute} + 1 == now.minute;
}

bool FixedDayMatches(std::int32_t weekday, const DecodedDateTime& now) {
    return weekday == 0 || (weekday >= 1 && weekday <= 6 && now.dayOfWeek == weekday + 1) ||
           (weekday == 7 && now.dayOfWeek == 1);
}

std::uint64_t TSyncEngine::RunningMinutes() const {
    return (std::uint64_t{DayCounter} * 24 + HourCounter) * 60 + MinuteCounter;
}

std::string TSyncEngine::NextRunText() {
    if (!Configured) {
        return "next run: none: no server is configured (\"CurrentServer\")";
    }
    const TDateTime now = NowLocal();
    const std::int32_t modus = LocalOptions->Read(settings::SyncModus);
    if (modus == 2) {
        if (UnitMinutes(SyncUnit) == 0) {
            return Format("next run: none: \"Einheit\" holds %d, which never runs (1 minutes, "
                          "2 hours, 3 days)",
                          SyncUnit);
        }
        const std::uint64_t minutes = RunningMinutes();
        const auto due = IntervalRunAt(SyncUnit, SyncInterval, minutes, LastRunCounter);
        if (!due) {
            return Format("next run: none: \"Intervall\" holds %d, which never runs", SyncInterval);
        }
        // The tick that reaches the due point comes (due - minutes) ticks from now.
        const std::uint64_t ahead = *due > minutes ? *due - minutes : 1;
        const std::string every = Format("%d %s", SyncInterval, UnitName(SyncUnit));
        return "next run: " + LocalMinuteText(now + static_cast<double>(ahead) / 1440.0) +
               (LastRunCounter == 0 && minutes == 0
                    ? ", after a full interval of " + every + " of running time (then every " +
                          every + ")"
                    : " (every " + every + " of running time)");
    }
    if (modus == 1) {
        const std::int32_t hour = LocalOptions->Read(settings::Stunde);
        const std::int32_t minute = LocalOptions->Read(settings::Minute);
        const std::int32_t weekday = LocalOptions->Read(settings::Wochentag);
        // The ticks come once a minute from now on; the first whose local time matches runs.
        // Eight days cover every weekday.
        for (int ahead = 1; ahead <= 8 * 24 * 60 + 1; ++ahead) {
            const TDateTime at = now + ahead / 1440.0;
            const DecodedDateTime t = DecodeDateTime(at);
            const FixedTimeRun run{t.year, t.month, t.day, hour, minute};
            if (FixedHourMatches(hour, t) && FixedMinuteMatches(minute, t) &&
                FixedDayMatches(weekday, t) && LastFixedTimeRun != run) {
                static const char* const kDays[] = {"every day",  "Mondays",   "Tuesdays",
                                                    "Wednesdays", "Thursdays", "Fridays",
                                                    "Saturdays",  "Sundays"};
                return "next run: " + LocalMinuteText(at) +
                       Format(" (%s at %.2d:%.2d)", kDays[weekday], hour, minute);
            }
        }
        return Format("next run: none: the fixed time \"Stunde\" %d, \"Minute\" %d, "
                      "\"Wochentag\" %d never comes (0 to 23, 0 to 59, 0 every day or 1 Monday "
                      "to 7 Sunday)",
                      hour, minute, weekday);
    }
    return Format("next run: none: \"SyncModus\" holds %d, which never runs (1 fixed time, 2 "
                  "interval)",
                  modus);
}

int ExitStatusOfKind(int kind) {
    switch (kind) {
    case ekInformation:
        return 0;
    case ekWarning:
        return 1;
    default:
        return 2;
    }
}

} // namespace kairelon
