// The synchronisation engine: everything the main window does that is not a window.
//
// `TSyncEngine` owns what a synchronisation needs: the daytime client `NTP`, the dial-up
// binding `RasApi`, the per-user and machine-wide option stores, the event protocol, the
// scheduler timer `tGetTime` and the main window's flags and counters, each with its initial
// value. It carries the operations under the main window's names: the start-up steps
// (`CreateOptionStores`, `InitializeEngine`), the scheduler tick `tGetTimeTimer`, one run
// `SynchronizeTime`, the menu command `mnuSyncClick`, the daytime client's event handlers and
// the destruction `FormDestroy`. It also listens, through a `WakeWatcher`, for the machine
// waking up and the network coming back, and then starts a scheduled run that was missed
// meanwhile (`WakeEventReceived`, `tCatchUpTimer`, `MissedRun`). It talks to its host (the main
// window, or the headless program) only through `SyncHost`; the clock, the local "now", the dial-up
// layer and the service hand-over are injected, so every behaviour runs in tests without a display
// and without touching the real clock.
#pragma once

#include "diag/ProtocolList.h"
#include "dialup/RasApi.h"
#include "framework/DateTime.h"
#include "framework/Exception.h"
#include "framework/MessageBoxStyle.h"
#include "net/DayTime.h"
#include "platform/Clock.h"
#include "platform/TimeServices.h"
#include "platform/WakeWatcher.h"
#include "settings/Options.h"
#include "sync/Schedule.h"

#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kairelon {

KAIRELON_EXCEPTION(ERASConnectError, Exception);  // dialling was required and failed
KAIRELON_EXCEPTION(ETimeConvertError, Exception); // the server's reply did not convert

// What the engine asks of the window (or of the headless program) that hosts it.
class SyncHost {
public:
    virtual ~SyncHost() = default;
    // A protocol entry was added (`item`), or the protocol was cleared (null).
    virtual void ProtocolChanged(const ProtocolItem* item) = 0;
    // Enables or disables the dialog and its OK and Cancel buttons.
    virtual void SetDialogEnabled(bool enabled) = 0;
    // The running-time label, e.g. "0 Tage, 2 Stunden, 5 Minuten".
    virtual void SetUptimeCaption(const std::string& caption) = 0;
    // Shows a message box; true when a question was answered Yes (other boxes: true).
    virtual bool MessageBox(const std::string& text, const std::string& caption,
                            MessageBoxStyle style) = 0;
    // The menu command "Synchronisieren" is offered (true) or greyed out (false).
    virtual void SetSyncCommandEnabled(bool enabled) = 0;
    virtual void Beep() = 0;
};

class TSyncEngine {
public:
    // How the engine hands a new time to the clock-setting service (the product's hand-over
    // by default; tests may shorten its wait).
    // `trueAtNs`: the instant on the clock's monotonic clock at which `utc` is true.
    using HandOver =
        std::function<void(CGlobalOptions& options, const SYSTEMTIME& utc, std::int64_t trueAtNs)>;

    TSyncEngine(SyncHost& host, CClock& clock);
    ~TSyncEngine(); // runs FormDestroy when the host has not
    TSyncEngine(const TSyncEngine&) = delete;
    TSyncEngine& operator=(const TSyncEngine&) = delete;

    // Start-up, in this order: the stores, then the engine's part of the window's
    // initialisation (dial-up binding, time zone, server, time-out, schedule, timer, 1029).
    void CreateOptionStores();
    void InitializeEngine();
    // The same start-up in two parts, for the options dialog, whose own steps (lists, server
    // list, time-zone page, phonebook list, settings) come between them: the dial-up binding
    // with its protocol entries, then server, time-out, schedule, running time, timer and 1029.
    // The dialog shows the time-zone page and its warning itself.
    void InitializeDialUp();
    void InitializeSchedule();
    // The values the engine keeps outside the store, taken from it: the server ("--server"
    // before "CurrentServer") into the daytime client's host, "Timeout" into its time-out
    // (milliseconds; a value that is not positive counts as the default 10000, as the client
    // takes 0 as "no limit"), "Intervall" into SyncInterval and "Einheit" into SyncUnit.
    // Start-up and the dialog's apply step both take them through here. Returns the server
    // ("" when none is set; the host is then left as it was).
    std::string ApplyStoredOptions();
    // The dialog's apply step after a successful save: the scheduler timer stopped,
    // ApplyStoredOptions, the sync command offered, Configured set, the timer started again
    // (a full period begins).
    void ApplyDialogOptions();
    // Destruction: Closing, timer off, stores and dial-up binding released.
    void FormDestroy();

    void tGetTimeTimer();
    // What the scheduler will do, as one line for a person ("next run: ..."): the local date
    // and time of the next run, worked out with the tick's own rules from "now" and the
    // running time so far, or why nothing will ever run (no server, or "SyncModus",
    // "Einheit", "Intervall" or the fixed time holding a value that never runs, or whose
    // next run would come after the calendar's end, 31.12.9999). Never throws.
    std::string NextRunText();

    // Catch-up after sleep or a network return. Every report of the watcher that finds a
    // missed run (and every report while one is pending) restarts the single-shot timer
    // `tCatchUp`, so a burst of reports starts one run; when it fires, the missed run starts
    // through the tick's path (Busy, protocol, error log), unless "NachholenNachStandby" is
    // off or a scheduled run has started since. Nothing happens while the scheduler timer is
    // off.
    void WakeEventReceived(WakeEvent event);
    void tCatchUpTimer();
    // The scheduler's judgement at NowUtc(): a scheduled run is owed. Fixed time: the
    // latest fixed time on a matching day passed after the last handled tick and has not run.
    // Interval: in real time (UTC, so a change of summer time adds or takes nothing) the
    // interval since the last interval run (or the start of the schedule) ran out while the
    // counted running time has not. Either mode: the last
    // scheduled run ended in an error (the network was gone, for example).
    bool MissedRun();
    void UpdateUptimeLabel(std::uint32_t days, std::uint32_t hours, std::uint32_t minutes);

    // One run; every failure of the framework's exception family becomes the result.
    void SynchronizeTime(std::string& resultText, int& resultKind);
    void SetDialogEnabled(bool enabled);
    // The menu command; false (and a beep) when a run is already in progress.
    bool mnuSyncClick();
    // Kind of the result the last menu command added; empty before one did, or when its run
    // failed outside the run's own handling (then the error log has the reason).
    std::optional<int> LastResultKind;

    void NTPConnect(TObject* Sender);
    void NTPDisconnect(TObject* Sender);
    void NTPInvalidHost(bool& Handled);

    void AddProtocolEntry(const std::string& text, int kind);

    // Points the daytime client at a server ("host" or "host:port").
    void SetServer(const std::string& server);

    // The main window's fields, with their initial values.
    std::unique_ptr<CRasApi> RasApi;
    bool RasAvailable = false;
    bool TimeServerConnected = false;
    bool Busy = false;
    bool Closing = false;
    std::unique_ptr<CLocalOptions> LocalOptions;
    std::unique_ptr<CGlobalOptions> GlobalOptions;
    std::int32_t SyncUnit = 1;     // as stored: a TimeUnit (sync/Schedule.h) or any other value
    std::int32_t SyncInterval = 0; // in SyncUnit
    std::uint32_t MinuteCounter = 0;
    std::uint32_t HourCounter = 0;
    std::uint32_t DayCounter = 0;
    std::uint64_t RunningMinutes() const; // the three counters as minutes
    // Running minutes at the last interval run (0: none yet), so a unit that spans many ticks
    // runs once per due count, whatever unit ran before.
    std::uint64_t LastRunCounter = 0;
    std::optional<FixedTimeRun> LastFixedTimeRun; // the last fixed-time run (sync/Schedule.h)
    bool Configured = false;

    // The scheduler's memory for the catch-up, in UTC: the last handled tick (or the
    // start of the schedule), the last interval run (or the start), the start of the last
    // scheduled run, and whether that run ended in an error.
    TDateTime LastTickUtc = 0;
    TDateTime LastIntervalRunUtc = 0;
    std::optional<TDateTime> LastScheduledRunUtc;
    bool ScheduledRunFailed = false;

    TNMDayTime NTP;
    TProtocolList Protocol;
    QTimer tGetTime; // 60 000 ms scheduler tick
    QTimer tCatchUp; // single shot, 5000 ms after the last report of the wake watcher
    std::unique_ptr<WakeWatcher> Wake;

    // Seams, set before start-up.
    // "Now" in UTC and the local time zone: the interval counts real time, the fixed time and
    // the "next run" line speak local time (summer time included).
    std::function<TDateTime()> NowUtc = [] { return kairelon::NowUtc(); };
    std::function<TDateTime(TDateTime)> LocalFromUtc = UtcToLocal;
    RasLayerLoader RasLoader;     // null: the system's dial-up layer
    WakeWatcherLoader WakeLoader; // null: the system's wake watcher
    HandOver HandOverToServiceFn; // null: the product's hand-over
    // Start-up looks for another time service keeping the clock (platform/TimeServices.h) and
    // says so; null: it does not look (the programs set the system's probe).
    TimeServiceProbe TimeServiceCheck;
    std::optional<std::string> ServerOverride; // "--server": used instead of "CurrentServer"
    // Dry run: neither route changes anything. The run says on the debugger output which
    // route it would take: the direct one then asks the (dry-run) clock, which says what it
    // would set; the service route names the time it would hand over.
    bool DryRun = false;

private:
    std::string ComputeNextRunText();
    // Sets the clock (or hands the time over) to the estimate `trueAtReceipt` (FILETIME ticks,
    // see sync/TimeConversion.h), true at the monotonic moment `receivedNs`, moved on by what
    // passed since.
    void SetClock(std::int64_t trueAtReceipt, std::int64_t receivedNs, bool useService);
    // After the direct route set the clock: the RTC too; a failure is one protocol warning.
    void WriteHardwareClockAfterSet();
    // Starts the scheduler timer; the first start also fixes the start of the schedule and
    // starts the wake watcher.
    void StartScheduler();
    // One scheduled run with its result entry, for the tick and the catch-up (Busy is set).
    void ScheduledRun();
    // "Stunde", "Minute" and "Wochentag" from the store.
    FixedTimeSetting ReadFixedTime();

    SyncHost& host_;
    CClock& clock_;
    bool scheduleStarted_ = false;
    std::optional<TDateTime> catchUpSince_; // a missed run was found then and waits
};

// String-table numbers of the engine's own texts: the hardware clock could not be written
// (device, system error text); another time service keeps the clock (its name).
inline constexpr int HardwareClockFailedText = 4201;
inline constexpr int OtherTimeServiceText = 4200;

// The exit status of a run's result kind for scripts: 0 information, 1 warning, 2 error.
int ExitStatusOfKind(int kind);

} // namespace kairelon
