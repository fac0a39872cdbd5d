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
    LastTickUtc = NowUtc();
    LastIntervalRunUtc = LastTickUtc;
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
        const TDateTime nowUtc = NowUtc();
        const TDateTime nowLocal = LocalFromUtc(nowUtc);
        // Local times the clock skipped since the last handled tick (summer time began).
        const std::optional<SkippedTimes> skipped =
            LastTickUtc > 0 ? SkippedBetween(LastTickUtc, nowUtc, LocalFromUtc) : std::nullopt;
        LastTickUtc = nowUtc;

        const std::optional<SyncMode> mode = ToSyncMode(LocalOptions->Read(settings::SyncModus));

        if (mode == SyncMode::FixedTime) {
            const DecodedDateTime now = DecodeDateTime(nowLocal);
            FixedTimeSetting fixed;
            fixed.hour = LocalOptions->Read(settings::Stunde);
            if (FixedHourMatches(fixed.hour, now) || skipped) {
                fixed.minute = LocalOptions->Read(settings::Minute); // read only when it counts
            }
            fixed.weekday = LocalOptions->Read(settings::Wochentag);
            // One run per matching day: not again in the forgiving minute, nor when the run
            // set the clock back into the matching minutes.
            if (const auto run = FixedTimeTickRun(fixed, nowLocal, skipped, LastFixedTimeRun)) {
                LastFixedTimeRun = run;
                ScheduledRun();
            }
        } else if (mode == SyncMode::Interval) {
            // The interval counts running time of its unit since the timer started, so every
            // N minutes, hours or days means every N of them; an interval that divides the
            // next unit (15 minutes, 6 hours) falls on the same ticks as the clock-face
            // counters. An interval that is not positive (only a hand-edited store holds one)
            // runs nothing.
            const std::uint64_t minutes = RunningMinutes();
            const auto due = IntervalRunAt(SyncUnit, SyncInterval, minutes, LastRunCounter);
            if (due && *due <= minutes) {
                LastRunCounter = minutes;
                LastIntervalRunUtc = nowUtc;
                ScheduledRun();
            }
        }
    } catch (const Exception& e) {
        WriteErrorLog("TfrmOptions::tGetTime()", e.Message());
    }
}

void TSyncEngine::ScheduledRun() {
    LastScheduledRunUtc = NowUtc();
    int resultKind = ekInformation;
    std::string resultText;
    SynchronizeTime(resultText, resultKind);
    ScheduledRunFailed = resultKind == ekError;
    AddProtocolEntry(resultText, resultKind);
}

FixedTimeSetting TSyncEngine::ReadFixedTime() {
    FixedTimeSetting fixed;
    fixed.hour = LocalOptions->Read(settings::Stunde);
    fixed.minute = LocalOptions->Read(settings::Minute);
    fixed.weekday = LocalOptions->Read(settings::Wochentag);
    return fixed;
}

bool TSyncEngine::MissedRun() {
    if (ScheduledRunFailed) {
        return true;
    }
    const TDateTime nowUtc = NowUtc();
    const std::optional<SyncMode> mode = ToSyncMode(LocalOptions->Read(settings::SyncModus));
    if (mode == SyncMode::FixedTime) {
        // Fixed times are times of the local clock.
        const std::optional<FixedTimeOccurrence> latest =
            LatestFixedTime(ReadFixedTime(), LocalFromUtc(nowUtc));
        return latest && latest->at > LocalFromUtc(LastTickUtc) && LastFixedTimeRun != latest->run;
    }
    if (mode == SyncMode::Interval) {
        // Whole minutes of real time, as the ticks count them (a change of summer time adds or
        // takes none); a clock set back gives a negative count.
        const double passed = std::floor((nowUtc - LastIntervalRunUtc) * kMinutesPerDay + 1e-6);
        const std::uint64_t running = RunningMinutes();
        return IntervalMissed(SyncUnit, SyncInterval, passed,
                              running - std::min(running, LastRunCounter));
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
            catchUpSince_ = NowUtc();
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
        if (LastScheduledRunUtc && *LastScheduledRunUtc >= since) {
            return; // a tick ran the schedule meanwhile
        }
        // The run counts for the schedule it stands in for, so the tick does not repeat it.
        const TDateTime nowUtc = NowUtc();
        const std::optional<SyncMode> mode = ToSyncMode(LocalOptions->Read(settings::SyncModus));
        if (mode == SyncMode::FixedTime) {
            if (const auto latest = LatestFixedTime(ReadFixedTime(), LocalFromUtc(nowUtc))) {
                LastFixedTimeRun = latest->run;
            }
        } else if (mode == SyncMode::Interval) {
            LastRunCounter = RunningMinutes();
            LastIntervalRunUtc = nowUtc;
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
    const THardwareClockOutcome outcome = CopyToHardwareClock(clock_);
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
            if (ToTimeUnit(unit)) {
                limit = std::int64_t{LocalOptions->Read(settings::MaxAbweichIntervall)} *
                        static_cast<std::int64_t>(UnitMinutes(unit));
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
            resultText = Format(LoadStr(1021),
                                FormatDateTime("dd.mm.yyyy, hh:mm:ss", LocalFromUtc(NowUtc())));
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

std::uint64_t TSyncEngine::RunningMinutes() const {
    return (std::uint64_t{DayCounter} * 24 + HourCounter) * 60 + MinuteCounter;
}

std::string TSyncEngine::NextRunText() {
    // The line is only information: whatever goes wrong in working it out (a value that no
    // date can hold, a store that cannot be read) is said on the line, never thrown.
    try {
        return ComputeNextRunText();
    } catch (const std::exception& e) {
        return std::string("next run: unknown: ") + e.what();
    }
}

std::string TSyncEngine::ComputeNextRunText() {
    if (!Configured) {
        return "next run: none: no server is configured (\"CurrentServer\")";
    }
    ScheduleView view;
    view.modus = LocalOptions->Read(settings::SyncModus);
    if (ToSyncMode(view.modus) == SyncMode::FixedTime) {
        view.fixed = ReadFixedTime();
    }
    view.unit = SyncUnit;
    view.interval = SyncInterval;
    view.runningMinutes = RunningMinutes();
    view.lastRunCounter = LastRunCounter;
    view.lastFixedTimeRun = LastFixedTimeRun;
    view.nowUtc = NowUtc();
    view.lastTickUtc = LastTickUtc > 0 ? LastTickUtc : view.nowUtc; // none before the start
    view.toLocal = LocalFromUtc;
    return NextRunLine(view);
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
