// Progress reports and stopping. A slow or stalled source is simulated by
// feeding a streamed Matroska file through a FIFO on a schedule.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <regex>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace coretest;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

struct ProgressLine {
    std::string text;
    char end = 0;         // '\r' or '\n'
    Clock::time_point at; // when the read carrying its end arrived
    int frame = 0;
    double time = 0;
};

const std::regex& progressPattern() {
    static const std::regex re(
        R"(^frame=\s*(\d+) fps=\s*\d+(\.\d+)? size=\s*\d+kB time=(\d+\.\d+) )"
        R"(bitrate=\s*(N/A|\d+(\.\d+)?kbits/s) speed=\s*(N/A|\d+(\.\d+)?x)\s*$)");
    return re;
}

// Every line that starts with "frame=", with its terminator and arrival time.
// Lines that start so but do not match the format are kept with frame = -1.
std::vector<ProgressLine> progressLines(const Child& child) {
    std::vector<ProgressLine> lines;
    size_t start = 0;
    size_t chunk = 0;
    for (size_t i = 0; i < child.out.size(); ++i) {
        const char c = child.out[i];
        if (c != '\r' && c != '\n')
            continue;
        while (chunk + 1 < child.arrivals.size() && child.arrivals[chunk + 1].first <= i)
            ++chunk;
        const std::string text = child.out.substr(start, i - start);
        start = i + 1;
        if (text.rfind("frame=", 0) != 0)
            continue;
        ProgressLine line{text, c, child.arrivals[chunk].second};
        std::smatch m;
        if (std::regex_match(text, m, progressPattern())) {
            line.frame = std::stoi(m[1]);
            line.time = std::stod(m[3]);
        } else {
            line.frame = -1;
        }
        lines.push_back(line);
    }
    return lines;
}

// Reads the child's output until a progress line reaches `seconds` of converted time.
bool waitForProgress(Child& child, double seconds, int timeoutMs) {
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        const auto lines = progressLines(child);
        if (!lines.empty() && lines.back().time >= seconds)
            return true;
        if (!child.pump(100) && child.wait(0))
            return false;
    }
    return false;
}

void expectWellFormed(const std::vector<ProgressLine>& lines) {
    ASSERT_FALSE(lines.empty()) << "no progress lines";
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_GE(lines[i].frame, 0) << "malformed progress line: " << lines[i].text;
        if (i + 1 < lines.size()) {
            EXPECT_EQ(lines[i].end, '\r') << "progress line not ended by CR: " << lines[i].text;
        }
        if (i > 0) {
            EXPECT_GE(lines[i].time, lines[i - 1].time) << "time went back: " << lines[i].text;
        }
    }
    EXPECT_EQ(lines.back().end, '\n') << "the last progress line does not end the line";
}

Job fifoJob(const TempDir& dir, const std::string& fifo) {
    Job job;
    job.input = fifo;
    job.output = dir / "out.mp4";
    job.length = "12";
    return job;
}

// Orphans of this process's children become its own children while the guard lives, so a
// test can see (and reap) a core whose parent it killed.
class AdoptOrphans {
  public:
    AdoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~AdoptOrphans() {
        if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
    // Killed and reaped at the end if it still runs then.
    void watch(pid_t pid) { m_pid = pid; }

  private:
    pid_t m_pid = -1;
};

} // namespace

// time= counts from the start point, so the last report equals the length asked for.
TEST(Progress, FinalLineReportsTheWholeLength) {
    TempDir dir;
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "out.mp4";
    job.start = "1";
    job.length = "3";
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait(120000)) << "did not finish";
    child.drain(2000);
    ASSERT_EQ(child.exitCode(), 0) << child.out;
    const auto lines = progressLines(child);
    expectWellFormed(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_NEAR(lines.back().time, 3.0, 0.1) << lines.back().text;
    EXPECT_NEAR(lines.back().frame, 3.0 * 24000 / 1001, 2) << lines.back().text;
    EXPECT_EQ(child.out.back(), '\n');
}

TEST(Progress, KeepsComingWhileTheSourceStalls) {
    TempDir dir;
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    const size_t first = data.size() * 35 / 100;
    std::vector<Trickle::Step> steps = {{first, 2500}}; // then nothing for 2.5 s
    for (size_t i = 0; i < 10; ++i)
        steps.push_back({(data.size() - first) / 10 + 1, 80});
    Trickle feed(fifo, data, steps);

    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait(90000)) << "did not finish";
    child.drain(2000);
    ASSERT_EQ(child.exitCode(), 0)
        << child.out.substr(child.out.size() > 2000 ? child.out.size() - 2000 : 0);

    const auto lines = progressLines(child);
    expectWellFormed(lines);
    ASSERT_GE(lines.size(), 5u);
    int stalledReports = 0;
    double worstGap = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const double gap = duration<double>(lines[i].at - lines[i - 1].at).count();
        worstGap = std::max(worstGap, gap);
        stalledReports += lines[i].time == lines[i - 1].time;
        EXPECT_LE(gap, 0.7) << "no progress for " << gap << " s before: " << lines[i].text;
    }
    // The 2.5 s stall must show up as repeated reports, else this test saw no stall.
    EXPECT_GE(stalledReports, 3) << "worst gap " << worstGap << " s";
    EXPECT_NEAR(lines.back().time, 12.0, 0.2);
    EXPECT_EQ(decodeErrors(job.output), "");
}

TEST(Stop, TermKeepsAPlayableFile) {
    TempDir dir;
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, steadyRate(data.size(), data.size() / 12.0)); // about real time
    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitForProgress(child, 2.0, 60000)) << "no progress reached 2 s:\n" << child.out;

    child.signal(SIGTERM);
    ASSERT_TRUE(child.wait(10000)) << "still running 10 s after SIGTERM";
    feed.stop();
    child.drain(2000);
    EXPECT_EQ(child.termSignal(), 0) << "killed by the signal instead of stopping";
    EXPECT_EQ(child.exitCode(), 255);

    // A stopped file is finished: it carries the final name, and the core says so.
    ASSERT_TRUE(fileExists(job.output)) << "output removed on stop";
    EXPECT_EQ(writtenOutput(child.out), job.output) << child.out;
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
    EXPECT_EQ(decodeErrors(job.output), "");
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    const double length = p.formatNum("duration").value_or(0);
    EXPECT_GT(length, 1.0);
    EXPECT_LT(length, 11.0);
    EXPECT_EQ(p.count("video"), 1);
    EXPECT_EQ(p.count("audio"), 1);
}

// Stalled source: the user's stop must not wait for data that may never come.
TEST(Stop, TermWhileTheSourceStalls) {
    TempDir dir;
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, {{data.size() * 40 / 100, 60000}});
    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitForProgress(child, 0.5, 60000)) << "no progress:\n" << child.out;
    child.wait(1500); // the core has drained what was written and waits

    child.signal(SIGTERM);
    const bool stopped = child.wait(5000);
    if (!stopped) {
        ADD_FAILURE() << "still running 5 s after SIGTERM while the source stalls";
        child.signal(SIGTERM);
        EXPECT_TRUE(child.wait(2000)) << "a second SIGTERM did not end it either";
        return;
    }
    EXPECT_EQ(child.termSignal(), 0);
    EXPECT_EQ(child.exitCode(), 255);
    ASSERT_TRUE(fileExists(job.output));
    EXPECT_EQ(decodeErrors(job.output), "");
    EXPECT_GT(ProbeInfo::of(job.output).formatNum("duration").value_or(0), 0.0);
}

// The abort is its own signal and ends the core at once, also while it waits for a source
// that stalls.
TEST(Stop, AbortEndsAtOnce) {
    TempDir dir;
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, {{data.size() * 40 / 100, 60000}});
    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitForProgress(child, 0.5, 60000)) << "no progress:\n" << child.out;
    child.wait(1000);

    child.signal(plexavo::contract::kAbortSignal);
    EXPECT_TRUE(child.wait(1000)) << "still running 1 s after the abort";
    EXPECT_EQ(child.exitCode(), plexavo::contract::kExitAborted);
}

// An abort while the file is written: it is not finished, so it must not stay behind under
// any name, nor its note.
TEST(Stop, AbortRemovesTheUnfinishedOutput) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, steadyRate(data.size(), data.size() / 12.0));
    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitForProgress(child, 1.0, 60000)) << "no progress reached 1 s:\n" << child.out;
    // While it is written, the file has only its partial name, and a note marks it.
    EXPECT_FALSE(fileExists(job.output)) << "an unfinished file under the final name";
    ASSERT_EQ(partialFilesIn(dir.path()).size(), 1u);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(state / "plexavo/partials"), fs::directory_iterator()),
        1);

    child.signal(plexavo::contract::kAbortSignal);
    ASSERT_TRUE(child.wait(5000)) << "still running 5 s after the abort";
    feed.stop();
    EXPECT_EQ(child.termSignal(), 0);
    EXPECT_EQ(child.exitCode(), plexavo::contract::kExitAborted);
    EXPECT_FALSE(fileExists(job.output)) << "an unfinished output left behind";
    EXPECT_TRUE(partialFilesIn(dir.path()).empty()) << "an unfinished partial file left behind";
    EXPECT_TRUE(fs::is_empty(state / "plexavo/partials")) << "the note stayed";
}

// A stop delivered many times, by several senders and as every stop signal (a dying program,
// a logout, a hang-up, the program's own request all at once) is one stop: the file is kept.
TEST(Stop, RepeatedStopsFromAnySenderKeepTheFile) {
    TempDir dir;
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, steadyRate(data.size(), data.size() / 12.0));
    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitForProgress(child, 1.0, 60000)) << "no progress reached 1 s:\n" << child.out;
    for (int sig : {SIGTERM, SIGTERM, SIGINT, SIGHUP, SIGTERM})
        child.signal(sig);
    const std::string other =
        "kill -TERM " + std::to_string(child.pid()) + "; kill -HUP " + std::to_string(child.pid());
    ASSERT_EQ(std::system(other.c_str()), 0);
    child.wait(100);
    child.signal(SIGINT);
    ASSERT_TRUE(child.wait(30000)) << "still running 30 s after the stop";
    feed.stop();
    EXPECT_EQ(child.exitCode(), plexavo::contract::kExitStopped) << child.out;
    ASSERT_TRUE(fileExists(job.output));
    EXPECT_EQ(decodeErrors(job.output), "");
    EXPECT_GT(ProbeInfo::of(job.output).formatNum("duration").value_or(0), 0.5);
}

// kill -9 gives the core no chance to finish the file, so nothing may carry the final name.
// The partial file it leaves is removed by the next conversion into that folder; the user's
// files with partial-looking names stay, the source among them.
TEST(Stop, KilledCoreLeavesOnlyAPartialFileTheNextRunRemoves) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, steadyRate(data.size(), data.size() / 12.0));
    const Job job = fifoJob(dir, fifo);
    Child child(job.argv());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitForProgress(child, 1.0, 60000)) << "no progress reached 1 s:\n" << child.out;
    child.signal(SIGKILL);
    ASSERT_TRUE(child.wait(5000));
    feed.stop();
    ASSERT_EQ(child.termSignal(), SIGKILL);

    EXPECT_FALSE(fileExists(job.output)) << "a broken file under the final name";
    const auto left = partialFilesIn(dir.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_GT(fileSize(dir / left[0]), 0) << "the partial file was never written to";

    // A user's note and a user's video that happen to look like partial files; the video is
    // the next source, converted into its own folder.
    writeFile(dir / "notes.partial-abc123", "the user's notes");
    const std::string source = dir / "holiday.partial-Zz9Qq1";
    copyFile(fixture("mov"), source);
    const std::string sourceBytes = readFile(source);

    for (int round = 0; round < 2; ++round) {
        Job next;
        next.input = source;
        next.output = dir / ("next" + std::to_string(round) + ".mp4");
        const RunResult r = next.run();
        ASSERT_EQ(r.exitCode, 0) << describe(r);
        EXPECT_EQ(decodeErrors(next.output), "");
    }
    EXPECT_FALSE(fileExists(dir / left[0])) << "the killed core's partial file was not removed";
    EXPECT_EQ(readFile(dir / "notes.partial-abc123"), "the user's notes");
    EXPECT_EQ(readFile(source), sourceBytes) << "the source was touched";
    EXPECT_EQ(partialFilesIn(dir.path()).size(), 2u); // the user's two
}

// The program dies (kill -9) in the middle of a conversion: the kernel's death signal stops
// the core as SIGTERM would, so the file is finished under its final name and the core does
// not go on converting unseen.
TEST(Stop, EndsWithItsProgram) {
    TempDir dir;
    const std::string data = readFile(fixture("stream-long"));
    const std::string fifo = dir / "source.mkv";
    Trickle feed(fifo, data, steadyRate(data.size(), data.size() / 12.0));
    Job job = fifoJob(dir, fifo);
    job.overwrite = false;
    job.extra = {plexavo::contract::kClaimOption};

    // A stand-in for the program: it starts the core with its own pid in the environment and
    // waits for it.
    AdoptOrphans adopt;
    std::vector<std::string> argv = {"/bin/sh", "-c",
                                     std::string(plexavo::contract::kParentPidEnv) +
                                         "=$$; export " + plexavo::contract::kParentPidEnv +
                                         "; \"$@\" & echo core=$!; wait",
                                     "sh"};
    const std::vector<std::string> core = job.argv();
    argv.insert(argv.end(), core.begin(), core.end());
    Child program(argv);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(waitForProgress(program, 1.0, 60000)) << "no progress reached 1 s:\n"
                                                      << program.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(program.out, m, std::regex("core=(\\d+)"))) << program.out;
    const pid_t corePid = std::stoi(m[1]);
    adopt.watch(corePid);

    const auto killed = Clock::now();
    program.signal(SIGKILL);
    ASSERT_TRUE(program.wait(2000));
    int status = 0;
    bool gone = false;
    while (!gone && Clock::now() - killed < seconds(10)) {
        gone = ::waitpid(corePid, &status, WNOHANG) == corePid;
        if (!gone)
            program.pump(5); // the core still writes into the pipe the program left
    }
    const double after = duration<double>(Clock::now() - killed).count();
    feed.stop();
    ASSERT_TRUE(gone) << "the core still runs 10 s after its program died";
    RecordProperty("core_gone_after_ms", static_cast<int>(after * 1000));
    std::printf("the core ended %.3f s after its program was killed\n", after);
    EXPECT_LT(after, 2.0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), plexavo::contract::kExitStopped);

    program.drain(2000);
    EXPECT_EQ(writtenOutput(program.out), job.output) << program.out;
    ASSERT_TRUE(fileExists(job.output));
    EXPECT_EQ(decodeErrors(job.output), "");
    const double length = ProbeInfo::of(job.output).formatNum("duration").value_or(0);
    EXPECT_GT(length, 0.5);
    EXPECT_LT(length, 11.0) << "converted on to the end";
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
}

// The program died before the core could ask for the death signal: the core has another
// parent than the one named, and stops at once. The named parent converts as usual.
TEST(Stop, ProgramGoneBeforeTheStartStopsAtOnce) {
    TempDir dir;
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "out.mp4";
    job.overwrite = false;
    job.extra = {plexavo::contract::kClaimOption};
    const std::string env = std::string(plexavo::contract::kParentPidEnv) + "=";

    const RunResult orphan = job.run(withEnv({env + std::to_string(::getpid() + 1)}), 60);
    EXPECT_EQ(orphan.termSignal, 0);
    EXPECT_EQ(orphan.exitCode, plexavo::contract::kExitStopped) << describe(orphan);
    EXPECT_FALSE(fileExists(job.output));
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());

    const RunResult mine = job.run(withEnv({env + std::to_string(::getpid())}), 120);
    ASSERT_EQ(mine.exitCode, 0) << describe(mine);
    EXPECT_EQ(writtenOutput(mine.out), job.output);
    EXPECT_EQ(decodeErrors(job.output), "");
}
