#include "engine/convert/EncodeJob.h"
#include "engine/services/DebugLog.h"

#include "FakeCore.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using plexavo::CEncodeJob;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

int parse(CEncodeJob& job, const std::string& text) {
    return job.parseProgress(text.c_str(), text.size());
}

// Records every percentage the job shows while it runs, as the window's timer would.
class PercentWatcher {
  public:
    explicit PercentWatcher(CEncodeJob& job)
        : m_thread([this, &job] {
              while (!m_stop) {
                  m_seen.insert(job.percent.load());
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    std::set<int> stop() {
        m_stop = true;
        m_thread.join();
        return m_seen;
    }

  private:
    std::atomic<bool> m_stop{false};
    std::set<int> m_seen;
    std::thread m_thread;
};

} // namespace

TEST(ProgressParse, TakesTheNewestTimeAfterTheLastLineFeed) {
    CEncodeJob job;
    job.duration = 100;
    EXPECT_EQ(
        parse(job, "banner time=90 \nframe=1 time=5.00 \rframe=2 time=6.00 \rframe=3 time=7.00 \r"),
        0);
    EXPECT_EQ(job.percent, 7) << "the newest update, not the oldest";
    job.duration = 4;
    EXPECT_EQ(parse(job, "frame=1 time=1.00 \rframe=2 time=3.00 \r"), 0);
    EXPECT_EQ(job.percent, 75);
    // A value the chunk cuts off may be the front of a larger one: the last
    // complete value is used instead.
    EXPECT_EQ(parse(job, "frame=3 time=2.00 \rframe=4 time=3"), 0);
    EXPECT_EQ(job.percent, 50);
    job.duration = 100;
    EXPECT_EQ(parse(job, "frame=9 fps=1 size=1kB time=12.97 bitrate=1kbits/s"), 0);
    EXPECT_EQ(job.percent, 12) << "decimals are dropped";
    // The file's size while it has no name of its own yet: the newest "size=".
    EXPECT_EQ(parse(job, "frame=9 size=  10kB time=1 \rframe=10 size=  2048kB time=2 \r"), 0);
    EXPECT_EQ(job.writtenKB, 2048);
}

TEST(ProgressParse, NeverReportsCompletionWhileTheCoreRuns) {
    CEncodeJob job;
    job.duration = 100;
    parse(job, "time=100.00 ");
    EXPECT_EQ(job.percent, 99);
    parse(job, "time=250 ");
    EXPECT_EQ(job.percent, 99);
}

TEST(ProgressParse, TextWithoutAUsableTimeLeavesThePercentage) {
    CEncodeJob job;
    job.duration = 100;
    job.percent = 40;
    EXPECT_EQ(parse(job, "time=50 \nframe=3 fps=0"), -1)
        << "time= before the last line feed is not looked at";
    EXPECT_EQ(parse(job, "frame=3 time="), -1);
    EXPECT_EQ(parse(job, "frame=3 time=   "), -1);
    EXPECT_EQ(job.percent, 40);
    EXPECT_EQ(parse(job, "time=abc "), 0);
    EXPECT_EQ(job.percent, 0) << "a value without digits reads as 0";
    job.duration = 0;
    job.percent = 40;
    EXPECT_EQ(parse(job, "time=10 "), 0);
    EXPECT_EQ(job.percent, 40) << "no division by a zero duration";
}

TEST(ProgressParse, WildTimesSaturateInsteadOfOverflowing) {
    CEncodeJob job;
    job.duration = 100;
    EXPECT_EQ(parse(job, "time=92233720368547759 "), 0) << "times 100 is past 2^63";
    EXPECT_EQ(job.percent, 99);
    EXPECT_EQ(parse(job, "time=999999999999999999999999 "), 0);
    EXPECT_EQ(job.percent, 99);
    EXPECT_EQ(parse(job, "time=-5.00 "), 0);
    EXPECT_EQ(job.percent, 0);
    job.duration = 1;
    EXPECT_EQ(parse(job, "time=-9223372036854775807 "), 0);
    EXPECT_EQ(job.percent, 0);
}

TEST(ConversionCommand, TextAndArgumentsOfOneConversion) {
    // The access code is 13 characters with a blank at each end, so two
    // blanks stand before "-i" in the logged text.
    const std::string code = plexavo::contract::kAccessCode;
    ASSERT_EQ(code.size(), 13u);
    ASSERT_EQ(code.front(), ' ');
    ASSERT_EQ(code.back(), ' ');
    const std::string options = " -vcodec xvid -pix_fmt yuv420p -s 320x240";
    EXPECT_EQ(
        CEncodeJob::formatCommandLine("/in/a b.avi", "/out/a b-cvt.mp4", "a b", options, 30, 60),
        std::string("Plexcore") + plexavo::contract::kAccessCode +
            " -i \"/in/a b.avi\" -title \"a b\"  -vcodec xvid -pix_fmt yuv420p "
            "-s 320x240 -ss 30 -t 60 -claim \"/out/a b-cvt.mp4\"");
    // Only the low 32 bits of the second counts are written.
    EXPECT_NE(
        CEncodeJob::formatCommandLine("i", "o", "t", "", 0, (1ull << 32) + 5).find(" -t 5 -claim"),
        std::string::npos);

    const auto args = CEncodeJob::buildArguments("-odd \"name\".avi", "/o/x.mp4", "-odd \"name\"",
                                                 options, 30, 60);
    const std::vector<std::string> tail(args.begin() + 1, args.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        plexavo::contract::kAccessCode, "-i", "-odd \"name\".avi", "-title",
                        "-odd \"name\"", "-vcodec", "xvid", "-pix_fmt", "yuv420p", "-s", "320x240",
                        "-ss", "30", "-t", "60", "-claim", "/o/x.mp4"}));
    EXPECT_EQ(args[0].substr(args[0].size() - 9), "/Plexcore");
}

TEST(EncodeJob, FollowsProgressAndReportsTheCoresOutcome) {
    CEncodeJob job;
    job.lookIntervalMs = 100; // updates 550 ms apart always fall into separate looks
    {
        FakeCore core(
            "t|w:banner\\n|s:100|w:frame=1 time=2.50 \\r|s:550|w:frame=2 time=5.00 \\r|s:550|"
            "w:frame=3 time=7.50 \\r|s:100|w:frame=4 time=10.0 \\n|x:0");
        PercentWatcher watcher(job);
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", " -vcodec xvid", 0, 10), 0);
        const auto seen = watcher.stop();
        EXPECT_EQ(job.percent, 100);
        EXPECT_TRUE(seen.count(25) || seen.count(50)) << "progress was shown while running";
        EXPECT_EQ(job.duration, 10);
    }
    {
        FakeCore core("w:Error: cannot open '/in.avi': No such file\\n|x:1");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 10), -2)
            << "a failing core is an error";
        EXPECT_EQ(job.errorText(), "Error: cannot open '/in.avi': No such file");
        EXPECT_EQ(job.percent, 100);
    }
    {
        FakeCore core("x:0");
        plexavo::core::setFolder(core.dir() / "missing");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 10), -1)
            << "a core that cannot start is an error";
    }
}

// What the batch report and the command line show comes from the core's
// own lines: the name it wrote, its notes, its reason; or from what the
// engine saw when the core could say nothing.
TEST(EncodeJob, ReadsTheWrittenNameTheNotesAndTheReasonOfARun) {
    TempDir dir;
    const std::string log = dir / "log.txt";
    ASSERT_TRUE(plexavo::log::setLogPath(log));
    struct LogOff {
        ~LogOff() { plexavo::log::setLogPath(""); }
    } logOff;
    const std::string report = dir / "report.txt";
    const EnvGuard reportTo("SCRIPTED_REPORT_FILE", report);
    CEncodeJob job;
    job.lookIntervalMs = 50;
    {
        FakeCore core("v:PLEXCORE_PARENT_PID|P|w:Note: MPEG-4 is limited to 640x480\n|"
                      "w:frame=1 time=4.5 bitrate=1 \r|s:100|w:frame=2 time=9.25 bitrate=1\n|"
                      "w:Output: /o/clip-cvt[1].mp4\n|x:0");
        EXPECT_EQ(job.run("/in.avi", "/o/clip-cvt.mp4", "in", "", 0, 10), 0);
        EXPECT_EQ(job.writtenPath(), "/o/clip-cvt[1].mp4");
        EXPECT_DOUBLE_EQ(job.secondsWritten(), 9.25);
        EXPECT_TRUE(job.failureReason().empty());
        EXPECT_NE(readFile(log).find("Note: MPEG-4 is limited to 640x480"), std::string::npos);
        const std::string seen = readFile(report);
        EXPECT_NE(seen.find("PLEXCORE_PARENT_PID=" + std::to_string(getpid())), std::string::npos)
            << "the core is told who its parent is";
        EXPECT_NE(seen.find("own group"), std::string::npos)
            << "a Ctrl+C at the terminal must not reach the core besides the program's stop";
    }
    {
        FakeCore core("w:Error: No space left on device\n|x:1");
        EXPECT_EQ(job.run("/in.avi", "/o/x.mp4", "in", "", 0, 10), -2);
        EXPECT_EQ(job.failureReason(), "No space left on device");
        EXPECT_TRUE(job.writtenPath().empty()) << "nothing of the last run is kept";
    }
    {
        FakeCore core("x:7");
        EXPECT_EQ(job.run("/in.avi", "/o/x.mp4", "in", "", 0, 10), -2);
        EXPECT_NE(job.failureReason().find("(exit status 7)"), std::string::npos)
            << job.failureReason();
    }
    {
        FakeCore core("x:0");
        plexavo::core::setFolder(core.dir() / "missing");
        EXPECT_EQ(job.run("/in.avi", "/o/x.mp4", "in", "", 0, 10), -1);
        EXPECT_NE(job.failureReason().find("missing"), std::string::npos) << job.failureReason();
    }
}

TEST(OutputPump, OverflowInsideOneLookIsDropped) {
    // 2100 bytes arrive within one look: the text gathered so far (time=50)
    // is dropped, and the look sees only what came after it.
    CEncodeJob job;
    job.duration = 100;
    job.resetPump(0);
    const std::string flood(2100, 'x');
    EXPECT_FALSE(job.pumpText("frame=1 time=50 \r", 17, 50));
    EXPECT_FALSE(job.pumpText(flood.data(), flood.size(), 60));
    EXPECT_EQ(job.percent, 0) << "no look yet";
    EXPECT_FALSE(job.pumpText("frame=2 time=20 \r", 17, 700));
    EXPECT_EQ(job.percent, 20) << "the older text was dropped with the flood";
}

TEST(OutputPump, LooksAtMostOncePerIntervalAndHonoursAStopAtTheNextLook) {
    CEncodeJob job;
    job.duration = 100;
    job.resetPump(1000);
    EXPECT_FALSE(job.pumpText("time=10 \r", 9, 1200));
    EXPECT_EQ(job.percent, 0) << "within the first interval";
    EXPECT_FALSE(job.pumpText("time=30 \r", 9, 1500));
    EXPECT_EQ(job.percent, 30) << "the newest value of the gathered text";
    job.stopRequested = true;
    EXPECT_FALSE(job.pumpText("time=40 \r", 9, 1900)) << "the stop waits for the next look";
    EXPECT_EQ(job.percent, 30);
    EXPECT_TRUE(job.pumpText("time=45 \r", 9, 2000));
    EXPECT_EQ(job.percent, 45);

    // A shorter interval looks more often; the clock wrap of 32-bit ticks is no issue here.
    job.stopRequested = false;
    job.lookIntervalMs = 100;
    job.resetPump(5000);
    job.pumpText("time=60 \r", 9, 5100);
    EXPECT_EQ(job.percent, 60);
}

TEST(OutputPump, ErrorLinesAreFoundWhereverTheyFallInTheText) {
    CEncodeJob job;
    job.duration = 10;
    job.resetPump(0);
    const std::string text = "banner\nnot an Error: here\nError: first\nframe=1 time=1 \r";
    job.pumpText(text.data(), text.size(), 600);
    EXPECT_EQ(job.errorText(), "Error: first");
    const std::string later = "Error: second one\r\n";
    job.pumpText(later.data(), later.size(), 1200);
    EXPECT_EQ(job.errorText(), "Error: second one");
}

TEST(EncodeJob, StopIsHonouredAtTheNextLookAndIsNotAnError) {
    TempDir dir;
    const std::string marker = dir / "finished";
    EnvGuard argvTarget("SCRIPTED_ARGV_FILE", marker);
    CEncodeJob job;
    {
        // A core that keeps writing progress: stopped at the next look.
        std::string script = "t";
        for (int i = 0; i < 100; ++i)
            script +=
                "|w:frame=" + std::to_string(i) + " time=" + std::to_string(i) + ".00 \\r|s:100";
        script += "|a|x:0";
        FakeCore core(script);
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            job.stopRequested = true;
        });
        const auto begin = Clock::now();
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 100), 0);
        stopper.join();
        EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
        EXPECT_FALSE(fileExists(marker)) << "the core was stopped before its end";
    }
    {
        // A silent core is stopped too, rather than waited for.
        FakeCore core("t|s:20000|x:0");
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            job.stopRequested = true;
        });
        const auto begin = Clock::now();
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 100), 0);
        stopper.join();
        EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
    }
    {
        // A stop asked for before the run is forgotten.
        FakeCore core("w:time=1 \\r|s:700|w:time=2 \\r|a|x:0");
        job.stopRequested = true;
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 100), 0);
        EXPECT_TRUE(fileExists(marker)) << "the core ran to its end";
    }
}

// A stop must never break the file: the core is given time while it shows
// signs of life, and a core that had to be killed leaves no file behind.
class EncodeJobStop : public ::testing::Test {
  protected:
    void SetUp() override {
        m_job.lookIntervalMs = 50;
        m_job.stopSilenceMs = 400;
        m_output = m_dir / "out put.mp4";
    }
    // Runs the job against a fake core and asks it to stop once the core has
    // written its output file.
    int runAndStop(const std::string& script, bool insist = false) {
        FakeCore core(script);
        std::thread stopper([&] {
            for (int i = 0; i < 1000 && !fileExists(m_output); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            m_job.stopRequested = true;
            if (insist) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                m_job.killRequested = true;
            }
        });
        const int result = m_job.run("/in.avi", m_output, "in", "", 0, 100);
        stopper.join();
        return result;
    }

    TempDir m_dir;
    std::string m_output;
    CEncodeJob m_job;
};

TEST_F(EncodeJobStop, ACoreThatKeepsPrintingAfterTheRequestFinishesItsFile) {
    EXPECT_EQ(runAndStop("q|o:partial|w:time=1 \\r|W|p:1500:50:time=2 \\r|o:complete|x:255"), 0);
    EXPECT_EQ(m_job.outcome(), CEncodeJob::Outcome::Stopped);
    EXPECT_EQ(readFile(m_output), "complete") << "the core was not killed";
}

// The core names its file only once it is finished, so a killed core has
// left nothing under the output name: a file there is someone else's.
TEST_F(EncodeJobStop, ACoreSilentAfterTheRequestIsKilledAndNothingElseIsRemoved) {
    EXPECT_EQ(runAndStop("i|o:another program's file|w:time=1 \\r|s:20000|x:0"), -3);
    EXPECT_EQ(m_job.outcome(), CEncodeJob::Outcome::Killed);
    EXPECT_EQ(readFile(m_output), "another program's file");
    EXPECT_TRUE(m_job.writtenPath().empty());
    EXPECT_FALSE(m_job.failureReason().empty());
    EXPECT_TRUE(m_job.stopRequested) << "the caller can still tell a skip from a failure";
}

TEST_F(EncodeJobStop, ASecondRequestKillsAtOnce) {
    m_job.stopSilenceMs = 60000;
    const auto begin = Clock::now();
    EXPECT_EQ(runAndStop("i|o:broken|p:30000:30:time=1 \\r", true), -3);
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(20));
    EXPECT_EQ(m_job.outcome(), CEncodeJob::Outcome::Killed);
}

TEST_F(EncodeJobStop, ACoreGrowingItsFileSilentlyIsWaitedFor) {
    m_job.stopSilenceMs = 300;
    EXPECT_EQ(runAndStop("q|o:x|w:time=1 \\r|W|g:1200:40|x:255"), 0);
    EXPECT_EQ(m_job.outcome(), CEncodeJob::Outcome::Stopped);
    EXPECT_GT(readFile(m_output).size(), 5u);
}

// Qt or GStreamer may reap children behind the engine's back; a finished
// conversion must not turn into an error for it.
TEST(EncodeJob, AnUnknownExitStatusIsJudgedByTheCoresOwnWords) {
    SignalGuard ignoreChildren(SIGCHLD, SIG_IGN);
    CEncodeJob job;
    job.lookIntervalMs = 50;
    {
        FakeCore core("w:frame=1 time=5.00 \\r|s:100|w:frame=2 time=10.00 \\n|x:0");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 10), 0);
        EXPECT_EQ(job.outcome(), CEncodeJob::Outcome::Finished);
    }
    {
        FakeCore core("w:Error: cannot read\\n|x:1");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 10), -2);
        EXPECT_EQ(job.outcome(), CEncodeJob::Outcome::Failed);
        EXPECT_EQ(job.errorText(), "Error: cannot read");
    }
}

TEST_F(EncodeJobStop, AKillRequestAloneEndsTheRunAtOnce) {
    m_job.stopSilenceMs = 60000;
    FakeCore core("q|o:broken|p:30000:30:time=1 \\r");
    std::thread closer([&] {
        for (int i = 0; i < 1000 && !fileExists(m_output); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_job.killRequested = true;
    });
    const auto begin = Clock::now();
    EXPECT_EQ(m_job.run("/in.avi", m_output, "in", "", 0, 100), -3);
    closer.join();
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(20));
    EXPECT_EQ(m_job.outcome(), CEncodeJob::Outcome::Killed);
    EXPECT_TRUE(m_job.writtenPath().empty()) << "a killed core wrote no finished file";
}

TEST_F(EncodeJobStop, ARequestThatComesAsTheCoreFinishesLeavesItFinished) {
    // The request arrives once the core has written its file, while the pump
    // waits for the end of its output; the pump's clock never lets a look
    // fall due, so the core's own exit is what ends the run.
    FakeCore core("o:complete|w:time=100 \\n|s:200|x:0");
    std::uint64_t fakeNow = 0;
    m_job.lookIntervalMs = 1000000;
    m_job.clock = [&] {
        if (fileExists(m_output))
            m_job.stopRequested = true;
        return fakeNow += 10;
    };
    EXPECT_EQ(m_job.run("/in.avi", m_output, "in", "", 0, 100), 0);
    EXPECT_TRUE(m_job.stopRequested);
    EXPECT_EQ(m_job.outcome(), CEncodeJob::Outcome::Finished) << "complete, not skipped";
    EXPECT_EQ(readFile(m_output), "complete");
}
