// The batch below the window: the overall percentage, the option-text table,
// when a cancel counts, and the time-left estimate, on a plain list whose
// operations run directly on the driver's thread.
#include "engine/convert/BatchDriver.h"
#include "engine/convert/EncodeJob.h"
#include "engine/convert/SourceList.h"
#include "engine/media/SourceItem.h"
#include "support/BatchTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::convert::BatchDriver;
using plexavo::convert::BatchEstimate;
using plexavo::convert::EncodeJob;
using plexavo::convert::formatClock;
using plexavo::convert::ISourceList;
using plexavo::media::kStatusDone;
using plexavo::media::kStatusError;
using plexavo::media::kStatusSkip;
using plexavo::media::kStatusWaiting;
using plexavo::media::SourceItem;
using plexavo::settings::ConversionSettings;
using plexavo::settings::kTargetDv;
using plexavo::settings::kTargetDvd;
using plexavo::settings::kTargetFormatCount;
using plexavo::settings::kTargetH264;
using plexavo::settings::kTargetMpeg4;
using plexavo::settings::kTargetSvcd;
using plexavo::settings::kTargetVcd;

namespace {

class PlainList : public ISourceList {
  public:
    std::vector<std::unique_ptr<SourceItem>> items;
    ConversionSettings s;
    EncodeJob theJob;
    std::vector<int> refreshed;
    std::function<void(int)> onRefresh;

    int rowCount() override { return static_cast<int>(items.size()); }
    int rowTag(int row) override { return row; }
    SourceItem* itemAt(int index) override {
        return index >= 0 && index < rowCount() ? items[static_cast<std::size_t>(index)].get()
                                                : nullptr;
    }
    int appendItem(SourceItem* item) override {
        items.emplace_back(item);
        return rowCount() - 1;
    }
    int insertRow(const std::string&, int tag) override { return tag; }
    void refreshRow(int row) override {
        refreshed.push_back(row);
        if (onRefresh)
            onRefresh(row);
    }
    ConversionSettings settings() override { return s; }
    void showFrameSize(const std::string&, const std::string&) override {}
    EncodeJob& job() override { return theJob; }

    void add(const std::string& path, std::uint32_t start, std::uint32_t end) {
        auto item = std::make_unique<SourceItem>();
        item->path = path;
        item->title = path;
        item->startSeconds = start;
        item->endSeconds = end;
        item->status = kStatusWaiting;
        items.push_back(std::move(item));
    }
    std::vector<int> statuses() const {
        std::vector<int> out;
        for (const auto& item : items)
            out.push_back(item->status);
        return out;
    }
};

BatchDriver::UiCall direct() {
    return [](const std::function<void()>& fn) { fn(); };
}

} // namespace

class BatchDriverTest : public QObject {
    Q_OBJECT

  private slots:
    void overallPercent() {
        QCOMPARE(BatchDriver::overallPercent(50, 1, 4), 37);
        QCOMPARE(BatchDriver::overallPercent(100, 3, 4), 100);
        QCOMPARE(BatchDriver::overallPercent(0, 0, 3), 0);
        QCOMPARE(BatchDriver::overallPercent(99, 0, 3), 33);
        QCOMPARE(BatchDriver::overallPercent(0, -1, 3), 0); // before the first row
        QCOMPARE(BatchDriver::overallPercent(40, 0, 0), 0);
    }

    void onlyDeviceAndDiscTargetsHaveAnOptionText() {
        for (int f = 0; f < kTargetFormatCount; ++f) {
            const bool expected = f == kTargetMpeg4 || f == kTargetH264 || f == kTargetDvd ||
                                  f == kTargetVcd || f == kTargetSvcd || f == kTargetDv;
            QCOMPARE(BatchDriver::hasOptionText(f), expected);
        }
    }

    void cancelBeforeTheStartRunsNothing() {
        ScriptedCore fake(QStringLiteral("x:0"));
        PlainList list;
        list.add("/a.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        driver.cancelAll();
        driver.run();
        QVERIFY(driver.finished());
        QVERIFY(!driver.completed());
        QCOMPARE(driver.rowsEnded(), 0);
        QCOMPARE(list.statuses(), std::vector<int>{kStatusWaiting});
    }

    void cancelAfterTheLastRowEndedUndoesNothing() {
        ScriptedCore fake(QStringLiteral("w:frame=1 time=1.00 |O|x:0"));
        QTemporaryDir out;
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add("/a.mp4", 0, 10);
        list.add("/b.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        // The cancel arrives right as the last row gets its status.
        list.onRefresh = [&](int row) {
            if (row == 1 && list.items[1]->status == kStatusDone)
                driver.cancelAll();
        };
        driver.run();
        QVERIFY(driver.completed());
        QCOMPARE(driver.rowsEnded(), 2);
        QCOMPARE(list.statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
    }

    void skipBeforeTheRunBeginsSkipsWithoutRunning() {
        QTemporaryDir dir;
        const QString argvFile = dir.filePath(QStringLiteral("argv"));
        qputenv("SCRIPTED_ARGV_FILE", argvFile.toUtf8());
        ScriptedCore fake(QStringLiteral("a|w:frame=1 time=1.00 |O|x:0"));
        PlainList list;
        list.s.outputPath = dir.path().toStdString();
        list.add("/a.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        // The row has its name (Waiting) and its run has not begun.
        list.onRefresh = [&](int) {
            if (list.items[0]->status == kStatusWaiting)
                driver.skipCurrent();
        };
        driver.run();
        qunsetenv("SCRIPTED_ARGV_FILE");
        QCOMPARE(list.statuses(), std::vector<int>{kStatusSkip});
        QVERIFY(!QFile::exists(argvFile)); // the core never ran
        QVERIFY(driver.completed());
        QVERIFY(!driver.anyFailed());
    }

    void lateSkipForARowThatEndedDoesNotStopTheNext() {
        ScriptedCore fake(
            QStringLiteral("t|w:frame=1 time=1.00 |s:300|w:frame=2 time=9.00 |s:300|O|x:0"));
        QTemporaryDir out;
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add("/a.mp4", 0, 10);
        list.add("/b.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        // The click comes as row 0 gets its final status, meant for row 0.
        list.onRefresh = [&](int row) {
            if (row == 0 && list.items[0]->status == kStatusDone)
                driver.skipCurrent();
        };
        driver.run();
        QCOMPARE(list.statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
        QCOMPARE(list.theJob.percent.load(), 100);
    }

    void cancelDuringARowLeavesItForTheWindow() {
        ScriptedCore fake(QStringLiteral("t|w:frame=1 time=1.00 |s:20000|O|x:0"));
        QTemporaryDir out;
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add("/a.mp4", 0, 10);
        list.add("/b.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        std::thread worker([&] { driver.run(); });
        QTRY_VERIFY_WITH_TIMEOUT(list.theJob.percent.load() == 10, 10000);
        driver.cancelAll();
        driver.waitFinished();
        worker.join();
        QVERIFY(!driver.completed());
        QCOMPARE(driver.rowsEnded(), 0);
        QCOMPARE(driver.currentIndex(), 0);
        // The running row keeps Waiting: the window marks it and the rest as skipped.
        QCOMPARE(list.statuses(), (std::vector<int>{kStatusWaiting, kStatusWaiting}));
        QVERIFY(!driver.anyFailed());
    }

    // A folder removed while the batch runs is made again for the next row.
    void aRemovedOutputFolderIsMadeAgainBeforeTheNextRow() {
        ScriptedCore fake(QStringLiteral("w:frame=1 time=1.00 |O|x:0"));
        QTemporaryDir out;
        const std::string folder = out.path().toStdString() + "/made/";
        PlainList list;
        list.s.outputPath = folder;
        list.add("/a.mp4", 0, 10);
        list.add("/b.mp4", 0, 10);
        list.onRefresh = [&](int row) {
            if (row == 0 && list.items[0]->status == kStatusDone)
                QDir(QString::fromStdString(folder)).removeRecursively();
        };
        BatchDriver driver(list, list.theJob, direct());
        driver.run();
        QCOMPARE(list.statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
        QVERIFY(QDir(QString::fromStdString(folder)).exists());
    }

    // Every failed file carries its own reason: the core's words, or the
    // engine's when it sees more (a source that is gone).
    void theFailureReportGivesEachFilesReason() {
        ScriptedCore fake(QStringLiteral("w:Error: No space left on device\\n|x:1"));
        QTemporaryDir out;
        const std::string present = out.path().toStdString() + "/here.mp4";
        QFile(QString::fromStdString(present)).open(QIODevice::WriteOnly);
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add(present, 0, 10);
        list.add("/gone/away.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        driver.run();
        QCOMPARE(list.statuses(), (std::vector<int>{kStatusError, kStatusError}));
        QCOMPARE(driver.failures(), "\n" + present + "\n/gone/away.mp4");
        QCOMPARE(driver.failureReport(), "\n" + present + "\n    No space left on device" +
                                             "\n/gone/away.mp4\n    The source file is gone: "
                                             "/gone/away.mp4");
    }

    // Another program may take the name between naming and writing: the
    // row shows the name the core actually wrote.
    void theRowShowsTheNameTheCoreActuallyWrote() {
        QTemporaryDir out;
        const std::string written = out.path().toStdString() + "/a-cvt[1].mp4";
        QVERIFY(QFile(QString::fromStdString(written)).open(QIODevice::WriteOnly));
        ScriptedCore fake(QString::fromStdString("w:Output: " + written + "\\n|x:0"));
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add("a", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        driver.run();
        QCOMPARE(list.statuses(), std::vector<int>{kStatusDone});
        QCOMPARE(list.items[0]->outputFilePath(), written);
    }

    // A source that ended early leaves a short file: kept, and named in the
    // report and the log with how much it holds; the row is a failure.
    void aSourceThatEndsEarlyFailsWithTheKeptFileAndItsSeconds() {
        ScriptedCore fake(QStringLiteral(
            "w:frame=110 time=4.40 \\n|O|"
            "w:Error: the output holds 4.4 of 10.0 seconds: the source is damaged\\n|x:4"));
        QTemporaryDir out;
        TestLog log;
        PlainList list;
        list.s.outputPath = out.path().toStdString() + "/";
        list.add("/media/clip.mp4", 0, 10);
        list.items[0]->title = "clip";
        BatchDriver driver(list, list.theJob, direct());
        driver.run();
        const std::string kept = out.path().toStdString() + "/clip-cvt.mp4";
        const std::string message = kept + " holds 4.4 of 10.0 seconds: the source is damaged";
        QCOMPARE(list.statuses(), std::vector<int>{kStatusError});
        QVERIFY(driver.anyFailed());
        QCOMPARE(driver.failureReport(), "\n/media/clip.mp4\n    " + message);
        QVERIFY(QFile::exists(QString::fromStdString(kept)));
        QCOMPARE(list.items[0]->outputFilePath(), kept);
        QVERIFY2(log.text().contains(QString::fromStdString(message)), qPrintable(log.text()));
    }

    // Done means a regular file under the name the core gave; a link to
    // /dev/null planted there is no conversion.
    void aRowIsDoneOnlyForARegularFileUnderItsName() {
        QTemporaryDir out;
        const std::string planted = out.path().toStdString() + "/planted.mp4";
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), QString::fromStdString(planted)));
        ScriptedCore fake(QString::fromStdString("w:Output: " + planted + "\\n|x:0"));
        const std::string source = out.path().toStdString() + "/a.mp4";
        QVERIFY(QFile(QString::fromStdString(source)).open(QIODevice::WriteOnly));
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add(source, 0, 10);
        list.items[0]->title = "a";
        BatchDriver driver(list, list.theJob, direct());
        driver.run();
        QCOMPARE(list.statuses(), std::vector<int>{kStatusError});
        QVERIFY(!list.items[0]->converted);
        QVERIFY2(driver.failureReport().find(planted + " is not there as a regular file") !=
                     std::string::npos,
                 driver.failureReport().c_str());
    }

    // With SIGCHLD ignored, the exit status of a core killed from outside is
    // lost: it named no finished file, so the row is no success.
    void aCoreKilledFromOutsideIsAFailureAlsoWithSigchldIgnored() {
        testing_support::SignalGuard ignoreChildren(SIGCHLD, SIG_IGN);
        QTemporaryDir out;
        const std::string pids = out.path().toStdString() + "/pids";
        QVERIFY(QDir().mkpath(QString::fromStdString(pids)));
        ScriptedCore fake(
            QString::fromStdString("d:" + pids + "|w:frame=1 time=1.00 |s:30000|O|x:0"));
        PlainList list;
        list.s.outputPath = out.path().toStdString() + "/out";
        list.add("/media/a.mp4", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        std::thread worker([&] { driver.run(); });
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(QString::fromStdString(pids)).isEmpty(), 20000);
        const auto names = QDir(QString::fromStdString(pids)).entryList(QDir::Files);
        QCOMPARE(names.size(), 1);
        ::kill(static_cast<pid_t>(names[0].toInt()), SIGKILL);
        driver.waitFinished();
        worker.join();
        QCOMPARE(list.statuses(), std::vector<int>{kStatusError});
        QVERIFY(driver.anyFailed());
    }

    // A file with nothing marked is converted to its real end (the list
    // shows its whole seconds only); a marked part keeps its seconds.
    void aWholeFileRunsToItsEndAndAMarkedPartKeepsItsSeconds() {
        QTemporaryDir dir;
        const QString argvFile = dir.filePath(QStringLiteral("argv"));
        const testing_support::EnvGuard argvTo("SCRIPTED_ARGV_FILE", argvFile.toStdString());
        ScriptedCore fake(QStringLiteral("a|O|x:0"));
        PlainList list;
        list.s.outputPath = dir.path().toStdString();
        list.add("/media/whole.mp4", 0, 1);
        list.items[0]->title = "whole";
        list.items[0]->durationSeconds = 1;
        list.items[0]->report.durationSeconds = 1.92;
        BatchDriver driver(list, list.theJob, direct());
        const auto arguments = [&] {
            QFile file(argvFile);
            file.open(QIODevice::ReadOnly);
            QByteArray bytes = file.readAll();
            bytes.replace('\0', ' ');
            return QString::fromUtf8(bytes);
        };
        driver.run();
        QCOMPARE(list.statuses(), std::vector<int>{kStatusDone});
        QVERIFY2(arguments().contains(QStringLiteral(" -ss 0 -t 0 -claim ")),
                 qPrintable(arguments()));

        PlainList marked;
        marked.s.outputPath = dir.path().toStdString();
        marked.add("/media/long.mp4", 2, 5);
        marked.items[0]->title = "long";
        marked.items[0]->durationSeconds = 9;
        marked.items[0]->report.durationSeconds = 9.5;
        BatchDriver again(marked, marked.theJob, direct());
        again.run();
        QVERIFY2(arguments().contains(QStringLiteral(" -ss 2 -t 3 -claim ")),
                 qPrintable(arguments()));
    }

    void estimateFromConvertedMediaOverWallTime() {
        BatchEstimate e;
        e.start(1000, {10, 10});
        QVERIFY(!e.ready());
        e.update(2000, 0, 0);
        QVERIFY(!e.ready());   // nothing converted yet: the line stays blank
        e.update(3000, 0, 50); // 5 s of media in 2 s
        QVERIFY(e.ready());
        QCOMPARE(e.elapsedSeconds(), 2);
        QCOMPARE(e.speed(), 2.5);
        QCOMPARE(e.leftSeconds(), 6); // 15 s of media left at 2.5x
        e.update(5000, 1, 0);         // row 1 ended at 50 % as last seen
        QCOMPARE(e.speed(), 5.0 / 4.0);
        QCOMPARE(e.leftSeconds(), 8);
    }

    void skippedRowCountsWhatWasConverted() {
        BatchEstimate e;
        e.start(0, {100, 100, 100});
        e.update(1000, 0, 10); // 10 s
        e.noteSkip();
        e.update(1500, 0, 100); // the stopped job reports 100: not media
        QCOMPARE(e.speed(), 10.0 / 1.5);
        e.update(2000, 1, 0);
        e.update(3000, 1, 20); // 10 + 20 s in 3 s
        QCOMPARE(e.speed(), 10.0);
        QCOMPARE(e.leftSeconds(), 18); // 80 + 100 s left at 10x
    }

    void leftIsRoundedUpAndRowsPassedOverAddNothing() {
        BatchEstimate e;
        e.start(0, {3, 7, 0, 4});
        e.update(1000, 0, 100);
        e.update(1100, 2, 0); // row 1 ended between two looks (it failed)
        QCOMPARE(e.speed(), 3.0 / 1.1);
        QCOMPARE(e.leftSeconds(), 2); // 4 s of media at 2.72x is 1.47 s
    }

    // A row whose earlier output was stopped: the driver asks once, and Yes
    // continues that file (the core's -resume), with the step naming the
    // second it goes on from; a converted row is passed over.
    void aStoppedFileIsOfferedAndContinued() {
        QTemporaryDir out;
        const std::string folder = out.path().toStdString() + "/";
        const std::string kept = folder + "b-cvt.mp4";
        const std::string done = folder + "a-cvt.mp4";
        for (const std::string& file : {kept, done})
            QVERIFY(QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly));
        const std::string argvFile = out.path().toStdString() + "/argv";
        qputenv("SCRIPTED_ARGV_FILE", QByteArray::fromStdString(argvFile));
        ScriptedCore fake(QStringLiteral(
            "?:-can-resume|w:Resumable: 4.0 of 10.0\\n|x:0|/|a|w:Continue: from 3.52 s\\n|"
            "s:400|w:frame=9 time=9.00 \\n|O|x:0"));
        PlainList list;
        list.s.outputPath = folder;
        list.add("a", 0, 10); // Waiting, as Convert marks every row
        list.items[0]->converted = true;
        list.items[0]->outputFolder = folder;
        list.items[0]->outputName = "a-cvt";
        list.items[0]->outputExtension = "mp4";
        list.add("b", 0, 10);
        list.theJob.lookIntervalMs = 50;
        std::vector<int> asked;
        std::string step;
        BatchDriver driver(list, list.theJob, direct());
        driver.askContinue = [&](int count) {
            asked.push_back(count);
            return true;
        };
        std::thread watcher;
        std::atomic<bool> stop{false};
        watcher = std::thread([&] {
            while (!stop) {
                const std::string now = driver.stepText();
                if (now.find("Continuing") != std::string::npos &&
                    now.find("3.5") != std::string::npos)
                    step = now;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        driver.run();
        stop = true;
        watcher.join();
        qunsetenv("SCRIPTED_ARGV_FILE");
        QCOMPARE(asked, std::vector<int>{1});
        QCOMPARE(list.statuses(), (std::vector<int>{kStatusDone, kStatusDone}));
        QCOMPARE(list.items[1]->outputFilePath(), kept);
        QFile args(QString::fromStdString(argvFile));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QVERIFY(
            args.readAll().contains(QByteArray("-resume\0", 8) + QByteArray::fromStdString(kept)));
        QVERIFY2(step.find("from second 3.5") != std::string::npos, step.c_str());
        QVERIFY(step.find(kept) != std::string::npos);
        // The estimate counts what was left: none of a, 6 s of b.
        const auto left = driver.plannedSeconds();
        QCOMPARE(left.size(), std::size_t(2));
        QCOMPARE(left[0], 0.0);
        QCOMPARE(left[1], 6.0);
    }

    // No: every row from the start, the stopped file left as it is.
    void noConvertsEveryRowAnew() {
        QTemporaryDir out;
        const std::string folder = out.path().toStdString() + "/";
        QVERIFY(QFile(QString::fromStdString(folder + "b-cvt.mp4")).open(QIODevice::WriteOnly));
        ScriptedCore fake(QStringLiteral(
            "?:-can-resume|w:Resumable: 4.0 of 10.0\\n|x:0|/|w:frame=9 time=10.00 \\n|O|x:0"));
        PlainList list;
        list.s.outputPath = folder;
        list.add("b", 0, 10);
        BatchDriver driver(list, list.theJob, direct());
        int asked = 0;
        driver.askContinue = [&](int) {
            ++asked;
            return false;
        };
        driver.run();
        QCOMPARE(asked, 1);
        QCOMPARE(list.statuses(), std::vector<int>{kStatusDone});
        QCOMPARE(list.items[0]->outputFilePath(), folder + "b-cvt[1].mp4");
        QCOMPARE(driver.plannedSeconds(), std::vector<double>{10.0});
    }

    // A file stopped by Skip is noted with what it holds, for the next batch.
    void aSkippedFileIsNotedWithWhatItKeeps() {
        QTemporaryDir out;
        ScriptedCore fake(QStringLiteral("t|O|w:frame=1 time=3.50 |s:10000|x:0"));
        PlainList list;
        list.s.outputPath = out.path().toStdString();
        list.add("a", 0, 10);
        list.theJob.lookIntervalMs = 50;
        BatchDriver driver(list, list.theJob, direct());
        std::thread skipper([&] {
            while (list.theJob.percent.load() < 30)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            driver.skipCurrent();
        });
        driver.run();
        skipper.join();
        QCOMPARE(list.statuses(), std::vector<int>{kStatusSkip});
        QCOMPARE(list.items[0]->keptSeconds, 3.5);
        QCOMPARE(list.items[0]->keptOfSeconds, 10.0);
    }

    void plannedLengthsReplaceTheRowsLengths() {
        BatchEstimate e;
        e.start(0, {60, 60});
        // Planned after 5 s (a question was up): the first goes on from 40 s.
        e.setLengths(5000, {20.0, 60.0});
        e.update(15000, 0, 50); // 10 s of media in the 10 s since
        QCOMPARE(e.speed(), 1.0);
        QCOMPARE(e.leftSeconds(), 70);
        QCOMPARE(e.elapsedSeconds(), 10);
    }

    void clockText() {
        QCOMPARE(formatClock(62), std::string("0:01:02"));
        QCOMPARE(formatClock(130), std::string("0:02:10"));
        QCOMPARE(formatClock(3723), std::string("1:02:03"));
        QCOMPARE(formatClock(360000), std::string("100:00:00"));
        QCOMPARE(formatClock(-5), std::string("0:00:00"));
    }
};

QTEST_MAIN(BatchDriverTest)
#include "test_batch_driver.moc"
