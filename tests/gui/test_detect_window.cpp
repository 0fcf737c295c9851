// The detection pass: real probes by the encoder core on small clips made by
// the ffmpeg tool, and a slow scripted core to watch the window while it works.
#include "engine/media/SourceItem.h"
#include "engine/platform/CoreLocator.h"
#include "gui/common/MessageBox.h"
#include "gui/widgets/PathLabel.h"
#include "gui/windows/DetectionWindow.h"
#include "support/BatchTestSupport.h"
#include "support/TestSourceList.h"

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::DetectionWindow;
using plexavo::gui::MessageBox;
using plexavo::gui::PathLabel;
using plexavo::media::SourceItem;
using plexavo::settings::kTargetH264;

namespace {

// A probe that takes its time, then describes a ten-second clip.
const QString kSlowProbe = QStringLiteral("s:1500|w:Input #0, mov, from 'x':\\n  Duration: "
                                          "00:00:10.00, start: 0.000000, bitrate: 120 kb/s\\n"
                                          "  Stream #0:0: Video: mpeg4, yuv420p, 160x120, 25 "
                                          "fps\\n  Stream #0:1: Audio: aac, 44100 Hz, mono\\n");

} // namespace

class DetectWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_media;
    std::unique_ptr<QTemporaryDir> m_out;
    TestSourceList* m_list = nullptr;
    QString m_clipA;
    QString m_clipB;
    QString m_broken;

    void runPass(const QStringList& paths) {
        std::vector<std::string> list;
        for (const QString& p : paths)
            list.push_back(p.toStdString());
        DetectionWindow dlg(*m_list, list, m_list);
        dlg.open();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 60000);
        QVERIFY(dlg.finished());
    }

  private slots:
    void initTestCase() {
        m_clipA = m_media.filePath(QStringLiteral("first clip.mp4"));
        m_clipB = m_media.filePath(QStringLiteral("third.mp4"));
        m_broken = m_media.filePath(QStringLiteral("second.mp4"));
        QString error;
        QVERIFY2(makeClip(m_clipA, 3, QStringLiteral("160x120"), &error), qPrintable(error));
        QVERIFY2(makeClip(m_clipB, 2, QStringLiteral("160x120"), &error), qPrintable(error));
        QFile broken(m_broken);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("this is not a media file\n");
    }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_out = std::make_unique<QTemporaryDir>();
        m_list = new TestSourceList;
        m_list->editSettings().outputPath = m_out->path().toStdString();
        m_list->show();
    }

    void cleanup() {
        delete m_list;
        m_list = nullptr;
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    void secondUnreadableAddsFirstAndThirdAndReportsSecond() {
        RealCore core;
        TestLog log;
        runPass({m_clipA, m_broken, m_clipB});
        QCOMPARE(m_list->rowCount(), 2);
        QCOMPARE(m_list->cellText(0, 0), QStringLiteral("first clip.mp4"));
        QCOMPARE(m_list->cellText(1, 0), QStringLiteral("third.mp4"));
        QCOMPARE(m_list->cellText(0, 1), QStringLiteral("first clip-cvt.mp4"));
        QCOMPARE(m_list->cellText(1, 1), QStringLiteral("third-cvt.mp4"));
        QCOMPARE(m_list->itemOfRow(0)->durationSeconds, 3);
        QCOMPARE(m_list->itemOfRow(0)->endSeconds, 3u);
        QCOMPARE(m_list->itemOfRow(0)->outputFolder, m_out->path().toStdString() + "/");
        QVERIFY(!m_list->itemOfRow(1)->videoDescription.empty());

        QCOMPARE(MessageBox::shownTexts().size(), 1);
        const QString report = MessageBox::shownTexts().at(0);
        QVERIFY(report.startsWith(QStringLiteral("Can't playback the following files.\n\n") +
                                  m_broken + "\n\n"));
        QVERIFY(!report.contains(QStringLiteral("first clip")));
        QVERIFY(report.endsWith(QStringLiteral("Please click menu \"Download\" to get more.")));

        const QString text = log.text();
        QVERIFY(text.contains(QStringLiteral("------Start load source files(3)...------")));
        QVERIFY(text.contains(QStringLiteral("load 1/3:") + m_clipA));
        QVERIFY(text.contains(QStringLiteral("load 2/3:") + m_broken));
        QVERIFY(
            text.contains(QStringLiteral("Set FileAudioFormat array index(0) to listtime(0).")));
        QVERIFY(
            text.contains(QStringLiteral("Set FileAudioFormat array index(1) to listtime(1).")));
        QCOMPARE(m_list->offThreadCalls(), 0);
        QVERIFY(childProcesses().empty());
    }

    // A named pipe among the files (a name on the command line passes as it
    // is): refused at once with the others added, never a pass that waits
    // for a writer; the pipe itself is left as it was.
    void aNamedPipeIsReportedNotWaitedFor() {
        RealCore core;
        const QString pipe = m_media.filePath(QStringLiteral("pipe.mp4"));
        QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        TestLog log;
        runPass({m_clipA, pipe, m_clipB});
        // No core was asked to open it: it would sleep in open() until its limits.
        QVERIFY(!log.text().contains(
            QString::fromStdString(SourceItem::probeCommandLine(pipe.toStdString()))));
        QVERIFY(log.text().contains(QStringLiteral("it is a named pipe")));
        QCOMPARE(m_list->rowCount(), 2);
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY(
            MessageBox::shownTexts().at(0).contains(QLatin1Char('\n') + pipe + QLatin1Char('\n')));
        struct stat st {};
        QVERIFY(stat(QFile::encodeName(pipe).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QVERIFY(childProcesses().empty());
        QFile::remove(pipe);
    }

    void oneUnreadableFileAddsNothing() {
        RealCore core;
        runPass({m_broken});
        QCOMPARE(m_list->rowCount(), 0);
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY(MessageBox::shownTexts().at(0).contains(QLatin1Char('\n') + m_broken +
                                                        QLatin1Char('\n')));
    }

    void aFileAddedTwiceGivesTwoRows() {
        RealCore core;
        runPass({m_clipB});
        runPass({m_clipB});
        QCOMPARE(m_list->rowCount(), 2);
        QCOMPARE(m_list->cellText(1, 0), QStringLiteral("third.mp4"));
        QCOMPARE(m_list->cellText(0, 1), m_list->cellText(1, 1));
        QCOMPARE(m_list->rowTag(1), 1);
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void newRowsGoAfterRemovedSlots() {
        RealCore core;
        runPass({m_clipA, m_clipB});
        m_list->removeRow(0);
        TestLog log;
        runPass({m_clipA});
        QCOMPARE(m_list->rowCount(), 2);
        QCOMPARE(m_list->rowTag(1), 2); // the array is not compacted
        QCOMPARE(m_list->cellText(1, 0), QStringLiteral("first clip.mp4"));
        QVERIFY(log.text().contains(
            QStringLiteral("Set FileAudioFormat array index(2) to listtime(1).")));
    }

    void statusTextAndBarWhileWorking() {
        ScriptedCore fake(kSlowProbe);
        DetectionWindow dlg(
            *m_list, {"/media/a b.mp4", "/media/c.mp4", "/media/d.mp4", "/media/e.mp4"}, m_list);
        dlg.setProbeWorkers(1); // one file after the other, to watch each in turn
        auto* status = dlg.findChild<PathLabel*>(QStringLiteral("ctl1030"));
        auto* bar = dlg.findChild<QProgressBar*>(QStringLiteral("ctl1026"));
        QVERIFY(status && bar);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        dlg.open();
        QVERIFY(status->fullText().isEmpty());
        QTRY_COMPARE(status->fullText(),
                     QStringLiteral("Detecting selected files.\nNo.1/4: \"/media/a b.mp4\""));
        QCOMPARE(bar->value(), 25); // set before the file is probed
        QTRY_COMPARE_WITH_TIMEOUT(
            status->fullText(),
            QStringLiteral("Detecting selected files.\nNo.2/4: \"/media/c.mp4\""), 10000);
        QCOMPARE(bar->value(), 50);

        // Neither Escape nor Return nor the window manager ends the pass.
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QTest::keyClick(&dlg, Qt::Key_Return);
        dlg.close();
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);

        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 30000);
        QCOMPARE(bar->value(), 100);
        QCOMPARE(m_list->rowCount(), 4);
        QCOMPARE(m_list->cellText(0, 0), QStringLiteral("a b.mp4"));
        QCOMPARE(m_list->itemOfRow(3)->durationText, std::string("00:00:10.00 (10 s)"));
        QVERIFY(MessageBox::shownTexts().isEmpty());
        QCOMPARE(m_list->offThreadCalls(), 0);
    }

    // Several probes at once: rows still come in list order, each file's own, and the
    // window names the file the list waits for.
    void severalProbesAtOnceKeepTheListOrder() {
        RealCore core;
        DetectionWindow dlg(*m_list,
                            {m_clipA.toStdString(), m_broken.toStdString(), m_clipB.toStdString(),
                             m_clipA.toStdString(), m_clipB.toStdString()},
                            m_list);
        dlg.setProbeWorkers(3);
        dlg.exec();
        QCOMPARE(m_list->rowCount(), 4);
        const QStringList names = {QStringLiteral("first clip.mp4"), QStringLiteral("third.mp4"),
                                   QStringLiteral("first clip.mp4"), QStringLiteral("third.mp4")};
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(m_list->cellText(row, 0), names[row]);
            QCOMPARE(QString::fromStdString(m_list->itemOfRow(row)->path),
                     row % 2 ? m_clipB : m_clipA);
        }
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY(MessageBox::shownTexts().at(0).contains(m_broken));
    }

    // Closing the program while three probes run: every core ends, no row is added half-way.
    void aStopWithSeveralProbesRunningEndsEveryCore() {
        QTemporaryDir started;
        ScriptedCore fake(QStringLiteral("d:") + started.path() + QStringLiteral("|s:30000|") +
                          kSlowProbe);
        {
            DetectionWindow dlg(
                *m_list,
                {"/media/1.mp4", "/media/2.mp4", "/media/3.mp4", "/media/4.mp4", "/media/5.mp4"},
                m_list);
            dlg.setProbeWorkers(3);
            dlg.open();
            QTRY_COMPARE_WITH_TIMEOUT(QDir(started.path()).entryList(QDir::Files).size(), 3, 20000);
            dlg.stopForExit();
        } // torn down: waits for the pass, serving its list calls
        QCOMPARE(m_list->rowCount(), 0);
        const QStringList pids = QDir(started.path()).entryList(QDir::Files);
        QCOMPARE(pids.size(), 3); // no probe started after the stop
        for (const QString& pid : pids)
            QTRY_VERIFY_WITH_TIMEOUT(::kill(pid.toInt(), 0) != 0, 10000);
    }

    void missingCoreRejectsEveryFile() {
        QTemporaryDir empty;
        platform::setCoreFolder(empty.path().toStdString());
        runPass({m_clipA, m_clipB});
        platform::setCoreFolder("");
        QCOMPARE(m_list->rowCount(), 0);
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY(MessageBox::shownTexts().at(0).contains(m_clipA + QLatin1Char('\n') + m_clipB +
                                                        QLatin1Char('\n')));
    }

    void execReturnsWhenThePassHasEnded() {
        RealCore core;
        DetectionWindow dlg(*m_list, {m_clipA.toStdString()}, m_list);
        dlg.exec();
        QVERIFY(dlg.finished());
        QCOMPARE(m_list->rowCount(), 1);
    }

    void outputNamesFollowTheTargetFormat() {
        RealCore core;
        m_list->editSettings().targetFormat = kTargetH264;
        runPass({m_clipB});
        QCOMPARE(m_list->cellText(0, 1), QStringLiteral("third-cvt.mov"));
    }
};

QTEST_MAIN(DetectWindowTest)
#include "test_detect_window.moc"
