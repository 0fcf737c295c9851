#include "gui/shell/Application.h"

#include "engine/platform/ChildProcess.h"
#include "engine/platform/DebugLog.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/DesktopIntegration.h"
#include "gui/common/MessageBox.h"
#include "gui/common/ProgramIcon.h"
#include "gui/common/UiText.h"
#include "gui/preview/PreviewCheck.h"
#include "gui/shell/ExitSignals.h"
#include "gui/shell/ListKeeper.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/ToolBar.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QIcon>
#include <QSessionManager>
#include <QTimer>
#include <QWindow>

#include <clocale>
#include <cstdio>
#include <ctime>

namespace plexavo::gui {

using platform::writeLog;

namespace {
Application* g_app = nullptr;
// How often the program looks whether the work it stopped has ended.
constexpr int kExitPollMs = 50;
// The status the program ends with when GStreamer cannot start.
constexpr int kExitMediaFramework = 1;
// Should the window never be reported exposed, the preview check still runs.
constexpr int kCheckFallbackMs = 2000;
} // namespace

void initProcessLocale() {
    std::setlocale(LC_NUMERIC, "C");
}

bool (*Application::mayAskAtLogOff)(QSessionManager&) = [](QSessionManager& manager) {
    return manager.allowsInteraction();
};

Application::Application() {
    g_app = this;
}

Application::~Application() {
    // An exit the user chose ends the list; one on a signal (a logout, a
    // kill) leaves it to be offered at the next start.
    if (m_listKeeper && !m_exitCode)
        m_listKeeper->markFinished();
    m_listKeeper.reset();
    m_frame.reset();
    m_previewCheck.reset();
    m_exitSignals.reset();
    if (m_fontWarmUp.joinable())
        m_fontWarmUp.join();
    if (m_exitCode)
        MessageBox::setClosing(false);
    if (g_app == this)
        g_app = nullptr;
}

Application* Application::instance() {
    return g_app;
}

bool Application::initInstance(const std::vector<std::string>& files) {
    QCoreApplication::setApplicationName(QStringLiteral("Plexavo"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vantrel"));
    // The desktop entry's name: on Wayland the window's app id, by which the
    // dock finds its icon and entry, groups the window and matches the
    // launcher entry's progress to it.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopIntegration::kDesktopId));
    initProcessLocale();

    // From here a stop signal ends the program in order. (Each conversion's
    // core leads a process group of its own, so a terminal's Ctrl+C or
    // hang-up reaches only the window, which then stops the core once.)
    m_exitSignals = std::make_unique<ExitSignals>();
    connect(m_exitSignals.get(), &ExitSignals::received, this, &Application::onExitSignal);
    m_exitPoll.setInterval(kExitPollMs);
    connect(&m_exitPoll, &QTimer::timeout, this, &Application::exitWhenIdle);

    // Qt fills its font database from fontconfig at the first text it
    // measures, several milliseconds of the start on the window's thread;
    // filled here on a second one (the database is thread-safe) while the
    // window's thread loads the icon theme and builds the tool bar.
    if (!m_fontWarmUp.joinable())
        m_fontWarmUp = std::thread([] { QFontDatabase::families(); });

    ToolBar::prepareIconThemes();

    settings::toolTipsHiddenThisRun = settings::readToolTipsHidden();

    // Made before the view, which shows the answer in its tip line; run
    // once the window is up, so that nothing of GStreamer's delays it.
    m_previewCheck = std::make_unique<PreviewCheck>();
    connect(m_previewCheck.get(), &PreviewCheck::answered, this, &Application::onPreviewChecked);

    // Before any window: every menu, view and dialog is built from its texts.
    m_languages.applyStoredLanguage();

    m_frame = std::make_unique<MainWindow>();
    m_languages.attach(m_frame.get()); // the packs' entries in the language menu
    m_frame->show();
    reportWhenShown();
    whenFirstExposed([this] {
        m_previewCheck->start();
        // After the first paint: the icon theme's look takes milliseconds.
        if (themeMayDrawProgramIcon())
            QTimer::singleShot(0, m_frame.get(), [this] { m_frame->setWindowIcon(programIcon()); });
    });
    QTimer::singleShot(kCheckFallbackMs, m_previewCheck.get(), &PreviewCheck::start);

    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::commitDataRequest, this, &Application::onCommitData);

    // The list is kept on disk from here on. Once the window is on screen (so
    // the question and the detection window have a parent to sit on): a
    // language whose letters no font has is said first (in English, so it
    // can be read), then the list a crash left is offered, then the given
    // files are added.
    // Not once a stop signal has come: no new work starts while closing.
    m_listKeeper = std::make_unique<ListKeeper>(*m_frame);
    QTimer::singleShot(0, m_frame.get(), [this, files] {
        if (m_frame && !m_exitCode)
            m_languages.noticeMissingFont(m_frame.get());
        if (m_frame && m_frame->view() && !m_exitCode)
            m_listKeeper->offerLeftList();
        if (!files.empty() && m_frame && m_frame->view() && !m_exitCode)
            m_frame->view()->addSourcePaths(files);
    });
    return true;
}

void Application::onExitSignal(int signal) {
    if (m_exitCode) {
        writeLog("Signal %d while closing: the stop already asked for goes on", signal);
        return;
    }
    writeLog("Signal %d: stopping the work as Cancel All does, then closing", signal);
    endWhenIdle(128 + signal);
}

void Application::onPreviewChecked() {
    if (m_previewCheck->answer() != PreviewCheck::Answer::CannotStart || m_exitCode)
        return;
    writeLog("**Error: GStreamer does not start: %s",
             m_previewCheck->details().toUtf8().constData());
    MessageBox::show(m_frame.get(), str(100), QMessageBox::Critical);
    if (!m_exitCode) // a signal during the box has its own status
        endWhenIdle(kExitMediaFramework);
}

void Application::endWhenIdle(int status) {
    m_exitCode = status;
    // Nobody is there to answer: a question shown now would keep the
    // program alive, so none is shown from here on. A box already up ends
    // with the event loops when the program leaves.
    MessageBox::setClosing(true);
    m_exitPoll.start();
    exitWhenIdle();
}

bool Application::workStillRunning() {
    bool running = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* batch = qobject_cast<BatchWindow*>(window)) {
            if (!batch->isVisible() || batch->driver().finished())
                continue;
            running = true;
            // The window's own Cancel All: the core is asked to stop, its
            // file stays playable, and the window waits for it.
            if (!batch->driver().cancelRequested())
                QMetaObject::invokeMethod(batch, &BatchWindow::onCancelAll, Qt::QueuedConnection);
        } else if (auto* detect = qobject_cast<DetectionWindow*>(window)) {
            if (!detect->isVisible() || detect->finished())
                continue;
            running = true;
            detect->stopForExit();
        }
    }
    return running;
}

void Application::exitWhenIdle() {
    // Leaving while a worker still runs would leave the core to itself, and
    // the worker waiting on a window thread that no longer listens.
    if (workStillRunning())
        return;
    m_exitPoll.stop();
    writeLog("Closing: exit status %d", m_exitCode);
    // Ends every event loop, the modal ones too, so no window holds the exit up.
    QCoreApplication::exit(m_exitCode);
}

namespace {

// Runs an action once, at the first expose of the window it watches.
class FirstExpose : public QObject {
  public:
    FirstExpose(QObject* parent, std::function<void()> action)
        : QObject(parent), m_action(std::move(action)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && m_action &&
            static_cast<QWindow*>(watched)->isExposed()) {
            auto action = std::move(m_action);
            m_action = nullptr;
            action();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> m_action;
};

long long clockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

void Application::whenFirstExposed(std::function<void()> action) {
    m_frame->winId(); // the native window, whose expose is watched
    m_frame->windowHandle()->installEventFilter(new FirstExpose(m_frame.get(), std::move(action)));
}

void Application::reportWhenShown() {
    // The start benchmarks: "shown <realtime ns> <monotonic ns>" once the
    // window is first exposed (mapped), the moment bench/start's empty Qt
    // window reports too; then leave, unless the value is "keep" (the
    // memory figures). Only when asked for.
    const QByteArray report = qgetenv("PLEXAVO_REPORT_SHOWN");
    if (report.isEmpty())
        return;
    const bool leave = report != "keep";
    whenFirstExposed([leave] {
        std::printf("shown %lld %lld\n", clockNs(CLOCK_REALTIME), clockNs(CLOCK_MONOTONIC));
        std::fflush(stdout);
        if (leave)
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    });
}

void Application::onCommitData(QSessionManager& manager) {
    // Log-off or shutdown asks the same question; Cancel keeps the program.
    if (!m_frame || !mayAskAtLogOff(manager))
        return;
    if (!m_frame->confirmExit())
        manager.cancel();
    manager.release();
}

} // namespace plexavo::gui
