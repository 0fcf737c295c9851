#include "engine/convert/EncodeJob.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/DebugLog.h"

#include "FakeCore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <thread>

using plexavo::convert::EncodeJob;
using namespace testing_support;

using plexavo::convert::SourcePart;
using Clock = std::chrono::steady_clock;

namespace {

int parse(EncodeJob& job, const std::string& text) {
    return job.parseProgress(text.c_str(), text.size());
}

// Records every percentage the job shows while it runs, as the window's timer would.
class PercentWatcher {
  public:
    explicit PercentWatcher(EncodeJob& job)
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
    EncodeJob job;
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
    EncodeJob job;
    job.duration = 100;
    parse(job, "time=100.00 ");
    EXPECT_EQ(job.percent, 99);
    parse(job, "time=250 ");
    EXPECT_EQ(job.percent, 99);
}

TEST(ProgressParse, TextWithoutAUsableTimeLeavesThePercentage) {
    EncodeJob job;
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
    EncodeJob job;
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
        EncodeJob::formatCommandLine("/in/a b.avi", "/out/a b-cvt.mp4", "a b", options, 30, 60),
        std::string("Plexcore") + plexavo::contract::kAccessCode +
            " -i \"/in/a b.avi\" -title \"a b\"  -vcodec xvid -pix_fmt yuv420p "
            "-s 320x240 -ss 30 -t 60 -claim \"/out/a b-cvt.mp4\"");
    // Only the low 32 bits of the second counts are written.
    EXPECT_NE(
        EncodeJob::formatCommandLine("i", "o", "t", "", 0, (1ull << 32) + 5).find(" -t 5 -claim"),
        std::string::npos);

    const auto args = EncodeJob::buildArguments("-odd \"name\".avi", "/o/x.mp4", "-odd \"name\"",
                                                options, 30, 60);
    const std::vector<std::string> tail(args.begin() + 1, args.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        plexavo::contract::kAccessCode, "-i", "-odd \"name\".avi", "-title",
                        "-odd \"name\"", "-vcodec", "xvid", "-pix_fmt", "yuv420p", "-s", "320x240",
                        "-ss", "30", "-t", "60", "-claim", "/o/x.mp4"}));
    EXPECT_EQ(args[0].substr(args[0].size() - 9), "/Plexcore");
}

TEST(EncodeJob, FollowsProgressAndReportsTheCoresOutcome) {
    TempDir dir;
    const std::string output = dir / "out.mp4";
    EncodeJob job;
    job.lookIntervalMs = 100; // updates 550 ms apart always fall into separate looks
    {
        FakeCore core(
            "t|w:banner\\n|s:100|w:frame=1 time=2.50 \\r|s:550|w:frame=2 time=5.00 \\r|s:550|"
            "w:frame=3 time=7.50 \\r|s:100|w:frame=4 time=10.0 \\n|O|x:0");
        PercentWatcher watcher(job);
        EXPECT_EQ(job.run("/in.avi", output, "in", " -vcodec xvid", {0, 10}), 0);
        const auto seen = watcher.stop();
        EXPECT_EQ(job.percent, 100);
        EXPECT_TRUE(seen.count(25) || seen.count(50)) << "progress was shown while running";
        EXPECT_EQ(job.duration, 10);
    }
    {
        FakeCore core("w:Error: cannot open '/in.avi': No such file\\n|x:1");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", {0, 10}), -2)
            << "a failing core is an error";
        EXPECT_EQ(job.errorText(), "Error: cannot open '/in.avi': No such file");
        EXPECT_EQ(job.percent, 100);
    }
    {
        FakeCore core("x:0");
        plexavo::platform::setCoreFolder(core.dir() / "missing");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", {0, 10}), -1)
            << "a core that cannot start is an error";
    }
}

// What the batch report and the command line show comes from the core's
// own lines: the name it wrote, its notes, its reason; or from what the
// engine saw when the core could say nothing.
TEST(EncodeJob, ReadsTheWrittenNameTheNotesAndTheReasonOfARun) {
    TempDir dir;
    const std::string log = dir / "log.txt";
    ASSERT_TRUE(plexavo::platform::setLogPath(log));
    struct LogOff {
        ~LogOff() { plexavo::platform::setLogPath(""); }
    } logOff;
    const std::string report = dir / "report.txt";
    const EnvGuard reportTo("SCRIPTED_REPORT_FILE", report);
    EncodeJob job;
    job.lookIntervalMs = 50;
    {
        const std::string numbered = dir / "clip-cvt[1].mp4";
        writeFile(numbered, "the file the core finished");
        FakeCore core("v:PLEXCORE_PARENT_PID|P|w:Note: MPEG-4 is limited to 640x480\n|"
                      "w:frame=1 time=4.5 bitrate=1 \r|s:100|w:frame=2 time=9.25 bitrate=1\n|"
                      "w:Output: " +
                      numbered + "\n|x:0");
        EXPECT_EQ(job.run("/in.avi", dir / "clip-cvt.mp4", "in", "", {0, 10}), 0);
        EXPECT_EQ(job.writtenPath(), numbered);
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
        EXPECT_EQ(job.run("/in.avi", "/o/x.mp4", "in", "", {0, 10}), -2);
        EXPECT_EQ(job.failureReason(), "No space left on device");
        EXPECT_TRUE(job.writtenPath().empty()) << "nothing of the last run is kept";
    }
    {
        FakeCore core("x:7");
        EXPECT_EQ(job.run("/in.avi", "/o/x.mp4", "in", "", {0, 10}), -2);
        EXPECT_NE(job.failureReason().find("(exit status 7)"), std::string::npos)
            << job.failureReason();
    }
    {
        FakeCore core("x:0");
        plexavo::platform::setCoreFolder(core.dir() / "missing");
        EXPECT_EQ(job.run("/in.avi", "/o/x.mp4", "in", "", {0, 10}), -1);
        EXPECT_NE(job.failureReason().find("missing"), std::string::npos) << job.failureReason();
    }
}

TEST(OutputPump, OverflowInsideOneLookIsDropped) {
    // 2100 bytes arrive within one look: the text gathered so far (time=50)
    // is dropped, and the look sees only what came after it.
    EncodeJob job;
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
    EncodeJob job;
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
    EncodeJob job;
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
    EncodeJob job;
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
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", {0, 100}), 0);
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
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", {0, 100}), 0);
        stopper.join();
        EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
    }
    {
        // A stop asked for before the run is forgotten.
        FakeCore core("w:time=1 \\r|s:700|w:time=2 \\r|a|O|x:0");
        job.stopRequested = true;
        EXPECT_EQ(job.run("/in.avi", dir / "out.mp4", "in", "", {0, 100}), 0);
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
        const int result = m_job.run("/in.avi", m_output, "in", "", {0, 100});
        stopper.join();
        return result;
    }

    TempDir m_dir;
    std::string m_output;
    EncodeJob m_job;
};

TEST_F(EncodeJobStop, ACoreThatKeepsPrintingAfterTheRequestFinishesItsFile) {
    EXPECT_EQ(runAndStop("q|o:partial|w:time=1 \\r|W|p:1500:50:time=2 \\r|o:complete|x:255"), 0);
    EXPECT_EQ(m_job.outcome(), EncodeJob::Outcome::Stopped);
    EXPECT_EQ(readFile(m_output), "complete") << "the core was not killed";
}

// The core names its file only once it is finished, so a killed core has
// left nothing under the output name: a file there is someone else's.
TEST_F(EncodeJobStop, ACoreSilentAfterTheRequestIsKilledAndNothingElseIsRemoved) {
    EXPECT_EQ(runAndStop("i|o:another program's file|w:time=1 \\r|s:20000|x:0"), -3);
    EXPECT_EQ(m_job.outcome(), EncodeJob::Outcome::Killed);
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
    EXPECT_EQ(m_job.outcome(), EncodeJob::Outcome::Killed);
}

TEST_F(EncodeJobStop, ACoreGrowingItsFileSilentlyIsWaitedFor) {
    m_job.stopSilenceMs = 300;
    EXPECT_EQ(runAndStop("q|o:x|w:time=1 \\r|W|g:1200:40|x:255"), 0);
    EXPECT_EQ(m_job.outcome(), EncodeJob::Outcome::Stopped);
    EXPECT_GT(readFile(m_output).size(), 5u);
}

// Qt or GStreamer may reap children behind the engine's back; a finished
// conversion must not turn into an error for it.
TEST(EncodeJob, AnUnknownExitStatusIsJudgedByTheCoresOwnWords) {
    SignalGuard ignoreChildren(SIGCHLD, SIG_IGN);
    TempDir dir;
    EncodeJob job;
    job.lookIntervalMs = 50;
    {
        FakeCore core("w:frame=1 time=5.00 \\r|s:100|w:frame=2 time=10.00 \\n|O|x:0");
        EXPECT_EQ(job.run("/in.avi", dir / "out.mp4", "in", "", {0, 10}), 0);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Finished);
        EXPECT_EQ(job.writtenPath(), dir / "out.mp4");
    }
    {
        // Without its "Output: " line the core did not finish a file, whatever
        // it printed before it ended.
        FakeCore core("w:frame=1 time=5.00 \\r|s:100|w:frame=2 time=10.00 \\n|x:0");
        EXPECT_EQ(job.run("/in.avi", dir / "none.mp4", "in", "", {0, 10}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Failed);
        EXPECT_FALSE(job.failureReason().empty());
    }
    {
        FakeCore core("w:Error: cannot read\\n|x:1");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", {0, 10}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Failed);
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
    EXPECT_EQ(m_job.run("/in.avi", m_output, "in", "", {0, 100}), -3);
    closer.join();
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(20));
    EXPECT_EQ(m_job.outcome(), EncodeJob::Outcome::Killed);
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
    EXPECT_EQ(m_job.run("/in.avi", m_output, "in", "", {0, 100}), 0);
    EXPECT_TRUE(m_job.stopRequested);
    EXPECT_EQ(m_job.outcome(), EncodeJob::Outcome::Finished) << "complete, not skipped";
    EXPECT_EQ(readFile(m_output), "complete");
}

// ---- the part the core is asked for, and the percentages of a part that
// ends at a fraction of a second ----

namespace {

std::vector<std::string> argumentsOf(const plexavo::convert::SourcePart& part) {
    const auto args = EncodeJob::buildArguments("/in.mp4", "/out.mp4", "in", "", part.startSeconds,
                                                part.coreLength());
    const auto ss = std::find(args.begin(), args.end(), "-ss");
    return ss == args.end() ? std::vector<std::string>{}
                            : std::vector<std::string>(ss, std::min(ss + 4, args.end()));
}

// The pids the fake cores wrote into folder (the "d:" step), once there is one.
pid_t startedCore(const std::string& folder) {
    for (int i = 0; i < 2000; ++i) {
        for (const auto& entry : fs::directory_iterator(folder))
            return static_cast<pid_t>(std::stoi(entry.path().filename().string()));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

} // namespace

TEST(ConversionPart, AWholeSourceRunsToItsEndAndAMarkedPartKeepsItsSeconds) {
    using plexavo::convert::SourcePart;
    using Args = std::vector<std::string>;
    // Nothing marked: the list shows 1 s of a 1.92 s clip, the core converts all of it.
    const SourcePart whole{0, 1, 1, 1.92};
    EXPECT_TRUE(whole.toEnd());
    EXPECT_EQ(argumentsOf(whole), (Args{"-ss", "0", "-t", "0"}));
    EXPECT_DOUBLE_EQ(whole.expectedSeconds(), 1.92);
    // A part marked from 3 s up to the end still runs to the real end.
    const SourcePart tail{3, 10, 10, 10.6};
    EXPECT_EQ(argumentsOf(tail), (Args{"-ss", "3", "-t", "0"}));
    EXPECT_NEAR(tail.expectedSeconds(), 7.6, 1e-9);
    // A part that ends inside the source keeps the seconds the preview marked.
    const SourcePart inner{3, 8, 10, 10.6};
    EXPECT_FALSE(inner.toEnd());
    EXPECT_EQ(argumentsOf(inner), (Args{"-ss", "3", "-t", "5"}));
    EXPECT_DOUBLE_EQ(inner.expectedSeconds(), 5.0);
    // A source of unknown length: only the part as given.
    EXPECT_EQ(argumentsOf({0, 10}), (Args{"-ss", "0", "-t", "10"}));
    // An end the probe could not give exactly still runs to the end.
    const SourcePart roughEnd{0, 10, 10, 0};
    EXPECT_EQ(argumentsOf(roughEnd), (Args{"-ss", "0", "-t", "0"}));
    EXPECT_DOUBLE_EQ(roughEnd.expectedSeconds(), 10.0);
    EXPECT_NE(
        EncodeJob::formatCommandLine("/in.mp4", "/o.mp4", "in", "", 0, 0).find(" -ss 0 -t 0 "),
        std::string::npos);

    // The item after a probe: its whole length, exactly.
    plexavo::media::SourceItem item;
    ASSERT_EQ(item.parseProbeOutput(
                  "/v/clip.mp4",
                  "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from '/v/clip.mp4':\n"
                  "  Duration: 00:00:03.96, start: 0.000000, bitrate: 500 kb/s\n"
                  "    Stream #0.0(und): Video: h264 (High), yuv420p, 160x120, 400 kb/s, 25 fps\n"
                  "At least one output file must be specified\n"),
              0);
    const SourcePart probed = plexavo::convert::partOf(item);
    EXPECT_EQ(probed.endSeconds, 3u) << "the list shows whole seconds";
    EXPECT_TRUE(probed.toEnd());
    EXPECT_DOUBLE_EQ(probed.expectedSeconds(), 3.96);
    item.startSeconds = 1;
    item.endSeconds = 2; // a part marked in the preview
    EXPECT_EQ(argumentsOf(plexavo::convert::partOf(item)), (Args{"-ss", "1", "-t", "1"}));
}

TEST(ProgressParse, APartEndingAtAFractionIsMeasuredExactlyAndNeverPassesItsEnd) {
    EncodeJob job;
    job.duration = 1; // the list's whole seconds of a 1.92 s clip
    job.exactDuration = 1.92;
    int last = 0;
    for (const char* time : {"0.48", "0.96", "1.00", "1.44", "1.92", "2.10"}) {
        parse(job, std::string("frame=1 time=") + time + " ");
        EXPECT_GE(job.percent, last) << "went back at time=" << time;
        EXPECT_LE(job.percent, 99) << "complete while the core runs, at time=" << time;
        last = job.percent;
    }
    parse(job, "time=0.96 ");
    EXPECT_EQ(job.percent, 50);
    parse(job, "time=1.44 ");
    EXPECT_EQ(job.percent, 75);
    // Measured against the whole seconds alone, the time past them stays just below the end.
    job.exactDuration = 0;
    parse(job, "time=1.50 ");
    EXPECT_EQ(job.percent, 99);
    parse(job, "time=0.29 ");
    EXPECT_EQ(job.percent, 29) << "no rounding error below a whole percent";
}

TEST(EncodeJob, AWholeClipIsConvertedToItsEndWithTheBarRisingTo100AtTheEnd) {
    TempDir dir;
    const std::string argv = dir / "argv";
    const EnvGuard argvTo("SCRIPTED_ARGV_FILE", argv);
    EncodeJob job;
    job.lookIntervalMs = 50;
    FakeCore core("a|w:frame=1 time=0.96 \\r|s:300|w:frame=2 time=1.92 \\r|s:300|O|x:0");
    PercentWatcher watcher(job);
    EXPECT_EQ(job.run("/in.mp4", dir / "out.mp4", "in", "", {0, 1, 1, 1.92}), 0);
    const auto seen = watcher.stop();
    EXPECT_EQ(job.percent, 100);
    EXPECT_TRUE(seen.count(50)) << "half-way at 0.96 of 1.92 s";
    EXPECT_LE(*seen.rbegin(), 100) << "past the end";
    std::string args = readFile(argv);
    std::replace(args.begin(), args.end(), '\0', ' ');
    EXPECT_NE(args.find(" -ss 0 -t 0 -claim "), std::string::npos) << args;
}

// A source that ends well before the length its probe promised: the core
// keeps what it converted and says how much that is; the run is a failure
// that names the kept file and both figures.
TEST(EncodeJob, ASourceThatEndsEarlyIsAFailureNamingTheKeptFile) {
    TempDir dir;
    const std::string log = dir / "log.txt";
    ASSERT_TRUE(plexavo::platform::setLogPath(log));
    struct LogOff {
        ~LogOff() { plexavo::platform::setLogPath(""); }
    } logOff;
    const std::string output = dir / "clip-cvt.mp4";
    EncodeJob job;
    job.lookIntervalMs = 50;
    {
        FakeCore core(
            "w:frame=110 time=4.40 \\n|O|"
            "w:Error: the output holds 4.4 of 10.0 seconds: the source is damaged\\n|x:4");
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 10, 10, 10.0}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Incomplete);
        EXPECT_EQ(job.failureReason(),
                  output + " holds 4.4 of 10.0 seconds: the source is damaged");
        EXPECT_EQ(job.writtenPath(), output) << "the file is kept";
        EXPECT_TRUE(fileExists(output));
        EXPECT_NE(readFile(log).find(output + " holds 4.4 of 10.0 seconds: the source is damaged"),
                  std::string::npos);
    }
    {
        // A numbered name, and a line not in the agreed form: the figures
        // come from what the engine saw.
        const std::string numbered = dir / "clip-cvt[1].mp4";
        writeFile(numbered, "short");
        FakeCore core("w:frame=55 time=2.25 \\n|w:Output: " + numbered +
                      "\\n|w:Error: source damaged\\n|x:4");
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 7, 7, 7.5}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Incomplete);
        EXPECT_EQ(job.failureReason(),
                  numbered + " holds 2.2 of 7.5 seconds: the source is damaged");
    }
    {
        // Its exit status lost, the core's line alone tells the same.
        SignalGuard ignoreChildren(SIGCHLD, SIG_IGN);
        FakeCore core(
            "O|w:Error: the output holds 1.5 of 3.0 seconds: the source is damaged\\n|x:4");
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 3, 3, 3.0}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Incomplete);
        EXPECT_EQ(job.failureReason(), output + " holds 1.5 of 3.0 seconds: the source is damaged");
    }
}

// "Done" means a file under the name the core gave, a regular one.
TEST(EncodeJob, SuccessNeedsTheFileUnderItsNameAsARegularFile) {
    TempDir dir;
    EncodeJob job;
    job.lookIntervalMs = 50;
    const std::string output = dir / "clip-cvt.mp4";
    {
        // A link to /dev/null planted at the name the core reports.
        fs::create_symlink("/dev/null", output);
        FakeCore core("w:Output: " + output + "\\n|x:0");
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 10}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Failed);
        EXPECT_TRUE(job.writtenPath().empty());
        EXPECT_NE(job.failureReason().find(output), std::string::npos) << job.failureReason();
        fs::remove(output);
    }
    {
        // Nothing there at all, named or not.
        FakeCore core("w:Output: " + output + "\\n|x:0");
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 10}), -2);
        core.setScript("x:0");
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 10}), -2);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Failed);
    }
    {
        // The core shows a line feed of the name it wrote as '?': the file
        // under the name it means is found and is the one written.
        const std::string odd = dir / "new\nline-cvt.mp4";
        writeFile(odd, "finished");
        FakeCore core("w:Output: " + dir.path() + "/new?line-cvt.mp4\\n|x:0");
        EXPECT_EQ(job.run("/in.mp4", odd, "clip", "", {0, 10}), 0) << job.failureReason();
        EXPECT_EQ(job.writtenPath(), odd);
        fs::remove(odd);
    }
    {
        // A stopped core that names something other than its file: stopped,
        // with nothing shown as written.
        fs::create_symlink("/dev/null", output);
        FakeCore core("q|d:" + dir.path() + "/pids|w:time=1 \\r|W|w:Output: " + output +
                      "\\n|x:255");
        fs::create_directory(dir / "pids");
        std::thread stopper([&] {
            startedCore(dir / "pids");
            job.stopRequested = true;
        });
        EXPECT_EQ(job.run("/in.mp4", output, "clip", "", {0, 10}), 0);
        stopper.join();
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Stopped);
        EXPECT_TRUE(job.writtenPath().empty());
    }
}

// A core killed by someone else is a failure, whether the exit status
// reached the engine or (SIGCHLD ignored) was lost.
TEST(EncodeJob, ACoreKilledFromOutsideIsAFailure) {
    for (const bool ignoreChildren : {false, true}) {
        SCOPED_TRACE(ignoreChildren ? "SIGCHLD ignored" : "SIGCHLD as by default");
        std::optional<SignalGuard> guard;
        if (ignoreChildren)
            guard.emplace(SIGCHLD, SIG_IGN);
        TempDir dir;
        fs::create_directory(dir / "pids");
        EncodeJob job;
        job.lookIntervalMs = 50;
        FakeCore core("d:" + dir.path() + "/pids|w:frame=1 time=1.00 \\r|s:30000|O|x:0");
        std::thread killer([&] {
            const pid_t pid = startedCore(dir / "pids");
            if (pid > 0)
                kill(pid, SIGKILL);
        });
        EXPECT_EQ(job.run("/in.mp4", dir / "out.mp4", "in", "", {0, 10}), -2);
        killer.join();
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Failed);
        EXPECT_TRUE(job.writtenPath().empty());
        EXPECT_FALSE(fileExists(dir / "out.mp4"));
        if (ignoreChildren)
            EXPECT_NE(job.failureReason().find("unknown"), std::string::npos)
                << job.failureReason();
        else
            EXPECT_EQ(job.failureReason(), "The encoder core was ended by signal 9.");
    }
}

namespace {

// A copy of the program at `from` whose ELF loader path is changed to one
// that does not exist; false when it names no loader (a static program).
bool copyWithMissingLoader(const std::string& from, const std::string& to) {
    std::string bytes = readFile(from);
    const auto read = [&bytes](std::size_t at, std::size_t size) {
        std::uint64_t value = 0;
        std::memcpy(&value, bytes.data() + at, size); // little-endian, as the machine
        return value;
    };
    if (bytes.size() < 64 ||
        bytes.compare(0, 4,
                      "\x7f"
                      "ELF") != 0 ||
        bytes[4] != 2)
        return false;
    const std::uint64_t table = read(0x20, 8);
    const std::uint64_t entrySize = read(0x36, 2);
    const std::uint64_t count = read(0x38, 2);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t entry = table + i * entrySize;
        if (entry + 16 > bytes.size() || read(entry, 4) != 3) // PT_INTERP
            continue;
        const std::size_t path = read(entry + 8, 8);
        if (path + 2 >= bytes.size() || bytes[path] != '/')
            return false;
        bytes[path + 1] = 'X'; // "/lib64/ld-linux..." becomes "/Xib64/ld-linux..."
        writeFile(to, bytes);
        fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
        return true;
    }
    return false;
}

} // namespace

// A core that is there but will not run is named with the system's reason,
// never as missing: by the conversion and by the probe alike.
TEST(EncodeJob, ACoreThatCannotRunIsNamedWithTheSystemsReason) {
    TempDir dir;
    const std::string core = dir / plexavo::contract::kProgramName;
    struct FolderOff {
        ~FolderOff() { plexavo::platform::setCoreFolder(""); }
    } folderOff;
    plexavo::platform::setCoreFolder(dir.path());
    EncodeJob job;
    const auto expectReason = [&](const std::string& reason) {
        EXPECT_EQ(job.run("/in.mp4", dir / "out.mp4", "in", "", {0, 10}), -1);
        EXPECT_EQ(job.outcome(), EncodeJob::Outcome::NotStarted);
        EXPECT_EQ(job.failureReason(), reason);
        plexavo::media::SourceItem item;
        EXPECT_LT(item.probe(dir / "in.mp4"), 0);
        EXPECT_EQ(plexavo::media::probeFailureReason(item.report), reason)
            << "the probe says the same";
    };
    {
        SCOPED_TRACE("missing");
        expectReason("The encoder core is missing: " + core);
    }
    const std::string cannot = "The encoder core " + core + " cannot be started: ";
    {
        SCOPED_TRACE("no execute permission");
        copyFile(SCRIPTED_CHILD_PATH, core);
        fs::permissions(core, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read);
        expectReason(cannot + std::strerror(EACCES));
        fs::remove(core);
    }
    {
        SCOPED_TRACE("not an executable for this machine");
        writeFile(core, std::string("\x7f"
                                    "ELF\x01\x02\x03 not for this machine") +
                            std::string(200, '\0'));
        fs::permissions(core, fs::perms::owner_all);
        expectReason(cannot + std::strerror(ENOEXEC));
        fs::remove(core);
    }
    {
        SCOPED_TRACE("a missing loader");
        if (copyWithMissingLoader(SCRIPTED_CHILD_PATH, core))
            expectReason(cannot + std::strerror(ENOENT));
        else
            ADD_FAILURE() << "the scripted child names no ELF loader to take away";
    }
}
