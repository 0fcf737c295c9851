// The main frame: geometry, the trimmed menu bar and its mnemonics, the
// toolbar slots, the enabling rules through the actions, the exit question,
// the About box and help, a rebuilt view, and a keyboard-only walk.
#include "FakeCore.h"
#include "MainWinSupport.h"
#include "TestSupport.h"
#include "gui/support/TabWalk.h"

#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/ProgramIcon.h"
#include "gui/shell/Application.h"
#include "gui/shell/ExitSignals.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/ToolBar.h"
#include "gui/windows/AboutDialog.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"
#include "gui/windows/HelpTipsDialog.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSessionManager>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <csignal>
#include <thread>

// GLib names a structure member as Qt names a macro.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

using namespace plexavo;
using namespace mainwin_test;

using plexavo::gui::AboutDialog;
using plexavo::gui::Application;
using plexavo::gui::BatchWindow;
using plexavo::gui::ConversionView;
using plexavo::gui::DetectionWindow;
using plexavo::gui::ExitSignals;
using plexavo::gui::HelpTipsDialog;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;
using plexavo::gui::ToolBar;

namespace {

std::atomic<int> g_hangUps{0};
void countHangUp(int) {
    ++g_hangUps;
}

// The letter after a single '&', or 0.
QChar mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return QChar();
}

void touchWith(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Whether GIO sees a handler of web pages on the desktop (after a change, once
// its monitor has told it).
bool desktopHasWebPageHandler() {
    GAppInfo* handler = g_app_info_get_default_for_type("text/html", FALSE);
    if (handler)
        g_object_unref(handler);
    return handler != nullptr;
}

QList<int> commandIds(QMenu* menu) {
    QList<int> ids;
    for (QAction* action : menu->actions())
        ids.append(action->isSeparator() ? 0 : action->data().toInt());
    return ids;
}

} // namespace

class TestMainFrame : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> m_frame;
    // The desktop the window's addresses open on, empty until a test fills it.
    QTemporaryDir m_desktop;

  private slots:
    void initTestCase() {
        // Set before anything asks GLib for the XDG folders: it reads each
        // once per process (the preview's GStreamer, at the view's start).
        // The system's icons, but none of its applications.
        QVERIFY(m_desktop.isValid());
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
            qputenv(name, m_desktop.filePath(QLatin1String(name)).toUtf8());
        QVERIFY(QDir().mkpath(m_desktop.filePath(QStringLiteral("XDG_DATA_DIRS"))));
        QVERIFY(QFile::link(QStringLiteral("/usr/share/icons"),
                            m_desktop.filePath(QStringLiteral("XDG_DATA_DIRS/icons"))));
        // Not a first start: no help window may pop up over the tests.
        settings::writeToolTipsHidden();
        settings::toolTipsHiddenThisRun = true;
    }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        m_frame = std::make_unique<MainWindow>();
        m_frame->view()->mediaFrameworkReady = [] { return true; };
        m_frame->view()->runDetection = [this](const std::vector<std::string>& paths) {
            for (const auto& path : paths) {
                auto* item = makeItem(
                    QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString());
                addRow(*m_frame->view(), item);
            }
        };
    }

    void cleanup() {
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_frame.reset();
    }

    void isAFixedCentredWindowWithoutMaximise() {
        QCOMPARE(m_frame->size(), QSize(MainWindow::kWidth, MainWindow::kHeight));
        QCOMPARE(m_frame->minimumSize(), m_frame->maximumSize());
        QVERIFY(!(m_frame->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(m_frame->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Plexavo"));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(m_frame->pos(), QPoint(screen.x() + (screen.width() - MainWindow::kWidth) / 2,
                                        screen.y() + (screen.height() - MainWindow::kHeight) / 2));
    }

    // A control shown before it has a parent opens as a window of its own,
    // a flash on the desktop at every start.
    void buildingTheWindowOpensNoOtherWindow() {
        struct ShownWindows : QObject {
            QStringList names;
            bool eventFilter(QObject* watched, QEvent* event) override {
                auto* widget = qobject_cast<QWidget*>(watched);
                if (event->type() == QEvent::Show && widget && widget->isWindow())
                    names.append(QString::fromLatin1(widget->metaObject()->className()) +
                                 QLatin1Char(' ') + widget->objectName());
                return false;
            }
        } shown;
        m_frame.reset();
        qApp->installEventFilter(&shown);
        m_frame = std::make_unique<MainWindow>();
        m_frame->recreateView();
        qApp->removeEventFilter(&shown);
        QVERIFY2(shown.names.isEmpty(), qPrintable(shown.names.join(QLatin1String(", "))));
    }

    void theFixedWindowHoldsItsControlsAtLargerFonts() {
        // A desktop may use 10 or 11 point fonts; nothing may be squeezed
        // below the size it needs to show its text (the media tip shows, as
        // no media framework version was read here).
        const QFont original = QApplication::font();
        for (qreal points : {9.0, 10.0, 11.0}) {
            QFont font = original;
            font.setPointSizeF(points);
            QApplication::setFont(font);
            MainWindow frame;
            frame.show();
            QCoreApplication::processEvents();
            // The longest line the panel may show.
            frame.view()->findChild<QWidget*>(QStringLiteral("ctl1101"))->setVisible(true);
            const QSize need = frame.view()->minimumSizeHint();
            const QSize have = frame.view()->size();
            qInfo("%.0f pt: the view needs %dx%d and has %dx%d", points, need.width(),
                  need.height(), have.width(), have.height());
            QVERIFY2(need.width() <= have.width() && need.height() <= have.height(),
                     qPrintable(QString::number(points)));
            // Every toolbar button shows, none is pushed into an overflow menu.
            const int toolbarNeeds = frame.toolBar()->sizeHint().width();
            qInfo("%.0f pt: the toolbar needs %d of %d", points, toolbarNeeds, frame.width());
            QVERIFY2(toolbarNeeds <= frame.width(), qPrintable(QString::number(points)));
        }
        QApplication::setFont(original);
    }

    void menuBarIsTrimmedAndEveryEntryHasAMnemonic() {
        const QList<QMenu*> popups = m_frame->popups();
        QStringList titles;
        for (QMenu* menu : popups)
            titles.append(menu->title());
        QCOMPARE(titles, (QStringList{"&File", "&Action", "&Language", "&Source Format",
                                      "&Target Format", "&Download", "&Help"}));
        QCOMPARE(commandIds(popups[0]), (QList<int>{32801, 32803, 32804, 0, 57665}));
        QCOMPARE(commandIds(popups[1]), (QList<int>{32805, 32806, 0, 32807, 32808}));
        QCOMPARE(commandIds(popups[2]), QList<int>{32750});
        QCOMPARE(commandIds(popups[3]), (QList<int>{32703, 32708, 32709, 32710, 32712, 32713, 32717,
                                                    32702, 32701, 32718}));
        QCOMPARE(commandIds(popups[4]), (QList<int>{32719, 32720}));
        QCOMPARE(commandIds(popups[5]), (QList<int>{32776, 32778, 32777, 32779, 0, 32780}));
        QCOMPARE(commandIds(popups[6]), (QList<int>{32791, 32792, 0, 57664}));
        QCOMPARE(m_frame->action(57664)->text(), QStringLiteral("&About Plexavo ..."));

        // Titles have distinct mnemonics; so do the commands that act.
        QSet<QChar> barKeys;
        for (QMenu* menu : popups)
            QVERIFY2(!mnemonic(menu->title()).isNull() &&
                         !barKeys.contains(mnemonic(menu->title())),
                     qPrintable(menu->title()));
        for (int i : {0, 1, 6}) {
            QSet<QChar> keys;
            for (QAction* action : popups[i]->actions()) {
                if (action->isSeparator())
                    continue;
                const QChar key = mnemonic(action->text());
                QVERIFY2(!key.isNull() && !keys.contains(key), qPrintable(action->text()));
                keys.insert(key);
            }
        }
    }

    void actionsCarryTheirIdsPromptsAndTips() {
        for (auto it = m_frame->commandActions().cbegin(); it != m_frame->commandActions().cend();
             ++it)
            QCOMPARE(it.value()->data().toInt(), it.key());
        QCOMPARE(m_frame->action(32801)->statusTip(), QStringLiteral("Add source file(s)"));
        QCOMPARE(m_frame->action(32807)->statusTip(),
                 QStringLiteral("Play first selected file and set selection part for converting."));
        QCOMPARE(m_frame->action(32807)->toolTip(),
                 QStringLiteral("Preview or set selection part"));
        QCOMPARE(m_frame->action(57665)->toolTip(), QStringLiteral("Exit"));
        QCOMPARE(m_frame->action(32708)->statusTip(),
                 QStringLiteral("Mpeg file (MPEG,DVD,SVCD,VCD...)"));
        QVERIFY(m_frame->action(32708)->isEnabled());
        QCOMPARE(m_frame->action(32776)->text(), QStringLiteral("GStreamer Runtime"));
    }

    void toolbarHasItsElevenSlots() {
        const QList<QAction*> slotActions = m_frame->toolBar()->actions();
        QCOMPARE(slotActions.size(), 11);
        const int ids[] = {32801, 32803, 32804, 0, 32805, 32806, 0, 32807, 32808, 0, 57665};
        const char* texts[] = {"Add", "Remove",  "Remove All", "", "Move Up", "Move Down",
                               "",    "Preview", "Convert",    "", "Exit"};
        for (int i = 0; i < 11; ++i) {
            QCOMPARE(slotActions[i]->isSeparator(), ids[i] == 0);
            if (ids[i] == 0)
                continue;
            QCOMPARE(slotActions[i]->data().toInt(), ids[i]);
            QCOMPARE(slotActions[i]->iconText(), QString::fromUtf8(texts[i]));
            QVERIFY(!slotActions[i]->icon().isNull());
            auto* button =
                qobject_cast<QToolButton*>(m_frame->toolBar()->widgetForAction(slotActions[i]));
            QVERIFY(button);
            QVERIFY(button->minimumWidth() >= ToolBar::kButtonSize);
            QCOMPARE(button->accessibleName(), QString::fromUtf8(texts[i]));
        }
        QCOMPARE(m_frame->toolBar()->iconSize(), QSize(48, 48));
        bool fromTheme = false;
        ToolBar::themeIcon(QStringLiteral("go-up"), &fromTheme);
        QVERIFY2(fromTheme, "the Adwaita theme should have go-up");
        bool unknown = true;
        QVERIFY(!ToolBar::themeIcon(QStringLiteral("no-such-icon-here"), &unknown).isNull());
        QVERIFY(!unknown);
    }

    // hicolor, Qt's name when no desktop names a theme, is only the base of
    // every theme; a desktop's own theme stays first.
    void withoutADesktopThemeTheIconsComeFromAdwaita() {
        const QString before = QIcon::themeName();
        QIcon::setThemeName(QStringLiteral("hicolor"));
        ToolBar::prepareIconThemes();
        QCOMPARE(QIcon::themeName(), QStringLiteral("Adwaita"));
        QCOMPARE(QIcon::fallbackThemeName(), QStringLiteral("Adwaita"));
        // Adwaita draws no other program: the window keeps the built-in icon
        // without a look through hicolor.
        QVERIFY(!gui::themeMayDrawProgramIcon());
        QCOMPARE(gui::programIcon().availableSizes(), gui::builtInProgramIcon().availableSizes());
        QIcon::setThemeName(QStringLiteral("breeze"));
        ToolBar::prepareIconThemes();
        QCOMPARE(QIcon::themeName(), QStringLiteral("breeze"));
        QVERIFY(gui::themeMayDrawProgramIcon());
        QIcon::setThemeName(before);
    }

    void statusBarShowsReadyAndThreeIndicators() {
        auto* ready = m_frame->statusBar()->findChild<QLabel*>(QStringLiteral("statusReady"));
        QVERIFY(ready);
        QCOMPARE(ready->text(), QStringLiteral("Ready"));
        for (int i = 0; i < 3; ++i) {
            auto* pane = m_frame->statusBar()->findChild<QLabel*>(
                QStringLiteral("statusIndicator%1").arg(i));
            QVERIFY(pane);
            QVERIFY(!pane->accessibleName().isEmpty());
            QVERIFY(pane->minimumWidth() > 0);
        }
    }

    void actionsFollowTheViewsRules() {
        auto enabled = [this](int id) { return m_frame->action(id)->isEnabled(); };
        QVERIFY(enabled(32801));
        for (int id : {32803, 32804, 32805, 32806, 32807, 32808})
            QVERIFY2(!enabled(id), qPrintable(QString::number(id)));
        addRows(*m_frame->view(), 1);
        QVERIFY(enabled(32803) && enabled(32804) && enabled(32807) && enabled(32808));
        QVERIFY(!enabled(32805) && !enabled(32806));
        addRows(*m_frame->view(), 1);
        QVERIFY(enabled(32805) && enabled(32806));
        m_frame->action(32804)->trigger();
        QVERIFY(!enabled(32803) && !enabled(32808));
    }

    void cancellingTheExitQuestionKeepsTheWindow() {
        m_frame->show();
        addRows(*m_frame->view(), 2);
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        m_frame->action(57665)->trigger();
        QVERIFY(m_frame->isVisible());
        QCOMPARE(MessageBox::shownTexts().value(0),
                 QStringLiteral("Thanks for using Plexavo. Sure to exit?"));
        QCOMPARE(m_frame->view()->rowCount(), 2);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QVERIFY(m_frame->close());
        QVERIFY(!m_frame->isVisible());
        QCOMPARE(MessageBox::shownTexts().size(), 2);
    }

    void aboutBoxShowsNameVersionAndLink() {
        AboutDialog about(m_frame.get());
        QCOMPARE(about.windowTitle(), QStringLiteral("About Plexavo"));
        QCOMPARE(about.findChild<QLabel*>("ctl1046")->text(), QStringLiteral("Plexavo ( tm )"));
        QCOMPARE(about.versionText(), QStringLiteral("Version " PLEXAVO_PROJECT_VERSION));
        QVERIFY(about.linkTarget().endsWith(QStringLiteral("index.html")));
        QVERIFY(!about.findChild<QLabel*>("ctl1032")->accessibleName().isEmpty());
        QVERIFY(!about.findChild<QLabel*>("programIcon")->pixmap().isNull());
        // OK closes it.
        QTimer::singleShot(0, &about, [&] { QTest::keyClick(&about, Qt::Key_Return); });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
    }

    void helpTipsCloseWhenTheirBoxIsClicked() {
        HelpTipsDialog tips(m_frame.get());
        QCOMPARE(tips.windowTitle(), QStringLiteral("Help Tips"));
        QVERIFY(tips.findChild<QLabel*>("labelSteps")
                    ->text()
                    .startsWith(QStringLiteral("Help 1-2-3-4\n\n   1. Add")));
        QTimer::singleShot(0, &tips, [&] { QTest::keyClick(tips.hideBox(), Qt::Key_Space); });
        QCOMPARE(tips.exec(), int(QDialog::Accepted));
    }

    void helpTipsCloseWhenAScreenReaderTogglesTheirBox() {
        // A screen reader's toggle action changes the state without a click.
        HelpTipsDialog tips(m_frame.get());
        QTimer::singleShot(0, &tips, [&] {
            QAccessibleInterface* box = QAccessible::queryAccessibleInterface(tips.hideBox());
            QVERIFY(box && box->actionInterface());
            QVERIFY(box->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::toggleAction()));
            box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        });
        QTimer::singleShot(3000, &tips, [&] { tips.done(QDialog::Rejected); });
        QCOMPARE(tips.exec(), int(QDialog::Accepted));

        // The view's own box opens the window the same way.
        int opened = 0;
        m_frame->view()->runHelpTips = [&] { ++opened; };
        auto* viewBox = m_frame->view()->findChild<QCheckBox*>(QStringLiteral("ctl32792"));
        QAccessible::queryAccessibleInterface(viewBox)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QCOMPARE(opened, 1);
        QVERIFY(viewBox->isChecked()); // and it is ticked again once the window has closed
    }

    void theFirstStartTipsWaitForTheDetectionWindow() {
        // Files on the command line and the tips never closed: the detection
        // window is up when the tips' second has passed.
        settings::SettingsFile().write(settings::kHiddenToolTips, false);
        Application app;
        QVERIFY(app.initInstance({std::string("/m/clip.mp4")}));
        settings::writeToolTipsHidden();
        ConversionView* view = app.mainFrame()->view();
        QElapsedTimer clock;
        clock.start();
        qint64 detectionClosedAt = -1;
        view->runDetection = [&](const std::vector<std::string>&) {
            QDialog detection(app.mainFrame());
            // Closed is when it hides, not when exec() gets round to returning.
            QObject::connect(&detection, &QDialog::finished,
                             [&] { detectionClosedAt = clock.elapsed(); });
            QTimer::singleShot(1600, &detection, &QDialog::accept);
            detection.exec();
        };
        qint64 tipsAt = -1;
        bool overAnotherWindow = true;
        view->runHelpTips = [&] {
            tipsAt = clock.elapsed();
            overAnotherWindow = QApplication::activeModalWidget() != nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(tipsAt >= 0, 10000);
        QVERIFY(detectionClosedAt > 1000);
        QVERIFY2(tipsAt >= detectionClosedAt,
                 qPrintable(QStringLiteral("%1 ms, detection closed at %2")
                                .arg(tipsAt)
                                .arg(detectionClosedAt)));
        QVERIFY(!overAnotherWindow);
        settings::toolTipsHiddenThisRun = true;
        MessageBox::setNextAnswer(QMessageBox::Ok);
        app.mainFrame()->close();
    }

    void theLogOffQuestionIsTheExitQuestion() {
        Application app;
        QVERIFY(app.initInstance());
        auto* session = qApp->findChild<QSessionManager*>();
        QVERIFY(session);
        const auto realMayAsk = Application::mayAskAtLogOff;
        static bool mayAsk = false;
        Application::mayAskAtLogOff = [](QSessionManager&) { return mayAsk; };
        // A session that may not wait for an answer is not held up by one.
        emit qApp->commitDataRequest(*session);
        QVERIFY(MessageBox::shownTexts().isEmpty());
        // One that may: Cancel keeps the program, OK answers the close to come.
        mayAsk = true;
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        emit qApp->commitDataRequest(*session);
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("Thanks for using Plexavo. Sure to exit?")});
        QVERIFY(app.mainFrame()->isVisible());
        MessageBox::setNextAnswer(QMessageBox::Ok);
        emit qApp->commitDataRequest(*session);
        QVERIFY(app.mainFrame()->close());
        QCOMPARE(MessageBox::shownTexts().size(), 2);
        Application::mayAskAtLogOff = realMayAsk;
    }

    void toolTipsCommandChecksTheMenuWhileTheWindowIsOpen() {
        bool checkedWhileOpen = false;
        m_frame->view()->runHelpTips = [&] {
            checkedWhileOpen = m_frame->action(32792)->isChecked();
        };
        m_frame->action(32792)->trigger();
        QVERIFY(checkedWhileOpen);
        QVERIFY(!m_frame->action(32792)->isChecked());
    }

    void helpContentsReportsAMissingDocumentOrViewer() {
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_frame->helpDocumentPath = "/no/such/folder/Plexavo.html";
        m_frame->action(32791)->trigger();
        QCOMPARE(MessageBox::shownTexts().value(0),
                 QStringLiteral("Can't find the help document:\n/no/such/folder/Plexavo.html"));

        // A document, but no xdg-open to show it.
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral("Plexavo.html")));
        m_frame->helpDocumentPath = dir.filePath(QStringLiteral("Plexavo.html")).toStdString();
        {
            testing_support::EnvGuard noTools("PATH", dir.path().toStdString());
            m_frame->action(32791)->trigger();
        }
        QCOMPARE(MessageBox::shownTexts().value(1),
                 QStringLiteral("Can't find xdg-open. It's included in the xdg-utils package."));
    }

    void downloadCommandsOpenTheirAnchorOrSayWhyNot() {
        // The desktop's text/html handler is yet to come.
        const QTemporaryDir& desktop = m_desktop;
        const QString opened = desktop.filePath(QStringLiteral("opened"));
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        QList<QAction*> downloads = m_frame->popups().value(5)->actions();
        downloads.removeIf([](QAction* action) { return action->isSeparator(); });
        QCOMPARE(downloads.size(), 5);

        // No browser: each command says so, as the About box's link does.
        for (QAction* action : downloads)
            action->trigger();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList(5, QStringLiteral("Can't open link:\n\nThere is no application "
                                               "associated\nwith the given filename extension.")));

        // A browser: each page opens at its anchor, and nothing is said.
        touchWith(desktop.filePath(QStringLiteral("browser")),
                  QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(opened));
        QFile::setPermissions(desktop.filePath(QStringLiteral("browser")),
                              QFile::ExeOwner | QFile::ReadOwner);
        touchWith(desktop.filePath(QStringLiteral("XDG_CONFIG_HOME/mimeapps.list")),
                  "[Default Applications]\ntext/html=fake.desktop\n");
        touchWith(desktop.filePath(QStringLiteral("XDG_DATA_HOME/applications/fake.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Fake\nExec=" +
                      desktop.filePath(QStringLiteral("browser")) + " %u\n");
        // GIO learns of the change from its file monitor, in its own thread.
        QTRY_VERIFY_WITH_TIMEOUT(desktopHasWebPageHandler(), 10000);
        MessageBox::shownTexts().clear();
        for (int i = 0; i < downloads.size(); ++i) {
            downloads[i]->trigger(); // one at a time, so the lines keep the menu's order
            QTRY_COMPARE_WITH_TIMEOUT(readLines(opened).size(), i + 1, 10000);
        }
        QStringList anchors;
        for (const QString& line : readLines(opened))
            anchors.append(line.section(QStringLiteral("download.html#"), 1));
        QCOMPARE(anchors,
                 (QStringList{"directx", "wmplayer", "realplayer", "quicktime", "oggcodecs"}));
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void aRecreatedViewKeepsRowsAndToolbar() {
        addRows(*m_frame->view(), 3);
        select(*m_frame->view(), {2});
        ConversionView* old = m_frame->view();
        int configured = 0;
        m_frame->configureView = [&](ConversionView*) { ++configured; };
        ConversionView* fresh = m_frame->recreateView();
        QVERIFY(fresh != old);
        QCOMPARE(m_frame->view(), fresh);
        QCOMPARE(configured, 1);
        QCOMPARE(rowTitles(*fresh), (QStringList{"clip0", "clip1", "clip2"}));
        QCOMPARE(fresh->selectedRows(), QList<int>{2});
        QVERIFY(m_frame->action(32808)->isEnabled());
        QCOMPARE(m_frame->toolBar()->actions()[0]->iconText(), QStringLiteral("Add"));
        m_frame->rebuildMenus(true);
        QCOMPARE(m_frame->popups().size(), 7);
        // The kept actions still run the new view's commands.
        m_frame->action(32804)->trigger();
        QCOMPARE(fresh->rowCount(), 0);
    }

    void filesOnTheCommandLineGoThroughDetectionOnceShown() {
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral("b.mp4")));
        touch(dir.filePath(QStringLiteral("a.mov")));
        Application app;
        QVERIFY(app.initInstance({"/m/first clip.mp4", dir.path().toStdString()}));
        QVERIFY(app.mainFrame()->isVisible());
        std::vector<std::string> detected;
        app.mainFrame()->view()->runDetection = [&](const std::vector<std::string>& paths) {
            detected = paths;
        };
        const std::string folder = dir.path().toStdString();
        QTRY_COMPARE(detected, (std::vector<std::string>{"/m/first clip.mp4", folder + "/a.mov",
                                                         folder + "/b.mp4"}));
        MessageBox::setNextAnswer(QMessageBox::Ok);
        app.mainFrame()->close();
    }

    void stopSignalsArriveOnTheWindowThreadAndTheOldHandlersReturn() {
        g_hangUps = 0;
        testing_support::SignalGuard previous(SIGHUP, countHangUp);
        {
            ExitSignals exitSignals;
            QVERIFY(exitSignals.installed());
            QList<int> received;
            QList<bool> onWindowThread;
            connect(&exitSignals, &ExitSignals::received, this, [&](int sig) {
                received.append(sig);
                onWindowThread.append(QThread::currentThread() == qApp->thread());
            });
            raise(SIGTERM);
            // From another thread too: the handler runs there, the news arrives here.
            std::thread([] { raise(SIGHUP); }).join();
            raise(SIGINT);
            QTRY_COMPARE(received, (QList<int>{SIGTERM, SIGHUP, SIGINT}));
            QCOMPARE(onWindowThread, (QList<bool>{true, true, true}));
            QCOMPARE(g_hangUps.load(), 0);
        }
        raise(SIGHUP);
        QCOMPARE(g_hangUps.load(), 1);
    }

    // ---- Keyboard and screen reader -------------------------------------------

    void everyControlIsNamedAndTabOrderRunsDownThePanel() {
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        addRows(*m_frame->view(), 1);
        auto* list = m_frame->view()->sourceList();
        list->setFocus();
        QStringList visited;
        QWidget* start = QApplication::focusWidget();
        QVERIFY(start == list);
        for (int i = 0; i < 40; ++i) {
            QWidget* w = QApplication::focusWidget();
            QVERIFY(w);
            QVERIFY2(w->objectName().startsWith(QStringLiteral("ctl")),
                     qPrintable(w->objectName()));
            QVERIFY2(
                !w->accessibleName().isEmpty() ||
                    !QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty(),
                qPrintable(w->objectName()));
            visited.append(w->objectName());
            QTest::keyClick(w, Qt::Key_Tab);
            if (QApplication::focusWidget() == start)
                break;
        }
        // Read as shown: the dots of a button that opens a window, and the
        // box's own name.
        QCOMPARE(m_frame->view()->findChild<QWidget*>("ctl1002")->accessibleName(),
                 QStringLiteral("Browse..."));
        QCOMPARE(tab_walk::spokenName(m_frame->view()->findChild<QWidget*>("ctl1210")),
                 QStringLiteral("Information"));
        const QStringList expected = {"ctl1000", "ctl1210", "ctl1004", "ctl1103",
                                      "ctl1104", "ctl1105", "ctl1106", "ctl1107",
                                      "ctl1118", "ctl1112", "ctl1113", "ctl1114",
                                      "ctl1001", "ctl1002", "ctl1003", "ctl32792"};
        QCOMPARE(visited, expected);
    }

    void everyWindowNamesEveryControlTabReaches() {
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTemporaryDir out;
        m_frame->view()->chooseOutputFolder = [&](const QString&) { return out.path(); };
        m_frame->view()->onBrowse();
        addRows(*m_frame->view(), 1);
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        QStringList unnamed, walked;
        auto walkHere = [&](QWidget* window, const QString& what) {
            window->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), window);
            const tab_walk::Result result = tab_walk::walk(window);
            for (const QString& name : result.unnamed + QStringList(window->windowTitle().isEmpty()
                                                                        ? QStringLiteral("window")
                                                                        : QString()))
                if (!name.isEmpty())
                    unnamed.append(what + QStringLiteral(": ") + name);
            walked.append(what + QStringLiteral(" (") + result.stops.join(QLatin1Char(' ')) +
                          QLatin1Char(')'));
        };
        // A modal window is walked once it is up, then left as a user leaves it.
        auto walkModal = [&](const QString& what, const std::function<void(QWidget*)>& leave) {
            QTimer::singleShot(300, [&, what, leave] {
                QWidget* window = QApplication::activeModalWidget();
                QVERIFY(window);
                walkHere(window, what);
                leave(window);
            });
        };
        auto reject = [](QWidget* w) { static_cast<QDialog*>(w)->reject(); };

        m_frame->view()->sourceList()->setFocus();
        walkHere(m_frame.get(), QStringLiteral("main window"));
        walkModal(QStringLiteral("About"), reject);
        m_frame->action(gui::cmd::kAbout)->trigger();
        walkModal(QStringLiteral("Help Tips"), reject);
        HelpTipsDialog(m_frame.get()).exec();
        // The two working windows, against a stand-in core that takes its time.
        testing_support::FakeCore core("s:1500|x:1"); // a probe that finds nothing, slowly
        walkModal(QStringLiteral("detection"), [](QWidget*) {}); // it closes by itself
        DetectionWindow(*m_frame->view(), {"/m/one.mp4"}, m_frame.get()).exec();
        core.setScript("t|w:frame=1 time=1.00 |s:3000|O|x:0");
        walkModal(QStringLiteral("batch"), [](QWidget* w) {
            w->findChild<QPushButton*>(QStringLiteral("ctl1022"))->click();
        });
        BatchWindow(*m_frame->view(), m_frame.get()).exec();

        qInfo("%s", qPrintable(walked.join(QStringLiteral("; "))));
        QCOMPARE(walked.size(), 5);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("; "))));
    }

    void keyboardAloneAddsMovesAndRemoves() {
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        int asked = 0;
        m_frame->view()->chooseSourceFiles = [&] {
            ++asked;
            return QStringList{QStringLiteral("/m/first.mp4"), QStringLiteral("/m/second.mp4")};
        };
        QTest::keyClick(m_frame.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(asked, 1);
        QCOMPARE(rowTitles(*m_frame->view()), (QStringList{"first", "second"}));
        auto* list = m_frame->view()->sourceList();
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Up, Qt::AltModifier); // the last row is selected
        QCOMPARE(rowTitles(*m_frame->view()), (QStringList{"second", "first"}));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(rowTitles(*m_frame->view()), QStringList{"first"});
        // Delete in an edit edits; it does not remove rows.
        auto* width = m_frame->view()->findChild<QWidget*>("ctl1104");
        width->setFocus();
        QTest::keyClick(width, Qt::Key_Delete);
        QCOMPARE(m_frame->view()->rowCount(), 1);
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
