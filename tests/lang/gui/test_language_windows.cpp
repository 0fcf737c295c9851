// Every window in each of the six languages (English and every shipped pack),
// laid out with the texts it shows at work: no label, button, check box or
// group title needs more room than it has, Chinese and Japanese drawn with
// their taller fallback fonts included.
#include "engine/i18n/LanguagePacks.h"
#include "engine/i18n/ResourceText.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/mainwin/MainWinSupport.h"
#include "gui/preview/PreviewDialog.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/PathLabel.h"
#include "gui/windows/AboutDialog.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"
#include "gui/windows/HelpTipsDialog.h"
#include "support/BatchTestSupport.h"
#include "support/TestSourceList.h"
#include "support/TextFit.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::AboutDialog;
using plexavo::gui::BatchWindow;
using plexavo::gui::DetectionWindow;
using plexavo::gui::HelpTipsDialog;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;
using plexavo::gui::PathLabel;

namespace {

// A conversion that reports progress for a few seconds.
const QString kSlowConversion = QStringLiteral(
    "t|w:frame=1 time=1.00 |s:300|w:frame=2 time=2.00 |s:300|w:frame=3 time=3.00 |s:300|"
    "w:frame=4 time=4.00 |s:300|w:frame=5 time=5.00 |s:3000|x:0");
// A probe that takes its time, so the detection window stays up.
const QString kSlowProbe = QStringLiteral("s:1500|w:Input #0, mov, from 'x':\\n  Duration: "
                                          "00:00:10.00, start: 0.000000, bitrate: 120 kb/s\\n"
                                          "  Stream #0:0: Video: mpeg4, yuv420p, 160x120, 25 "
                                          "fps\\n");
// Names in the scripts the interface speaks, as users' files have them.
const char* const kNames[] = {"\xE5\xA4\x8F\xE5\xA4\xA9\xE7\x9A\x84\xE6\x97\x85\xE8\xA1\x8C",
                              "\xE3\x83\x93\xE3\x83\x87\xE3\x82\xAA\xE6\x97\xA5\xE8\xA8\x98",
                              "\xC3\x89t\xC3\xA9 \xC3\xA0 Gen\xC3\xA8ve"};

} // namespace

class TestLanguageWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<i18n::LanguagePacks> m_packs;
    std::unique_ptr<QTemporaryDir> m_out;

    void select(int language) {
        m_packs = std::make_unique<i18n::LanguagePacks>();
        QVERIFY(m_packs->selectLanguage(static_cast<unsigned>(language)));
        QCOMPARE(int(i18n::currentModule().language), language);
    }

    static void addLanguages() {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << 1033;
        QTest::newRow("Chinese") << 2052;
        QTest::newRow("German") << 1031;
        QTest::newRow("French") << 1036;
        QTest::newRow("Spanish") << 3082;
        QTest::newRow("Japanese") << 1041;
    }

    static void checkFits(QWidget* window) {
        const QStringList clipped = text_fit::clippedTexts(window);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("\n  "))));
    }

    // A list with one row per name, each in a long folder, as the windows
    // of a conversion see it.
    void fill(TestSourceList& list) {
        list.editSettings().outputPath = m_out->path().toStdString() + "/out";
        for (const char* name : kNames)
            list.addItem(m_out->path().toStdString() + "/in/" + name + ".mp4", 0, 10);
        list.markAllWaiting();
    }

  private slots:
    void initTestCase() {
        settings::writeToolTipsHidden();
        settings::toolTipsHiddenThisRun = true;
        i18n::setPackFolder(SHIPPED_PACKS_DIR);
        MessageBox::setAutoAnswer(QMessageBox::Ok);
    }
    void init() { m_out = std::make_unique<QTemporaryDir>(); }
    void cleanup() {
        m_packs.reset();
        m_out.reset();
    }
    void cleanupTestCase() {
        i18n::setPackFolder("");
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
    }

    void mainWindow_data() { addLanguages(); }
    void mainWindow() {
        QFETCH(int, language);
        select(language);
        MainWindow frame;
        frame.view()->mediaFrameworkReady = [] { return true; };
        for (const char* name : kNames)
            mainwin_test::addRow(*frame.view(), mainwin_test::makeItem(name));
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        mainwin_test::select(*frame.view(), {0});
        checkFits(&frame);
    }

    void detectionWindow_data() { addLanguages(); }
    void detectionWindow() {
        QFETCH(int, language);
        select(language);
        ScriptedCore core(kSlowProbe);
        TestSourceList list;
        list.editSettings().outputPath = m_out->path().toStdString();
        list.show();
        const std::string path = m_out->path().toStdString() + "/" + kNames[0] + ".mp4";
        DetectionWindow dialog(list, {path, path}, &list);
        dialog.open();
        auto* status = dialog.findChild<PathLabel*>(QStringLiteral("ctl1030"));
        QVERIFY(status);
        QTRY_VERIFY_WITH_TIMEOUT(status->fullText().contains(QString::fromStdString(path)), 10000);
        checkFits(&dialog);
        dialog.stopForExit();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.finished(), 20000);
    }

    void batchWindow_data() { addLanguages(); }
    void batchWindow() {
        QFETCH(int, language);
        select(language);
        ScriptedCore core(kSlowConversion);
        TestSourceList list;
        fill(list);
        list.show();
        BatchWindow dialog(list, &list);
        dialog.open();
        auto* step = dialog.findChild<PathLabel*>(QStringLiteral("ctl1030"));
        QVERIFY(step);
        // The step, then the estimate under the bars: every text is there.
        QTRY_VERIFY_WITH_TIMEOUT(!step->fullText().isEmpty(), 10000);
        auto* estimate = dialog.findChild<QLabel*>(QStringLiteral("estimateLine"));
        QTRY_VERIFY_WITH_TIMEOUT(!estimate->text().isEmpty(), 10000);
        checkFits(&dialog);
        dialog.findChild<QPushButton*>(QStringLiteral("ctl1022"))->click(); // Cancel All
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 20000);
    }

    // The step of a file that goes on from where it stopped.
    void batchWindowContinuing_data() { addLanguages(); }
    void batchWindowContinuing() {
        QFETCH(int, language);
        select(language);
        ScriptedCore core(QStringLiteral("?:-can-resume|w:Resumable: 31.5 of 60.0\\n|x:0|/|") +
                          kSlowConversion);
        TestSourceList list;
        fill(list);
        // Every row has a stopped output the core can continue.
        QDir().mkpath(QString::fromStdString(list.editSettings().outputPath));
        for (const char* name : kNames)
            QFile(QString::fromStdString(list.editSettings().outputPath + "/" + name + "-cvt.mp4"))
                .open(QIODevice::WriteOnly);
        list.show();
        MessageBox::setAutoAnswer(QMessageBox::Yes);
        BatchWindow dialog(list, &list);
        dialog.open();
        auto* step = dialog.findChild<PathLabel*>(QStringLiteral("ctl1030"));
        QVERIFY(step);
        QTRY_VERIFY_WITH_TIMEOUT(step->fullText().contains(QStringLiteral("31.5")), 10000);
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        checkFits(&dialog);
        dialog.findChild<QPushButton*>(QStringLiteral("ctl1022"))->click(); // Cancel All
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 20000);
    }

    void aboutBox_data() { addLanguages(); }
    void aboutBox() {
        QFETCH(int, language);
        select(language);
        AboutDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        checkFits(&dialog);
    }

    void helpTips_data() { addLanguages(); }
    void helpTips() {
        QFETCH(int, language);
        select(language);
        HelpTipsDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        checkFits(&dialog);
    }

    // With the line that says the file cannot be played: the file is gone.
    void previewWindow_data() { addLanguages(); }
    void previewWindow() {
        QFETCH(int, language);
        select(language);
        std::int32_t start = 0, end = 10;
        gui::PreviewDialog dialog(m_out->path().toStdString() + "/" + kNames[1] + ".mp4", start,
                                  end);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.opened(), 15000);
        QVERIFY(dialog.playbackErrorLine()->isVisible());
        checkFits(&dialog);
    }
};

QTEST_MAIN(TestLanguageWindows)
#include "test_language_windows.moc"
