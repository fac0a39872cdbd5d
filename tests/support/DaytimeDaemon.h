// A running kairelon-daytimed on 127.0.0.1 and a port the system chose, for whole-program
// tests; killed when the object goes.
#pragma once

#include <QProcess>
#include <QStringList>

#include <string>

namespace kairelon::test {

class DaytimeDaemon {
public:
    explicit DaytimeDaemon(const QStringList& extra = {});
    ~DaytimeDaemon();
    DaytimeDaemon(const DaytimeDaemon&) = delete;
    DaytimeDaemon& operator=(const DaytimeDaemon&) = delete;

    int Port() const { return port_; } // 0 when the daemon did not come up
    const std::string& FirstLine() const { return firstLine_; }
    // Sends the signal; the exit code, or -1 when it did not end normally within 10 s.
    int StopWith(int signalNumber, std::string* output = nullptr);

private:
    QProcess process_;
    std::string firstLine_;
    int port_ = 0;
};

} // namespace kairelon::test
