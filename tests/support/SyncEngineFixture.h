// A synchronisation engine for tests: a temporary registry folder, a fake clock, a fake
// dial-up layer and a host that records everything the engine shows, so a test reads like
// what a user would see in the protocol list.
#pragma once

#include "support/EventPrefix.h"
#include "support/FakeRasLayer.h"
#include "support/TestSupport.h"

#include "framework/DateTime.h"
#include "framework/Format.h"
#include "platform/Clock.h"
#include "settings/Options.h"
#include "sync/SyncEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kairelon::test {

class RecordingHost : public SyncHost {
public:
    void ProtocolChanged(const ProtocolItem* item) override {
        if (item != nullptr) {
            entries.push_back(std::to_string(item->kind) + "|" + item->text);
        }
    }
    void SetDialogEnabled(bool enabled) override { dialogStates.push_back(enabled); }
    void SetUptimeCaption(const std::string& caption) override { uptime.push_back(caption); }
    bool MessageBox(const std::string& text, const std::string& caption, MessageBoxStyle) override {
        boxes.push_back(caption + ": " + text);
        return true;
    }
    void SetSyncCommandEnabled(bool enabled) override { syncCommandEnabled = enabled; }
    void Beep() override { ++beeps; }

    std::vector<std::string> Entries() const { return entries; }
    void Reset() {
        entries.clear();
        dialogStates.clear();
        uptime.clear();
        boxes.clear();
        beeps = 0;
    }

    std::vector<std::string> entries; // "kind|text"
    std::vector<bool> dialogStates;
    std::vector<std::string> uptime;
    std::vector<std::string> boxes; // "caption: text"
    bool syncCommandEnabled = true;
    int beeps = 0;
};

// A daytime reply in the fixed columns the client reads, for `utc` moved by `offsetSeconds`,
// as a server in that layout sends it: a time on the whole second is stated with an advance
// of 50.0 ms (the line left 50 ms before it), any other the next whole second with the time
// until then as the advance, so the run sets exactly that time.
inline std::string DaytimeLine(const SYSTEMTIME& utc, int offsetSeconds) {
    SYSTEMTIME whole = utc;
    whole.wMilliseconds = 0;
    TDateTime t = SystemTimeToDateTime(whole) + offsetSeconds / 86400.0;
    const int advanceMs = utc.wMilliseconds == 0 ? 50 : 1000 - utc.wMilliseconds;
    if (utc.wMilliseconds != 0) {
        t += 1.0 / 86400.0;
    }
    const DecodedDateTime d = DecodeDateTime(t);
    const int mjd = static_cast<int>(t) + 15018; // 1899-12-30 is day 15018 of the MJD count
    return Format("%d %.2d-%.2d-%.2d %.2d:%.2d:%.2d 00 0 0 %3d.0 UTC(KA) *", mjd, d.year % 100,
                  d.month, d.day, d.hour, d.minute, d.second, advanceMs);
}

// Puts the process in a time zone (a TZ value such as "Europe/Berlin") while it lives.
class ZoneScope {
public:
    explicit ZoneScope(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneScope() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::optional<std::string> saved_;
};

class SyncEngineFixture : public ::testing::Test {
protected:
    SyncEngineFixture() { local_.Open(); }

    // The per-user store as a second handle on the same file, for arranging settings.
    CLocalOptions& Local() { return local_; }

    // Creates the engine and runs its start-up.
    void StartUp() {
        engine = std::make_unique<TSyncEngine>(host, *clock);
        engine->RasLoader = rasLoader;
        engine->WakeLoader = wakeLoader;
        engine->NowUtc = [this] { return localNow; };
        engine->LocalFromUtc = localFromUtc;
        engine->TimeServiceCheck = timeServices;
        engine->CreateOptionStores();
        engine->InitializeEngine();
    }

    IsolatedHome home;
    UniqueEventPrefix events; // the service route never meets a real service
    std::unique_ptr<CFakeClock> clock = std::make_unique<CFakeClock>();
    std::shared_ptr<FakeRasState> ras = std::make_shared<FakeRasState>();
    RasLayerLoader rasLoader = FakeRasLoader(ras);
    // The wake watcher's reports come from the test (the system's watcher listens on the bus).
    WakeListener wakeListener;
    WakeWatcherLoader wakeLoader = [this](WakeListener listener) {
        wakeListener = std::move(listener);
        return std::make_unique<WakeWatcher>();
    };
    // What start-up finds of other time services (the system is never asked).
    TimeServiceProbe timeServices = [] { return std::string(); };
    // "Now"; the tests' zone is UTC unless a test chooses another, so it is local time too.
    TDateTime localNow = EncodeDateTime(2026, 1, 1, 13, 0, 0, 0);
    std::function<TDateTime(TDateTime)> localFromUtc = [](TDateTime utc) { return utc; };
    RecordingHost host;
    std::unique_ptr<TSyncEngine> engine;

private:
    CLocalOptions local_;
};

} // namespace kairelon::test
