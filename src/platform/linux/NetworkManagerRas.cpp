// The dial-up layer on NetworkManager, over D-Bus.
//
// Phonebook entries are the connection profiles by their names ("id"), connections are the
// active connections (activating or activated) by their profile names, a dial activates the
// named profile and waits until it is activated or has failed, and a hang-up deactivates it.
// Failure reasons of NetworkManager become dial-up error numbers (NetworkManagerCodes.h).
//
// A dial runs as a DialJob (NetworkManagerDial.h) on a worker thread with a private bus
// connection while the calling thread blocks, without handling any of its own events, until
// the worker is done, the layer's wait for it ends or the program is asked to stop; a job given
// up on calls off whatever it brings up (a stopped one at once) and is reaped later. Handles stand
// for active connection paths while the layer lives.
#include "platform/RasLayer.h"
#include "platform/StopSignals.h"
#include "platform/linux/NetworkManagerBus.h"
#include "platform/linux/NetworkManagerCodes.h"
#include "platform/linux/NetworkManagerDial.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string.h> // explicit_bzero
#include <vector>

namespace kairelon {
namespace {

using namespace nm;

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
        const QDeadlineTimer deadline(workerWaitMs);
        bool stopped = false;
        // A stop signal cannot wake a thread that waits for another one, so the wait looks
        // for a stop request between slices; ten looks a second cost nothing measurable.
        while (!(stopped = StopRequested()) &&
               !worker->wait(
                   QDeadlineTimer(std::min<qint64>(deadline.remainingTime(), kStopLookMs))) &&
               !deadline.hasExpired()) {
        }
        int open = DialJob::Open;
        if (!worker->isFinished() && job->claim.compare_exchange_strong(open, DialJob::Abandoned)) {
            // A stop, or a job that overran its own time-outs (which cannot happen while the
            // bus calls keep theirs): the job calls off whatever it started or brings up
            // later, at once when it was stopped; it is reaped once it has ended.
            if (stopped) {
                QMetaObject::invokeMethod(job, &DialJob::Stop, Qt::QueuedConnection);
            }
            abandoned_.emplace_back(worker, job);
            return stopped ? ERROR_USER_DISCONNECTION : ERROR_REQUEST_TIMEOUT;
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
            if (state != ActiveActivating && state != ActiveActivated) {
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
        if (reply.type() == QDBusMessage::ReplyMessage || IsGoneErrorName(reply.errorName())) {
            handles_.erase(path);
            paths_.erase(it);
            return SUCCESS;
        }
        return ErrorForBusErrorName(reply.errorName());
    }

private:
    // How often a waiting dial looks for a stop request, milliseconds.
    static constexpr qint64 kStopLookMs = 100;

    bool StopRequested() const {
        return options_.stopRequested ? options_.stopRequested() : ReceivedStopSignal() != 0;
    }

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
