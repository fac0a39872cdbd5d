#include "platform/linux/NetworkManagerDial.h"

#include "platform/linux/NetworkManagerAgent.h"

#include <QDBusArgument>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <unistd.h>

namespace kairelon::nm {

namespace {

// How often a dial re-reads the activation state in case a change signal was missed.
constexpr int kStatePollMs = 500;
// How long a dial that saw its activation end waits for the change signal with the reason.
constexpr int kReasonGraceMs = 200;

} // namespace

void DialJob::Run() {
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

void DialJob::Stop() {
    Finish(ERROR_USER_DISCONNECTION);
}

void DialJob::OnActiveStateChanged(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() >= 2) {
        acStates_[signal.path()] = {args.at(0).toUInt(), args.at(1).toUInt(), true};
        Check();
    }
}

void DialJob::OnDeviceStateChanged(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() >= 3) {
        deviceReasons_[signal.path()] = args.at(2).toUInt();
    }
}

DWORD DialJob::Dial(Bus& bus) {
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

    connection.disconnect(kService, QString(), kActiveIface, QStringLiteral("StateChanged"), this,
                          SLOT(OnActiveStateChanged(QDBusMessage)));
    connection.disconnect(kService, QString(), kDeviceIface, QStringLiteral("StateChanged"), this,
                          SLOT(OnDeviceStateChanged(QDBusMessage)));
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

std::pair<QString, QString> DialJob::UserNameKey(const NMSettings& settings) {
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

bool DialJob::UpdateInMemory(Bus& bus, const NMSettings& settings) {
    QDBusMessage reply =
        bus.Call(profilePath_, kProfileIface, QStringLiteral("Update2"),
                 {QVariant::fromValue(settings), QVariant::fromValue(Update2InMemory),
                  QVariant::fromValue(QVariantMap())});
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
        reply = bus.Call(profilePath_, kProfileIface, QStringLiteral("UpdateUnsaved"),
                         {QVariant::fromValue(settings)});
    }
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool DialJob::ApplyUserName(Bus& bus, NMSettings& original) {
    if (userName_.isEmpty()) {
        return false;
    }
    const QDBusMessage reply = bus.Call(profilePath_, kProfileIface, QStringLiteral("GetSettings"));
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

QStringList DialJob::ActivationsOf(const Bus& bus, const QString& profilePath) {
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

void DialJob::Deactivate(const Bus& bus, const QString& activePath) {
    bus.Call(kManagerPath, kManagerIface, QStringLiteral("DeactivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(activePath))});
}

DWORD DialJob::Activate(Bus& bus) {
    // Known before asking, so that after a failed call the activation it may still have
    // started can be told from one that was there before.
    const QStringList before = ActivationsOf(bus, profilePath_);
    if (claim.load() == Abandoned) {
        return ERROR_USER_DISCONNECTION; // given up on before anything was activated
    }
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
        return ErrorForBusErrorName(reply.errorName());
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
    QObject::connect(&deadline, &QTimer::timeout, this, [this] { Finish(ERROR_REQUEST_TIMEOUT); });
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

void DialJob::Poll() {
    if (finished_) {
        return;
    }
    QDBusMessage reply;
    const QVariant state = bus_->Property(path_, kActiveIface, QStringLiteral("State"), &reply);
    if (!state.isValid()) {
        if (IsGoneErrorName(reply.errorName())) {
            // The activation is gone: it failed, for the reason its signal tells.
            acStates_[path_].state = ActiveDeactivated;
            Check();
        } else {
            Finish(ErrorForBusErrorName(reply.errorName()));
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

void DialJob::Check() {
    const auto it = acStates_.find(path_);
    if (finished_ || path_.isEmpty() || it == acStates_.end()) {
        return;
    }
    const AcState& ac = it->second;
    if (ac.state == ActiveActivated) {
        Finish(SUCCESS);
    } else if (ac.state >= ActiveDeactivated) {
        if (ac.signalled) {
            Fail(ac.reason);
        } else if (!graceStarted_) {
            // Seen ended by reading its state: the signal with the reason is sent before
            // and may still be on its way, so give it a moment before failing without it.
            graceStarted_ = true;
            QTimer::singleShot(kReasonGraceMs, this, [this] {
                const auto known = acStates_.find(path_);
                Fail(known != acStates_.end() && known->second.signalled ? known->second.reason
                                                                         : ActiveReasonUnknown);
            });
        }
    }
}

void DialJob::Fail(uint acReason) {
    if (finished_) {
        return;
    }
    if (acReason == ActiveReasonDeviceDisconnected || acReason == ActiveReasonUnknown) {
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
            if (IsTellingDeviceReason(reason)) {
                Finish(ErrorForDeviceReason(reason));
                return;
            }
        }
    }
    Finish(ErrorForActiveReason(acReason));
}

void DialJob::Finish(DWORD outcome) {
    if (finished_) {
        return;
    }
    finished_ = true;
    outcome_ = outcome;
    if (loop_) {
        loop_->quit();
    }
}

} // namespace kairelon::nm
