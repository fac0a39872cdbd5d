#include "daemons/ClockServiceProgram.h"
#include "platform/InstanceLock.h"
#include "platform/NamedEvent.h"
#include "support/EventPrefix.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace kairelon {
namespace {

class ClockServiceProgramInProcess : public testing::Test {
protected:
    void SetUp() override {
        // The service's lock in a folder of the test's own, never /run/kairelon.
        setenv("KAIRELON_RUNTIME_DIR", (home_.Path() + "/run").c_str(), 1);
    }
    void TearDown() override { unsetenv("KAIRELON_RUNTIME_DIR"); }

    int Main(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        return ClockServiceMain(static_cast<int>(argv.size()), argv.data(),
                                [this](const std::string& line) { log_ += line + "\n"; });
    }

    test::IsolatedHome home_;
    test::UniqueEventPrefix events_;
    std::string log_;
};

TEST_F(ClockServiceProgramInProcess, ASecondServiceNamesTheFirstAndDoesNotStart) {
    const TInstanceLock first = TInstanceLock::Acquire(ServiceLockPath(), true, 0644);
    ASSERT_TRUE(first.Held());
    EXPECT_EQ(Main({"kairelon-clockd", "--dry-run"}), 1);
    EXPECT_NE(log_.find("another kairelon-clockd (process " + std::to_string(getpid()) + ")"),
              std::string::npos)
        << log_;
    EXPECT_FALSE(std::filesystem::exists("/dev/shm/sem." + EventObjectName(SyncBeginEventName)));
}

TEST_F(ClockServiceProgramInProcess, EachStopSignalEndsTheServiceInOrderAndRemovesItsEvents) {
    // Each case runs in a process of its own, as the signal stays noted for the process.
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signalNumber);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::thread([signalNumber] {
                // The lock is taken after the handlers are in place.
                while (!std::filesystem::exists(ServiceLockPath()))
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                ::kill(getpid(), signalNumber);
            }).detach();
            const int status = Main({"kairelon-clockd", "--dry-run"});
            const bool removed =
                !std::filesystem::exists("/dev/shm/sem." + EventObjectName(SyncBeginEventName));
            _exit(status == 0 && removed ? 0 : 10 + status);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

TEST_F(ClockServiceProgramInProcess, CommandLine) {
    EXPECT_EQ(Main({"kairelon-clockd", "--version"}), 0);
    EXPECT_EQ(Main({"kairelon-clockd", "--help"}), 0);
    EXPECT_EQ(Main({"kairelon-clockd", "--now"}), 64);
}

} // namespace
} // namespace kairelon
