#include "daemons/ClockService.h"

#include "framework/Exception.h"
#include "framework/Format.h"
#include "platform/SystemError.h"
#include "settings/Options.h"

#include <grp.h>

#include <optional>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

namespace kairelon {
namespace {

// "ea,07,0c,00" as the registry file shows binary data; "(missing)" for none. A value longer
// than `expected` bytes shows only its first ones and its size: any member of the group may
// write it, and the log is root's.
std::string HexBytes(const std::vector<std::uint8_t>& bytes, std::size_t expected) {
    if (bytes.empty()) {
        return "(missing)";
    }
    std::string text;
    const std::size_t shown = std::min(bytes.size(), expected);
    for (std::size_t i = 0; i < shown; ++i) {
        text += Format(text.empty() ? "%.2x" : ",%.2x", bytes[i]);
    }
    if (bytes.size() > expected) {
        text += ",... (" + std::to_string(bytes.size()) + " bytes in all)";
    }
    return text;
}

constexpr int kStopLookMs = 250;
constexpr auto kMendLogInterval = std::chrono::minutes(1);
constexpr double kMsPerDay = 86400000.0;
// How far the service's reading may lie before the program's and still count as the same
// moment: the two round their time of day independently.
constexpr double kEarlyToleranceMs = 1000.0;

std::uint16_t Word(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

} // namespace

std::string CheckNewTime(const std::vector<std::uint8_t>& bytes, SYSTEMTIME& utc) {
    if (bytes.empty()) {
        return "\"NewTime\" is missing";
    }
    if (bytes.size() != sizeof(SYSTEMTIME)) {
        return Format("\"NewTime\" has %d bytes instead of 16", static_cast<int>(bytes.size()));
    }
    const SYSTEMTIME st{Word(bytes, 0), Word(bytes, 1), Word(bytes, 2), Word(bytes, 3),
                        Word(bytes, 4), Word(bytes, 5), Word(bytes, 6), Word(bytes, 7)};
    const std::string fields = SystemTimeText(st) + Format(" (day of week %d)", st.wDayOfWeek);
    FILETIME ft;
    if (!SystemTimeToFileTime(st, ft)) {
        return "\"NewTime\" " + fields + " is no real date and time";
    }
    if (st.wYear < 1970) {
        return "\"NewTime\" " + fields + " lies before 1970";
    }
    if (st.wDayOfWeek != 0) {
        return "\"NewTime\" " + fields + " is not as the program writes it (day of week 0)";
    }
    utc = st;
    return {};
}

namespace {

std::int64_t Int64At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        raw |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
    }
    return static_cast<std::int64_t>(raw);
}

// How far the program's instant may lie ahead of the service's reading: the two read one
// clock of the machine, but the program names the instant of a whole millisecond, which may
// come up to half a millisecond after its own reading.
constexpr std::int64_t kBootAheadToleranceNs = 1000000;

} // namespace

std::string CheckNewTimeBoot(const std::vector<std::uint8_t>& bytes,
                             const std::vector<std::uint8_t>& oldTimeUtc, std::int64_t nowNs,
                             std::optional<std::int64_t>& elapsedNs) {
    elapsedNs.reset();
    if (bytes.empty()) {
        return {}; // as older programs hand over: the time as it stands
    }
    if (bytes.size() != 16) {
        return Format("\"NewTimeBoot\" has %d bytes instead of 16", static_cast<int>(bytes.size()));
    }
    if (oldTimeUtc.size() != 8 || Int64At(bytes, 8) != Int64At(oldTimeUtc, 0)) {
        return {}; // left by an earlier hand-over: this one did not write it
    }
    const std::int64_t instant = Int64At(bytes, 0);
    // Compared without a signed overflow: the instant may hold any 64-bit value.
    const double apartMs = (static_cast<double>(nowNs) - static_cast<double>(instant)) / 1e6;
    if (instant > nowNs + kBootAheadToleranceNs) {
        return Format("\"NewTimeBoot\" lies %.3f ms ahead of the service's boot-time clock",
                      -apartMs);
    }
    if (apartMs > MaxHandOverAgeMs) {
        return Format("the hand-over is stale: \"NewTime\" was true %.1f s ago (more than %d s)",
                      apartMs / 1000.0, MaxHandOverAgeMs / 1000);
    }
    elapsedNs = nowNs - instant;
    return {};
}

SYSTEMTIME MovedOn(const SYSTEMTIME& utc, std::int64_t elapsedNs) {
    FILETIME ft;
    if (!SystemTimeToFileTime(utc, ft)) {
        return utc;
    }
    constexpr std::uint64_t kTicksPerMs = 10000;
    // A few hundred microseconds back (an instant named ahead) are as exact as ahead.
    const std::uint64_t exact = FileTimeToUInt64(ft) + static_cast<std::uint64_t>(elapsedNs / 100);
    const std::uint64_t rounded = (exact + kTicksPerMs / 2) / kTicksPerMs * kTicksPerMs;
    SYSTEMTIME moved;
    FileTimeToSystemTime(
        FILETIME{static_cast<std::uint32_t>(rounded), static_cast<std::uint32_t>(rounded >> 32)},
        moved);
    moved.wDayOfWeek = 0;
    return moved;
}

std::string CheckHandOverAge(const std::vector<std::uint8_t>& bytes, TDateTime nowTimeOfDay) {
    if (bytes.empty()) {
        return "\"OldTime\" is missing";
    }
    if (bytes.size() != sizeof(double)) {
        return Format("\"OldTime\" has %d bytes instead of 8", static_cast<int>(bytes.size()));
    }
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        raw |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    }
    double old = 0;
    std::memcpy(&old, &raw, sizeof old);
    if (!std::isfinite(old) || old < 0.0 || old >= 1.0) {
        return "\"OldTime\" is no time of day";
    }
    double ageMs = (nowTimeOfDay - old) * kMsPerDay;
    if (ageMs < -kEarlyToleranceMs) {
        ageMs += kMsPerDay; // written before midnight, read after it
    }
    if (ageMs > MaxHandOverAgeMs) {
        return Format("the hand-over is stale: \"OldTime\" lies %.1f s back (more than %d s; "
                      "the program and the service must use the same time zone)",
                      ageMs / 1000.0, MaxHandOverAgeMs / 1000);
    }
    return {};
}

std::string CheckHandOverAgeUtc(const std::vector<std::uint8_t>& bytes, std::int64_t nowUtcMs) {
    if (bytes.empty()) {
        return "\"OldTimeUtc\" is missing";
    }
    if (bytes.size() != sizeof(std::int64_t)) {
        return Format("\"OldTimeUtc\" has %d bytes instead of 8", static_cast<int>(bytes.size()));
    }
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        raw |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    }
    const auto stamp = static_cast<std::int64_t>(raw);
    // The stamp may hold any 64-bit value: compared without a signed overflow.
    const double apartSeconds =
        (static_cast<double>(nowUtcMs) - static_cast<double>(stamp)) / 1000.0;
    if (stamp > nowUtcMs &&
        static_cast<std::uint64_t>(stamp) - static_cast<std::uint64_t>(nowUtcMs) >
            static_cast<std::uint64_t>(kEarlyToleranceMs)) {
        return Format("\"OldTimeUtc\" lies %.1f s ahead of the service's clock", -apartSeconds);
    }
    if (stamp < nowUtcMs - MaxHandOverAgeMs) {
        return Format("the hand-over is stale: \"OldTimeUtc\" lies %.1f s back (more than %d s)",
                      apartSeconds, MaxHandOverAgeMs / 1000);
    }
    return {};
}

std::string CheckHandOverAge(const THandOverValues& values, std::int64_t nowUtcMs,
                             TDateTime nowTimeOfDay) {
    if (!values.OldTimeUtc.empty()) {
        return CheckHandOverAgeUtc(values.OldTimeUtc, nowUtcMs);
    }
    return CheckHandOverAge(values.OldTime, nowTimeOfDay);
}

namespace {

// A binary value as it stands; empty when missing. Raises the store's exception when the
// value has another type or cannot be read.
std::vector<std::uint8_t> ReadBinary(TRegistry& store, const char* name) {
    if (!store.ValueExists(name)) {
        return {};
    }
    const int size = store.GetDataSize(name);
    if (size <= 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    const int read = store.ReadBinaryData(name, bytes.data(), size);
    bytes.resize(static_cast<std::size_t>(read));
    return bytes;
}

} // namespace

THandOverValues ReadHandOverValues() {
    // Opened without creating anything: the service only reads the machine-wide store.
    CGlobalOptions store;
    store.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!store.OpenKey(kOptionsKey, false)) {
        throw ERegistryException(std::string("the key \"") + kOptionsKey + "\" is missing");
    }
    return THandOverValues{ReadBinary(store, kNewTimeValue), ReadBinary(store, kOldTimeValue),
                           ReadBinary(store, kOldTimeUtcValue),
                           ReadBinary(store, kNewTimeBootValue)};
}

long ServiceGroupId() {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r("kairelon", &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return -1;
    }
    return static_cast<long>(found->gr_gid);
}

CClockService::CClockService(CClock& clock, Log log, ReadValues read, LocalTimeOfDay timeOfDay,
                             UtcNowMs utcNow)
    : clock_(clock), log_(std::move(log)), read_(std::move(read)), timeOfDay_(std::move(timeOfDay)),
      utcNow_(std::move(utcNow)) {
    if (!read_) {
        read_ = ReadHandOverValues;
    }
    if (!timeOfDay_) {
        timeOfDay_ = [] { return Time(); };
    }
    if (!utcNow_) {
        utcNow_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
    }
}

CClockService::~CClockService() {
    Stop();
}

bool CClockService::CreateEvents() {
    const std::pair<const char*, TNamedEvent*> events[] = {{SyncBeginEventName, &begin_},
                                                           {SyncDoneEventName, &done_},
                                                           {SyncRefusedEventName, &refused_}};
    for (const auto& [name, event] : events) {
        event->RemoveCreated(name);
        *event = TNamedEvent::Create(name, groupId_);
    }
    for (const auto& [name, event] : events) {
        if (!event->IsOpen()) {
            log_("cannot create the event " + EventObjectName(name) + ": " +
                 SystemErrorText(static_cast<std::uint32_t>(event->Error())));
            // Leave nothing behind that a program could take for a running service.
            for (const auto& [otherName, other] : events) {
                other->RemoveCreated(otherName);
                other->Close();
            }
            return false;
        }
    }
    return true;
}

bool CClockService::Start(long groupId) {
    groupId_ = groupId;
    if (!CreateEvents()) {
        return false;
    }
    started_ = true;
    log_(Format("ready: events %s and %s, %s", EventObjectName(SyncBeginEventName),
                EventObjectName(SyncDoneEventName),
                groupId < 0 ? std::string("for its owner alone (no group \"kairelon\")")
                            : Format("for the group with id %d", groupId)));
    return true;
}

bool CClockService::MendEvents() {
    if (!started_) {
        return true;
    }
    const std::pair<const char*, TNamedEvent*> events[] = {{SyncBeginEventName, &begin_},
                                                           {SyncDoneEventName, &done_},
                                                           {SyncRefusedEventName, &refused_}};
    std::string damage;
    for (const auto& [name, event] : events) {
        if (event->IsOpen() && event->Healthy()) {
            continue;
        }
        const int error = event->Error();
        damage += (damage.empty() ? "" : ", ") + EventObjectName(name) +
                  (error == EIO      ? " was cut short"
                   : error == ENOENT ? " was removed"
                   : error == EEXIST ? " was replaced"
                   : error == EINVAL ? " holds foreign content"
                                     : " is missing");
    }
    if (damage.empty()) {
        return true;
    }
    if (!CreateEvents()) {
        LogMend("the events are damaged (" + damage + ") and cannot be made anew; trying again");
        return false;
    }
    LogMend("the events are damaged (" + damage + "): made anew");
    return true;
}

void CClockService::LogMend(const std::string& line) {
    const auto now = std::chrono::steady_clock::now();
    if (mendLogged_ && now - lastMendLog_ < kMendLogInterval) {
        ++unloggedMends_;
        return;
    }
    log_(unloggedMends_ == 0
             ? line
             : line + Format(" (and %d times more since the last report)", unloggedMends_));
    mendLogged_ = true;
    lastMendLog_ = now;
    unloggedMends_ = 0;
}

bool CClockService::ServeOnce(int waitMs) {
    if (begin_.Wait(waitMs) != TWaitResult::Signalled) {
        return false;
    }
    begin_.Reset(); // several signals before we woke ask for one hand-over
    HandOver();
    return true;
}

void CClockService::Run(const std::function<bool()>& stopRequested) {
    while (!stopRequested()) {
        if (!MendEvents()) {
            // Without events there is nothing to wait on: wait the slice before trying again.
            std::this_thread::sleep_for(std::chrono::milliseconds(kStopLookMs));
            continue;
        }
        ServeOnce(kStopLookMs);
    }
}

void CClockService::Stop() {
    if (started_) {
        // Only the events this service made: names another has made anew since are theirs.
        int removed = 0;
        removed += begin_.RemoveCreated(SyncBeginEventName) ? 1 : 0;
        removed += done_.RemoveCreated(SyncDoneEventName) ? 1 : 0;
        removed += refused_.RemoveCreated(SyncRefusedEventName) ? 1 : 0;
        started_ = false;
        log_(removed == 3 ? "stopped: events removed"
                          : "stopped: events removed where they were still this service's");
    }
    begin_.Close();
    done_.Close();
    refused_.Close();
}

void CClockService::WriteHardwareClockAfterSet() {
    const THardwareClockOutcome outcome = CopyToHardwareClock(clock_);
    if (outcome.error != 0) {
        // The system clock is set; only the next boot may start from an older time.
        log_("the clock is set, but the hardware clock " + outcome.device +
             " cannot be: " + SystemErrorText(static_cast<std::uint32_t>(outcome.error)));
    }
}

THandOverOutcome CClockService::Refuse(THandOverOutcome outcome, const std::string& reason) {
    log_("refused: " + reason);
    // The refusal first: once done is set the program looks for it.
    if (!refused_.Set()) {
        log_("the refusal cannot be signalled (" +
             SystemErrorText(static_cast<std::uint32_t>(refused_.Error())) +
             "): the program waits for its time-out");
        return outcome;
    }
    if (!done_.Set()) {
        log_("the refusal cannot be signalled (" +
             SystemErrorText(static_cast<std::uint32_t>(done_.Error())) +
             "): the program waits for its time-out");
    }
    return outcome;
}

THandOverOutcome CClockService::HandOver() {
    THandOverValues values;
    try {
        values = read_();
    } catch (const std::exception& e) {
        return Refuse(THandOverOutcome::Failed,
                      std::string("the machine-wide store cannot be read: ") + e.what());
    }
    log_("hand-over: \"NewTime\" " + HexBytes(values.NewTime, sizeof(SYSTEMTIME)) +
         ", \"OldTime\" " + HexBytes(values.OldTime, sizeof(double)) + ", \"OldTimeUtc\" " +
         HexBytes(values.OldTimeUtc, sizeof(std::int64_t)) +
         (values.NewTimeBoot.empty() ? std::string()
                                     : ", \"NewTimeBoot\" " + HexBytes(values.NewTimeBoot, 16)));
    SYSTEMTIME stated;
    std::optional<std::int64_t> since;
    const std::int64_t checkedNs = clock_.MonotonicNs();
    std::string reason = CheckNewTime(values.NewTime, stated);
    if (reason.empty()) {
        reason = CheckHandOverAge(values, utcNow_(), timeOfDay_());
    }
    if (reason.empty()) {
        reason = CheckNewTimeBoot(values.NewTimeBoot, values.OldTimeUtc, checkedNs, since);
    }
    if (!reason.empty()) {
        return Refuse(THandOverOutcome::Refused, reason);
    }
    // "NewTime" was true at its instant: what passed since is added just before the set.
    if (since) {
        *since += clock_.MonotonicNs() - checkedNs;
    }
    const SYSTEMTIME utc = since ? MovedOn(stated, *since) : stated;
    const int error = clock_.SetSystemTime(utc);
    if (error != 0) {
        return Refuse(THandOverOutcome::Failed,
                      "the clock cannot be set to " + SystemTimeText(utc) +
                          " UTC: " + SystemErrorText(static_cast<std::uint32_t>(error)));
    }
    if (!done_.Set()) {
        log_(SystemTimeText(utc) + " UTC handed to the clock, but the done event cannot be set: " +
             SystemErrorText(static_cast<std::uint32_t>(done_.Error())));
        return THandOverOutcome::Failed;
    }
    log_("confirmed: " + SystemTimeText(utc) + " UTC handed to the clock" +
         (since ? Format(" (\"NewTime\" %s and %.3f ms since it was true)", SystemTimeText(stated),
                         static_cast<double>(*since) / 1e6)
                : std::string()));
    WriteHardwareClockAfterSet();
    return THandOverOutcome::Confirmed;
}

} // namespace kairelon
