// One dial on NetworkManager, run on a worker thread of its own.
//
// `DialJob` opens a private bus connection, puts the user name into the profile for this dial
// (in memory only, restored afterwards), registers a secret agent with the password, activates
// the profile and waits, with its own event loop and bounded by the dial's time-out, until the
// activation is activated or has failed; a failure becomes a dial-up error number. Only a
// success that the dialling thread takes over leaves the activation up: every other outcome
// (failure, time-out, the service falling silent, a dial given up on by its caller) calls it
// off, and after a failed activation call the profile's new activations are looked up and
// called off. The credentials are never written anywhere.
#pragma once

#include "platform/RasLayer.h"
#include "platform/linux/NetworkManagerBus.h"
#include "platform/linux/NetworkManagerCodes.h"

#include <QDBusMessage>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <map>
#include <utility>
#include <vector>

namespace kairelon::nm {

// One dial, run on its worker thread: activation, the wait for its outcome, the agent.
class DialJob : public QObject {
    Q_OBJECT
public:
    DialJob(RasLayerOptions options, QString profilePath, QString userName, QString password)
        : options_(std::move(options)), profilePath_(std::move(profilePath)),
          userName_(std::move(userName)), password_(std::move(password)) {}
    ~DialJob() override { password_.fill(QChar(0)); }

    DWORD status = ERROR_PORT_NOT_CONNECTED;
    QString activePath; // set only when the dial succeeded
    // Who has the last word on a successful activation: the job claims it to deliver it
    // (Delivered), the dialling thread claims it when it stops waiting (Abandoned), and then
    // nobody would learn of the activation, so the job calls it off. Whoever comes first wins.
    enum Claim { Open, Delivered, Abandoned };
    std::atomic<int> claim{Open};

public slots:
    void Run();

    // The dialling thread stopped waiting because the program is to stop: the dial ends now
    // (its activation is called off) instead of waiting for the outcome.
    void Stop();

    // A change of an active connection's state, for any active connection: kept by path
    // until the dial's own activation is known.
    void OnActiveStateChanged(const QDBusMessage& signal);

    // A change of a device's state: its reason explains a failed activation best.
    void OnDeviceStateChanged(const QDBusMessage& signal);

private:
    // The whole dial on this thread's bus connection: the user name, the agent, the
    // activation and the wait for its outcome.
    DWORD Dial(Bus& bus);

    // Where a profile of this kind keeps its user name: setting and key; empty where it has
    // none the service would use.
    static std::pair<QString, QString> UserNameKey(const NMSettings& settings);

    // Replaces the profile's settings without saving them; a service older than Update2 has
    // the unsaved update for that.
    bool UpdateInMemory(Bus& bus, const NMSettings& settings);

    // Puts the given user name into the profile, in memory only (never on disk), when it
    // differs from the profile's own; `original` gets the settings to restore. False when
    // nothing was changed.
    bool ApplyUserName(Bus& bus, NMSettings& original);

    // The activations of this dial's profile now.
    static QStringList ActivationsOf(const Bus& bus, const QString& profilePath);

    static void Deactivate(const Bus& bus, const QString& activePath);

    // Asks for the activation and waits for its outcome; every outcome but a delivered
    // success calls the activation off.
    DWORD Activate(Bus& bus);

    // Reads the activation's state and the devices it runs on.
    void Poll();

    // Finishes the dial once the activation's known state says how it ended.
    void Check();
    // Finishes a failed dial with the most telling reason: its device's, or its own.
    void Fail(uint acReason);
    void Finish(DWORD outcome);

    RasLayerOptions options_;
    QString profilePath_;
    QString userName_;
    QString password_;

    Bus* bus_ = nullptr;
    QString path_; // the activation's object path
    struct AcState {
        uint state = 0;
        uint reason = ActiveReasonUnknown;
        bool signalled = false; // state and reason came with the change signal
    };
    std::map<QString, AcState> acStates_; // active connection path -> its last state
    bool graceStarted_ = false;
    std::map<QString, uint> deviceReasons_; // device path -> last reason
    std::vector<QString> devices_;
    QEventLoop* loop_ = nullptr;
    bool finished_ = false;
    DWORD outcome_ = ERROR_PORT_NOT_CONNECTED;
};

} // namespace kairelon::nm
