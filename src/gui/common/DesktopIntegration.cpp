#include "gui/common/DesktopIntegration.h"

#include "engine/platform/DebugLog.h"
#include "gui/common/UiText.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>

#include <algorithm>

namespace plexavo::gui {

namespace {

constexpr char kNotifyService[] = "org.freedesktop.Notifications";
constexpr char kNotifyPath[] = "/org/freedesktop/Notifications";
constexpr char kNotifyInterface[] = "org.freedesktop.Notifications";
constexpr char kLauncherInterface[] = "com.canonical.Unity.LauncherEntry";
constexpr char kDefaultAction[] = "default";
// The label of the default action, for the servers that show one.
constexpr unsigned kStrShowAction = 62051;

} // namespace

DesktopIntegration::DesktopIntegration(QWidget* window, const QDBusConnection& bus)
    : QObject(window), m_window(window), m_bus(bus) {
    if (!m_bus.isConnected())
        return;
    // The service's signals reach every client: onActionInvoked keeps only
    // those about this object's notification.
    m_bus.connect(QString::fromLatin1(kNotifyService), QString::fromLatin1(kNotifyPath),
                  QString::fromLatin1(kNotifyInterface), QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(QString::fromLatin1(kNotifyService), QString::fromLatin1(kNotifyPath),
                  QString::fromLatin1(kNotifyInterface), QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
    // Sent just before ActionInvoked by notification servers of protocol
    // version 1.2: the token of the user's click.
    m_bus.connect(QString::fromLatin1(kNotifyService), QString::fromLatin1(kNotifyPath),
                  QString::fromLatin1(kNotifyInterface), QStringLiteral("ActivationToken"), this,
                  SLOT(onActivationToken(uint, QString)));
}

DesktopIntegration::~DesktopIntegration() {
    if (!m_progressShown || !m_bus.isConnected())
        return;
    hideProgress();
    // The process may end right after this: a round trip to the bus makes
    // sure the signal above has left (one connection keeps its order).
    QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    m_bus.call(ping, QDBus::Block, 1000);
}

DesktopIntegration* DesktopIntegration::of(QWidget* window) {
    if (auto* existing =
            window->findChild<DesktopIntegration*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new DesktopIntegration(window, QDBusConnection::sessionBus());
}

QString DesktopIntegration::applicationUri() {
    return QStringLiteral("application://%1.desktop").arg(QLatin1String(kDesktopId));
}

QString DesktopIntegration::launcherEntryPath() {
    // Any path under this prefix will do; docks match the signal by its
    // application URI. A hash of the URI keeps it the same from run to run.
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : applicationUri().toLatin1()) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(hash);
}

void DesktopIntegration::sendLauncherEntry(double fraction, bool visible, int count) {
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), fraction);
    properties.insert(QStringLiteral("progress-visible"), visible);
    properties.insert(QStringLiteral("count"), static_cast<qint64>(count));
    properties.insert(QStringLiteral("count-visible"), visible);
    QDBusMessage update = QDBusMessage::createSignal(
        launcherEntryPath(), QString::fromLatin1(kLauncherInterface), QStringLiteral("Update"));
    update << applicationUri() << properties;
    m_bus.send(update);
}

void DesktopIntegration::showProgress(double fraction, int filesLeft) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    filesLeft = std::max(filesLeft, 0);
    if (!m_bus.isConnected() ||
        (m_progressShown && fraction == m_shownFraction && filesLeft == m_shownCount))
        return;
    m_progressShown = true;
    m_shownFraction = fraction;
    m_shownCount = filesLeft;
    sendLauncherEntry(fraction, true, filesLeft);
}

void DesktopIntegration::hideProgress() {
    if (!m_progressShown || !m_bus.isConnected())
        return;
    m_progressShown = false;
    sendLauncherEntry(m_shownFraction, false, m_shownCount);
    m_shownFraction = -1;
    m_shownCount = -1;
}

bool DesktopIntegration::notify(const QString& summary, const QString& body) {
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kNotifyService), QString::fromLatin1(kNotifyPath),
        QString::fromLatin1(kNotifyInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    // Lets the desktop group it with the program and find its icon.
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopId));
    const QStringList actions{QString::fromLatin1(kDefaultAction), str(kStrShowAction)};
    call << productName() << m_notificationId << QString::fromLatin1(kDesktopId) << summary << body
         << actions << hints << -1;
    // Never waits: a desktop without a notification service answers with an
    // error, which only goes to the debug log.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    platform::writeLog("Desktop notification not shown: %s",
                                       reply.error().message().toUtf8().constData());
                } else {
                    m_notificationId = reply.value();
                    emit notificationShown(m_notificationId);
                }
                finished->deleteLater();
            });
    return true;
}

bool DesktopIntegration::isActive(const QWidget* window) {
    for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget()) {
        if (w == window)
            return true;
    }
    return false;
}

void DesktopIntegration::onActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == m_notificationId && action == QLatin1String(kDefaultAction))
        raiseWindow();
}

void DesktopIntegration::onActivationToken(uint id, const QString& token) {
    if (id != 0 && id == m_notificationId)
        m_activationToken = token;
}

void DesktopIntegration::onNotificationClosed(uint id, uint /*reason*/) {
    if (id == m_notificationId) {
        m_notificationId = 0; // the next one is a new notification
        m_activationToken.clear();
    }
}

void DesktopIntegration::raiseWindow() {
    if (!m_window)
        return;
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    // A Wayland compositor lets a window take the focus only with the token
    // of the click that asks for it; Qt's Wayland platform spends the one in
    // this variable at the next activation. Elsewhere it means nothing, and
    // would only pass on to the programs started later.
    if (!m_activationToken.isEmpty() &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        qputenv("XDG_ACTIVATION_TOKEN", m_activationToken.toUtf8());
    m_activationToken.clear();
    m_window->activateWindow();
}

} // namespace plexavo::gui
