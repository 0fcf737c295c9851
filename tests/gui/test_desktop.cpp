// The batch on the desktop, against a session bus of the test's own: the
// notification when a batch ends while the user is elsewhere (its texts,
// that it does not wait for the end messages, that it raises the window),
// none while the window is active, no failure without a service or a bus;
// and the progress on the dock, which rises to 1 and is hidden at the end.
#include "engine/i18n/ResourceText.h"
#include "engine/media/SourceItem.h"
#include "engine/res/ResourceModule.h"
#include "gui/common/DesktopIntegration.h"
#include "gui/common/MessageBox.h"
#include "gui/windows/BatchDesktop.h"
#include "gui/windows/BatchWindow.h"
#include "support/BatchTestSupport.h"
#include "support/TestDesktopBus.h"
#include "support/TestSourceList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::announceOnDesktop;
using plexavo::gui::BatchTally;
using plexavo::gui::BatchWindow;
using plexavo::gui::DesktopIntegration;
using plexavo::gui::MessageBox;
using plexavo::gui::tallyBatch;
using plexavo::media::kStatusDone;
using plexavo::media::kStatusError;
using plexavo::media::kStatusSkip;
using plexavo::media::kStatusWaiting;

namespace {

constexpr char kCompleted[] = "Conversion is completed.";
constexpr char kCanceled[] = "Conversion is canceled.";
constexpr char kUri[] = "application://com.vantrel.Plexavo.desktop";

// About 0.4 s a row, with progress on the way.
const QString kRowScript = QStringLiteral(
    "t|w:frame=1 time=2.00 |s:150|w:frame=2 time=5.00 |s:150|w:frame=3 time=8.00 |s:100|O|x:0");
// Slow enough to click Cancel during the second row.
const QString kSlowScript = QStringLiteral(
    "t|w:frame=1 time=1.00 |s:300|w:frame=2 time=2.00 |s:300|w:frame=3 time=3.00 |s:300|"
    "w:frame=4 time=4.00 |s:300|w:frame=5 time=5.00 |s:300|w:frame=6 time=6.00 |s:300|O|x:0");

double progressOf(const LauncherUpdate& u) {
    return u.properties.value(QStringLiteral("progress")).toDouble();
}
bool visibleOf(const LauncherUpdate& u) {
    return u.properties.value(QStringLiteral("progress-visible")).toBool();
}
qint64 countOf(const LauncherUpdate& u) {
    return u.properties.value(QStringLiteral("count")).toLongLong();
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TestDesktopBus> m_bus;
    std::unique_ptr<QTemporaryDir> m_out;
    TestSourceList* m_list = nullptr;
    int m_connections = 0;

    // The program's side on the test's bus, owned by the main window.
    DesktopIntegration* desktopOnBus() {
        return new DesktopIntegration(
            m_list, m_bus->connect(QStringLiteral("program-%1").arg(++m_connections)));
    }

    void addRows(int n) {
        for (int i = 0; i < n; ++i)
            m_list->addItem(QStringLiteral("/media/in/clip %1.mp4").arg(i + 1).toStdString(), 0,
                            10);
    }

    // The user has gone to another program: no window of this one is active.
    static void leaveTheProgram(QWidget& shown) {
        QTRY_VERIFY(shown.isActiveWindow());
        QApplication::setActiveWindow(nullptr);
        QVERIFY(QApplication::activeWindow() == nullptr);
    }

    // Every call the program has sent so far has arrived: a call sent after
    // them arrives after them on the same connection.
    void flushNotifications(DesktopIntegration& desktop) {
        const std::size_t before = m_bus->notifyCalls().size();
        QVERIFY(desktop.notify(QStringLiteral("marker"), QString()));
        QTRY_VERIFY(!m_bus->notifyCalls().empty() &&
                    m_bus->notifyCalls().back().summary == QLatin1String("marker"));
        QVERIFY(m_bus->notifyCalls().size() >= before + 1);
    }

    // Runs a batch of the list to its end with the desktop tied to it.
    void runBatch(DesktopIntegration& desktop, bool away, std::int64_t* endedNs = nullptr) {
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        announceOnDesktop(dlg, *m_list, desktop);
        connect(&dlg, &BatchWindow::driverEnded, this, [endedNs] {
            if (endedNs)
                *endedNs = steadyNs();
        });
        dlg.open();
        if (away)
            leaveTheProgram(dlg);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 30000);
    }

  private slots:
    void initTestCase() {
        m_bus = std::make_unique<TestDesktopBus>();
        QVERIFY2(m_bus->ok(), qPrintable(m_bus->error()));
    }
    void cleanupTestCase() {
        m_bus.reset();
        // The bus went away under the program's session connection: let its
        // thread take that in while the application still lives, not in the
        // exit handlers after it.
        QTest::qWait(500);
    }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        QVERIFY(m_bus->startNotificationService());
        m_out = std::make_unique<QTemporaryDir>();
        m_list = new TestSourceList;
        m_list->editSettings().outputPath = m_out->path().toStdString() + "/out";
        m_list->show();
    }
    void cleanup() {
        delete m_list;
        m_list = nullptr;
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        m_bus->stopNotificationService();
        i18n::setCurrentModule(nullptr);
    }

    // ---- the counts ------------------------------------------------------------

    void tallyCountsRowsAsTheWindowLeavesThem() {
        // A complete batch: each row's own status; an empty slot counts nothing.
        BatchTally t =
            tallyBatch({kStatusDone, kStatusSkip, kStatusError, kStatusDone, -1}, 4, true);
        QCOMPARE((std::vector<int>{t.done, t.failed, t.skipped}), (std::vector<int>{2, 1, 1}));
        // Cancelled during the second row: it and the rows after it become
        // skipped whatever they say yet (Waiting, or a status of a batch before).
        t = tallyBatch({kStatusDone, kStatusWaiting, kStatusDone}, 1, false);
        QCOMPARE((std::vector<int>{t.done, t.failed, t.skipped}), (std::vector<int>{1, 0, 2}));
        // Cancelled after a failed row: the failure stands.
        t = tallyBatch({kStatusError, kStatusWaiting}, 1, false);
        QCOMPARE((std::vector<int>{t.done, t.failed, t.skipped}), (std::vector<int>{0, 1, 1}));
        t = tallyBatch({}, 0, true);
        QCOMPARE((std::vector<int>{t.done, t.failed, t.skipped}), (std::vector<int>{0, 0, 0}));
    }

    // ---- the notification ---------------------------------------------------------

    void batchEndWhileAwaySendsOneNotification() {
        ScriptedCore fake(kRowScript);
        DesktopIntegration* desktop = desktopOnBus();
        addRows(3);
        m_list->itemOfRow(1)->endSeconds = 0; // an empty part: this row fails
        std::int64_t endedNs = 0;
        runBatch(*desktop, true, &endedNs);
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusError, kStatusDone}));

        QTRY_COMPARE(m_bus->notifyCalls().size(), std::size_t(1));
        const NotifyCall call = m_bus->notifyCalls().front();
        QCOMPARE(call.appName, QStringLiteral("Plexavo"));
        QCOMPARE(call.appIcon, QStringLiteral("com.vantrel.Plexavo"));
        QCOMPARE(call.summary, QString(kCompleted));
        QCOMPARE(call.body, QStringLiteral("2 converted, 1 failed, 0 skipped"));
        QCOMPARE(call.replacesId, 0u);
        QVERIFY(call.actions.size() % 2 == 0);
        QCOMPARE(call.actions.value(0), QStringLiteral("default"));
        QVERIFY(!call.actions.value(1).isEmpty());
        QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("com.vantrel.Plexavo"));
        QVERIFY(endedNs > 0 && call.arrivedNs >= endedNs);
        qInfo("batch end to notification call: %.1f ms", (call.arrivedNs - endedNs) / 1e6);
        // The end messages were shown as before.
        QCOMPARE(MessageBox::shownTexts().size(), 2);
        QCOMPARE(MessageBox::shownTexts().at(1), QString(kCompleted));
    }

    void cancelledBatchSaysSoAndCountsTheRestAsSkipped() {
        ScriptedCore fake(kSlowScript);
        DesktopIntegration* desktop = desktopOnBus();
        addRows(3);
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        announceOnDesktop(dlg, *m_list, *desktop);
        dlg.open();
        leaveTheProgram(dlg);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.driver().currentIndex(), 1, 20000);
        dlg.findChild<QPushButton*>(QStringLiteral("ctl1022"))->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusSkip, kStatusSkip}));
        QTRY_COMPARE(m_bus->notifyCalls().size(), std::size_t(1));
        QCOMPARE(m_bus->notifyCalls().front().summary, QString(kCanceled));
        QCOMPARE(m_bus->notifyCalls().front().body,
                 QStringLiteral("1 converted, 0 failed, 2 skipped"));
    }

    void noNotificationWhileTheWindowIsActive() {
        ScriptedCore fake(kRowScript);
        DesktopIntegration* desktop = desktopOnBus();
        addRows(2);
        runBatch(*desktop, false);
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
        flushNotifications(*desktop);
        QCOMPARE(m_bus->notifyCalls().size(), std::size_t(1)); // the marker only
    }

    void notificationDoesNotWaitForTheEndMessages() {
        ScriptedCore fake(kRowScript);
        DesktopIntegration* desktop = desktopOnBus();
        addRows(1);
        m_list->addItem("/media/in/empty part.mp4", 4, 4); // a failure report comes first
        // The boxes are shown for real; each is answered only once the call
        // has arrived, or after five seconds without it.
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        int boxes = 0;
        int boxesBeforeTheCall = 0;
        QElapsedTimer boxUp;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                boxUp.invalidate();
                return;
            }
            if (!boxUp.isValid())
                boxUp.start();
            if (m_bus->notifyCalls().empty() && boxUp.elapsed() < 5000)
                return;
            ++boxes;
            if (m_bus->notifyCalls().empty())
                ++boxesBeforeTheCall;
            boxUp.invalidate();
            box->button(QMessageBox::Ok)->click();
        });
        answer.start(20);
        runBatch(*desktop, true);
        answer.stop();
        QCOMPARE(boxes, 2); // the failure report and the end message
        QCOMPARE(boxesBeforeTheCall, 0);
        QCOMPARE(m_bus->notifyCalls().size(), std::size_t(1));
        QCOMPARE(m_bus->notifyCalls().front().body,
                 QStringLiteral("1 converted, 1 failed, 0 skipped"));
    }

    void textsComeFromTheCurrentModule() {
        // A module of another language: the default one with the three texts replaced.
        const res::Module& english = res::defaultModule();
        std::vector<res::Entry> entries(english.entries, english.entries + english.count);
        for (auto& e : entries) {
            if (e.kind != res::Kind::String)
                continue;
            if (e.id == 61209)
                e.text = "Umwandlung fertig.";
            else if (e.id == 62050)
                e.text = "%d gut, %d schlecht, %d ausgelassen";
        }
        const res::Module other{"Test", 0x0407, entries.data(), entries.size()};
        i18n::setCurrentModule(&other);
        ScriptedCore fake(kRowScript);
        DesktopIntegration* desktop = desktopOnBus();
        addRows(1);
        runBatch(*desktop, true);
        QTRY_COMPARE(m_bus->notifyCalls().size(), std::size_t(1));
        QCOMPARE(m_bus->notifyCalls().front().summary, QStringLiteral("Umwandlung fertig."));
        QCOMPARE(m_bus->notifyCalls().front().body,
                 QStringLiteral("1 gut, 0 schlecht, 0 ausgelassen"));
    }

    void defaultActionRaisesTheWindowOfItsOwnNotification() {
        DesktopIntegration* desktop = desktopOnBus();
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(elsewhere.isActiveWindow());
        QSignalSpy answered(desktop, &DesktopIntegration::notificationShown);
        QVERIFY(desktop->notify(QStringLiteral("done"), QStringLiteral("body")));
        QTRY_COMPARE(answered.size(), 1);
        const uint id = m_bus->notifyCalls().front().id;
        // Another program's notification, and another action of this one.
        m_bus->invokeAction(id + 100, QStringLiteral("default"));
        m_bus->invokeAction(id, QStringLiteral("other"));
        QTest::qWait(300);
        QVERIFY(elsewhere.isActiveWindow());
        m_bus->invokeAction(id, QStringLiteral("default"));
        QTRY_VERIFY(m_list->isActiveWindow());
    }

    // The token a desktop sends with the click (notification protocol 1.2) is kept
    // for the notification it names only, and spent by the raise: on
    // Wayland it goes to Qt (the Wayland test), elsewhere nowhere.
    void theClicksActivationTokenIsSpentByTheRaise() {
        DesktopIntegration* desktop = desktopOnBus();
        QSignalSpy answered(desktop, &DesktopIntegration::notificationShown);
        QVERIFY(desktop->notify(QStringLiteral("done"), QStringLiteral("body")));
        QTRY_COMPARE(answered.size(), 1);
        const uint id = m_bus->notifyCalls().front().id;
        m_bus->sendActivationToken(id + 100, QStringLiteral("someone else's"));
        m_bus->sendActivationToken(id, QStringLiteral("the click"));
        QTRY_COMPARE(desktop->activationToken(), QStringLiteral("the click"));
        qunsetenv("XDG_ACTIVATION_TOKEN");
        m_bus->invokeAction(id, QStringLiteral("default"));
        QTRY_VERIFY(desktop->activationToken().isEmpty());
        QTRY_VERIFY(m_list->isActiveWindow());
        QVERIFY(!qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN")); // offscreen: not Wayland
        // A token for a notification that has gone is dropped with it.
        m_bus->sendActivationToken(id, QStringLiteral("late"));
        QTRY_COMPARE(desktop->activationToken(), QStringLiteral("late"));
        m_bus->closeNotification(id);
        QTRY_VERIFY(desktop->activationToken().isEmpty());
    }

    void nextNotificationReplacesTheOneStillShown() {
        DesktopIntegration* desktop = desktopOnBus();
        // The answer carrying the id is read on the window's thread.
        QSignalSpy answered(desktop, &DesktopIntegration::notificationShown);
        QVERIFY(desktop->notify(QStringLiteral("first"), QString()));
        QTRY_COMPARE(answered.size(), 1);
        QCOMPARE(m_bus->notifyCalls().size(), std::size_t(1));
        const uint first = m_bus->notifyCalls().at(0).id;
        QCOMPARE(desktop->notificationId(), first);
        QVERIFY(desktop->notify(QStringLiteral("second"), QString()));
        QTRY_COMPARE(answered.size(), 2);
        QCOMPARE(m_bus->notifyCalls().at(1).replacesId, first);
        // Once the desktop has closed it, the next one is new.
        m_bus->closeNotification(first);
        QTRY_COMPARE(desktop->notificationId(), 0u);
        QVERIFY(desktop->notify(QStringLiteral("third"), QString()));
        QTRY_COMPARE(m_bus->notifyCalls().size(), std::size_t(3));
        QCOMPARE(m_bus->notifyCalls().at(2).replacesId, 0u);
    }

    void withoutAServiceTheBatchEndsAsBefore() {
        m_bus->stopNotificationService();
        ScriptedCore fake(kRowScript);
        TestLog log;
        DesktopIntegration* desktop = desktopOnBus();
        addRows(2);
        runBatch(*desktop, true);
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
        // The bus's refusal arrives later and only goes to the debug log.
        QTRY_VERIFY(log.text().contains(QStringLiteral("Desktop notification not shown")));
    }

    void withoutABusNothingIsSent() {
        ScriptedCore fake(kRowScript);
        auto* desktop = new DesktopIntegration(
            m_list, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                  QStringLiteral("nowhere")));
        QVERIFY(!desktop->connected());
        QVERIFY(!desktop->notify(QStringLiteral("x"), QStringLiteral("y")));
        addRows(1);
        runBatch(*desktop, true);
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
        QVERIFY(!desktop->progressShown());
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    }

    // ---- the dock ---------------------------------------------------------------

    void dockProgressRisesToOneAndIsHiddenAtTheEnd() {
        ScriptedCore fake(kRowScript);
        DesktopIntegration* desktop = desktopOnBus();
        const std::size_t before = m_bus->launcherUpdates().size();
        addRows(3);
        runBatch(*desktop, false);
        QTRY_VERIFY(m_bus->launcherUpdates().size() > before &&
                    !visibleOf(m_bus->launcherUpdates().back()));
        const std::vector<LauncherUpdate> all = m_bus->launcherUpdates();
        const std::vector<LauncherUpdate> updates(all.begin() + static_cast<long>(before),
                                                  all.end());
        QVERIFY(updates.size() >= 3);
        for (const auto& u : updates) {
            QCOMPARE(u.appUri, QString(kUri));
            QVERIFY(u.path.startsWith(QStringLiteral("/com/canonical/unity/launcherentry/")));
            QCOMPARE(u.path, updates.front().path);
        }
        QCOMPARE(progressOf(updates.front()), 0.0);
        QCOMPARE(countOf(updates.front()), 3);
        for (std::size_t i = 0; i + 1 < updates.size(); ++i) {
            QVERIFY2(visibleOf(updates[i]), "hidden before the end");
            QVERIFY(progressOf(updates[i]) <= progressOf(updates[i + 1]));
            QVERIFY(countOf(updates[i + 1]) <= countOf(updates[i]));
        }
        const LauncherUpdate& lastShown = updates[updates.size() - 2];
        QCOMPARE(progressOf(lastShown), 1.0);
        QCOMPARE(countOf(lastShown), 0);
        QVERIFY(!updates.back().properties.value(QStringLiteral("count-visible")).toBool());
        QVERIFY(!desktop->progressShown());
    }

    void dockProgressIsHiddenAfterACancel() {
        ScriptedCore fake(kSlowScript);
        DesktopIntegration* desktop = desktopOnBus();
        const std::size_t before = m_bus->launcherUpdates().size();
        addRows(2);
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        announceOnDesktop(dlg, *m_list, *desktop);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(m_bus->launcherUpdates().size() > before, 10000);
        dlg.findChild<QPushButton*>(QStringLiteral("ctl1022"))->click();
        QTRY_VERIFY(!visibleOf(m_bus->launcherUpdates().back()));
        for (std::size_t i = before; i < m_bus->launcherUpdates().size(); ++i)
            QVERIFY(progressOf(m_bus->launcherUpdates()[i]) < 1.0);
    }

    void dockProgressIsHiddenWhenTheProgramCloses() {
        DesktopIntegration* desktop = desktopOnBus();
        desktop->showProgress(0.5, 2);
        desktop->showProgress(0.5, 2); // what the dock shows is not sent again
        QTRY_VERIFY(!m_bus->launcherUpdates().empty() &&
                    visibleOf(m_bus->launcherUpdates().back()));
        const std::size_t shown = m_bus->launcherUpdates().size();
        delete m_list; // the main window, and with it the desktop object
        m_list = nullptr;
        QTRY_COMPARE(m_bus->launcherUpdates().size(), shown + 1);
        QVERIFY(!visibleOf(m_bus->launcherUpdates().back()));
        QCOMPARE(progressOf(m_bus->launcherUpdates()[shown - 1]), 0.5);
        QCOMPARE(countOf(m_bus->launcherUpdates()[shown - 1]), 2);
        m_list = new TestSourceList; // for cleanup()
    }

    void dockProgressIsHiddenWhenTheWindowGoesMidBatch() {
        ScriptedCore fake(kSlowScript);
        DesktopIntegration* desktop = desktopOnBus();
        addRows(2);
        m_list->markAllWaiting();
        auto* dlg = new BatchWindow(*m_list, m_list);
        announceOnDesktop(*dlg, *m_list, *desktop);
        dlg->open();
        QTRY_VERIFY_WITH_TIMEOUT(desktop->progressShown(), 10000);
        delete dlg; // as when the program closes during a batch
        QVERIFY(!desktop->progressShown());
        QTRY_VERIFY(!visibleOf(m_bus->launcherUpdates().back()));
    }
};

QTEST_MAIN(DesktopTest)
#include "test_desktop.moc"
