#include "convert/EncodeJob.h"

#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using plexavo::CEncodeJob;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

int parse(CEncodeJob& job, const std::string& text) { return job.parseProgress(text.c_str(), text.size()); }

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

TEST(ProgressParse, TakesTheFirstTimeAfterTheLastLineFeed) {
    CEncodeJob job;
    job.duration = 100;
    EXPECT_EQ(parse(job, "banner time=90 \nframe=1 time=5.00 \rframe=2 time=6.00 \rframe=3 time=7.00 \r"), 0);
    EXPECT_EQ(job.percent, 5);
    EXPECT_EQ(parse(job, "frame=9 fps=1 size=1kB time=12.97 bitrate=1kbits/s"), 0);
    EXPECT_EQ(job.percent, 12) << "decimals are dropped";
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
    EXPECT_EQ(parse(job, "time=50 \nframe=3 fps=0"), -1) << "time= before the last line feed is not looked at";
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

TEST(ConversionCommand, TextAndArgumentsOfOneConversion) {
    const std::string options = " -vcodec xvid -pix_fmt yuv420p -s 320x240";
    EXPECT_EQ(CEncodeJob::formatCommandLine("/in/a b.avi", "/out/a b-cvt.mp4", "a b", options, 30, 60),
              "Plexcore wpx93knTR&!  -i \"/in/a b.avi\" -title \"a b\"  -vcodec xvid -pix_fmt yuv420p "
              "-s 320x240 -ss 30 -t 60 -y \"/out/a b-cvt.mp4\"");
    // Only the low 32 bits of the second counts are written.
    EXPECT_NE(CEncodeJob::formatCommandLine("i", "o", "t", "", 0, (1ull << 32) + 5).find(" -t 5 -y"),
              std::string::npos);

    const auto args = CEncodeJob::buildArguments("-odd \"name\".avi", "/o/x.mp4", "-odd \"name\"", options, 30, 60);
    const std::vector<std::string> tail(args.begin() + 1, args.end());
    EXPECT_EQ(tail, (std::vector<std::string>{" wpx93knTR&! ", "-i", "-odd \"name\".avi", "-title", "-odd \"name\"",
                                              "-vcodec", "xvid", "-pix_fmt", "yuv420p", "-s", "320x240", "-ss", "30",
                                              "-t", "60", "-y", "/o/x.mp4"}));
    EXPECT_EQ(args[0].substr(args[0].size() - 9), "/Plexcore");
}

TEST(EncodeJob, FollowsProgressAndReportsTheCoresOutcome) {
    CEncodeJob job;
    {
        FakeCore core("t|w:banner\\n|s:100|w:frame=1 time=2.50 \\r|s:550|w:frame=2 time=5.00 \\r|s:550|"
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
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 10), -2) << "a failing core is an error";
        EXPECT_EQ(job.errorText(), "Error: cannot open '/in.avi': No such file");
        EXPECT_EQ(job.percent, 100);
    }
    {
        FakeCore core("x:0");
        plexavo::core::setFolder(core.dir() / "missing");
        EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 10), -1) << "a core that cannot start is an error";
    }
}

TEST(EncodeJob, OverflowInsideOneLookIsDropped) {
    // 2100 bytes arrive within one look: the text gathered so far (time=50)
    // is dropped, and the look sees only what came after it.
    CEncodeJob job;
    FakeCore core("s:50|w:frame=1 time=50 \\r|n:2100:x|s:700|w:frame=2 time=20 \\r|s:700|x:0");
    PercentWatcher watcher(job);
    EXPECT_EQ(job.run("/in.avi", "/out.mp4", "in", "", 0, 100), 0);
    const auto seen = watcher.stop();
    EXPECT_TRUE(seen.count(20));
    EXPECT_FALSE(seen.count(50));
}

TEST(EncodeJob, StopIsHonouredAtTheNextLookAndIsNotAnError) {
    TempDir dir;
    const std::string marker = dir / "finished";
    setenv("SCRIPTED_ARGV_FILE", marker.c_str(), 1);
    CEncodeJob job;
    {
        // A core that keeps writing progress: stopped at the next look.
        std::string script = "t";
        for (int i = 0; i < 100; ++i)
            script += "|w:frame=" + std::to_string(i) + " time=" + std::to_string(i) + ".00 \\r|s:100";
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
    unsetenv("SCRIPTED_ARGV_FILE");
}
