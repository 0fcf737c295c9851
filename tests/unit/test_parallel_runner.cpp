// The command line's plan and its runner of several conversions, with the
// scripted child as the core: each source file holds the script of its own
// conversion (the "@" step), so files of one run can behave differently.
#include "engine/convert/EncodeJob.h"
#include "engine/convert/ParallelRunner.h"

#include "FakeCore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace plexavo;
using namespace testing_support;

using plexavo::convert::ConversionEvent;
using plexavo::convert::ConversionTask;
using plexavo::convert::effectiveJobs;
using plexavo::convert::EncodeJob;
using plexavo::convert::ParallelRunner;
using plexavo::convert::planConversions;
using plexavo::convert::progressLine;
using plexavo::convert::RunSummary;
using plexavo::convert::summaryLine;
using plexavo::media::SourceItem;
using Kind = ConversionEvent::Kind;

namespace {

struct Seen {
    Kind kind;
    std::size_t index;
    std::string line;
    std::string written;
};

// Records the events as the front end would print them, and notices any two
// calls that overlap (the sink lingers a moment to give an overlap a chance).
class Recorder {
  public:
    void attach(ParallelRunner& runner) {
        runner.onEvent = [this](const ConversionEvent& e) {
            if (m_inside.fetch_add(1) != 0)
                m_overlapped = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            {
                std::lock_guard lock(m_mutex);
                m_seen.push_back({e.kind, e.index, progressLine(e), e.written});
            }
            m_inside.fetch_sub(1);
        };
    }
    std::vector<Seen> seen() const {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }
    bool overlapped() const { return m_overlapped; }

  private:
    mutable std::mutex m_mutex;
    std::vector<Seen> m_seen;
    std::atomic<int> m_inside{0};
    std::atomic<bool> m_overlapped{false};
};

// Source files whose content is the script of their conversion, and the plan
// that converts them into out/.
struct Sources {
    TempDir dir;
    std::vector<SourceItem> items;

    void add(const std::string& title, const std::string& script) {
        SourceItem item;
        item.path = dir / (title + ".src");
        item.title = title;
        item.endSeconds = 10;
        writeFile(item.path, script);
        items.push_back(item);
    }
    std::vector<ConversionTask> plan() const { return planConversions(items, dir / "out", "mp4"); }
};

void fastLooks(ParallelRunner& runner) {
    runner.prepareJob = [](EncodeJob& job) { job.lookIntervalMs = 50; };
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The pids the fake cores wrote into folder, once there are count of them
// (or after 20 s, with fewer).
std::vector<pid_t> startedCores(const std::string& folder, std::size_t count) {
    std::vector<pid_t> cores;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (cores.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        cores.clear();
        for (const auto& entry : fs::directory_iterator(folder))
            cores.push_back(std::stoi(entry.path().filename().string()));
    }
    return cores;
}

bool gone(pid_t pid) {
    return kill(pid, 0) == -1 && errno == ESRCH;
}

} // namespace

TEST(ConversionPlan, NamesEveryOutputInListOrderAsOneAfterTheOtherWould) {
    TempDir dir;
    writeFile(dir / "clip-cvt.mp4", "an earlier conversion");
    std::vector<SourceItem> items(4);
    const char* titles[] = {"clip", "other", "clip", "clip"};
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].path = "/videos/" + std::to_string(i) + "/" + titles[i] + ".mkv";
        items[i].title = titles[i];
        items[i].startSeconds = static_cast<std::uint32_t>(i);
        items[i].endSeconds = 100;
    }
    const auto plan = planConversions(items, dir.path(), "mp4"); // no slash at the end

    std::vector<std::string> outputs;
    for (const auto& task : plan)
        outputs.push_back(task.output);
    EXPECT_EQ(outputs, (std::vector<std::string>{dir / "clip-cvt[1].mp4", dir / "other-cvt.mp4",
                                                 dir / "clip-cvt[2].mp4", dir / "clip-cvt[3].mp4"}))
        << "a file on the disk and every name planned before count as taken";
    EXPECT_EQ(plan[2].source, "/videos/2/clip.mkv");
    EXPECT_EQ(plan[2].folder, dir.path() + "/");
    EXPECT_EQ(plan[3].startSeconds, 3u);
    EXPECT_EQ(plan[3].endSeconds, 100u);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"clip-cvt.mp4"})
        << "planning writes nothing";
}

TEST(ConversionPlan, JobCountFollowsTheRequestTheProcessorsAndTheFiles) {
    EXPECT_EQ(effectiveJobs(1, 6), 1u);
    EXPECT_EQ(effectiveJobs(2, 6), 2u);
    EXPECT_EQ(effectiveJobs(8, 3), 3u) << "no thread without a file";
    EXPECT_EQ(effectiveJobs(3, 0), 1u);
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    EXPECT_EQ(effectiveJobs(0, 1000), processors);
    EXPECT_EQ(effectiveJobs(0, 1), 1u);
}

TEST(ProgressLines, OneLinePerEventWhateverTheNamesHold) {
    ConversionTask task{"/in/a\nb.mkv", "a\nb", "/out/", "/out/a\rb-cvt.mp4", 0, 10};
    ConversionEvent e;
    e.index = 2;
    e.count = 12;
    e.task = &task;
    EXPECT_EQ(progressLine(e), "[3/12] Converting /in/a?b.mkv -> /out/a?b-cvt.mp4");
    e.kind = Kind::Written;
    e.written = "/out/a\rb-cvt[1].mp4";
    EXPECT_EQ(progressLine(e), "[3/12] written: /out/a?b-cvt[1].mp4");
    e.kind = Kind::Failed;
    e.reason = "cannot read input '/in/a?b.mkv': not a media file\x1b";
    EXPECT_EQ(progressLine(e),
              "[3/12] failed: /in/a?b.mkv: cannot read input '/in/a?b.mkv': not a media file?");
    e.kind = Kind::Stopped;
    e.secondsWritten = 12.34;
    EXPECT_EQ(progressLine(e), "[3/12] Stopped: /out/a?b-cvt[1].mp4 holds the first 12.3 seconds.");
    e.written.clear();
    EXPECT_EQ(progressLine(e), "[3/12] Stopped before anything was written.");
    EXPECT_EQ(summaryLine({4, 1, 2, 3, true}), "4 written, 1 failed, 2 stopped, 3 not started");
    EXPECT_EQ(summaryLine({6, 0, 0, 0, false}), "6 written");
    EXPECT_EQ(summaryLine({0, 0, 2, 1, true}), "2 stopped, 1 not started");
    EXPECT_EQ(summaryLine({}), "nothing converted");
}

TEST(ParallelRunner, AtMostNRunAtOnceAndEachFileStartsBeforeItEnds) {
    Sources sources;
    sources.add("slow", "w:frame=1 time=1.00 \\n|s:900|O|x:0");
    for (int i = 0; i < 4; ++i)
        sources.add("fast" + std::to_string(i), "s:100|O|x:0");
    const auto plan = sources.plan();
    FakeCore core("@");
    ParallelRunner runner(plan, " -vcodec xvid", 2);
    fastLooks(runner);
    Recorder recorder;
    recorder.attach(runner);
    const RunSummary summary = runner.run();

    EXPECT_EQ(summary.written, 5u);
    EXPECT_EQ(summary.failed + summary.stopped + summary.notStarted, 0u);
    EXPECT_FALSE(summary.interrupted);
    EXPECT_FALSE(recorder.overlapped()) << "two events were reported at the same time";
    const auto seen = recorder.seen();
    ASSERT_EQ(seen.size(), 10u);
    int running = 0, most = 0;
    std::vector<int> state(plan.size(), 0); // 0 waiting, 1 running, 2 ended
    std::size_t nextStart = 0;
    for (const auto& s : seen) {
        if (s.kind == Kind::Started) {
            EXPECT_EQ(state[s.index], 0);
            EXPECT_EQ(s.index, nextStart++) << "files start in list order";
            state[s.index] = 1;
            most = std::max(most, ++running);
        } else {
            EXPECT_EQ(s.kind, Kind::Written) << s.line;
            EXPECT_EQ(state[s.index], 1) << "ended before it started: " << s.line;
            state[s.index] = 2;
            --running;
            EXPECT_EQ(s.written, plan[s.index].output);
            EXPECT_TRUE(fileExists(s.written));
        }
        EXPECT_EQ(s.line.find('\n'), std::string::npos);
    }
    EXPECT_EQ(most, 2) << "two ran at once, never more";
    EXPECT_EQ(seen[0].kind, Kind::Started);
    EXPECT_EQ(seen[1].kind, Kind::Started);
    const auto slowEnd = std::find_if(seen.begin(), seen.end(), [](const Seen& s) {
        return s.index == 0 && s.kind != Kind::Started;
    });
    const auto fastEnd = std::find_if(seen.begin(), seen.end(), [](const Seen& s) {
        return s.index == 1 && s.kind != Kind::Started;
    });
    EXPECT_LT(fastEnd - seen.begin(), slowEnd - seen.begin())
        << "the short conversion beside the long one was not held back by it";
}

TEST(ParallelRunner, OneJobConvertsTheListOneAfterTheOther) {
    Sources sources;
    for (int i = 0; i < 3; ++i)
        sources.add("clip" + std::to_string(i), "s:30|O|x:0");
    FakeCore core("@");
    ParallelRunner runner(sources.plan(), "", 1);
    fastLooks(runner);
    Recorder recorder;
    recorder.attach(runner);
    EXPECT_EQ(runner.run().written, 3u);
    std::vector<std::string> lines;
    for (const auto& s : recorder.seen())
        lines.push_back(s.line);
    const std::string out = sources.dir / "out/";
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "[1/3] Converting " + sources.items[0].path + " -> " + out + "clip0-cvt.mp4",
                  "[1/3] written: " + out + "clip0-cvt.mp4",
                  "[2/3] Converting " + sources.items[1].path + " -> " + out + "clip1-cvt.mp4",
                  "[2/3] written: " + out + "clip1-cvt.mp4",
                  "[3/3] Converting " + sources.items[2].path + " -> " + out + "clip2-cvt.mp4",
                  "[3/3] written: " + out + "clip2-cvt.mp4"}));
    EXPECT_TRUE(fs::is_directory(out)) << "the output folder is made";
}

TEST(ParallelRunner, AFailedFileCarriesItsReasonAndTheRestGoOn) {
    Sources sources;
    sources.add("good0", "s:50|O|x:0");
    sources.add("bad", "w:Error: no decoder for this stream\\n|x:1");
    sources.add("good1", "s:50|O|x:0");
    // The core may take a numbered name where the planned one was taken meanwhile.
    const std::string elsewhere = sources.dir / "elsewhere/named-cvt[4].mp4";
    fs::create_directories(sources.dir / "elsewhere");
    writeFile(elsewhere, "finished by the core");
    sources.add("named", "s:50|w:Output: " + elsewhere + "\\n|x:0");
    FakeCore core("@");
    ParallelRunner runner(sources.plan(), "", 2);
    fastLooks(runner);
    Recorder recorder;
    recorder.attach(runner);
    const RunSummary summary = runner.run();
    EXPECT_EQ(summary.written, 3u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_FALSE(summary.interrupted);
    std::vector<std::string> ends;
    for (const auto& s : recorder.seen())
        if (s.kind != Kind::Started)
            ends.push_back(s.line);
    std::sort(ends.begin(), ends.end());
    const std::string out = sources.dir / "out/";
    EXPECT_EQ(ends, (std::vector<std::string>{
                        "[1/4] written: " + out + "good0-cvt.mp4",
                        "[2/4] failed: " + sources.items[1].path + ": no decoder for this stream",
                        "[3/4] written: " + out + "good1-cvt.mp4", "[4/4] written: " + elsewhere}))
        << "the name the core says it wrote wins over the planned one";
}

TEST(ParallelRunner, AStopEndsEveryRunningConversionAsAStopAndStartsNoOther) {
    Sources sources;
    TempDir pids;
    for (int i = 0; i < 5; ++i)
        sources.add("long" + std::to_string(i),
                    "q|d:" + pids.path() + "|w:frame=1 time=1.50 \\r|W|O|x:255");
    const auto plan = sources.plan();
    FakeCore core("@");
    ParallelRunner runner(plan, "", 2);
    fastLooks(runner);
    Recorder recorder;
    recorder.attach(runner);
    RunSummary summary;
    std::thread thread([&] { summary = runner.run(); });

    const std::vector<pid_t> cores = startedCores(pids.path(), 2);
    ASSERT_EQ(cores.size(), 2u) << "two cores should be running";
    runner.requestStop(); // what the Ctrl+C handler does
    thread.join();

    EXPECT_TRUE(summary.interrupted);
    EXPECT_EQ(summary.stopped, 2u);
    EXPECT_EQ(summary.notStarted, 3u);
    EXPECT_EQ(summary.written + summary.failed, 0u);
    for (const pid_t pid : cores)
        EXPECT_TRUE(gone(pid)) << "core " << pid << " is left";
    const auto seen = recorder.seen();
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& s : seen)
        EXPECT_LT(s.index, 2u) << "started after the stop: " << s.line;
    std::vector<std::string> stops;
    for (const auto& s : seen)
        if (s.kind == Kind::Stopped)
            stops.push_back(s.line);
    std::sort(stops.begin(), stops.end());
    EXPECT_EQ(stops, (std::vector<std::string>{
                         "[1/5] Stopped: " + plan[0].output + " holds the first 1.5 seconds.",
                         "[2/5] Stopped: " + plan[1].output + " holds the first 1.5 seconds."}));
}

// Cores that ignore the stop and keep printing would be waited for (their
// output is a sign of life) far past any test's patience; only the second
// request, as a second Ctrl+C makes it, ends them.
// A stop asked again (a logout's hang-up and SIGTERM) stays a stop; only the abort ends
// the cores that do not stop.
TEST(ParallelRunner, OnlyTheAbortEndsCoresThatDoNotStop) {
    Sources sources;
    TempDir pids;
    for (int i = 0; i < 3; ++i)
        sources.add("deaf" + std::to_string(i),
                    "i|d:" + pids.path() + "|p:600000:100:frame=1 time=1.00 \\r");
    FakeCore core("@");
    ParallelRunner runner(sources.plan(), "", 2);
    runner.prepareJob = [](EncodeJob& job) {
        job.lookIntervalMs = 50;
        job.stopSilenceMs = job.stopLimitMs = 600000;
    };
    Recorder recorder;
    recorder.attach(runner);
    RunSummary summary;
    std::thread thread([&] { summary = runner.run(); });
    const std::vector<pid_t> cores = startedCores(pids.path(), 2);
    ASSERT_EQ(cores.size(), 2u);
    runner.requestStop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // past a few looks
    for (const pid_t pid : cores)
        EXPECT_EQ(kill(pid, 0), 0) << "a core that ignores the stop is still running";
    runner.requestStop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const pid_t pid : cores)
        EXPECT_EQ(kill(pid, 0), 0) << "a stop asked twice ended a core";
    runner.requestAbort();
    thread.join();

    EXPECT_TRUE(summary.interrupted);
    EXPECT_EQ(summary.failed, 2u) << "a killed core's file is not kept";
    EXPECT_EQ(summary.notStarted, 1u);
    for (const pid_t pid : cores)
        EXPECT_TRUE(gone(pid)) << "core " << pid << " is left";
}

TEST(ParallelRunner, AStopBeforeTheRunStartsNothing) {
    Sources sources;
    TempDir pids;
    for (int i = 0; i < 3; ++i)
        sources.add("clip" + std::to_string(i), "d:" + pids.path() + "|O|x:0");
    FakeCore core("@");
    ParallelRunner runner(sources.plan(), "", 2);
    Recorder recorder;
    recorder.attach(runner);
    runner.requestStop();
    const RunSummary summary = runner.run();
    EXPECT_TRUE(summary.interrupted);
    EXPECT_EQ(summary.notStarted, 3u);
    EXPECT_TRUE(recorder.seen().empty());
    EXPECT_TRUE(fs::is_empty(pids.path())) << "a core was started";
}

// The shared stop is the job's own flag that a run never clears: set as a
// job begins, it still holds, and no core is started for it.
TEST(EncodeJob, AStopSharedByAllJobsIsNotClearedByARun) {
    TempDir pids;
    FakeCore core("d:" + pids.path() + "|O|x:0");
    std::atomic<bool> stopAll{true};
    EncodeJob job;
    job.stopAll = &stopAll;
    EXPECT_EQ(job.run("/in.avi", pids / "out.mp4", "in", "", {0, 10}), 0);
    EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Stopped);
    EXPECT_TRUE(job.writtenPath().empty());
    EXPECT_TRUE(fs::is_empty(pids.path())) << "a core was started after the stop";
    stopAll = false;
    EXPECT_EQ(job.run("/in.avi", pids / "out.mp4", "in", "", {0, 10}), 0);
    EXPECT_EQ(job.outcome(), EncodeJob::Outcome::Finished);
    EXPECT_EQ(job.writtenPath(), pids / "out.mp4");
}

// What the command line prints as "written" is a regular file under that
// name; a source that ended early is a failure that names the file it left.
TEST(ParallelRunner, WrittenOnlyForAFileThereAndAShortFileIsAFailureWithItsFigures) {
    Sources sources;
    const std::string out = sources.dir / "out/";
    fs::create_directories(out);
    sources.add("good", "O|x:0");
    sources.add("short", "w:frame=1 time=4.40 \\n|O|"
                         "w:Error: the output holds 4.4 of 10.0 seconds: the source is damaged\\n|"
                         "x:4");
    // A link to /dev/null planted at the name the core reports.
    fs::create_symlink("/dev/null", out + "planted-cvt[1].mp4");
    sources.add("planted", "w:Output: " + out + "planted-cvt[1].mp4\\n|x:0");
    sources.add("silent", "x:0"); // says it is done, names nothing, wrote nothing
    FakeCore core("@");
    ParallelRunner runner(sources.plan(), "", 2);
    fastLooks(runner);
    Recorder recorder;
    recorder.attach(runner);
    const RunSummary summary = runner.run();
    EXPECT_EQ(summary.written, 1u);
    EXPECT_EQ(summary.failed, 3u) << "the command line then exits 1";
    std::vector<std::string> ends;
    for (const auto& s : recorder.seen())
        if (s.kind != Kind::Started)
            ends.push_back(s.line);
    std::sort(ends.begin(), ends.end());
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends[0], "[1/4] written: " + out + "good-cvt.mp4");
    EXPECT_EQ(ends[1], "[2/4] failed: " + sources.items[1].path + ": " + out +
                           "short-cvt.mp4 holds 4.4 of 10.0 seconds: the source is damaged");
    EXPECT_TRUE(fileExists(out + "short-cvt.mp4")) << "the short file is kept";
    EXPECT_EQ(ends[2].rfind("[3/4] failed: " + sources.items[2].path + ": ", 0), 0u) << ends[2];
    EXPECT_NE(ends[2].find("planted-cvt[1].mp4 is not there as a regular file"), std::string::npos)
        << ends[2];
    EXPECT_EQ(ends[3].rfind("[4/4] failed: ", 0), 0u) << ends[3];
}

// The plan carries each source's own length, so that a file with nothing
// marked is converted to its real end, not to the whole seconds the list shows.
TEST(ConversionPlan, AWholeFileIsConvertedToItsRealEnd) {
    TempDir dir;
    const std::string argv = dir / "argv";
    const EnvGuard argvTo("SCRIPTED_ARGV_FILE", argv);
    SourceItem item;
    ASSERT_EQ(item.parseProbeOutput(dir / "clip.mp4",
                                    "  Duration: 00:00:01.92, start: 0.000000, bitrate: 90 kb/s\n"
                                    "    Stream #0.0: Video: mpeg4, yuv420p, 160x120, 25 fps\n"),
              0);
    const auto plan = planConversions({item}, dir / "out", "mp4");
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].endSeconds, 1u);
    EXPECT_EQ(plan[0].sourceSeconds, 1u);
    EXPECT_DOUBLE_EQ(plan[0].exactSeconds, 1.92);

    FakeCore core("a|O|x:0");
    ParallelRunner runner(plan, "", 1);
    EXPECT_EQ(runner.run().written, 1u);
    std::string args = readFile(argv);
    std::replace(args.begin(), args.end(), '\0', ' ');
    EXPECT_NE(args.find(" -ss 0 -t 0 -claim "), std::string::npos) << args;
}
