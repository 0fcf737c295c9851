// The frame's geometry, bars, view and closing.
#include "gui/shell/MainWindow.h"

#include "gui/common/MessageBox.h"
#include "gui/common/ProgramIcon.h"
#include "gui/common/UiText.h"
#include "gui/shell/Application.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/ToolBar.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <dlfcn.h>

namespace plexavo::gui {

namespace {

// How often a view rebuild waiting for a modal window looks whether it closed.
constexpr int kPendingViewPollMs = 50;

// Toolbar slots: command ids with 0 for a separator.
constexpr int kToolbarCommands[] = {
    cmd::kAdd, cmd::kRemove,  cmd::kRemoveAll, 0, cmd::kMoveUp, cmd::kMoveDown,
    0,         cmd::kPreview, cmd::kConvert,   0, cmd::kExit};
constexpr const char* kToolbarIcons[] = {"list-add",     "list-remove",     "edit-clear-all",
                                         "go-up",        "go-down",         "media-playback-start",
                                         "media-record", "application-exit"};
constexpr unsigned kToolbarTexts[] = {61308, 61324, 61325, 0, 61319, 61320,
                                      0,     61322, 61310, 0, 61315};

// String ids of the status-bar panes: idle text, then the lock indicators.
constexpr unsigned kReadyText = 57345;
constexpr unsigned kIndicatorTexts[] = {59137, 59138, 59139};
constexpr unsigned kIndicatorNames[] = {61931, 61932, 61933};

// The keyboard's lock lights, from the X server when there is one; all off
// elsewhere (Wayland, offscreen), where no program may ask.
unsigned lockIndicatorState() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display())
        return 0;
    using StateFn = int (*)(Display*, unsigned, unsigned*);
    static StateFn getState = [] {
        void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
        return library ? reinterpret_cast<StateFn>(dlsym(library, "XkbGetIndicatorState"))
                       : nullptr;
    }();
    unsigned state = 0;
    constexpr unsigned kCoreKeyboard = 0x0100;
    if (!getState || getState(x11->display(), kCoreKeyboard, &state) != 0)
        return 0;
    return state;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainFrame"));
    // A fixed window: no resizing border, no maximise button, but minimise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    setWindowIcon(builtInProgramIcon()); // the theme's, if any, once the window is up

    m_toolBar = new ToolBar(this);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    for (int id : kToolbarCommands) {
        if (id == 0)
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(ensureAction(id));
    }
    m_toolBar->setImageLists(ToolBar::kImageSize,
                             QStringList(std::begin(kToolbarIcons), std::end(kToolbarIcons)));
    setToolbarTexts(true);

    createStatusBar();
    auto* view = new ConversionView;
    view->onInitialUpdate();
    attachView(view);
    rebuildMenus(false);
    updateTitle();
    centreOnScreen();
    qApp->installEventFilter(this);

    m_pendingView.setInterval(kPendingViewPollMs);
    m_pendingView.callOnTimeout(this, [this] {
        if (QApplication::activeModalWidget())
            return;
        m_pendingView.stop();
        recreateView();
    });
}

MainWindow::~MainWindow() {
    if (qApp)
        qApp->removeEventFilter(this);
}

void MainWindow::centreOnScreen() {
    // A Wayland client cannot place its windows: the compositor does.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - kWidth) / 2, area.y() + (area.height() - kHeight) / 2);
}

void MainWindow::updateTitle() {
    setWindowTitle(productName());
}

void MainWindow::setToolbarTexts(bool resize) {
    QStringList texts;
    for (unsigned id : kToolbarTexts)
        texts.append(id ? str(id) : QString());
    m_toolBar->setButtonTexts(texts, resize);
    m_toolBar->setWindowTitle(str(61929));
    m_toolBar->setAccessibleName(str(61929));
}

// ---- Status bar ------------------------------------------------------------------

void MainWindow::createStatusBar() {
    auto* bar = statusBar();
    bar->setObjectName(controlName(0xE801));
    bar->setSizeGripEnabled(false);
    bar->setContentsMargins(0, 0, 4, 0); // the last pane off the window's edge
    m_ready = new QLabel;
    m_ready->setObjectName(QStringLiteral("statusReady"));
    bar->addWidget(m_ready, 1);
    // The bar hides "Ready" under a command's tip only for the moment: any
    // relayout of the bar (new texts after a language switch, a lock light)
    // adds it to a new layout, which shows it again on top of the tip. Hidden
    // by hand, it stays hidden until the tip goes.
    connect(bar, &QStatusBar::messageChanged, m_ready,
            [this](const QString& message) { m_ready->setVisible(message.isEmpty()); });
    for (int i = 0; i < 3; ++i) {
        auto* pane = new QLabel;
        pane->setObjectName(QStringLiteral("statusIndicator%1").arg(i));
        pane->setAlignment(Qt::AlignCenter);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addPermanentWidget(pane);
        m_indicators[i] = pane;
    }
    retextStatusBar();
}

void MainWindow::retextStatusBar() {
    m_ready->setText(str(kReadyText));
    for (int i = 0; i < 3; ++i) {
        // Every pane is as wide as its text, shown or not, so the bar does
        // not jump when a lock key is pressed.
        const QString text = str(kIndicatorTexts[i]);
        m_indicators[i]->setMinimumWidth(m_indicators[i]->fontMetrics().horizontalAdvance(text) +
                                         12);
        m_indicators[i]->setAccessibleName(str(kIndicatorNames[i]));
    }
    updateLockIndicators();
}

void MainWindow::updateLockIndicators() {
    const unsigned state = lockIndicatorState();
    for (int i = 0; i < 3; ++i) {
        const QString shown = (state & (1u << i)) ? str(kIndicatorTexts[i]) : QString();
        m_indicators[i]->setText(shown);
        // Its name stays "Caps Lock"; what it shows is read after it.
        m_indicators[i]->setAccessibleDescription(shown);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock)
            QTimer::singleShot(0, this, [this] { updateLockIndicators(); });
    } else if (event->type() == QEvent::ApplicationActivate) {
        updateLockIndicators();
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- The view --------------------------------------------------------------------

void MainWindow::attachView(ConversionView* view) {
    m_view = view;
    setCentralWidget(view);
    connect(view, &ConversionView::rowsChanged, this, [this] { updateCommandUi(); });
    connect(view, &ConversionView::toolTipsShown, this, [this](bool shown) {
        if (QAction* tips = action(cmd::kToolTips))
            tips->setChecked(shown);
    });
    updateCommandUi();
}

ConversionView* MainWindow::recreateView() {
    ConversionView* old = m_view;
    auto* fresh = new ConversionView;
    fresh->onInitialUpdate();
    if (configureView)
        configureView(fresh);
    if (old)
        fresh->copyStateFrom(*old);
    attachView(fresh); // deletes the old central widget
    setToolbarTexts(false);
    return fresh;
}

void MainWindow::recreateViewWhenFree() {
    if (!QApplication::activeModalWidget()) {
        m_pendingView.stop();
        recreateView();
        return;
    }
    m_pendingView.start();
}

// ---- Closing ---------------------------------------------------------------------

bool MainWindow::confirmExit() {
    if (m_exitConfirmed)
        return true;
    const auto answer = MessageBox::show(this, str(61221, productName().toUtf8().constData()),
                                         QMessageBox::Question,
                                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    m_exitConfirmed = answer == QMessageBox::Ok;
    return m_exitConfirmed;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!confirmExit()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

} // namespace plexavo::gui
