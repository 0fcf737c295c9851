// The program on the desktop beyond its own windows, over the session bus: a
// notification (org.freedesktop.Notifications) whose default action brings
// the window back (on Wayland with the activation token the click came with), and a progress on the
// dock or task bar (the launcher-entry signal that Plasma's task manager and the common GNOME docks
// listen for). Every call is sent without waiting for an answer, and with no bus or no notification
// service nothing happens: the desktop is told, never asked.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace plexavo::gui {

class DesktopIntegration : public QObject {
    Q_OBJECT

  public:
    // The desktop entry's id: the icon name and the launcher entry's key.
    static constexpr char kDesktopId[] = "com.vantrel.Plexavo";

    // `window` is the main window: the one whose activity is asked and that
    // the notification's default action raises.
    DesktopIntegration(QWidget* window, const QDBusConnection& bus);
    // Hides a progress still shown: the program is closing.
    ~DesktopIntegration() override;
    Q_DISABLE_COPY_MOVE(DesktopIntegration)

    // The one of this main window on the session bus, made on first use and
    // owned by the window.
    static DesktopIntegration* of(QWidget* window);

    QWidget* window() const { return m_window; }
    bool connected() const { return m_bus.isConnected(); }

    // "application://com.vantrel.Plexavo.desktop", and the object path the
    // launcher entry's signals are sent from.
    static QString applicationUri();
    static QString launcherEntryPath();

    // The dock's bar at `fraction` (0..1, clamped) and a count of `filesLeft`;
    // a value the dock already shows is not sent again.
    void showProgress(double fraction, int filesLeft);
    // The bar and the count disappear; nothing is sent when none is shown.
    void hideProgress();
    bool progressShown() const { return m_progressShown; }

    // One notification, replacing the one this object sent before if the
    // desktop still shows it. Returns false when there is no bus to send on.
    bool notify(const QString& summary, const QString& body);
    // The id the service gave the notification on screen; 0 when none.
    uint notificationId() const { return m_notificationId; }
    // The activation token the desktop handed with the click on this
    // object's notification, not yet spent; empty when none.
    QString activationToken() const { return m_activationToken; }

    // Whether the user is at the program: `window` or one of its dialogs is
    // the active window.
    static bool isActive(const QWidget* window);

  signals:
    // The service has answered a notify() with the notification's id.
    void notificationShown(uint id);

  private slots:
    void onActivationToken(uint id, const QString& token);
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

  private:
    void sendLauncherEntry(double fraction, bool visible, int count);
    void raiseWindow();

    QPointer<QWidget> m_window;
    QDBusConnection m_bus;
    uint m_notificationId = 0; // the one on screen, 0 when none
    QString m_activationToken;
    bool m_progressShown = false;
    double m_shownFraction = -1;
    int m_shownCount = -1;
};

} // namespace plexavo::gui
