// Helpers shared by the tests: temporary folders that redirect every file the program
// writes (registry, error log, state) away from the user's real settings, and the paths of
// the built programs for whole-program tests.
#pragma once

#include <QStringList>
#include <QTemporaryDir>

#include <string>

namespace kairelon::test {

// A temporary folder that KAIRELON_REGISTRY_DIR, XDG_CONFIG_HOME and XDG_STATE_HOME point to
// while the object lives.
class IsolatedHome {
public:
    IsolatedHome();
    ~IsolatedHome();
    IsolatedHome(const IsolatedHome&) = delete;
    IsolatedHome& operator=(const IsolatedHome&) = delete;

    std::string Path() const;
    std::string RegistryDir() const;

private:
    QTemporaryDir dir_;
};

std::string BuiltProgram(const std::string& name); // path of an executable of this build

struct ProgramResult {
    int exitCode = -1; // -1 when the program did not finish in time or crashed
    std::string out;
    std::string err;
};

// Runs a program of this build to its end (killed after timeoutMs) in the current
// environment.
ProgramResult RunProgram(const std::string& name, const QStringList& args, int timeoutMs = 30000);

} // namespace kairelon::test
