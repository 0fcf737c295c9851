// The window on Wayland itself, not through XWayland: a headless Weston of
// the test's own, Qt's Wayland platform, the program started as it starts,
// its main window opened at its size, a clip added and converted by the real
// core, the preview painting frames, and a notification's click handing its
// activation token to Qt. Skipped, with the reason, where Weston or Qt's
// Wayland platform cannot start.
#include "engine/platform/ChildProcess.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/DesktopIntegration.h"
#include "gui/common/MessageBox.h"
#include "gui/preview/PreviewDialog.h"
#include "gui/preview/PreviewWidgets.h"
#include "gui/shell/Application.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "support/BatchTestSupport.h"
#include "support/TestDesktopBus.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::Application;
using plexavo::gui::ConversionView;
using plexavo::gui::DesktopIntegration;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;
using plexavo::platform::ChildProcess;

namespace {

// A headless Weston on a socket of its own in XDG_RUNTIME_DIR, for as long
// as the object lives. Made before the application object, which connects
// to it as it starts.
class WestonSession {
  public:
    WestonSession() {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime) {
            m_error = "XDG_RUNTIME_DIR is not set";
            return;
        }
        m_socket = "plexavo-test-" + std::to_string(getpid());
        m_socketPath = std::string(runtime) + "/" + m_socket;
        m_log = m_socketPath + ".log";
        m_weston.arguments = {"weston",
                              "--backend=headless-backend.so",
                              "--socket=" + m_socket,
                              "--idle-time=0",
                              "--width=1024",
                              "--height=768",
                              "--log=" + m_log};
        m_weston.commandLine = "weston --backend=headless-backend.so --socket=" + m_socket;
        m_weston.flags = ChildProcess::OwnProcessGroup;
        m_weston.stopPolicy.silenceMs = 3000;
        m_weston.stopPolicy.limitMs = 5000;
        if (m_weston.start() != 0) {
            m_error = "weston does not start (is it installed? scripts/install-deps.sh)";
            return;
        }
        // Ready once its socket is there.
        for (int waited = 0; waited < 10000; waited += 50) {
            if (access(m_socketPath.c_str(), F_OK) == 0) {
                m_running = true;
                return;
            }
            if (m_weston.waitForExit(50))
                break;
        }
        m_error = "weston did not open its socket: " + logTail();
    }
    ~WestonSession() {
        if (m_weston.processId > 0 && !m_weston.hasExited())
            m_weston.terminate();
        m_weston.close();
        std::remove(m_log.c_str());
    }
    WestonSession(const WestonSession&) = delete;
    WestonSession& operator=(const WestonSession&) = delete;

    bool running() const { return m_running; }
    const std::string& error() const { return m_error; }
    const std::string& socket() const { return m_socket; }

  private:
    std::string logTail() const {
        std::ifstream in(m_log);
        std::stringstream text;
        text << in.rdbuf();
        const std::string all = text.str();
        return all.size() > 600 ? all.substr(all.size() - 600) : all;
    }

    ChildProcess m_weston;
    std::string m_socket;
    std::string m_socketPath;
    std::string m_log;
    std::string m_error;
    bool m_running = false;
};

WestonSession* g_weston = nullptr;

} // namespace

class TestWayland : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_clip;

  private slots:
    void initTestCase() {
        if (!g_weston->running())
            QSKIP(qPrintable(QStringLiteral("no Wayland compositor to run in: ") +
                             QString::fromStdString(g_weston->error())));
        if (QGuiApplication::platformName() != QLatin1String("wayland"))
            QSKIP(qPrintable(QStringLiteral("Qt's Wayland platform did not load (qt6-wayland), "
                                            "the platform is ") +
                             QGuiApplication::platformName()));
        QVERIFY(m_dir.isValid());
        m_clip = m_dir.filePath(QStringLiteral("holiday clip.mp4"));
        QString error;
        QVERIFY2(makeClip(m_clip, 3, QStringLiteral("320x240"), &error), qPrintable(error));
        platform::setCoreFolder(PLEXCORE_FOLDER);
        settings::writeToolTipsHidden();
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("out")));
        settings::writeOutputPath(m_dir.filePath(QStringLiteral("out")).toStdString());
        MessageBox::setAutoAnswer(QMessageBox::Ok);
    }

    void cleanupTestCase() {
        platform::setCoreFolder("");
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    void theWindowOpensAddsConvertsAndPreviews() {
        Application app;
        QVERIFY(app.initInstance());
        MainWindow* frame = app.mainFrame();
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        // At its size, under the desktop entry's name (the window's app id).
        QCOMPARE(frame->size(), QSize(MainWindow::kWidth, MainWindow::kHeight));
        QCOMPARE(frame->windowHandle()->size(), QSize(MainWindow::kWidth, MainWindow::kHeight));
        QCOMPARE(QGuiApplication::desktopFileName(),
                 QString::fromLatin1(DesktopIntegration::kDesktopId));

        ConversionView* view = frame->view();
        view->chooseSourceFiles = [this] { return QStringList{m_clip}; };
        frame->action(gui::cmd::kAdd)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view->rowCount(), 1, 60000);
        QCOMPARE(view->cellText(0, 0), QStringLiteral("holiday clip.mp4"));

        frame->action(gui::cmd::kConvert)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view->cellText(0, 3), QStringLiteral("Done"), 240000);
        const QString output = m_dir.filePath(QStringLiteral("out/holiday clip-cvt.mp4"));
        QVERIFY2(QFile::exists(output), qPrintable(output));
        QVERIFY(probeDuration(output) > 2.5);

        // The preview paints the clip's frames in its window.
        view->sourceList()->clearSelection();
        view->sourceList()->topLevelItem(0)->setSelected(true);
        int painted = -1;
        bool played = false;
        QTimer::singleShot(0, frame, [&] {
            auto* dialog = qobject_cast<gui::PreviewDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            played =
                QTest::qWaitFor([&] { return dialog->opened(); }, 15000) &&
                dialog->openSucceeded() &&
                QTest::qWaitFor([&] { return dialog->videoSurface()->paintedFrames() > 5; }, 15000);
            painted = dialog->videoSurface()->paintedFrames();
            dialog->reject();
        });
        frame->action(gui::cmd::kPreview)->trigger();
        QVERIFY2(played, qPrintable(QString::number(painted)));

        frame->close();
    }

    // The click on the batch's notification comes with the desktop's token,
    // which is what lets a Wayland window take the focus: it is handed to
    // Qt's Wayland platform for the raise. (Weston has no activation
    // protocol, so it stays unspent here.)
    void aNotificationsClickHandsItsTokenToQt() {
        TestDesktopBus bus;
        if (!bus.ok())
            QSKIP(qPrintable(QStringLiteral("no session bus of the test's own: ") + bus.error()));
        QVERIFY(bus.startNotificationService());
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* desktop = new DesktopIntegration(&window, bus.connect(QStringLiteral("wayland")));
        QSignalSpy answered(desktop, &DesktopIntegration::notificationShown);
        QVERIFY(desktop->notify(QStringLiteral("done"), QStringLiteral("body")));
        QTRY_COMPARE(answered.size(), 1);
        const uint id = bus.notifyCalls().front().id;
        qunsetenv("XDG_ACTIVATION_TOKEN");
        bus.sendActivationToken(id, QStringLiteral("token-of-the-click"));
        QTRY_COMPARE(desktop->activationToken(), QStringLiteral("token-of-the-click"));
        bus.invokeAction(id, QStringLiteral("default"));
        QTRY_VERIFY(desktop->activationToken().isEmpty());
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-of-the-click"));
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }
};

int main(int argc, char** argv) {
    WestonSession weston;
    g_weston = &weston;
    if (weston.running()) {
        qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString(weston.socket()));
        // Offscreen when Qt's Wayland platform is missing: the test then says so.
        qputenv("QT_QPA_PLATFORM", "wayland;offscreen");
        qunsetenv("DISPLAY");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestWayland test;
        result = QTest::qExec(&test, argc, argv);
        // Mesa's EGL driver, which Qt's Wayland platform starts with the first
        // window, keeps its display to the process's end and is unloaded before
        // the sanitizer's leak check, which could then not name it for its
        // suppression. Kept loaded to the end.
        dlopen("libEGL_mesa.so.0", RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
    g_weston = nullptr;
    return result;
}

#include "test_wayland.moc"
