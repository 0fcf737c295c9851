// The conversion window against a scripted stand-in for the encoder core:
// skip, cancel, the close box, Escape, failures and the end messages.
#include "engine/media/SourceItem.h"
#include "engine/platform/CoreLocator.h"
#include "gui/common/MessageBox.h"
#include "gui/widgets/PathLabel.h"
#include "gui/widgets/PercentProgressBar.h"
#include "gui/windows/BatchWindow.h"
#include "support/BatchTestSupport.h"
#include "support/TestSourceList.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::BatchWindow;
using plexavo::gui::MessageBox;
using plexavo::gui::PathLabel;
using plexavo::gui::PercentProgressBar;
using plexavo::media::kStatusDone;
using plexavo::media::kStatusError;
using plexavo::media::kStatusSkip;
using plexavo::settings::kTarget3gp;
using plexavo::settings::kTargetAvi;
using plexavo::settings::kTargetOgm;
using plexavo::settings::kTargetWmv;

namespace {

constexpr char kCompleted[] = "Conversion is completed.";
constexpr char kCanceled[] = "Conversion is canceled.";

// Progress every 300 ms for about three seconds; a stop ends it as the core does.
const QString kSlowScript = QStringLiteral(
    "t|w:frame=1 time=1.00 |s:300|w:frame=2 time=2.00 |s:300|w:frame=3 time=3.00 |s:300|"
    "w:frame=4 time=4.00 |s:300|w:frame=5 time=5.00 |s:300|w:frame=6 time=6.00 |s:300|"
    "w:frame=7 time=7.00 |s:300|w:frame=8 time=8.00 |s:300|w:frame=9 time=9.00 |s:300|O|x:0");
const QString kQuickScript = QStringLiteral("t|w:frame=1 time=1.00 |s:50|O|x:0");

} // namespace

class BatchWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> m_out;
    TestSourceList* m_list = nullptr;

    void addRows(int n, std::uint32_t start = 0, std::uint32_t end = 10) {
        for (int i = 0; i < n; ++i)
            m_list->addItem(QStringLiteral("/media/in/clip %1.mp4").arg(i + 1).toStdString(), start,
                            end);
        m_list->markAllWaiting();
    }

    bool secondRowStarted() const {
        const int percent = m_list->job().percent.load();
        return percent > 0 && percent < 50;
    }

    static QPushButton* button(QDialog& dlg, int id) {
        return dlg.findChild<QPushButton*>(QStringLiteral("ctl%1").arg(id));
    }
    static PercentProgressBar* bar(QDialog& dlg, int id) {
        return dlg.findChild<PercentProgressBar*>(QStringLiteral("ctl%1").arg(id));
    }

  private slots:
    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_out = std::make_unique<QTemporaryDir>();
        m_list = new TestSourceList;
        m_list->editSettings().outputPath = m_out->path().toStdString() + "/out";
        m_list->show();
    }
    void cleanup() {
        delete m_list;
        m_list = nullptr;
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    void secondSkippedEndsDoneSkipDone() {
        ScriptedCore fake(kSlowScript);
        TestLog log;
        addRows(3);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.driver().currentIndex(), 1, 20000);
        // The first row ended at 90 %: only the second's own start shows less.
        QTRY_VERIFY_WITH_TIMEOUT(secondRowStarted(), 20000);
        QTest::mouseClick(button(dlg, 1036), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 30000);
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusSkip, kStatusDone}));
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
        QCOMPARE(m_list->cellText(1, 3), QStringLiteral("Skip"));
        QVERIFY(m_list->itemOfRow(0)->converted);
        QVERIFY(!m_list->itemOfRow(1)->converted);
        QCOMPARE(m_list->offThreadCalls(), 0);
        QVERIFY(!log.text().contains(QStringLiteral("is failed")));
        QCOMPARE(log.text().count(QStringLiteral("Start convert /media/in/clip ")), 3);
        QVERIFY(childProcesses().empty());
    }

    void cancelDuringSecondEndsDoneSkipSkip() {
        ScriptedCore fake(kSlowScript);
        addRows(3);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.driver().currentIndex(), 1, 20000);
        // The first row ended at 90 %: only the second's own start shows less.
        QTRY_VERIFY_WITH_TIMEOUT(secondRowStarted(), 20000);
        QTest::mouseClick(button(dlg, 1022), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusSkip, kStatusSkip}));
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCanceled});
        QCOMPARE(m_list->cellText(2, 3), QStringLiteral("Skip"));
        QVERIFY(childProcesses().empty());
        QCOMPARE(m_list->offThreadCalls(), 0);
    }

    void overallProgressDuringSecondOfFourAtHalf() {
        // Each run reports half its part at once and then works on.
        ScriptedCore fake(QStringLiteral("t|w:frame=9 time=5.00 |s:2500|O|x:0"));
        addRows(4);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.driver().currentIndex(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(m_list->job().percent.load(), 50, 10000);
        // With row 2 at half its part, the only overall value the bar can
        // show is the right one: 0 % gives 25, the end 50.
        QTRY_COMPARE(bar(dlg, 1026)->pos(), 37);
        QCOMPARE(dlg.driver().currentIndex(), 1);
        QCOMPARE(bar(dlg, 1025)->pos(), 50);
        QCOMPARE(bar(dlg, 1026)->text(), QStringLiteral("37%"));
        QTest::mouseClick(button(dlg, 1022), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
    }

    void completedBatchEndsWithFullOverallBar() {
        ScriptedCore fake(kQuickScript);
        addRows(2);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(bar(dlg, 1026)->pos(), 100);
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
    }

    void emptyPartFailsAndIsReported() {
        ScriptedCore fake(kQuickScript);
        TestLog log;
        m_list->addItem("/media/in/zero.mp4", 5, 5);
        m_list->addItem("/media/in/fine.mp4", 0, 10);
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusError, kStatusDone}));
        QCOMPARE(MessageBox::shownTexts().size(), 2);
        const QString report = MessageBox::shownTexts().at(0);
        QVERIFY(report.startsWith(QStringLiteral("Unknown file format . Please ensure your "
                                                 "computer can playback the file normally.\n")));
        QVERIFY(report.contains(QStringLiteral("\n/media/in/zero.mp4\n")));
        QVERIFY(!report.contains(QStringLiteral("fine.mp4")));
        QVERIFY(report.endsWith(QStringLiteral("Please click menu \"Download\" to get more.")));
        QCOMPARE(MessageBox::shownTexts().at(1), QString(kCompleted));
        QVERIFY(log.text().contains(QStringLiteral("Converting /media/in/zero.mp4 is failed.")));
        QCOMPARE(m_list->cellText(0, 3), QStringLiteral("Error"));
    }

    void emptyListCompletesAtOnce() {
        ScriptedCore fake(kQuickScript);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 5000);
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
        QCOMPARE(dlg.driver().itemCount(), 0);
        QVERIFY(m_list->shownFrameSizes().empty());
    }

    void missingCoreEndsEveryItemAsError() {
        QTemporaryDir empty;
        platform::setCoreFolder(empty.path().toStdString());
        TestLog log;
        addRows(2);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        platform::setCoreFolder("");
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusError, kStatusError}));
        QCOMPARE(MessageBox::shownTexts().size(), 2);
        // Each file with its reason under it: here the core's absence.
        const QString missing =
            QStringLiteral("\n    The encoder core is missing: ") + empty.path();
        QVERIFY(MessageBox::shownTexts().at(0).contains(
            QStringLiteral("\n/media/in/clip 1.mp4") + missing + QStringLiteral("/Plexcore\n") +
            QStringLiteral("/media/in/clip 2.mp4") + missing));
        QCOMPARE(MessageBox::shownTexts().at(1), QString(kCompleted));
        QVERIFY(!m_list->itemOfRow(0)->converted);
        QCOMPARE(log.text().count(QStringLiteral("is failed.")), 2);
    }

    void failingCoreIsAnErrorWithItsLineInTheLog() {
        ScriptedCore fake(
            QStringLiteral("w:Error: The input has no stream the devices can play.\n|x:1"));
        TestLog log;
        addRows(1);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(m_list->statuses(), std::vector<int>{kStatusError});
        const QString text = log.text();
        const auto failed =
            text.indexOf(QStringLiteral("Converting /media/in/clip 1.mp4 is failed."));
        QVERIFY(failed >= 0);
        QVERIFY(text.indexOf(QStringLiteral("Error: The input has no stream the devices can play."),
                             failed) > failed);
    }

    void formatsWithoutOptionTextEndAsErrorWithoutRunningTheCore() {
        for (int format : {kTargetWmv, kTarget3gp, kTargetOgm, kTargetAvi}) {
            QTemporaryDir argvDir;
            const QString argvFile = argvDir.filePath(QStringLiteral("argv"));
            testing_support::EnvGuard argvTo("SCRIPTED_ARGV_FILE", argvFile.toStdString());
            ScriptedCore fake(QStringLiteral("a|O|x:0"));
            TestLog log;
            delete m_list;
            m_list = new TestSourceList;
            m_list->editSettings().outputPath = m_out->path().toStdString() + "/out";
            m_list->editSettings().targetFormat = format;
            MessageBox::shownTexts().clear();
            addRows(1);
            BatchWindow dlg(*m_list, m_list);
            dlg.open();
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
            QCOMPARE(m_list->statuses(), std::vector<int>{kStatusError});
            QVERIFY(!QFile::exists(argvFile));
            QVERIFY2(log.text().contains(QStringLiteral("has no option text")),
                     qPrintable(log.text()));
            QCOMPARE(MessageBox::shownTexts().size(), 2);
        }
    }

    void closeBoxAsksBeforeCancelling() {
        ScriptedCore fake(kSlowScript);
        addRows(2);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.driver().currentIndex(), 0, 10000);

        MessageBox::setNextAnswer(QMessageBox::Cancel);
        dlg.close();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("Are you sure to cancel all convert tasks?")});
        QVERIFY(dlg.isVisible());
        QVERIFY(!dlg.driver().cancelRequested());

        MessageBox::shownTexts().clear();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        dlg.close();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(
            MessageBox::shownTexts(),
            (QStringList{QStringLiteral("Are you sure to cancel all convert tasks?"), kCanceled}));
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusSkip, kStatusSkip}));
    }

    void escapeNeitherClosesNorCancels() {
        ScriptedCore fake(kQuickScript);
        addRows(2);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(!dlg.driver().cancelRequested());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
    }

    void stepAndSizeTexts() {
        ScriptedCore fake(kSlowScript);
        addRows(2);
        BatchWindow dlg(*m_list, m_list);
        auto* step = dlg.findChild<PathLabel*>(QStringLiteral("ctl1030"));
        auto* size = dlg.findChild<QLabel*>(QStringLiteral("ctl1028"));
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!step->fullText().isEmpty(), 10000);
        const std::string out = m_list->itemOfRow(0)->outputFilePath();
        QCOMPARE(step->fullText(),
                 QStringLiteral("Step 1/2: From \"/media/in/clip 1.mp4\" \n          to \"%1\" \n"
                                "          Click \"Skip\" or \"Cancel\" to abort conversion.")
                     .arg(QString::fromStdString(out)));
        QVERIFY(size->text().isEmpty()); // the scripted core writes no file
        // Once the file exists, its size shows in whole KiB.
        QFile file(QString::fromStdString(out));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1023, 'x'));
        file.flush();
        QTRY_COMPARE(size->text(), QStringLiteral("0K"));
        QCOMPARE(size->accessibleName(), QStringLiteral("File Size: 0K")); // read with its value
        file.write(QByteArray(2049, 'x'));                                 // 3072 bytes
        file.flush();
        QTRY_COMPARE(size->text(), QStringLiteral("3K"));
        QCOMPARE(size->accessibleName(), QStringLiteral("File Size: 3K"));
        QTest::mouseClick(button(dlg, 1022), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
    }

    void estimateLineAppearsOnceThereIsProgress() {
        ScriptedCore fake(kSlowScript);
        addRows(2);
        BatchWindow dlg(*m_list, m_list);
        auto* line = dlg.findChild<QLabel*>(QStringLiteral("estimateLine"));
        QVERIFY(line);
        dlg.open();
        QVERIFY(line->text().isEmpty());
        // 20 s of media in all, converted at a few seconds per second.
        const QRegularExpression shape(
            QStringLiteral("^Elapsed 0:00:\\d\\d   Left about 0:00:\\d\\d   \\d+\\.\\dx$"));
        QTRY_VERIFY_WITH_TIMEOUT(shape.match(line->text()).hasMatch(), 10000);
        QCOMPARE(line->accessibleName(), line->text());
        QTest::mouseClick(button(dlg, 1022), Qt::LeftButton);
    }

    void equalisedSizeIsShownBackInThePanel() {
        ScriptedCore fake(kQuickScript);
        m_list->editSettings().width = "0";
        m_list->editSettings().height = "240";
        addRows(1);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(m_list->shownFrameSizes().size(), std::size_t(1));
        QCOMPARE(m_list->settings().height, std::string("0"));
        QCOMPARE(m_list->offThreadCalls(), 0);
    }

    void secondBatchNamesItsOutputsAnew() {
        ScriptedCore fake(QStringLiteral("t|w:frame=1 time=1.00 |O|x:0"));
        addRows(1);
        const std::string first = m_list->itemOfRow(0)->outputFilePath();
        QFile f(QString::fromStdString(first));
        QDir().mkpath(QFileInfo(f).absolutePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(m_list->itemOfRow(0)->outputName, std::string("clip 1-cvt[1]"));
        QCOMPARE(m_list->cellText(0, 1), QStringLiteral("clip 1-cvt[1].mp4"));
    }

    void keyboardReachesBothButtonsWithNames() {
        ScriptedCore fake(kSlowScript);
        addRows(1);
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Convert Video to iPhone Video formats"));
        QSet<QString> seen;
        for (int i = 0; i < 4; ++i) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus);
            QVERIFY2(!focus->accessibleName().isEmpty(), qPrintable(focus->objectName()));
            QVERIFY(focus->objectName().startsWith(QStringLiteral("ctl")));
            seen.insert(focus->objectName());
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        QCOMPARE(seen, (QSet<QString>{QStringLiteral("ctl1036"), QStringLiteral("ctl1022")}));
        for (const char* id : {"ctl1026", "ctl1025", "ctl1028", "ctl1030"})
            QVERIFY2(!dlg.findChild<QWidget*>(QLatin1String(id))->accessibleName().isEmpty(), id);
        // Space on the focused Cancel All ends the batch.
        button(dlg, 1022)->setFocus();
        QTest::keyClick(button(dlg, 1022), Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCanceled});
    }

    void execReturnsAfterTheEndMessage() {
        ScriptedCore fake(kQuickScript);
        addRows(1);
        BatchWindow dlg(*m_list, m_list);
        QElapsedTimer t;
        t.start();
        dlg.exec();
        QCOMPARE(m_list->statuses(), std::vector<int>{kStatusDone});
        QCOMPARE(MessageBox::shownTexts(), QStringList{kCompleted});
    }
};

QTEST_MAIN(BatchWindowTest)
#include "test_batch_window.moc"
