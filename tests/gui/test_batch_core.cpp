// The conversion window with the real encoder core on small clips made by the
// ffmpeg tool: what Skip and Cancel All leave on disk is judged by ffprobe and
// a full decode, and a file name that needs care goes through both windows.
#include "engine/media/SourceItem.h"
#include "gui/common/MessageBox.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"
#include "support/BatchTestSupport.h"
#include "support/TestSourceList.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::BatchWindow;
using plexavo::gui::DetectionWindow;
using plexavo::gui::MessageBox;
using plexavo::media::kStatusDone;
using plexavo::media::kStatusSkip;
using plexavo::settings::kTargetH264;

class BatchCoreTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_media;
    std::unique_ptr<QTemporaryDir> m_out;
    TestSourceList* m_list = nullptr;
    QString m_short1;
    QString m_short2;
    QString m_long;
    static constexpr int kLongSeconds = 90;

    void addByProbe(const QStringList& paths) {
        std::vector<std::string> list;
        for (const QString& p : paths)
            list.push_back(p.toStdString());
        DetectionWindow detect(*m_list, list, m_list);
        detect.exec();
    }

    // Upscaled H.264 keeps the long clip busy for many seconds, so a click
    // always lands while it runs.
    void slowSettings() {
        auto& s = m_list->editSettings();
        s.targetFormat = kTargetH264;
        s.width = "1280";
        s.height = "720";
    }

    QString output(int row) {
        return QString::fromStdString(m_list->itemOfRow(row)->outputFilePath());
    }

    void clickWhenSecondRuns(BatchWindow& dlg, int control) {
        QTRY_COMPARE_WITH_TIMEOUT(dlg.driver().currentIndex(), 1, 60000);
        // The first row's 100 % stays until the second starts: wait for the
        // second's own progress, long enough that it still has most to do.
        QTRY_VERIFY_WITH_TIMEOUT(
            m_list->job().percent.load() >= 3 && m_list->job().percent.load() < 90, 60000);
        QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral("ctl%1").arg(control)),
                          Qt::LeftButton);
    }

  private slots:
    void initTestCase() {
        m_short1 = m_media.filePath(QStringLiteral("one.mp4"));
        m_short2 = m_media.filePath(QStringLiteral("three.mp4"));
        m_long = m_media.filePath(QStringLiteral("two long.mp4"));
        QString error;
        QVERIFY2(makeClip(m_short1, 2, QStringLiteral("160x120"), &error), qPrintable(error));
        QVERIFY2(makeClip(m_short2, 3, QStringLiteral("160x120"), &error), qPrintable(error));
        QVERIFY2(makeClip(m_long, kLongSeconds, QStringLiteral("160x120"), &error),
                 qPrintable(error));
    }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_out = std::make_unique<QTemporaryDir>();
        m_list = new TestSourceList;
        m_list->editSettings().outputPath = m_out->path().toStdString() + "/made/here";
        m_list->show();
    }

    void cleanup() {
        delete m_list;
        m_list = nullptr;
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    void cancelDuringSecondLeavesItPlayable() {
        RealCore core;
        addByProbe({m_short1, m_long, m_short2});
        QCOMPARE(m_list->rowCount(), 3);
        slowSettings();
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        clickWhenSecondRuns(dlg, 1022);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusSkip, kStatusSkip}));
        QCOMPARE(MessageBox::shownTexts(), QStringList{QStringLiteral("Conversion is canceled.")});
        QVERIFY(childProcesses().empty());

        QVERIFY(QFile::exists(output(0)));
        QVERIFY(qAbs(probeDuration(output(0)) - 2.0) < 0.2);
        // The stopped file is shorter, and whole: every frame decodes.
        const double stopped = probeDuration(output(1));
        QVERIFY2(stopped > 0.0 && stopped < kLongSeconds - 1, qPrintable(QString::number(stopped)));
        QString error;
        QVERIFY2(decodesCleanly(output(1), &error), qPrintable(error));
        QVERIFY(!QFile::exists(output(2)));
    }

    void secondSkippedTheOthersDone() {
        RealCore core;
        addByProbe({m_short1, m_long, m_short2});
        slowSettings();
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        dlg.open();
        clickWhenSecondRuns(dlg, 1036);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 120000);
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusSkip, kStatusDone}));
        QCOMPARE(MessageBox::shownTexts(), QStringList{QStringLiteral("Conversion is completed.")});
        QString error;
        QVERIFY2(decodesCleanly(output(1), &error), qPrintable(error));
        QVERIFY(probeDuration(output(1)) < kLongSeconds - 1);
        QVERIFY(qAbs(probeDuration(output(2)) - 3.0) < 0.2);
        QVERIFY2(decodesCleanly(output(2), &error), qPrintable(error));
        QVERIFY(childProcesses().empty());
        QCOMPARE(m_list->offThreadCalls(), 0);
        QCOMPARE(m_list->shownFrameSizes().size(), std::size_t(0)); // nothing to equalise
    }

    void fileNameThatNeedsCareGoesThroughBothWindows() {
        RealCore core;
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("in \"put\" é"));
        QVERIFY(QDir().mkpath(folder));
        const QString name = folder + QStringLiteral("/-été \"quoted\" 'clip' $x.mp4");
        QVERIFY(QFile::copy(m_short1, name));
        addByProbe({name});
        QCOMPARE(m_list->rowCount(), 1);
        QCOMPARE(m_list->cellText(0, 0), QStringLiteral("-été \"quoted\" 'clip' $x.mp4"));
        QVERIFY(MessageBox::shownTexts().isEmpty());

        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        dlg.exec();
        QCOMPARE(m_list->statuses(), std::vector<int>{kStatusDone});
        const QString out = output(0);
        QCOMPARE(QFileInfo(out).fileName(), QStringLiteral("-été \"quoted\" 'clip' $x-cvt.mp4"));
        QVERIFY(qAbs(probeDuration(out) - 2.0) < 0.2);
        QString error;
        QVERIFY2(decodesCleanly(out, &error), qPrintable(error));
        QCOMPARE(MessageBox::shownTexts(), QStringList{QStringLiteral("Conversion is completed.")});
    }

    void selectedPartIsWhatIsConverted() {
        RealCore core;
        addByProbe({m_long});
        m_list->itemOfRow(0)->startSeconds = 10;
        m_list->itemOfRow(0)->endSeconds = 13;
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        dlg.exec();
        QCOMPARE(m_list->statuses(), std::vector<int>{kStatusDone});
        QVERIFY(qAbs(probeDuration(output(0)) - 3.0) < 0.2);
    }

    // The list shows whole seconds, but a file with nothing marked is
    // converted to its end: its last fraction of a second is not lost.
    void aWholeFileIsConvertedToItsEnd() {
        RealCore core;
        QStringList clips;
        for (const double seconds : {1.92, 3.96}) {
            clips << m_media.filePath(QStringLiteral("part %1.mp4").arg(seconds));
            QString error;
            QVERIFY2(makeClip(clips.back(), seconds, QStringLiteral("160x120"), &error),
                     qPrintable(error));
        }
        addByProbe(clips);
        QCOMPARE(m_list->rowCount(), 2);
        m_list->markAllWaiting();
        BatchWindow dlg(*m_list, m_list);
        dlg.exec();
        QCOMPARE(m_list->statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
        for (int row = 0; row < 2; ++row) {
            const double source = probeDuration(clips[row]);
            const double converted = probeDuration(output(row));
            qInfo("%s: %.3f s, converted %.3f s", qPrintable(clips[row]), source, converted);
            QVERIFY2(qAbs(converted - source) <= 0.05, qPrintable(QString::number(converted)));
        }
    }

    void closingTheWindowMidBatchLeavesNoChild() {
        RealCore core;
        addByProbe({m_long});
        slowSettings();
        m_list->markAllWaiting();
        {
            BatchWindow dlg(*m_list, m_list);
            dlg.open();
            QTRY_VERIFY_WITH_TIMEOUT(m_list->job().percent.load() >= 1, 60000);
            QVERIFY(!childProcesses().empty());
            MessageBox::setNextAnswer(QMessageBox::Ok);
            dlg.close();
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 60000);
        }
        QVERIFY(childProcesses().empty());
        QCOMPARE(m_list->statuses(), std::vector<int>{kStatusSkip});
        QString error;
        QVERIFY2(decodesCleanly(output(0), &error), qPrintable(error));
    }

    void destroyingTheWindowMidBatchStopsTheCore() {
        RealCore core;
        addByProbe({m_long});
        slowSettings();
        m_list->markAllWaiting();
        auto* dlg = new BatchWindow(*m_list, m_list);
        dlg->open();
        QTRY_VERIFY_WITH_TIMEOUT(m_list->job().percent.load() >= 1, 60000);
        delete dlg; // as when the program goes away under it
        QVERIFY(childProcesses().empty());
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }
};

QTEST_MAIN(BatchCoreTest)
#include "test_batch_core.moc"
