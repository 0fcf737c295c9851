#include "gui/shell/CVantrelApp.h"

#include "engine/player/MediaFramework.h"
#include "engine/player/MediaGraph.h"
#include "engine/services/RegistryKey.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/shell/CMainFrame.h"
#include "gui/view/CVantrelView.h"
#include "gui/widgets/CImageToolBar.h"

#include <QApplication>
#include <QIcon>
#include <QSessionManager>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <ctime>

namespace plexavo {

namespace {
CVantrelApp* g_app = nullptr;
} // namespace

void initProcessLocale() {
    std::setlocale(LC_NUMERIC, "C");
}

bool (*CVantrelApp::initMediaFramework)() = [] {
    return platform::initializeMediaFramework(nullptr);
};

bool (*CVantrelApp::mayAskAtLogOff)(QSessionManager&) = [](QSessionManager& manager) {
    return manager.allowsInteraction();
};

CVantrelApp::CVantrelApp() {
    g_app = this;
}

CVantrelApp::~CVantrelApp() {
    m_frame.reset();
    if (g_app == this)
        g_app = nullptr;
}

CVantrelApp* CVantrelApp::instance() {
    return g_app;
}

bool CVantrelApp::InitInstance(const QStringList& files) {
    QCoreApplication::setApplicationName(QStringLiteral("Plexavo"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vantrel"));
    initProcessLocale();

    CImageToolBar::prepareIconThemes();

    // The runtime's version only (no start of the framework): a missing
    // runtime reads as 0.0 and the view shows its media tip.
    const preview::MediaFrameworkVersion media = preview::mediaFrameworkVersion();
    g_nQuartzMajor = static_cast<int>(media.major);
    g_nQuartzMinor = static_cast<int>(media.minor);
    settings::initRegKey();
    // A value that differs from "TRUE" only in letter case counts; anything
    // else (a trailing blank too) leaves the help window to open.
    g_bToolTipsHidden = settings::readToolTipsHidden();

    // Started here, before any window, so a broken installation says so at
    // once instead of failing later inside the preview. The slower look for
    // the preview's decoders waits until the window is up (the view's tip).
    if (!initMediaFramework()) {
        MessageBox::show(nullptr, ui::str(100), QMessageBox::Critical);
        return false;
    }

    // Before any window: every menu, view and dialog is built from its texts.
    m_languages.applyStoredLanguage();

    m_frame = std::make_unique<CMainFrame>();
    m_languages.attach(m_frame.get());
    m_frame->RebuildMenus(false);
    m_frame->UpdateTitle();
    m_frame->show();
    reportWhenShown();

    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::commitDataRequest, this, &CVantrelApp::onCommitData);

    if (!files.isEmpty()) {
        // Once the window is on screen, so the detection window has a parent to sit on.
        QTimer::singleShot(0, m_frame.get(), [this, files] {
            if (m_frame && m_frame->view())
                m_frame->view()->addSourcePaths(files);
        });
    }
    return true;
}

void CVantrelApp::reportWhenShown() {
    // The start-up benchmark: print the wall clock once the window has been
    // painted, then leave. Only when asked for.
    if (!qEnvironmentVariableIsSet("PLEXAVO_REPORT_SHOWN"))
        return;
    class FirstPaint : public QObject {
      public:
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint && !m_done) {
                m_done = true;
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                std::printf("shown %lld\n",
                            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
                QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
            }
            return QObject::eventFilter(watched, event);
        }

      private:
        bool m_done = false;
    };
    m_frame->installEventFilter(new FirstPaint(m_frame.get()));
}

void CVantrelApp::onCommitData(QSessionManager& manager) {
    // Log-off or shutdown asks the same question; Cancel keeps the program.
    if (!m_frame || !mayAskAtLogOff(manager))
        return;
    if (!m_frame->confirmExit())
        manager.cancel();
    manager.release();
}

} // namespace plexavo
