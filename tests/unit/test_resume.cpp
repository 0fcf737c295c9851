// Continuing a stopped output, the engine's side: the core's answer read,
// the question asked with the conversion's own arguments, the kept files of
// a title found in the order names are given out, a restored list's rows
// settled, the command line's --resume plan, and a continued run's
// percentages over what is left.
#include "engine/convert/EncodeJob.h"
#include "engine/convert/ParallelRunner.h"
#include "engine/convert/ResumeQuery.h"
#include "engine/media/ProbeInOrder.h"

#include "FakeCore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace plexavo;
using namespace plexavo::convert;
using namespace plexavo::media;
using namespace plexavo::platform;
using namespace plexavo::settings;
using namespace testing_support;

TEST(ResumeAnswer, YesOnlyWithTheLineAndExitZero) {
    auto a = parseResumeAnswer("Resumable: 31.5 of 60.0\n", 0);
    EXPECT_TRUE(a.resumable);
    EXPECT_DOUBLE_EQ(a.keptSeconds, 31.5);
    EXPECT_DOUBLE_EQ(a.totalSeconds, 60.0);

    a = parseResumeAnswer("Note: something\r\nResumable: 12.0 of 0.0\n", 0);
    EXPECT_TRUE(a.resumable) << "an unknown whole is still a yes";
    EXPECT_DOUBLE_EQ(a.totalSeconds, 0.0);

    a = parseResumeAnswer("Not resumable: the settings differ\n", 1);
    EXPECT_FALSE(a.resumable);
    EXPECT_EQ(a.reason, "the settings differ");

    a = parseResumeAnswer("Resumable: 31.5 of 60.0\n", 1);
    EXPECT_FALSE(a.resumable) << "a line without the exit status is no yes";
    EXPECT_EQ(a.keptSeconds, 0);

    a = parseResumeAnswer("Error: unknown option -can-resume\n", 2);
    EXPECT_FALSE(a.resumable) << "an older core";
    EXPECT_EQ(a.reason, "unknown option -can-resume");

    a = parseResumeAnswer("Resumable: lots\n", 0);
    EXPECT_FALSE(a.resumable);
    EXPECT_NE(a.reason.find("no answer"), std::string::npos);
}

TEST(ResumeAnswer, TheQuestionCarriesTheConversionsOwnArguments) {
    const SourcePart part{5, 65, 120, 120.4};
    const auto conversion =
        EncodeJob::buildArguments("/in/a.avi", "/out/a-cvt.mp4", "a", " -vcodec xvid -b 768",
                                  part.startSeconds, part.coreLength(), false);
    const auto question =
        canResumeArguments("/in/a.avi", "/out/a-cvt.mp4", "a", " -vcodec xvid -b 768", part);
    ASSERT_EQ(question.size(), conversion.size());
    for (std::size_t i = 0; i + 2 < question.size(); ++i)
        EXPECT_EQ(question[i], conversion[i]) << "argument " << i;
    EXPECT_EQ(question[question.size() - 2], "-can-resume");
    EXPECT_EQ(question.back(), "/out/a-cvt.mp4");
    const auto resumed =
        EncodeJob::buildArguments("/in/a.avi", "/out/a-cvt.mp4", "a", "", 0, 0, true);
    EXPECT_EQ(resumed[resumed.size() - 2], "-resume");
    EXPECT_EQ(EncodeJob::formatCommandLine("i", "o", "t", "", 0, 0, true).find("-claim"),
              std::string::npos);
}

TEST(ResumeAnswer, AskingARealChildReadsItsAnswer) {
    FakeCore core("?:-can-resume|w:Resumable: 7.5 of 20.0\\n|x:0|/|x:9");
    auto a = askCanResume("/in.avi", "/out.mp4", "in", "", {0, 20, 20, 20.0});
    EXPECT_TRUE(a.resumable);
    EXPECT_DOUBLE_EQ(a.keptSeconds, 7.5);
    core.setScript("w:Not resumable: no note of a stop\\n|x:1");
    a = askCanResume("/in.avi", "/out.mp4", "in", "", {0, 20, 20, 20.0});
    EXPECT_FALSE(a.resumable);
    EXPECT_EQ(a.reason, "no note of a stop");
}

TEST(EarlierOutputs, InTheOrderNamesAreGivenOutUpToTheFirstFree) {
    TempDir dir;
    const std::string folder = dir.path() + "/";
    EXPECT_TRUE(earlierOutputs(folder, "clip", "mp4").empty());
    writeFile(dir / "clip-cvt.mp4", "a");
    writeFile(dir / "clip-cvt[1].mp4", "b");
    writeFile(dir / "clip-cvt[3].mp4", "not reached: [2] is free");
    writeFile(dir / "clip-cvt.mov", "another extension");
    EXPECT_EQ(earlierOutputs(folder, "clip", "mp4"),
              (std::vector<std::string>{folder + "clip-cvt.mp4", folder + "clip-cvt[1].mp4"}));
}

TEST(RestoredRows, ConvertedStayStoppedShowWhatIsKeptTheRestAreReady) {
    TempDir dir;
    const std::string folder = dir.path() + "/";
    SavedList list;
    auto row = [&](const std::string& name, int status, bool converted) {
        SourceItem item;
        item.path = dir / (name + ".avi");
        writeFile(item.path, "source");
        item.title = name;
        item.outputFolder = folder;
        item.outputName = name + "-cvt";
        item.outputExtension = "mp4";
        item.status = status;
        item.converted = converted;
        item.endSeconds = 60;
        list.rows.push_back(item);
    };
    row("done", kStatusDone, true);
    row("running", kStatusWaiting, false); // the row the batch was on
    row("waiting", kStatusWaiting, false); // its output was never written
    row("failed", kStatusError, false);
    row("gone", kStatusReady, false);
    writeFile(dir / "running-cvt.mp4", "kept");
    fs::remove(dir / "gone.avi");
    std::vector<std::string> asked;
    std::mutex askedLock;
    const auto summary = settleRestoredRows(list, [&](const SourceItem& r) {
        const std::lock_guard lock(askedLock);
        asked.push_back(r.outputFilePath());
        ResumeAnswer a;
        a.resumable = true;
        a.keptSeconds = 29.5;
        a.totalSeconds = 60;
        return a;
    });
    EXPECT_EQ(asked, std::vector<std::string>{folder + "running-cvt.mp4"})
        << "the core is asked only about a file that is there";
    EXPECT_EQ(list.rows[0].status, kStatusDone);
    EXPECT_EQ(list.rows[1].status, kStatusSkip);
    EXPECT_DOUBLE_EQ(list.rows[1].keptSeconds, 29.5);
    EXPECT_DOUBLE_EQ(list.rows[1].keptOfSeconds, 60);
    EXPECT_EQ(list.rows[2].status, kStatusReady);
    EXPECT_EQ(list.rows[3].status, kStatusReady);
    EXPECT_TRUE(list.rows[4].sourceMissing);
    EXPECT_FALSE(list.rows[0].sourceMissing);
    EXPECT_EQ(summary.converted, 1);
    EXPECT_EQ(summary.stopped, 1);
    EXPECT_EQ(summary.ready, 3);
    EXPECT_EQ(summary.missing, 1);
}

TEST(RestoredRows, AKeptFileTheCoreRefusesLeavesTheRowReady) {
    TempDir dir;
    SavedList list;
    SourceItem item;
    item.path = dir / "a.avi";
    writeFile(item.path, "source");
    item.outputFolder = dir.path() + "/";
    item.outputName = "a-cvt";
    item.outputExtension = "mp4";
    item.status = kStatusSkip;
    item.keptSeconds = 12; // stopped by Skip in the run that died
    list.rows.push_back(item);
    writeFile(dir / "a-cvt.mp4", "changed since");
    settleRestoredRows(list, [](const SourceItem&) { return ResumeAnswer{}; });
    EXPECT_EQ(list.rows[0].status, kStatusReady);
    EXPECT_EQ(list.rows[0].keptSeconds, 0);
}

// A list with many stopped rows: the questions run side by side, each answer lands on its own
// row. Each question waits for another to be asked while it runs, which only questions asked
// side by side can see.
TEST(RestoredRows, ManyStoppedRowsAreAskedAboutSideBySide) {
    if (probeWorkers() < 2)
        GTEST_SKIP() << "one processor: the questions run one after another";
    TempDir dir;
    SavedList list;
    for (int i = 0; i < 6; ++i) {
        SourceItem item;
        item.path = dir / ("s" + std::to_string(i) + ".avi");
        writeFile(item.path, "source");
        item.outputFolder = dir.path() + "/";
        item.outputName = "s" + std::to_string(i) + "-cvt";
        item.outputExtension = "mp4";
        item.status = kStatusSkip;
        item.keptSeconds = 10;
        list.rows.push_back(item);
        // The fourth row's kept file is gone: it is not asked about.
        if (i != 3)
            writeFile(dir / (item.outputName + ".mp4"), "kept");
    }
    std::mutex lock;
    std::condition_variable changed;
    int running = 0, asked = 0, sawAnother = 0;
    const auto summary = settleRestoredRows(list, [&](const SourceItem& r) {
        std::unique_lock held(lock);
        ++running;
        ++asked;
        changed.notify_all();
        if (changed.wait_for(held, std::chrono::seconds(5),
                             [&] { return running > 1 || asked == 5; }) &&
            running > 1)
            ++sawAnother;
        --running;
        ResumeAnswer a;
        // Odd rows can go on, each from its own number of seconds.
        const int n = std::stoi(r.outputName.substr(1));
        a.resumable = n % 2 == 1;
        a.keptSeconds = n;
        a.totalSeconds = 60;
        return a;
    });
    EXPECT_EQ(asked, 5);
    EXPECT_GE(sawAnother, 1) << "the questions were asked one after another";
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const bool goesOn = i % 2 == 1 && i != 3;
        EXPECT_EQ(list.rows[i].status, goesOn ? kStatusSkip : kStatusReady);
        EXPECT_DOUBLE_EQ(list.rows[i].keptSeconds, goesOn ? i : 0);
    }
    EXPECT_EQ(summary.stopped, 2);
    EXPECT_EQ(summary.ready, 4);
}

TEST(ResumePlan, ContinuesWhatCanGoOnSkipsWhatIsFinishedConvertsTheRest) {
    TempDir dir;
    const std::string folder = dir.path() + "/";
    std::vector<SourceItem> items(4);
    const char* titles[] = {"a", "b", "c", "a"}; // two sources of one title
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].path = dir / (std::string(titles[i]) + std::to_string(i) + ".avi");
        items[i].title = titles[i];
        items[i].endSeconds = 60;
        items[i].durationSeconds = 60;
    }
    writeFile(dir / "a-cvt.mp4", "finished");
    writeFile(dir / "a-cvt[1].mp4", "stopped");
    writeFile(dir / "b-cvt.mp4", "stopped");
    auto plan = planConversions(items, folder, "mp4");
    std::vector<std::string> asked;
    planResume(plan, "mp4", "", [&](const ConversionTask& task, const std::string& kept) {
        asked.push_back(task.source + " " + kept);
        ResumeAnswer a;
        a.resumable =
            kept.find("[1]") != std::string::npos || kept.find("b-cvt") != std::string::npos;
        a.keptSeconds = a.resumable ? 30 : 0;
        if (!a.resumable)
            a.reason = "it is finished";
        return a;
    });
    // The first "a" continues the file it can; the second "a" takes what is left.
    EXPECT_TRUE(plan[0].resume);
    EXPECT_EQ(plan[0].output, folder + "a-cvt[1].mp4");
    EXPECT_TRUE(plan[1].resume);
    EXPECT_EQ(plan[1].output, folder + "b-cvt.mp4");
    EXPECT_FALSE(plan[2].resume);
    EXPECT_FALSE(plan[2].skip) << "nothing of c was written";
    EXPECT_EQ(plan[2].output, folder + "c-cvt.mp4");
    EXPECT_TRUE(plan[3].skip);
    EXPECT_EQ(plan[3].output, folder + "a-cvt.mp4");
    EXPECT_EQ(plan[3].skipReason, "it is finished");

    ConversionEvent event;
    event.count = 4;
    event.task = &plan[0];
    EXPECT_EQ(progressLine(event),
              "[1/4] Continuing " + items[0].path + " -> " + folder + "a-cvt[1].mp4 from 30.0 s");
    event.kind = ConversionEvent::Kind::Written;
    event.written = plan[0].output;
    event.continuedFrom = 29.96;
    EXPECT_EQ(progressLine(event),
              "[1/4] written: " + folder + "a-cvt[1].mp4 (continued from 29.96 s)");
    event.kind = ConversionEvent::Kind::Skipped;
    event.index = 3;
    event.task = &plan[3];
    EXPECT_EQ(progressLine(event),
              "[4/4] skipped: " + folder + "a-cvt.mp4 is finished (it is finished)");
    RunSummary summary;
    summary.written = 2;
    summary.skipped = 1;
    EXPECT_EQ(summaryLine(summary), "2 written, 1 skipped");
}

TEST(ContinuedRun, CountsOnlyWhatIsLeftAndSaysFromWhere) {
    TempDir dir;
    const std::string kept = dir / "out.mp4";
    writeFile(kept, "kept part");
    EncodeJob job;
    job.resume = true;
    job.lookIntervalMs = 50;
    FakeCore core("a|w:Continue: from 40.00 s\\n|s:120|w:frame=1 time=70.00 \\r|s:120|"
                  "w:frame=2 time=100.00 \\n|O|x:0");
    EnvGuard argvFile("SCRIPTED_ARGV_FILE", dir / "argv");
    EXPECT_EQ(job.run("/in.avi", kept, "in", "", {0, 100, 100, 100.0}), 0);
    EXPECT_DOUBLE_EQ(job.continuedFrom(), 40.0);
    EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Finished);
    EXPECT_EQ(job.writtenPath(), kept);
    const std::string argv = readFile(dir / "argv");
    EXPECT_NE(argv.find(std::string("-resume\0", 8) + kept), std::string::npos);

    // The percentages: 70 s of a file continued from 40 s of 100 is half of what was left.
    EncodeJob parse;
    parse.duration = 100;
    const std::string head = "Continue: from 40.00 s\nframe=1 time=70.00 ";
    parse.resume = true;
    parse.pumpText(head.data(), head.size(), 0);
    parse.pumpText("", 0, 1000); // the next look
    EXPECT_EQ(parse.percent.load(), 50);
}
