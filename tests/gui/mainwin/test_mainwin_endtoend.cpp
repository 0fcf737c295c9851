// The whole road once, with the real encoder core and a German locale: start
// the program, add two generated clips (one with a hostile name) through the
// view's Add path, convert them, and find two playable files and both rows Done.
#include "engine/platform/CoreLocator.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/shell/Application.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace plexavo;

using plexavo::gui::Application;
using plexavo::gui::ConversionView;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;

namespace {

QString run(const QString& program, const QStringList& args, int* code = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(120000);
    if (code)
        *code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

QString probe(const QString& file, const QString& entries) {
    return run(QStringLiteral("ffprobe"),
               {"-v", "error", "-show_entries", entries, "-of", "default=noprint_wrappers=1", file})
        .trimmed();
}

} // namespace

class TestMainWinEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_sources;

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString plain = m_dir.filePath(QStringLiteral("holiday clip.mp4"));
        const QString hostile = m_dir.filePath(QStringLiteral("-été \"it's\" $x; ü.mov"));
        int code = -1;
        QString log =
            run(QStringLiteral("ffmpeg"), {"-v",        "error",
                                           "-f",        "lavfi",
                                           "-i",        "testsrc2=size=320x240:rate=25",
                                           "-f",        "lavfi",
                                           "-i",        "sine=frequency=440:sample_rate=44100",
                                           "-t",        "3",
                                           "-c:v",      "libx264",
                                           "-preset",   "ultrafast",
                                           "-pix_fmt",  "yuv420p",
                                           "-c:a",      "aac",
                                           "-shortest", "-y",
                                           plain},
                &code);
        QVERIFY2(code == 0, qPrintable(log));
        log = run(QStringLiteral("ffmpeg"),
                  {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=352x288:rate=30", "-f",
                   "lavfi", "-i", "sine=frequency=300:sample_rate=48000", "-t", "2", "-c:v",
                   "mpeg4", "-c:a", "aac", "-shortest", "-y", QStringLiteral("file:") + hostile},
                  &code);
        QVERIFY2(code == 0, qPrintable(log));
        m_sources = {plain, hostile};
        platform::setCoreFolder(PLEXCORE_FOLDER);
        settings::writeToolTipsHidden();
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("out")));
        settings::writeOutputPath(m_dir.filePath(QStringLiteral("out")).toStdString());
        MessageBox::setAutoAnswer(QMessageBox::Ok);
    }

    void addAndConvertTwoClips() {
        Application app;
        QVERIFY(app.initInstance());
        MainWindow* frame = app.mainFrame();
        ConversionView* view = frame->view();
        QCOMPARE(view->outputPath(), m_dir.filePath(QStringLiteral("out")));

        view->chooseSourceFiles = [this] { return m_sources; };
        frame->action(gui::cmd::kAdd)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view->rowCount(), 2, 60000);
        QCOMPARE(view->cellText(1, 0), QStringLiteral("-été \"it's\" $x; ü.mov"));
        QCOMPARE(view->cellText(0, 3), QStringLiteral("Ready"));

        // H.264 at the iPhone 3GS size and 29.970 fps: a decimal the German
        // locale would have turned into a comma.
        view->findChild<QRadioButton*>(QStringLiteral("ctl1005"))->click();
        view->findChild<QComboBox*>(QStringLiteral("ctl1103"))->setCurrentIndex(6);
        view->findChild<QComboBox*>(QStringLiteral("ctl1106"))->setCurrentIndex(3);
        frame->action(gui::cmd::kConvert)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view->cellText(0, 3), QStringLiteral("Done"), 240000);
        QTRY_COMPARE_WITH_TIMEOUT(view->cellText(1, 3), QStringLiteral("Done"), 240000);
        QVERIFY(MessageBox::shownTexts().contains(QStringLiteral("Conversion is completed.")));

        const QStringList outputs =
            QDir(m_dir.filePath(QStringLiteral("out"))).entryList(QDir::Files, QDir::Name);
        QCOMPARE(outputs, (QStringList{"-été \"it's\" $x; ü-cvt.mov", "holiday clip-cvt.mov"}));
        for (const QString& name : outputs) {
            const QString file =
                QStringLiteral("file:") + m_dir.filePath(QStringLiteral("out/") + name);
            const QString video =
                probe(file, QStringLiteral("stream=codec_name,width,height,r_frame_rate"));
            QVERIFY2(video.contains(QStringLiteral("codec_name=h264")), qPrintable(video));
            QVERIFY2(video.contains(QStringLiteral("width=480")) &&
                         video.contains(QStringLiteral("height=320")),
                     qPrintable(video));
            QVERIFY2(video.contains(QStringLiteral("r_frame_rate=30000/1001")), qPrintable(video));
            QVERIFY2(video.contains(QStringLiteral("codec_name=aac")), qPrintable(video));
            // Playable: every frame decodes without an error.
            int code = -1;
            const QString errors = run(QStringLiteral("ffmpeg"),
                                       {"-v", "error", "-i", file, "-f", "null", "-"}, &code);
            QVERIFY2(code == 0 && errors.trimmed().isEmpty(), qPrintable(errors));
            const double seconds =
                probe(file, QStringLiteral("format=duration")).section('=', 1).toDouble();
            QVERIFY2(seconds > 1.5, qPrintable(QString::number(seconds)));
        }
        frame->close();
    }
};

QTEST_MAIN(TestMainWinEndToEnd)
#include "test_mainwin_endtoend.moc"
