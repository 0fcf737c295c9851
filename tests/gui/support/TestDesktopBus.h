// A desktop session bus of a test's own: a dbus-daemon started for the test
// from a minimal configuration (no service of the machine can be activated
// on it), a fake notification service, and a listener that records the
// launcher-entry signals. The fake and the listener have their own bus
// connection and thread, so they answer and record while the window's thread
// is busy, and every call is stamped with the time it arrived.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <vector>

namespace plexavo::testing {

// One Notify call as the service received it.
struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;
    uint id = 0;                // what the service answered
    std::int64_t arrivedNs = 0; // steadyNs() when it arrived
};

// One launcher-entry Update signal.
struct LauncherUpdate {
    QString path;
    QString appUri;
    QVariantMap properties;
};

// std::chrono::steady_clock in nanoseconds: the clock of arrivedNs.
std::int64_t steadyNs();

class FakeNotificationService;
class LauncherListener;

class TestDesktopBus {
  public:
    TestDesktopBus();
    ~TestDesktopBus();
    TestDesktopBus(const TestDesktopBus&) = delete;
    TestDesktopBus& operator=(const TestDesktopBus&) = delete;

    // False (and why) when the daemon did not start.
    bool ok() const { return !m_address.isEmpty(); }
    QString error() const { return m_error; }
    QString address() const { return m_address; }

    // A new connection of the program's side, named `name` (unique per test).
    QDBusConnection connect(const QString& name) const;

    // The fake org.freedesktop.Notifications; false when it could not own the name.
    bool startNotificationService();
    // Gives the name up: the bus then has no notification service.
    void stopNotificationService();

    std::vector<NotifyCall> notifyCalls() const;
    std::vector<LauncherUpdate> launcherUpdates() const;
    // The service's signals, as a desktop sends them when the user clicks
    // the notification or it goes away.
    void invokeAction(uint id, const QString& action);
    // The token a desktop hands over with the click, sent before the action.
    void sendActivationToken(uint id, const QString& token);
    void closeNotification(uint id, uint reason = 2);

  private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
    QThread m_thread; // the fake's and the listener's
    std::unique_ptr<FakeNotificationService> m_service;
    std::unique_ptr<LauncherListener> m_listener;
    QString m_serviceConnection;
    QString m_listenerConnection;
};

} // namespace plexavo::testing
