// The dial-up layer on NetworkManager, over D-Bus.
//
// Phonebook entries are the connection profiles by their names ("id"), connections are the
// active connections (activating or activated) by their profile names, a dial activates the
// named profile and waits until it is activated or has failed, and a hang-up deactivates it.
// Failure reasons of NetworkManager become dial-up error numbers (platform/RasLayer.h).
//
// A dial runs on a worker thread with a private bus connection while the calling thread
// blocks, without handling any of its own events, until the worker is done; the worker's wait
// for the activation is bounded by RasLayerOptions::dialTimeoutMs. When a user name or
// password is given, the worker registers a secret agent on its connection for that one dial:
// NetworkManager asks it for the secrets of the profile being activated, it answers with the
// given values for exactly that profile, and it unregisters as soon as the dial is over. The
// credentials are never written to the profile or anywhere else.
#include "platform/RasLayer.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMap>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string.h> // explicit_bzero
#include <unistd.h>

namespace kairelon {
namespace {

using NMSettings = QMap<QString, QVariantMap>; // a{sa{sv}}
using StringMap = QMap<QString, QString>;      // a{ss}

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerIface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kProfileIface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kDeviceIface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kAgentManagerPath = QStringLiteral("/org/freedesktop/NetworkManager/AgentManager");
const QString kAgentManagerIface = QStringLiteral("org.freedesktop.NetworkManager.AgentManager");
const QString kAgentPath = QStringLiteral("/org/freedesktop/NetworkManager/SecretAgent");
const QString kAgentIface = QStringLiteral("org.freedesktop.NetworkManager.SecretAgent");
const QString kPropertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectableIface = QStringLiteral("org.freedesktop.DBus.Introspectable");

// Active connection states and reasons (NMActiveConnectionState, ...StateReason).
constexpr uint kAcActivating = 1;
constexpr uint kAcActivated = 2;
constexpr uint kAcDeactivated = 4;
constexpr uint kAcReasonUnknown = 0;
constexpr uint kAcReasonDeviceDisconnected = 3;

// NMSecretAgentGetSecretsFlags: the secrets given before were refused.
constexpr uint kSecretsRequestNew = 0x2;
// NMSettingsUpdate2Flags: change the profile in memory only, never its file on disk.
constexpr uint kUpdateInMemory = 0x2;

// How often a dial re-reads the activation state in case a change signal was missed.
constexpr int kStatePollMs = 500;
// How long a dial that saw its activation end waits for the change signal with the reason.
constexpr int kReasonGraceMs = 200;

void RegisterTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<NMSettings>();
        qDBusRegisterMetaType<StringMap>();
    });
}

QDBusConnection OpenBus(const std::string& address, const QString& name) {
    if (address.empty()) {
        return QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
    }
    return QDBusConnection::connectToBus(QString::fromStdString(address), name);
}

QString UniqueConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("kairelon-dialup-%1").arg(++counter);
}

// A NetworkManager reason for a failed activation as a dial-up error number. The device's
// reason is more precise for activations that failed on their device.
DWORD ErrorForDeviceReason(uint reason) {
    switch (reason) {
    case 7: // no secrets
        return ERROR_INTERACTIVE_MODE;
    case 8: // supplicant disconnect, config, failure, time-out: authentication failed
    case 9:
    case 10:
    case 11:
        return ERROR_AUTHENTICATION_FAILURE;
    case 12: // PPP start failed
    case 14: // PPP failed
        return ERROR_PPP_LCP_TERMINATED;
    case 13: // PPP disconnect
        return ERROR_REMOTE_DISCONNECTION;
    case 4: // configuration failed, IP configuration unavailable or expired
    case 5:
    case 6:
    case 15: // DHCP and auto-IP failures
    case 16:
    case 17:
    case 20:
    case 21:
    case 22:
        return ERROR_IP_CONFIGURATION;
    case 23:
        return ERROR_LINE_BUSY;
    case 24:
        return ERROR_NO_DIALTONE;
    case 25:
    case 40: // carrier lost
        return ERROR_NO_CARRIER;
    case 26:
        return ERROR_NO_ANSWER;
    case 27: // modem dial or init failed, modem failed
    case 28:
    case 57:
        return ERROR_HARDWARE_FAILURE;
    case 35: // firmware missing, device removed, modem not found, modem manager unavailable
    case 36:
    case 43:
    case 52:
        return ERROR_DEVICE_DOES_NOT_EXIST;
    case 37: // sleeping
        return ERROR_PORT_DISCONNECTED;
    case 38: // profile removed
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    case 39: // user requested
        return ERROR_USER_DISCONNECTION;
    case 34: // PIN check failed, SIM PIN or PUK required, wrong SIM, wrong PIN
    case 46:
    case 47:
    case 48:
    case 59:
        return ERROR_AUTHENTICATION_FAILURE;
    default:
        return ERROR_PORT_NOT_CONNECTED;
    }
}

DWORD ErrorForActiveReason(uint reason) {
    switch (reason) {
    case 2: // user disconnected
        return ERROR_USER_DISCONNECTION;
    case 3: // device disconnected
    case 4: // service stopped
        return ERROR_PORT_DISCONNECTED;
    case 5:
        return ERROR_IP_CONFIGURATION;
    case 6: // connect time-out, service start time-out
    case 7:
        return ERROR_REQUEST_TIMEOUT;
    case 8:
        return ERROR_PORT_NOT_AVAILABLE;
    case 9:
        return ERROR_INTERACTIVE_MODE;
    case 10:
        return ERROR_AUTHENTICATION_FAILURE;
    case 11:
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    case 13: // device realize failed, device removed
    case 14:
        return ERROR_DEVICE_DOES_NOT_EXIST;
    default: // unknown, none, dependency failed
        return ERROR_PORT_NOT_CONNECTED;
    }
}

// An error answer of a bus call as a dial-up error number.
DWORD ErrorForBusError(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
        name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    }
    if (name.endsWith(QLatin1String(".PermissionDenied")) ||
        name.endsWith(QLatin1String(".NotAuthorized")) ||
        name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")) {
        return ERROR_ACCESS_DENIED;
    }
    if (name.endsWith(QLatin1String(".UnknownConnection")) ||
        name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")) {
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
    return ERROR_PORT_NOT_AVAILABLE;
}

bool IsGone(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
           name.endsWith(QLatin1String(".ConnectionNotActive"));
}

// Blocking bus calls with a bounded wait; they handle no events of the calling thread.
class Bus {
public:
    Bus(QDBusConnection connection, int timeoutMs)
        : connection_(std::move(connection)), timeoutMs_(timeoutMs) {}

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args = {}) const {
        QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
        msg.setArguments(args);
        // Asking must not start the service: where it is not running, there is no dial-up.
        msg.setAutoStartService(false);
        return connection_.call(msg, QDBus::Block, timeoutMs_);
    }

    // A property's value; invalid when it could not be read (`reply` tells why).
    QVariant Property(const QString& path, const QString& iface, const QString& name,
                      QDBusMessage* reply = nullptr) const {
        const QDBusMessage r = Call(path, kPropertiesIface, QStringLiteral("Get"), {iface, name});
        if (reply) {
            *reply = r;
        }
        if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) {
            return {};
        }
        return r.arguments().at(0).value<QDBusVariant>().variant();
    }

    static QList<QDBusObjectPath> Paths(const QVariant& value) {
        if (value.canConvert<QDBusArgument>()) {
            return qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>());
        }
        return value.value<QList<QDBusObjectPath>>();
    }

    // The profiles by path with their names, in the service's order. False when the service
    // did not answer.
    bool Profiles(std::vector<std::pair<QString, std::string>>& profiles) const {
        profiles.clear();
        const QDBusMessage list =
            Call(kSettingsPath, kSettingsIface, QStringLiteral("ListConnections"));
        if (list.type() != QDBusMessage::ReplyMessage || list.arguments().isEmpty()) {
            return false;
        }
        for (const QDBusObjectPath& path : Paths(list.arguments().at(0))) {
            const QDBusMessage settings =
                Call(path.path(), kProfileIface, QStringLiteral("GetSettings"));
            if (settings.type() != QDBusMessage::ReplyMessage || settings.arguments().isEmpty()) {
                continue; // removed meanwhile or not visible to this user
            }
            const NMSettings map = qdbus_cast<NMSettings>(settings.arguments().at(0));
            const QString id =
                map.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString();
            profiles.emplace_back(path.path(), id.toStdString());
        }
        return true;
    }

    const QDBusConnection& Connection() const { return connection_; }

private:
    QDBusConnection connection_;
    int timeoutMs_;
};

// The secret agent of one dial: answers NetworkManager's requests for the secrets of the
// profile being dialled with the given password, once; a repeated request after the secrets
// were refused, or one for any other profile, gets no secrets.
class DialSecretAgent : public QDBusVirtualObject {
public:
    DialSecretAgent(QString profilePath, QString password)
        : profilePath_(std::move(profilePath)), password_(std::move(password)) {}
    ~DialSecretAgent() override { password_.fill(QChar(0)); }

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.NetworkManager.SecretAgent\">"
            "<method name=\"GetSecrets\"><arg name=\"connection\" type=\"a{sa{sv}}\" "
            "direction=\"in\"/><arg name=\"connection_path\" type=\"o\" direction=\"in\"/>"
            "<arg name=\"setting_name\" type=\"s\" direction=\"in\"/><arg name=\"hints\" "
            "type=\"as\" direction=\"in\"/><arg name=\"flags\" type=\"u\" direction=\"in\"/>"
            "<arg name=\"secrets\" type=\"a{sa{sv}}\" direction=\"out\"/></method>"
            "<method name=\"CancelGetSecrets\"><arg name=\"connection_path\" type=\"o\" "
            "direction=\"in\"/><arg name=\"setting_name\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"SaveSecrets\"><arg name=\"connection\" type=\"a{sa{sv}}\" "
            "direction=\"in\"/><arg name=\"connection_path\" type=\"o\" direction=\"in\"/>"
            "</method><method name=\"DeleteSecrets\"><arg name=\"connection\" "
            "type=\"a{sa{sv}}\" direction=\"in\"/><arg name=\"connection_path\" type=\"o\" "
            "direction=\"in\"/></method></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != kAgentIface) {
            return false;
        }
        const QString member = message.member();
        if (member != QLatin1String("GetSecrets")) {
            // Cancel, save and delete: this agent keeps nothing, so there is nothing to do.
            connection.send(message.createReply());
            return true;
        }
        const QVariantList args = message.arguments();
        const QString path =
            args.size() > 1 ? args.at(1).value<QDBusObjectPath>().path() : QString();
        const QString setting = args.size() > 2 ? args.at(2).toString() : QString();
        const uint flags = args.size() > 4 ? args.at(4).toUInt() : 0;
        if (path != profilePath_ || setting.isEmpty() ||
            ((flags & kSecretsRequestNew) != 0 && answered_.loadAcquire() != 0)) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.NetworkManager.SecretAgent.NoSecrets"),
                QStringLiteral("No secrets for this request")));
            return true;
        }
        answered_.storeRelease(1);
        NMSettings secrets;
        QVariantMap values;
        // The service takes only secrets from an agent; the user name reaches it through the
        // profile (DialJob::ApplyUserName).
        if (setting == QLatin1String("vpn")) {
            // VPN plug-ins take their secrets as a map of strings.
            StringMap vpnSecrets;
            vpnSecrets.insert(QStringLiteral("password"), password_);
            values.insert(QStringLiteral("secrets"), QVariant::fromValue(vpnSecrets));
        } else {
            values.insert(QStringLiteral("password"), password_);
        }
        secrets.insert(setting, values);
        connection.send(message.createReply(QVariant::fromValue(secrets)));
        return true;
    }

private:
    QString profilePath_;
    QString password_;
    QAtomicInt answered_{0};
};

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
    void Run() {
        const QString name = UniqueConnectionName();
        {
            QDBusConnection connection = OpenBus(options_.busAddress, name);
            if (!connection.isConnected()) {
                status = ERROR_RASMAN_CANNOT_INITIALIZE;
            } else {
                Bus bus(connection, options_.callTimeoutMs);
                status = Dial(bus);
            }
        }
        QDBusConnection::disconnectFromBus(name);
        password_.fill(QChar(0));
        QThread::currentThread()->quit();
    }

    // A change of an active connection's state, for any active connection: kept by path
    // until the dial's own activation is known.
    void OnActiveStateChanged(const QDBusMessage& signal) {
        const QVariantList args = signal.arguments();
        if (args.size() >= 2) {
            acStates_[signal.path()] = {args.at(0).toUInt(), args.at(1).toUInt(), true};
            Check();
        }
    }

    // A change of a device's state: its reason explains a failed activation best.
    void OnDeviceStateChanged(const QDBusMessage& signal) {
        const QVariantList args = signal.arguments();
        if (args.size() >= 3) {
            deviceReasons_[signal.path()] = args.at(2).toUInt();
        }
    }

private:
    DWORD Dial(Bus& bus) {
        QDBusConnection connection = bus.Connection();
        connection.connect(kService, QString(), kActiveIface, QStringLiteral("StateChanged"), this,
                           SLOT(OnActiveStateChanged(QDBusMessage)));
        connection.connect(kService, QString(), kDeviceIface, QStringLiteral("StateChanged"), this,
                           SLOT(OnDeviceStateChanged(QDBusMessage)));

        // A user name is no secret: the service takes it only from the profile, so the profile
        // carries it for this dial as a change in memory, undone when the dial is over.
        NMSettings original;
        const bool userNameApplied = ApplyUserName(bus, original);

        std::unique_ptr<DialSecretAgent> agent;
        if (!userName_.isEmpty() || !password_.isEmpty()) {
            agent = std::make_unique<DialSecretAgent>(profilePath_, password_);
            if (connection.registerVirtualObject(kAgentPath, agent.get())) {
                bus.Call(kAgentManagerPath, kAgentManagerIface, QStringLiteral("Register"),
                         {QStringLiteral("org.kairelon.dialup-%1").arg(getpid())});
            }
        }

        const DWORD result = Activate(bus);

        connection.disconnect(kService, QString(), kActiveIface, QStringLiteral("StateChanged"),
                              this, SLOT(OnActiveStateChanged(QDBusMessage)));
        connection.disconnect(kService, QString(), kDeviceIface, QStringLiteral("StateChanged"),
                              this, SLOT(OnDeviceStateChanged(QDBusMessage)));
        if (agent) {
            bus.Call(kAgentManagerPath, kAgentManagerIface, QStringLiteral("Unregister"));
            connection.unregisterObject(kAgentPath);
        }
        if (userNameApplied) {
            // An activation keeps the settings it started with, so this changes nothing of
            // a line that is up.
            UpdateInMemory(bus, original);
        }
        return result;
    }

    // Where a profile of this kind keeps its user name: setting and key; empty where it has
    // none the service would use.
    static std::pair<QString, QString> UserNameKey(const NMSettings& settings) {
        const QString type =
            settings.value(QStringLiteral("connection")).value(QStringLiteral("type")).toString();
        if (type == QLatin1String("pppoe") || type == QLatin1String("gsm") ||
            type == QLatin1String("cdma")) {
            return {type, QStringLiteral("username")};
        }
        if (type == QLatin1String("vpn")) {
            return {type, QStringLiteral("user-name")};
        }
        if (settings.contains(QStringLiteral("802-1x"))) {
            return {QStringLiteral("802-1x"), QStringLiteral("identity")};
        }
        return {};
    }

    // Replaces the profile's settings without saving them; a service older than Update2 has
    // the unsaved update for that.
    bool UpdateInMemory(Bus& bus, const NMSettings& settings) {
        QDBusMessage reply =
            bus.Call(profilePath_, kProfileIface, QStringLiteral("Update2"),
                     {QVariant::fromValue(settings), QVariant::fromValue(kUpdateInMemory),
                      QVariant::fromValue(QVariantMap())});
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
            reply = bus.Call(profilePath_, kProfileIface, QStringLiteral("UpdateUnsaved"),
                             {QVariant::fromValue(settings)});
        }
        return reply.type() == QDBusMessage::ReplyMessage;
    }

    // Puts the given user name into the profile, in memory only (never on disk), when it
    // differs from the profile's own; `original` gets the settings to restore. False when
    // nothing was changed.
    bool ApplyUserName(Bus& bus, NMSettings& original) {
        if (userName_.isEmpty()) {
            return false;
        }
        const QDBusMessage reply =
            bus.Call(profilePath_, kProfileIface, QStringLiteral("GetSettings"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return false;
        }
        original = qdbus_cast<NMSettings>(reply.arguments().at(0));
        const auto [setting, key] = UserNameKey(original);
        if (setting.isEmpty() || original.value(setting).value(key).toString() == userName_) {
            return false;
        }
        NMSettings changed = original;
        changed[setting][key] = userName_;
        return UpdateInMemory(bus, changed);
    }

    // The activations of this dial's profile now.
    static QStringList ActivationsOf(const Bus& bus, const QString& profilePath) {
        QStringList found;
        const QVariant active =
            bus.Property(kManagerPath, kManagerIface, QStringLiteral("ActiveConnections"));
        for (const QDBusObjectPath& path : Bus::Paths(active)) {
            const QVariant profile =
                bus.Property(path.path(), kActiveIface, QStringLiteral("Connection"));
            if (profile.value<QDBusObjectPath>().path() == profilePath) {
                found << path.path();
            }
        }
        return found;
    }

    static void Deactivate(const Bus& bus, const QString& activePath) {
        bus.Call(kManagerPath, kManagerIface, QStringLiteral("DeactivateConnection"),
                 {QVariant::fromValue(QDBusObjectPath(activePath))});
    }

    DWORD Activate(Bus& bus) {
        // Known before asking, so that after a failed call the activation it may still have
        // started can be told from one that was there before.
        const QStringList before = ActivationsOf(bus, profilePath_);
        const QDBusObjectPath none(QStringLiteral("/"));
        const QDBusMessage reply =
            bus.Call(kManagerPath, kManagerIface, QStringLiteral("ActivateConnection"),
                     {QVariant::fromValue(QDBusObjectPath(profilePath_)), QVariant::fromValue(none),
                      QVariant::fromValue(none)});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            // The service may have taken the request and only its answer failed (a time-out,
            // a dropped connection): whatever it started for this profile is called off.
            for (const QString& path : ActivationsOf(bus, profilePath_)) {
                if (!before.contains(path)) {
                    Deactivate(bus, path);
                }
            }
            return ErrorForBusError(reply);
        }
        path_ = reply.arguments().at(0).value<QDBusObjectPath>().path();
        bus_ = &bus;

        QEventLoop loop;
        loop_ = &loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, this, [this] { Poll(); });
        poll.start(kStatePollMs);
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, this,
                         [this] { Finish(ERROR_REQUEST_TIMEOUT); });
        deadline.start(options_.dialTimeoutMs);

        Poll();
        if (!finished_) {
            loop.exec();
        }
        loop_ = nullptr;

        int open = Open;
        if (outcome_ == SUCCESS && claim.compare_exchange_strong(open, Delivered)) {
            activePath = path_;
        } else {
            // Failed, timed out, the service stopped answering, or nobody waits for the
            // result any more: the activation is called off, so that no line stays up that
            // the program would never hang up. One that already ended answers "not active".
            Deactivate(bus, path_);
        }
        return outcome_;
    }

    // Reads the activation's state and the devices it runs on.
    void Poll() {
        if (finished_) {
            return;
        }
        QDBusMessage reply;
        const QVariant state = bus_->Property(path_, kActiveIface, QStringLiteral("State"), &reply);
        if (!state.isValid()) {
            if (IsGone(reply)) {
                // The activation is gone: it failed, for the reason its signal tells.
                acStates_[path_].state = kAcDeactivated;
                Check();
            } else {
                Finish(ErrorForBusError(reply));
            }
            return;
        }
        const QVariant devices = bus_->Property(path_, kActiveIface, QStringLiteral("Devices"));
        for (const QDBusObjectPath& device : Bus::Paths(devices)) {
            if (std::find(devices_.begin(), devices_.end(), device.path()) == devices_.end()) {
                devices_.push_back(device.path());
            }
        }
        acStates_[path_].state = state.toUInt();
        Check();
    }

    void Check() {
        const auto it = acStates_.find(path_);
        if (finished_ || path_.isEmpty() || it == acStates_.end()) {
            return;
        }
        const AcState& ac = it->second;
        if (ac.state == kAcActivated) {
            Finish(SUCCESS);
        } else if (ac.state >= kAcDeactivated) {
            if (ac.signalled) {
                Fail(ac.reason);
            } else if (!graceStarted_) {
                // Seen ended by reading its state: the signal with the reason is sent before
                // and may still be on its way, so give it a moment before failing without it.
                graceStarted_ = true;
                QTimer::singleShot(kReasonGraceMs, this, [this] {
                    const auto known = acStates_.find(path_);
                    Fail(known != acStates_.end() && known->second.signalled ? known->second.reason
                                                                             : kAcReasonUnknown);
                });
            }
        }
    }

    void Fail(uint acReason) {
        if (finished_) {
            return;
        }
        if (acReason == kAcReasonDeviceDisconnected || acReason == kAcReasonUnknown) {
            for (const QString& device : devices_) {
                uint reason = 0;
                const auto known = deviceReasons_.find(device);
                if (known != deviceReasons_.end()) {
                    reason = known->second;
                } else {
                    const QVariant value =
                        bus_->Property(device, kDeviceIface, QStringLiteral("StateReason"));
                    if (value.canConvert<QDBusArgument>()) {
                        const QDBusArgument arg = value.value<QDBusArgument>();
                        uint state = 0;
                        arg.beginStructure();
                        arg >> state >> reason;
                        arg.endStructure();
                    }
                }
                if (reason > 1) { // 0 none, 1 unknown
                    Finish(ErrorForDeviceReason(reason));
                    return;
                }
            }
        }
        Finish(ErrorForActiveReason(acReason));
    }

    void Finish(DWORD outcome) {
        if (finished_) {
            return;
        }
        finished_ = true;
        outcome_ = outcome;
        if (loop_) {
            loop_->quit();
        }
    }

    RasLayerOptions options_;
    QString profilePath_;
    QString userName_;
    QString password_;

    Bus* bus_ = nullptr;
    QString path_; // the activation's object path
    struct AcState {
        uint state = 0;
        uint reason = kAcReasonUnknown;
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

class NetworkManagerRas : public RasLayer {
public:
    NetworkManagerRas(RasLayerOptions options, QString name, QDBusConnection connection)
        : options_(std::move(options)), name_(std::move(name)),
          bus_(std::move(connection), options_.callTimeoutMs) {}
    ~NetworkManagerRas() override {
        ReapAbandoned(true);
        QDBusConnection::disconnectFromBus(name_);
    }

    // True when the service answers; notes which operations it offers.
    bool Probe() {
        const QDBusReply<bool> running =
            bus_.Connection().interface()->isServiceRegistered(kService);
        if (!running.isValid() || !running.value()) {
            return false;
        }
        const QDBusMessage version =
            bus_.Call(kManagerPath, kPropertiesIface, QStringLiteral("Get"),
                      {kManagerIface, QStringLiteral("Version")});
        if (version.type() != QDBusMessage::ReplyMessage) {
            return false;
        }
        const QString manager = Introspect(kManagerPath);
        const QString settings = Introspect(kSettingsPath);
        const auto has = [](const QString& xml, const char* kind, const char* name) {
            return xml.contains(
                QStringLiteral("<%1 name=\"%2\"").arg(QLatin1String(kind), QLatin1String(name)));
        };
        canList_ = has(settings, "method", "ListConnections");
        canListActive_ =
            has(manager, "property", "ActiveConnections") ||
            bus_.Property(kManagerPath, kManagerIface, QStringLiteral("ActiveConnections"))
                .isValid();
        canActivate_ = has(manager, "method", "ActivateConnection");
        canDeactivate_ = has(manager, "method", "DeactivateConnection");
        return true;
    }

    bool Offers(std::string_view procName) const override {
        if (procName == "RasDialA") {
            return canList_ && canActivate_;
        }
        if (procName == "RasEnumConnectionsA") {
            return canListActive_;
        }
        if (procName == "RasEnumEntriesA") {
            return canList_;
        }
        if (procName == "RasHangUpA") {
            return canDeactivate_;
        }
        return procName == "RasGetErrorStringA";
    }

    DWORD RasDialA(const void* dialExtensions, const char* phonebook, const RASDIALPARAMS* params,
                   DWORD, const void* notifier, HRASCONN* rasConn) override {
        if (params == nullptr || rasConn == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        *rasConn = 0;
        if (params->dwSize != kRasDialParamsSize) {
            return ERROR_INVALID_SIZE;
        }
        if (dialExtensions != nullptr || phonebook != nullptr || notifier != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        const std::string entry = RasString(params->szEntryName, sizeof params->szEntryName);
        std::vector<std::pair<QString, std::string>> profiles;
        if (!bus_.Profiles(profiles)) {
            return ERROR_RASMAN_CANNOT_INITIALIZE;
        }
        QString profilePath;
        for (const auto& [path, id] : profiles) {
            if (id == entry) {
                profilePath = path;
                break;
            }
        }
        if (entry.empty() || profilePath.isEmpty()) {
            return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
        }

        ReapAbandoned(false);
        std::string password = RasString(params->szPassword, sizeof params->szPassword);
        auto* job = new DialJob(
            options_, profilePath,
            QString::fromStdString(RasString(params->szUserName, sizeof params->szUserName)),
            QString::fromStdString(password));
        explicit_bzero(password.data(), password.size());
        auto* worker = new QThread;
        job->moveToThread(worker);
        QObject::connect(worker, &QThread::started, job, &DialJob::Run);
        worker->start();
        // Blocks this thread, handling none of its events, until the dial is over. The job's
        // own wait is bounded; the margin covers its bus calls before and after it.
        const int margin = 8 * options_.callTimeoutMs + 5000;
        const int workerWaitMs =
            options_.workerWaitMs > 0 ? options_.workerWaitMs : options_.dialTimeoutMs + margin;
        int open = DialJob::Open;
        if (!worker->wait(QDeadlineTimer(workerWaitMs)) &&
            job->claim.compare_exchange_strong(open, DialJob::Abandoned)) {
            // Cannot happen while the bus calls keep their time-outs; if it does, the job
            // calls off whatever it brings up; it is reaped once it has ended.
            abandoned_.emplace_back(worker, job);
            return ERROR_REQUEST_TIMEOUT;
        }
        worker->wait(); // the job delivered its success just now: it is about to end
        const DWORD status = job->status;
        const QString activePath = job->activePath;
        delete job;
        delete worker;
        if (status == SUCCESS) {
            *rasConn = HandleFor(activePath);
        }
        return status;
    }

    DWORD RasEnumConnectionsA(RASCONN* rasConn, DWORD* cb, DWORD* connections) override {
        if (rasConn == nullptr || cb == nullptr || connections == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (*cb < sizeof(DWORD) || rasConn->dwSize != kRasConnSize) {
            return ERROR_INVALID_SIZE;
        }
        QDBusMessage reply;
        const QVariant active =
            bus_.Property(kManagerPath, kManagerIface, QStringLiteral("ActiveConnections"), &reply);
        if (!active.isValid()) {
            return ERROR_RASMAN_CANNOT_INITIALIZE;
        }
        std::vector<RasConnectionInfo> list;
        for (const QDBusObjectPath& path : Bus::Paths(active)) {
            const QDBusMessage all =
                bus_.Call(path.path(), kPropertiesIface, QStringLiteral("GetAll"), {kActiveIface});
            if (all.type() != QDBusMessage::ReplyMessage || all.arguments().isEmpty()) {
                continue; // ended meanwhile
            }
            const QVariantMap props = qdbus_cast<QVariantMap>(all.arguments().at(0));
            const uint state = props.value(QStringLiteral("State")).toUInt();
            if (state != kAcActivating && state != kAcActivated) {
                continue;
            }
            RasConnectionInfo info;
            info.handle = HandleFor(path.path());
            info.entryName = props.value(QStringLiteral("Id")).toString().toStdString();
            info.deviceType = props.value(QStringLiteral("Type")).toString().toStdString();
            const QList<QDBusObjectPath> devices =
                Bus::Paths(props.value(QStringLiteral("Devices")));
            if (!devices.isEmpty()) {
                info.deviceName =
                    bus_.Property(devices.first().path(), kDeviceIface, QStringLiteral("Interface"))
                        .toString()
                        .toStdString();
            }
            list.push_back(std::move(info));
        }
        return WriteRasConnections(list, rasConn, cb, connections);
    }

    DWORD RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAME* entryNames,
                          DWORD* cb, DWORD* entries) override {
        if (reserved != nullptr || phonebook != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (entryNames == nullptr || cb == nullptr || entries == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (*cb < sizeof(DWORD) || entryNames->dwSize != kRasEntryNameSize) {
            return ERROR_INVALID_SIZE;
        }
        std::vector<std::pair<QString, std::string>> profiles;
        if (!bus_.Profiles(profiles)) {
            return ERROR_RASMAN_CANNOT_INITIALIZE;
        }
        std::vector<std::string> names;
        for (auto& profile : profiles) {
            names.push_back(std::move(profile.second));
        }
        return WriteRasEntryNames(names, entryNames, cb, entries);
    }

    DWORD RasGetErrorStringA(UINT errorValue, char* buffer, DWORD bufferSize) override {
        return RasErrorStringInto(errorValue, buffer, bufferSize);
    }

    DWORD RasHangUpA(HRASCONN rasConn) override {
        const auto it = paths_.find(rasConn);
        if (rasConn == 0 || it == paths_.end()) {
            return ERROR_INVALID_HANDLE;
        }
        const QString path = it->second;
        const QDBusMessage reply =
            bus_.Call(kManagerPath, kManagerIface, QStringLiteral("DeactivateConnection"),
                      {QVariant::fromValue(QDBusObjectPath(path))});
        if (reply.type() == QDBusMessage::ReplyMessage || IsGone(reply)) {
            handles_.erase(path);
            paths_.erase(it);
            return SUCCESS;
        }
        return ErrorForBusError(reply);
    }

private:
    // Frees the dials that were given up on and have ended since; with `wait`, waits for the
    // others to end first (each is bounded by its own time-outs).
    void ReapAbandoned(bool wait) {
        for (auto it = abandoned_.begin(); it != abandoned_.end();) {
            if (wait) {
                it->first->wait();
            }
            if (!it->first->isFinished()) {
                ++it;
                continue;
            }
            delete it->second;
            delete it->first;
            it = abandoned_.erase(it);
        }
    }

    QString Introspect(const QString& path) const {
        const QDBusMessage reply =
            bus_.Call(path, kIntrospectableIface, QStringLiteral("Introspect"));
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                   ? reply.arguments().at(0).toString()
                   : QString();
    }

    // The handle of an active connection: the same for the same object path while this layer
    // lives, never 0.
    HRASCONN HandleFor(const QString& path) {
        const auto it = handles_.find(path);
        if (it != handles_.end()) {
            return it->second;
        }
        const HRASCONN handle = nextHandle_++;
        handles_[path] = handle;
        paths_[handle] = path;
        return handle;
    }

    RasLayerOptions options_;
    QString name_;
    Bus bus_;
    bool canList_ = false;
    bool canListActive_ = false;
    bool canActivate_ = false;
    bool canDeactivate_ = false;
    std::map<QString, HRASCONN> handles_;
    std::map<HRASCONN, QString> paths_;
    HRASCONN nextHandle_ = 1;
    std::vector<std::pair<QThread*, DialJob*>> abandoned_; // dials given up on, still running
};

} // namespace

std::unique_ptr<RasLayer> LoadSystemRasLayer(const RasLayerOptions& options) {
    RegisterTypes();
    RasLayerOptions effective = options;
    if (effective.busAddress.empty()) {
        if (const char* env = std::getenv("KAIRELON_DIALUP_BUS"); env && *env) {
            effective.busAddress = env;
        }
    }
    const QString name = UniqueConnectionName();
    QDBusConnection connection = OpenBus(effective.busAddress, name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }
    auto layer = std::make_unique<NetworkManagerRas>(effective, name, connection);
    if (!layer->Probe()) {
        return nullptr;
    }
    return layer;
}

} // namespace kairelon

#include "NetworkManagerRas.moc"
