// The machine-wide store as a run meets it: what a start and a dry run leave behind, and what
// the user reads when the hand-over cannot be written.
#include "support/LoopbackServer.h"
#include "support/SyncEngineFixture.h"

#include "framework/Format.h"
#include "framework/StringTable.h"
#include "platform/DebugOutput.h"
#include "settings/SettingsTable.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kairelon::test {
namespace {

class MachineWideStore : public SyncEngineFixture {
protected:
    void ServeLine() {
        server_ = std::make_unique<LoopbackServer>(
            LoopbackServer::SendAndClose(DaytimeLine(clock->GetSystemTime(), 5)));
        Local().Write(settings::CurrentServer, "127.0.0.1:" + std::to_string(server_->Port()));
    }
    bool MachineWideFilesExist() const {
        return std::filesystem::exists(home.RegistryDir() + "/system.reg") ||
               std::filesystem::exists(home.RegistryDir() + "/system.reg.lock");
    }

    std::unique_ptr<LoopbackServer> server_;
};

TEST_F(MachineWideStore, AStartAndADryRunWriteNothingThere) {
    ServeLine();
    StartUp();
    EXPECT_FALSE(MachineWideFilesExist()) << "the start wrote into the machine-wide folder";
    engine->DryRun = true;
    const DebugOutputSink previous = SetDebugOutputSink([](const std::string&) {});
    for (const bool useService : {false, true}) {
        SCOPED_TRACE(useService);
        Local().Write(settings::UseService, useService);
        engine->mnuSyncClick();
        EXPECT_EQ(engine->LastResultKind, 1);
        ServeLine();
        engine->SetServer("127.0.0.1:" + std::to_string(server_->Port()));
    }
    SetDebugOutputSink(previous);
    EXPECT_FALSE(MachineWideFilesExist()) << "the dry run wrote into the machine-wide folder";
}

TEST_F(MachineWideStore, ARefusedHandOverNamesTheFileAndTheReason) {
    ServeLine();
    Local().Write(settings::UseService, true);
    const std::string lockPath = home.RegistryDir() + "/system.reg.lock";
    std::filesystem::create_directory(lockPath); // no lock can be taken
    StartUp();
    engine->mnuSyncClick();
    const std::string last = host.Entries().back();
    EXPECT_EQ(last, "3|" + Format(LoadStr(1052), "Failed to set data for 'NewTime' (Cannot lock "
                                                 "the registry file '" +
                                                     lockPath + "': Is a directory)"));
    EXPECT_TRUE(clock->SetCalls().empty());
}

} // namespace
} // namespace kairelon::test
