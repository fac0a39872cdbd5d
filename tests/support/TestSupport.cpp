#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>

#include <cstdlib>

namespace kairelon::test {

IsolatedHome::IsolatedHome() {
    QDir(dir_.path()).mkpath(QStringLiteral("registry"));
    setenv("KAIRELON_REGISTRY_DIR", RegistryDir().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Path() + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (Path() + "/state").c_str(), 1);
}

IsolatedHome::~IsolatedHome() {
    unsetenv("KAIRELON_REGISTRY_DIR");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
}

std::string IsolatedHome::Path() const {
    return dir_.path().toStdString();
}

std::string IsolatedHome::RegistryDir() const {
    return Path() + "/registry";
}

std::string BuiltProgram(const std::string& name) {
    return std::string(KAIRELON_BUILD_DIR) + "/src/" + name;
}

ProgramResult RunProgram(const std::string& name, const QStringList& args, int timeoutMs) {
    QProcess process;
    process.start(QString::fromStdString(BuiltProgram(name)), args);
    ProgramResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

} // namespace kairelon::test
