#include "support/TestDesktopBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <mutex>

namespace plexavo::testing {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";

// A session-type bus that anyone may use, that activates no service. (Not a
// raw string: moc would no longer see the classes below.)
constexpr char kConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>session</type>\n"
    "  <listen>unix:dir=%1</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n"
    "    <allow own=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

std::atomic<int> g_connections{0};

QString uniqueName(const char* what) {
    return QStringLiteral("plexavo-test-%1-%2").arg(QLatin1String(what)).arg(++g_connections);
}

} // namespace

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The notification service: its slots are the methods of the interface.
class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    std::vector<NotifyCall> calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

  public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout) {
        NotifyCall call{appName, replacesId, appIcon,       summary, body,
                        actions, hints,      expireTimeout, 0,       steadyNs()};
        std::lock_guard lock(m_mutex);
        call.id = replacesId != 0 ? replacesId : m_nextId++;
        m_calls.push_back(call);
        return call.id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint /*id*/) {}

  private:
    mutable std::mutex m_mutex;
    std::vector<NotifyCall> m_calls;
    uint m_nextId = 41; // not 1: an id of 0 or 1 by accident would not show
};

class LauncherListener : public QObject {
    Q_OBJECT

  public:
    std::vector<LauncherUpdate> updates() const {
        std::lock_guard lock(m_mutex);
        return m_updates;
    }

  public slots:
    void onUpdate(const QDBusMessage& message) {
        const QList<QVariant> args = message.arguments();
        LauncherUpdate update;
        update.path = message.path();
        if (args.size() >= 1)
            update.appUri = args.at(0).toString();
        if (args.size() >= 2)
            update.properties = qdbus_cast<QVariantMap>(args.at(1));
        std::lock_guard lock(m_mutex);
        m_updates.push_back(update);
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<LauncherUpdate> m_updates;
};

TestDesktopBus::TestDesktopBus() {
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QString::fromLatin1(kConfig).arg(m_dir.path()).toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(config);
        return;
    }
    file.close();
    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000)) {
        m_error = QStringLiteral("dbus-daemon does not start: ") + m_daemon.errorString();
        return;
    }
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
    }
    const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (address.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon printed no address: ") +
                  QString::fromUtf8(m_daemon.readAllStandardError());
        return;
    }

    m_listenerConnection = uniqueName("listener");
    QDBusConnection listenerBus = QDBusConnection::connectToBus(address, m_listenerConnection);
    if (!listenerBus.isConnected()) {
        m_error = QStringLiteral("cannot connect to ") + address;
        return;
    }
    m_listener = std::make_unique<LauncherListener>();
    m_listener->moveToThread(&m_thread);
    listenerBus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                        QStringLiteral("Update"), m_listener.get(), SLOT(onUpdate(QDBusMessage)));
    m_thread.start();
    m_address = address;
}

TestDesktopBus::~TestDesktopBus() {
    stopNotificationService();
    if (!m_listenerConnection.isEmpty())
        QDBusConnection::disconnectFromBus(m_listenerConnection);
    m_thread.quit();
    m_thread.wait();
    m_listener.reset();
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
}

QDBusConnection TestDesktopBus::connect(const QString& name) const {
    return QDBusConnection::connectToBus(m_address, name);
}

bool TestDesktopBus::startNotificationService() {
    if (m_service || !ok())
        return m_service != nullptr;
    m_serviceConnection = uniqueName("notifications");
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_serviceConnection);
    auto service = std::make_unique<FakeNotificationService>();
    service->moveToThread(&m_thread);
    if (!bus.registerObject(QString::fromLatin1(kPath), service.get(),
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QString::fromLatin1(kService))) {
        QDBusConnection::disconnectFromBus(m_serviceConnection);
        return false;
    }
    m_service = std::move(service);
    return true;
}

void TestDesktopBus::stopNotificationService() {
    if (!m_service)
        return;
    QDBusConnection bus(m_serviceConnection);
    bus.unregisterService(QString::fromLatin1(kService));
    bus.unregisterObject(QString::fromLatin1(kPath));
    QDBusConnection::disconnectFromBus(m_serviceConnection);
    // Deleted on its own thread, where it may still be handling a call.
    FakeNotificationService* service = m_service.release();
    QMetaObject::invokeMethod(
        service, [service] { delete service; }, Qt::BlockingQueuedConnection);
}

std::vector<NotifyCall> TestDesktopBus::notifyCalls() const {
    return m_service ? m_service->calls() : std::vector<NotifyCall>{};
}

std::vector<LauncherUpdate> TestDesktopBus::launcherUpdates() const {
    return m_listener ? m_listener->updates() : std::vector<LauncherUpdate>{};
}

void TestDesktopBus::invokeAction(uint id, const QString& action) {
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                   QStringLiteral("ActionInvoked"));
    signal << id << action;
    QDBusConnection(m_serviceConnection).send(signal);
}

void TestDesktopBus::sendActivationToken(uint id, const QString& token) {
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                   QStringLiteral("ActivationToken"));
    signal << id << token;
    QDBusConnection(m_serviceConnection).send(signal);
}

void TestDesktopBus::closeNotification(uint id, uint reason) {
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                   QStringLiteral("NotificationClosed"));
    signal << id << reason;
    QDBusConnection(m_serviceConnection).send(signal);
}

} // namespace plexavo::testing

#include "TestDesktopBus.moc"
