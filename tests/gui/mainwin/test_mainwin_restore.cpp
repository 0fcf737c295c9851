// The list that survives a crash: the window writes it on every change and
// ends it at a normal exit; the next start asks once whether to restore an
// unfinished one (Yes brings every row back with its state, No keeps it for
// one more start, a damaged file is kept aside); two windows each keep their
// own. Last, the real program killed with SIGKILL in the middle of a batch:
// its list comes back, and Convert continues the file it was writing.
#include "engine/convert/ResumeQuery.h"
#include "engine/media/ListState.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/mainwin/MainWinSupport.h"
#include "gui/shell/ListKeeper.h"
#include "gui/shell/MainWindow.h"
#include "support/BatchTestSupport.h"

#include "FakeCore.h"
#include "MediaTools.h"
#include "Process.h"
#include "TestSupport.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>

#include <csignal>
#include <cstdlib>
#include <memory>

using namespace plexavo;
using namespace plexavo::convert;
using namespace plexavo::gui;
using namespace plexavo::media;
using namespace plexavo::platform;
using namespace plexavo::settings;
using namespace testing_support;

namespace {

const QString kRestoreQuestion = QStringLiteral("Restore it?");

// A window as the program builds it, with its list kept.
struct Window {
    MainWindow frame;
    std::unique_ptr<ListKeeper> keeper;
    Window() {
        frame.view()->mediaFrameworkReady = [] { return true; };
        keeper = std::make_unique<ListKeeper>(frame);
    }
    ConversionView& view() { return *frame.view(); }
};

bool askedToRestore() {
    for (const QString& text : MessageBox::shownTexts())
        if (text.contains(kRestoreQuestion))
            return true;
    return false;
}

std::vector<std::string> listFiles(const std::string& folder, const std::string& ending) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().string().ends_with(ending))
            found.push_back(entry.path().string());
    return found;
}

} // namespace

class TestMainWinRestore : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> m_state;
    std::unique_ptr<EnvGuard> m_stateEnv;

    std::string lists() const { return *m_state / "plexavo/lists"; }

    // A list that a copy which died left behind: one converted row, one that
    // was being converted, one that never began, one whose source is gone.
    std::string leaveList(const TempDir& media) {
        SavedList list;
        list.settings.targetFormat = kTargetH264;
        list.settings.sizeChoice = 5;
        list.settings.width = "480";
        list.settings.height = "320";
        list.settings.outputPath = media / "out/";
        const struct {
            const char* title;
            int status;
            bool converted;
        } rows[] = {{"done", kStatusDone, true},
                    {"running", kStatusWaiting, false},
                    {"waiting", kStatusWaiting, false},
                    {"gone", kStatusWaiting, false}};
        fs::create_directories(media / "out");
        for (const auto& r : rows) {
            SourceItem item = *std::unique_ptr<SourceItem>(mainwin_test::makeItem(r.title));
            item.path = media / (std::string(r.title) + ".mp4");
            if (std::string(r.title) != "gone")
                writeFile(item.path, "source");
            item.outputFolder = media / "out/";
            item.status = r.status;
            item.converted = r.converted;
            list.rows.push_back(item);
        }
        writeFile(media / "out/done-cvt.mp4", "finished");
        writeFile(media / "out/running-cvt.mp4", "kept");
        ListStateFile dead;
        dead.save(list);
        return dead.path(); // its lock goes with it, as a killed copy's does
    }

  private slots:
    void initTestCase() {
        settings::toolTipsHiddenThisRun = true;
        settings::writeToolTipsHidden();
    }
    void init() {
        m_state = std::make_unique<TempDir>();
        m_stateEnv = std::make_unique<EnvGuard>("XDG_STATE_HOME", m_state->path());
        MessageBox::shownTexts().clear();
    }
    void cleanup() {
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        m_stateEnv.reset();
        m_state.reset();
    }

    void everyChangeIsWrittenAndANormalEndFinishesTheList() {
        Window w;
        mainwin_test::addRows(w.view(), 2);
        const std::string path = w.keeper->path();
        QTRY_VERIFY(testing_support::fileExists(path) && parseListState(readFile(path)) &&
                    parseListState(readFile(path))->rows.size() == 2);
        // A setting too.
        auto* bitRate = w.view().findChild<QComboBox*>(QStringLiteral("ctl1107"));
        QVERIFY(bitRate);
        bitRate->setCurrentIndex(4);
        QTRY_COMPARE(parseListState(readFile(path))->settings.videoBitRateChoice, 4);
        mainwin_test::select(w.view(), {0});
        w.view().onRemove();
        QTRY_COMPARE(parseListState(readFile(path))->rows.size(), std::size_t(1));
        QVERIFY(!parseListState(readFile(path))->finished);
        w.keeper->markFinished();
        QVERIFY(parseListState(readFile(path))->finished);
    }

    void yesBringsEveryRowBackWithItsState() {
        TempDir media;
        const std::string left = leaveList(media);
        // The core says what the interrupted row's file holds.
        FakeCore core("?:-can-resume|w:Resumable: 29.5 of 60.0\\n|x:0|/|x:1");
        Window w;
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QVERIFY(w.keeper->offerLeftList());
        QVERIFY(askedToRestore());
        ConversionView& v = w.view();
        QCOMPARE(mainwin_test::rowTitles(v), QStringList({"done", "running", "waiting", "gone"}));
        QCOMPARE(v.cellText(0, 3), QStringLiteral("Done"));
        QCOMPARE(v.cellText(1, 3), QStringLiteral("Stopped: 29.5 of 60.0 s kept"));
        // The column cuts that short; pointing at it gives it whole.
        QCOMPARE(v.sourceList()->topLevelItem(1)->toolTip(3), v.cellText(1, 3));
        QCOMPARE(v.cellText(2, 3), QStringLiteral("Ready"));
        QCOMPARE(v.cellText(3, 3), QStringLiteral("File not found"));
        QCOMPARE(v.cellText(1, 1), QStringLiteral("running-cvt.mp4"));
        QVERIFY(v.itemAt(v.rowTag(0))->converted);
        // The settings the batch used.
        const ConversionSettings s = v.settings();
        QCOMPARE(s.targetFormat, int(kTargetH264));
        QCOMPARE(s.sizeChoice, 5);
        QCOMPARE(s.outputPath, media / "out/");
        // The list is this copy's now; the old file is gone.
        QVERIFY(!testing_support::fileExists(left));
        QCOMPARE(parseListState(readFile(w.keeper->path()))->rows.size(), std::size_t(4));
    }

    void noKeepsItForOneMoreStart() {
        TempDir media;
        const std::string left = leaveList(media);
        {
            Window w;
            MessageBox::setNextAnswer(QMessageBox::No);
            QVERIFY(!w.keeper->offerLeftList());
            QVERIFY(askedToRestore());
            QCOMPARE(w.view().rowCount(), 0);
            QVERIFY(testing_support::fileExists(left));
            w.keeper->markFinished();
        }
        MessageBox::shownTexts().clear();
        {
            Window w;
            MessageBox::setNextAnswer(QMessageBox::No);
            QVERIFY(!w.keeper->offerLeftList());
            QVERIFY2(askedToRestore(), "the next start asks again");
            w.keeper->markFinished();
        }
        MessageBox::shownTexts().clear();
        Window w;
        QVERIFY(!w.keeper->offerLeftList());
        QVERIFY2(!askedToRestore(), "two answers of No let it go");
        QVERIFY(!testing_support::fileExists(left));
    }

    void aDamagedFileIsKeptAsideAndTheStartIsNormal() {
        fs::create_directories(lists());
        writeFile(lists() + "/1-2.list", "\x01\x02 not a list");
        Window w;
        QVERIFY(!w.keeper->offerLeftList());
        QVERIFY(!askedToRestore());
        QCOMPARE(w.view().rowCount(), 0);
        QCOMPARE(readFile(lists() + "/1-2.list.damaged"), std::string("\x01\x02 not a list"));
    }

    void twoWindowsKeepTheirOwnLists() {
        Window first;
        Window second;
        mainwin_test::addRows(first.view(), 3);
        mainwin_test::addRows(second.view(), 1);
        QTRY_VERIFY(testing_support::fileExists(first.keeper->path()) &&
                    testing_support::fileExists(second.keeper->path()));
        QTRY_COMPARE(parseListState(readFile(first.keeper->path()))->rows.size(), std::size_t(3));
        QTRY_COMPARE(parseListState(readFile(second.keeper->path()))->rows.size(), std::size_t(1));
        // Neither offers the other's, which is in use.
        QVERIFY(!second.keeper->offerLeftList());
        QVERIFY(!askedToRestore());
    }

    // The real program, killed in the middle of a batch, and started again.
    void aKilledWindowsBatchComesBackAndGoesOn() {
        TempDir media;
        const std::string longClip = media / "long.mp4";
        const std::string first = media / "first.mp4";
        const std::string last = media / "last.mp4";
        QString error;
        QVERIFY2(
            testing::makeClip(QString::fromStdString(first), 2, QStringLiteral("160x120"), &error),
            qPrintable(error));
        QVERIFY2(testing::makeClip(QString::fromStdString(longClip), 60, QStringLiteral("640x480"),
                                   &error),
                 qPrintable(error));
        QVERIFY2(
            testing::makeClip(QString::fromStdString(last), 2, QStringLiteral("160x120"), &error),
            qPrintable(error));
        const std::string config = media / "config";
        const std::string out = media / "out";
        fs::create_directories(config);
        fs::create_directories(out);
        {
            EnvGuard env("PLEXAVO_CONFIG_DIR", config);
            settings::writeToolTipsHidden();
            settings::writeOutputPath(out + "/");
        }
        // The size of the long clip converted whole, and the time it takes.
        const auto straightStart = Clock::now();
        const RunResult straight = run({std::string(PLEXAVO_BIN_FOLDER) + "plexavo", "--convert",
                                        "--out", media / "straight", longClip},
                                       300);
        const double straightSeconds =
            std::chrono::duration<double>(Clock::now() - straightStart).count();
        QCOMPARE(straight.exitCode, 0);
        const long long wholeSize = fileSize(media / "straight/long-cvt.mp4");
        QVERIFY(wholeSize > 0);

        const std::string log = media / "plexavo.log";
        SpawnOptions options;
        options.newSession = true;
        options.env = {"PLEXAVO_CONFIG_DIR=" + config, "XDG_STATE_HOME=" + m_state->path(),
                       "PLEXAVO_LOG=" + log, "QT_QPA_PLATFORM=offscreen"};
        Child program(
            {std::string(PLEXAVO_BIN_FOLDER) + "plexavo_convert_at_start", first, longClip, last},
            options);
        QVERIFY(program.started());
        // Until the long clip's partial file is about half the size a whole
        // conversion of it has.
        const auto deadline = Clock::now() + std::chrono::minutes(4);
        bool halfway = false;
        while (!halfway && Clock::now() < deadline && !program.exited()) {
            program.pump(100);
            for (const std::string& file : listFiles(out, ""))
                if (file.find("/long-cvt") != std::string::npos &&
                    file.find(".partial-") != std::string::npos)
                    halfway = halfway || fileSize(file) >= wholeSize / 2;
        }
        QVERIFY2(halfway, "the batch reached the middle of the long clip");
        ::kill(program.pid(), SIGKILL);
        QVERIFY(program.wait(10000));
        // The core stops on its own when its program dies, and keeps its file.
        const auto coreGone = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < coreGone && !processesInSession(program.pid()).empty())
            QTest::qWait(100);
        QVERIFY(processesInSession(program.pid()).empty());
        QVERIFY(testing_support::fileExists(out + "/long-cvt.mp4"));

        // The next start, in this process, with the real core.
        plexavo::platform::setCoreFolder(PLEXAVO_BIN_FOLDER);
        EnvGuard env("PLEXAVO_CONFIG_DIR", config);
        Window w;
        MessageBox::setNextAnswer(QMessageBox::Yes);
        QVERIFY(w.keeper->offerLeftList());
        ConversionView& v = w.view();
        QCOMPARE(v.rowCount(), 3);
        QCOMPARE(v.cellText(0, 3), QStringLiteral("Done"));
        QVERIFY2(v.cellText(1, 3).startsWith(QStringLiteral("Stopped: ")),
                 qPrintable(v.cellText(1, 3)));
        QCOMPARE(v.cellText(2, 3), QStringLiteral("Ready"));

        // Convert: the stopped file goes on, the converted one stays.
        const std::string firstBefore = readFile(out + "/first-cvt.mp4");
        MessageBox::setAutoAnswer(QMessageBox::Yes);
        const auto continueStart = Clock::now();
        v.onConvert();
        const double continueSeconds =
            std::chrono::duration<double>(Clock::now() - continueStart).count();
        MessageBox::setAutoAnswer(QMessageBox::NoButton);
        qInfo("straight conversion %.1f s; the batch after the restore (the rest of the long "
              "clip and a 2 s clip) %.1f s",
              straightSeconds, continueSeconds);
        QCOMPARE(v.cellText(0, 3), QStringLiteral("Done"));
        QCOMPARE(v.cellText(1, 3), QStringLiteral("Done"));
        QCOMPARE(v.cellText(2, 3), QStringLiteral("Done"));
        const auto files = listFiles(out, "");
        std::string names;
        for (const std::string& file : files)
            names += file + " ";
        QVERIFY2(files.size() == 3, names.c_str()); // one file per source, nothing else
        QCOMPARE(readFile(out + "/first-cvt.mp4"), firstBefore);
        const double whole = probeDuration(out + "/long-cvt.mp4");
        const double reference = probeDuration(media / "straight/long-cvt.mp4");
        QVERIFY2(std::abs(whole - reference) < 0.1,
                 qPrintable(QStringLiteral("%1 against %2").arg(whole).arg(reference)));
        std::string complaints;
        QVERIFY2(decodesCleanly(out + "/long-cvt.mp4", &complaints), complaints.c_str());
        plexavo::platform::setCoreFolder("");
    }
};

QTEST_MAIN(TestMainWinRestore)
#include "test_mainwin_restore.moc"
