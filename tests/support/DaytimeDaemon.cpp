#include "support/DaytimeDaemon.h"

#include "support/TestSupport.h"

#include <signal.h>

#include <regex>

namespace kairelon::test {

DaytimeDaemon::DaytimeDaemon(const QStringList& extra) {
    process_.start(QString::fromStdString(BuiltProgram("kairelon-daytimed")),
                   QStringList{"--bind", "127.0.0.1", "--port", "0"} + extra);
    if (process_.waitForStarted(10000) && process_.waitForReadyRead(10000)) {
        firstLine_ = process_.readLine().toStdString();
        static const std::regex serving(R"(^kairelon-daytimed: serving on 127\.0\.0\.1:(\d+)\n$)");
        std::smatch m;
        if (std::regex_match(firstLine_, m, serving)) {
            port_ = std::stoi(m[1]);
        }
    }
}

DaytimeDaemon::~DaytimeDaemon() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

int DaytimeDaemon::StopWith(int signalNumber, std::string* output) {
    ::kill(static_cast<pid_t>(process_.processId()), signalNumber);
    if (!process_.waitForFinished(10000) || process_.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    if (output != nullptr) {
        *output = process_.readAllStandardOutput().toStdString();
    }
    return process_.exitCode();
}

} // namespace kairelon::test
