// Continuing a stopped conversion with the real core: a minute stopped about halfway and
// continued, judged against the same conversion made in one go; the answers to the question;
// a kept file replaced, stopped twice, or a continuation aborted.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

using namespace coretest;
namespace fs = std::filesystem;

namespace {

namespace contract = plexavo::contract;

Job minuteJob(const std::string& input, const std::string& output, const std::string& vcodec) {
    Job job;
    job.input = input;
    job.output = output;
    job.vcodec = vcodec;
    job.rate = "25";
    return job;
}

// The job's command line with `option` (-can-resume, -resume) naming its output.
std::vector<std::string> withOption(const Job& job, const char* option) {
    Job j = job;
    j.overwrite = false;
    std::vector<std::string> argv = j.argv();
    argv.insert(argv.end() - 1, option);
    return argv;
}

RunResult ask(const Job& job) {
    return run(withOption(job, contract::kCanResumeOption), 60);
}

RunResult resume(const Job& job) {
    return run(withOption(job, contract::kResumeOption), 180);
}

// The output time of the last progress line so far; -1 before the first.
double lastProgressTime(const std::string& text, std::size_t from = 0) {
    const auto at = text.rfind("time=");
    if (at == std::string::npos || at < from)
        return -1;
    return std::strtod(text.c_str() + at + 5, nullptr);
}

// Runs the core and sends the stop signal once its progress passes `seconds` of output.
RunResult runStoppedAt(const std::vector<std::string>& argv, double seconds) {
    Child child(argv);
    RunResult r;
    r.started = child.started();
    if (!r.started)
        return r;
    const auto deadline = Clock::now() + std::chrono::seconds(180);
    bool sent = false;
    for (;;) {
        const bool open = child.pump(50);
        if (!sent && lastProgressTime(child.out) >= seconds) {
            child.signal(contract::kStopSignal);
            sent = true;
        }
        if ((!open && child.wait(1000)) || child.wait(0))
            break;
        if (Clock::now() > deadline) {
            r.timedOut = true;
            return r;
        }
    }
    child.drain(5000);
    r.exitCode = child.exitCode();
    r.termSignal = child.termSignal();
    r.out = child.out;
    return r;
}

// Reads the child's output until `ready` says so; false when it ended first.
template <typename Ready> bool waitFor(Child& child, Ready ready) {
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < deadline) {
        if (ready(child.out))
            return true;
        if (!child.pump(20) && child.wait(0))
            return ready(child.out);
    }
    return false;
}

// Where the core said it continues from; -1 without the line.
double continuedFrom(const std::string& text) {
    const auto lines = linesStartingWith(text, contract::kContinuePrefix);
    if (lines.size() != 1)
        return -1;
    return std::strtod(lines[0].c_str() + std::strlen(contract::kContinuePrefix), nullptr);
}

// "Resumable: K of T" as (K, T); (-1, -1) for any other answer.
std::pair<double, double> resumable(const RunResult& r) {
    double kept = -1, total = -1;
    const auto lines = linesStartingWith(r.out, contract::kResumablePrefix);
    if (r.exitCode != 0 || lines.size() != 1 ||
        std::sscanf(lines[0].c_str() + std::strlen(contract::kResumablePrefix), "%lf of %lf", &kept,
                    &total) != 2)
        return {-1, -1};
    return {kept, total};
}

// The subtitles of two files read the same on screen. A cue on screen at the join may be two
// samples with the same text; on screen it is one.
void expectSameCuesShown(const std::string& joined, const std::string& straight) {
    const auto shown = [](std::vector<Cue> cues) {
        std::vector<Cue> merged;
        for (Cue& c : cues)
            if (!merged.empty() && merged.back().text == c.text &&
                std::fabs(merged.back().end - c.start) < 0.002)
                merged.back().end = c.end;
            else
                merged.push_back(std::move(c));
        return merged;
    };
    const auto cuesNow = shown(subtitleCues(joined)), cuesThen = shown(subtitleCues(straight));
    ASSERT_EQ(cuesNow.size(), cuesThen.size());
    for (std::size_t i = 0; i < cuesNow.size(); ++i) {
        EXPECT_EQ(cuesNow[i].text, cuesThen[i].text);
        EXPECT_NEAR(cuesNow[i].start, cuesThen[i].start, 0.002) << cuesNow[i].text;
        EXPECT_NEAR(cuesNow[i].end, cuesThen[i].end, 0.002) << cuesNow[i].text;
    }
}

std::string notResumable(const RunResult& r) {
    const auto lines = linesStartingWith(r.out, contract::kNotResumablePrefix);
    return r.exitCode == 1 && lines.size() == 1
               ? lines[0].substr(std::strlen(contract::kNotResumablePrefix))
               : "(exit " + std::to_string(r.exitCode) + ") " + r.out;
}

double formatDuration(const std::string& path) {
    return ProbeInfo::of(path).formatNum("duration").value_or(-1);
}

// One sound track decoded to mono samples, from start on for length seconds.
std::vector<float> samples(const std::string& path, double start, double length, int track = 0) {
    const RunResult r = run({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map",
                             "0:a:" + std::to_string(track), "-ss", std::to_string(start), "-t",
                             std::to_string(length), "-ac", "1", "-f", "f32le", "-"},
                            120, separateStderr());
    std::vector<float> s(r.out.size() / sizeof(float));
    std::memcpy(s.data(), r.out.data(), s.size() * sizeof(float));
    return s;
}

double levelDb(double power) {
    return 10.0 * std::log10(power + 1e-20);
}

// The worst window of `window` samples: how loud the difference of two sounds is against the
// second sound itself, in dB. A gap, a doubled piece or a shift at a join shows here.
double worstDifferenceDb(const std::vector<float>& a, const std::vector<float>& b,
                         std::size_t window) {
    double worst = -200;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i + window <= n; i += window) {
        double diff = 0, sig = 0;
        for (std::size_t k = i; k < i + window; ++k) {
            diff += (a[k] - b[k]) * (a[k] - b[k]);
            sig += b[k] * b[k];
        }
        worst = std::max(worst, levelDb(diff) - levelDb(sig));
    }
    return worst;
}

// The level of the quietest window, dBFS: silence in a steady tone shows here.
double quietestDb(const std::vector<float>& a, std::size_t window) {
    double quietest = 200;
    for (std::size_t i = 0; i + window <= a.size(); i += window) {
        double power = 0;
        for (std::size_t k = i; k < i + window; ++k)
            power += a[k] * a[k];
        quietest = std::min(quietest, levelDb(power / static_cast<double>(window)));
    }
    return quietest;
}

// The widest gap between one sound packet's end and the next one's start (negative: the
// most they overlap), seconds.
std::pair<double, double> soundSeams(const std::string& path) {
    double gap = 0, overlap = 0;
    const auto list = packets(path, "a");
    for (std::size_t i = 1; i < list.size(); ++i) {
        const double seam = list[i].pts - (list[i - 1].pts + list[i - 1].duration);
        gap = std::max(gap, seam);
        overlap = std::min(overlap, seam);
    }
    return {gap, overlap};
}

// The mean SSIM of two files' pictures between from and to (seconds), -1 when unknown.
double ssimBetween(const std::string& a, const std::string& b, double from, double to) {
    char trim[128];
    std::snprintf(trim, sizeof trim, "trim=start=%.3f:end=%.3f,setpts=PTS-STARTPTS", from, to);
    const std::string graph = std::string("[0:v]") + trim + "[x];[1:v]" + trim + "[y];[x][y]ssim";
    const RunResult r = run({"ffmpeg", "-hide_banner", "-nostdin", "-nostats", "-i", a, "-i", b,
                             "-lavfi", graph, "-f", "null", "-"},
                            120);
    const auto at = r.out.rfind("All:");
    return at == std::string::npos ? -1 : std::strtod(r.out.c_str() + at + 4, nullptr);
}

// The joined file against the conversion made in one go, around the instant it joins.
void expectJoinedLikeStraight(const std::string& joined, const std::string& straight, double join,
                              int soundTracks = 1) {
    EXPECT_EQ(decodeErrors(joined), "");
    EXPECT_NEAR(formatDuration(joined), formatDuration(straight), 0.1);
    const ProbeInfo p = ProbeInfo::of(joined);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_NEAR(streamDuration(p, p.find("video")), streamDuration(p, p.find("audio")), 0.05);
    const auto [gap, overlap] = soundSeams(joined);
    EXPECT_LE(gap, 0.025) << "a gap in the sound";
    EXPECT_GE(overlap, -0.001) << "sound packets overlap";
    const double from = std::max(join - 0.5, 0.0);
    for (int track = 0; track < soundTracks; ++track) {
        const auto mine = samples(joined, from, 1.0, track);
        const auto theirs = samples(straight, from, 1.0, track);
        ASSERT_GT(mine.size(), 40000u) << "track " << track;
        EXPECT_LT(worstDifferenceDb(mine, theirs, 256), -20.0)
            << "track " << track << ": the sound differs at the join at " << join << " s";
        EXPECT_GT(quietestDb(mine, mine.size() / 100), -30.0)
            << "track " << track << ": silence at the join";
    }
    EXPECT_GE(ssimBetween(joined, straight, from, join + 0.5), 0.98);
}

// The first pictures of the joined file are the kept ones, byte for byte: not encoded again.
void expectCopiedBefore(const std::string& joined, const std::vector<Packet>& kept, double join) {
    const auto now = packets(joined, "v");
    std::size_t copied = 0;
    for (; copied < kept.size() && kept[copied].pts < join - 1e-6; ++copied) {
        ASSERT_LT(copied, now.size());
        EXPECT_NEAR(now[copied].pts, kept[copied].pts, 1e-6);
        EXPECT_EQ(now[copied].size, kept[copied].size) << "picture at " << kept[copied].pts;
    }
    EXPECT_GT(copied, 0u);
}

struct Codec {
    const char* vcodec;
    const char* ext;
};

class ContinueByCodec : public ::testing::TestWithParam<Codec> {};

} // namespace

// Stopped at about half, then continued: one file, as long as the straight conversion, that
// plays through the join without a gap, a jump or a doubled piece, and no note left behind.
TEST_P(ContinueByCodec, JoinsIntoTheFileAStraightConversionMakes) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string source = fixture("minute");
    const std::string ext = GetParam().ext;
    const Job straight = minuteJob(source, dir / ("straight" + ext), GetParam().vcodec);
    const RunResult whole = straight.run();
    ASSERT_EQ(whole.exitCode, 0) << describe(whole);

    const Job job = minuteJob(source, dir / ("clip" + ext), GetParam().vcodec);
    const RunResult stopped = runStoppedAt(job.argv(), 30.0);
    ASSERT_EQ(stopped.exitCode, contract::kExitStopped) << describe(stopped);
    EXPECT_EQ(writtenOutput(stopped.out), job.output);
    const double keptLength = formatDuration(job.output);
    ASSERT_GT(keptLength, 20.0);
    ASSERT_LT(keptLength, 55.0);
    const auto keptPictures = packets(job.output, "v");

    const auto [kept, total] = resumable(ask(job));
    EXPECT_NEAR(kept, keptLength, 0.1);
    EXPECT_NEAR(total, 60.0, 0.05);

    const RunResult resumed = resume(job);
    ASSERT_EQ(resumed.exitCode, 0) << describe(resumed);
    EXPECT_EQ(writtenOutput(resumed.out), job.output);
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
    const double join = continuedFrom(resumed.out);
    EXPECT_GT(join, 0.0) << resumed.out;
    EXPECT_LT(join, keptLength);
    // The progress goes on in the whole file's time: from the join on.
    const auto line = resumed.out.find(contract::kContinuePrefix);
    ASSERT_NE(line, std::string::npos);
    const std::string after = resumed.out.substr(line);
    const auto first = after.find("time=");
    ASSERT_NE(first, std::string::npos);
    EXPECT_GE(std::strtod(after.c_str() + first + 5, nullptr), join - 0.05);
    EXPECT_NEAR(lastProgressTime(after), 60.0, 0.1);

    expectCopiedBefore(job.output, keptPictures, join);
    expectJoinedLikeStraight(job.output, straight.output, join);
    EXPECT_EQ(notResumable(ask(job)), "no record of a stopped conversion")
        << "the note outlived the file it was about";
}

INSTANTIATE_TEST_SUITE_P(Codecs, ContinueByCodec,
                         ::testing::Values(Codec{"h264", ".mov"}, Codec{"xvid", ".mp4"}),
                         [](const auto& info) { return std::string(info.param.vcodec); });

// Every sound track, the subtitles, chapters, tags and cover come out as a straight
// conversion makes them, from a source whose clock counts milliseconds.
TEST(Continue, KeepsWhatTheDevicesShowBesides) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string source = fixture("minute-film");
    const Job straight = minuteJob(source, dir / "straight.m4v", "h264");
    const RunResult whole = straight.run();
    ASSERT_EQ(whole.exitCode, 0) << describe(whole);
    const Job job = minuteJob(source, dir / "film.m4v", "h264");
    const RunResult stopped = runStoppedAt(job.argv(), 30.0);
    ASSERT_EQ(stopped.exitCode, contract::kExitStopped) << describe(stopped);
    const RunResult resumed = resume(job);
    ASSERT_EQ(resumed.exitCode, 0) << describe(resumed);
    const double join = continuedFrom(resumed.out);
    ASSERT_GT(join, 0.0) << resumed.out;

    const ProbeInfo a = ProbeInfo::of(job.output), b = ProbeInfo::of(straight.output);
    for (const char* kind : {"video", "audio", "subtitle"})
        EXPECT_EQ(a.count(kind), b.count(kind)) << kind;
    const auto mine = chapters(job.output), theirs = chapters(straight.output);
    ASSERT_EQ(mine.size(), theirs.size());
    for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_NEAR(mine[i].start, theirs[i].start, 0.01);
        EXPECT_NEAR(mine[i].end, theirs[i].end, 0.01);
        EXPECT_EQ(mine[i].title, theirs[i].title);
    }
    expectSameCuesShown(job.output, straight.output);
    EXPECT_EQ(tagBoxes(job.output), tagBoxes(straight.output));
    const auto tags = tagBoxes(job.output);
    EXPECT_NE(std::find(tags.begin(), tags.end(), "covr"), tags.end()) << "no cover";
    const auto tracksNow = trackBoxes(job.output), tracksThen = trackBoxes(straight.output);
    ASSERT_EQ(tracksNow.size(), tracksThen.size());
    for (std::size_t i = 0; i < tracksNow.size(); ++i) {
        EXPECT_EQ(tracksNow[i].handler, tracksThen[i].handler);
        EXPECT_EQ(tracksNow[i].flags, tracksThen[i].flags) << tracksNow[i].handler;
        EXPECT_EQ(tracksNow[i].alternateGroup, tracksThen[i].alternateGroup);
    }
    expectJoinedLikeStraight(job.output, straight.output, join, 2);
}

// A line on screen at the join began before the key frame the source is read again from: it
// still shows to its own end, not only to where the kept part stopped.
TEST(Continue, ALineOnScreenAtTheJoinShowsToItsEnd) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string source = fixture("minute-film");
    // At 24 frames a second the output's key frames (every 250 frames) fall between the
    // source's (every 2 s): the join at 20.8 s is read again from the source's key frame at
    // 20 s, after line 10 began (18.5 s) and before line 11 (20.5 s).
    Job straight = minuteJob(source, dir / "straight.m4v", "h264");
    straight.rate = "24";
    straight.length = "30";
    ASSERT_EQ(straight.run().exitCode, 0);
    Job job = straight;
    job.output = dir / "film.m4v";
    // Stopped while line 10 is still on screen: it ends at 22.5 s.
    const RunResult stopped = runStoppedAt(job.argv(), 21.0);
    ASSERT_EQ(stopped.exitCode, contract::kExitStopped) << describe(stopped);
    const RunResult resumed = resume(job);
    ASSERT_EQ(resumed.exitCode, 0) << describe(resumed);
    const double join = continuedFrom(resumed.out);
    ASSERT_GT(join, 20.6) << "the join no longer falls between lines 11 and 10 ending";
    ASSERT_LT(join, 22.3) << "the join no longer falls between lines 11 and 10 ending";
    expectSameCuesShown(job.output, straight.output);
}

// What the question answers for each way the files can differ; asking touches nothing, and a
// continuation that is refused neither.
TEST(Continue, AnswersWhatChangedAndTouchesNothing) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    copyFile(fixture("minute"), dir / "source.mp4");
    const Job job = minuteJob(dir / "source.mp4", dir / "clip.mp4", "h264");
    ASSERT_EQ(runStoppedAt(job.argv(), 30.0).exitCode, contract::kExitStopped);
    const std::string keptBytes = readFile(job.output);
    struct stat before {};
    ASSERT_EQ(::stat(job.output.c_str(), &before), 0);

    EXPECT_GT(resumable(ask(job)).first, 0.0);
    Job other = job;
    other.bitrate = "500";
    EXPECT_EQ(notResumable(ask(other)), "other settings");
    Job elsewhere = job;
    copyFile(job.input, dir / "copy.mp4");
    elsewhere.input = dir / "copy.mp4";
    EXPECT_EQ(notResumable(ask(elsewhere)), "the source is another file");
    Job unnoted = job;
    copyFile(job.output, dir / "copy of clip.mp4");
    unnoted.output = dir / "copy of clip.mp4";
    EXPECT_EQ(notResumable(ask(unnoted)), "no record of a stopped conversion");
    const RunResult refused = resume(other);
    EXPECT_EQ(refused.exitCode, contract::kExitFailed);
    EXPECT_EQ(linesStartingWith(refused.out, contract::kErrorPrefix).size(), 1u) << refused.out;
    EXPECT_TRUE(linesStartingWith(refused.out, contract::kContinuePrefix).empty());

    struct stat after {};
    ASSERT_EQ(::stat(job.output.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(readFile(job.output), keptBytes);
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());

    // The source written to since, then the kept file.
    const std::string sourceBytes = readFile(job.input);
    writeFile(job.input, sourceBytes);
    EXPECT_EQ(notResumable(ask(job)), "the source was changed");
    writeFile(job.output, keptBytes + "more");
    EXPECT_EQ(notResumable(ask(job)), "the file was changed since it was stopped");
    const RunResult changed = resume(job);
    EXPECT_EQ(changed.exitCode, contract::kExitFailed) << describe(changed);
    EXPECT_EQ(readFile(job.output), keptBytes + "more");
}

// A file stopped twice continues twice; a continuation stopped before it gets past the kept
// file's end leaves that file as it was.
TEST(Continue, StoppedTwiceContinuesTwice) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const Job job = minuteJob(fixture("minute"), dir / "clip.mp4", "h264");
    ASSERT_EQ(runStoppedAt(job.argv(), 20.0).exitCode, contract::kExitStopped);
    const double first = formatDuration(job.output);

    {
        // Stopped at once: the kept file is never made shorter.
        Child child(withOption(job, contract::kResumeOption));
        ASSERT_TRUE(waitFor(child, [](const std::string& out) {
            return out.find(contract::kContinuePrefix) != std::string::npos;
        }));
        child.signal(contract::kStopSignal);
        ASSERT_TRUE(child.wait(60000));
        child.drain(2000);
        EXPECT_EQ(child.exitCode(), contract::kExitStopped) << child.out;
        EXPECT_EQ(writtenOutput(child.out), job.output);
        EXPECT_GE(formatDuration(job.output), first - 0.01);
        EXPECT_EQ(decodeErrors(job.output), "");
        EXPECT_TRUE(partialFilesIn(dir.path()).empty());
    }
    const double second = formatDuration(job.output);
    EXPECT_NEAR(resumable(ask(job)).first, second, 0.1);

    // Well past the file kept now, however late the stop at once came on a busy machine.
    const double secondStop = std::max(40.0, second + 8.0);
    ASSERT_LT(secondStop, 55.0) << "the stop at once came too late to stop a second time";
    const RunResult again = runStoppedAt(withOption(job, contract::kResumeOption), secondStop);
    ASSERT_EQ(again.exitCode, contract::kExitStopped) << describe(again);
    EXPECT_EQ(writtenOutput(again.out), job.output);
    const double third = formatDuration(job.output);
    EXPECT_GT(third, second + 5.0);
    EXPECT_EQ(decodeErrors(job.output), "");
    const double firstJoin = continuedFrom(again.out);
    EXPECT_NEAR(resumable(ask(job)).first, third, 0.1);

    const RunResult last = resume(job);
    ASSERT_EQ(last.exitCode, 0) << describe(last);
    const double secondJoin = continuedFrom(last.out);
    EXPECT_GT(secondJoin, firstJoin);
    EXPECT_EQ(decodeErrors(job.output), "");
    EXPECT_NEAR(formatDuration(job.output), 60.0, 0.1);
    const auto [gap, overlap] = soundSeams(job.output);
    EXPECT_LE(gap, 0.025);
    EXPECT_GE(overlap, -0.001);
    for (const double join : {firstJoin, secondJoin})
        EXPECT_GT(quietestDb(samples(job.output, join - 0.5, 1.0), 441), -30.0) << join;
    EXPECT_EQ(notResumable(ask(job)), "no record of a stopped conversion");
}

// Another file put under the kept file's name while it is continued stays; the whole goes
// under the next numbered name.
TEST(Continue, AKeptFileReplacedMeanwhileStays) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const Job job = minuteJob(fixture("minute"), dir / "clip.mp4", "h264");
    ASSERT_EQ(runStoppedAt(job.argv(), 30.0).exitCode, contract::kExitStopped);

    Child child(withOption(job, contract::kResumeOption));
    ASSERT_TRUE(waitFor(child, [](const std::string& out) {
        return out.find(contract::kContinuePrefix) != std::string::npos;
    }));
    writeFile(dir / "mine", "a file of the user's own");
    fs::rename(dir / "mine", job.output);
    ASSERT_TRUE(child.wait(180000));
    child.drain(2000);
    ASSERT_EQ(child.exitCode(), 0) << child.out;
    const std::string numbered = dir / "clip[1].mp4";
    EXPECT_EQ(writtenOutput(child.out), numbered);
    EXPECT_EQ(readFile(job.output), "a file of the user's own");
    EXPECT_NEAR(formatDuration(numbered), 60.0, 0.1);
    EXPECT_EQ(decodeErrors(numbered), "");
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
    EXPECT_EQ(notResumable(ask(job)), "no record of a stopped conversion");
}

// Aborted while it continues: the kept file stays byte for byte, and can still be continued.
TEST(Continue, AbortLeavesTheKeptFileAsItWas) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const Job job = minuteJob(fixture("minute"), dir / "clip.mp4", "xvid");
    ASSERT_EQ(runStoppedAt(job.argv(), 30.0).exitCode, contract::kExitStopped);
    const std::string keptBytes = readFile(job.output);

    Child child(withOption(job, contract::kResumeOption));
    ASSERT_TRUE(waitFor(child, [](const std::string& out) {
        const auto line = out.find(contract::kContinuePrefix);
        return line != std::string::npos && lastProgressTime(out, line) > 0;
    })) << child.out;
    child.signal(contract::kAbortSignal);
    ASSERT_TRUE(child.wait(10000));
    child.drain(2000);
    EXPECT_EQ(child.exitCode(), contract::kExitAborted) << child.out;
    EXPECT_EQ(readFile(job.output), keptBytes);
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
    EXPECT_GT(resumable(ask(job)).first, 0.0) << "the note went with the abort";
}

// A kept file whose picture headers differ from what the encoder makes now (another x264,
// say) is refused before anything is written: the two parts would not play as one.
TEST(Continue, RefusesPartsThatWouldNotPlayAsOne) {
    TempDir dir, state;
    EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const Job job = minuteJob(fixture("minute"), dir / "clip.mp4", "h264");
    ASSERT_EQ(runStoppedAt(job.argv(), 20.0).exitCode, contract::kExitStopped);
    struct stat kept {};
    ASSERT_EQ(::stat(job.output.c_str(), &kept), 0);
    // The level byte of the sequence parameter set in the avcC record, the file's size and
    // time kept as they were, so the note still names it.
    std::string bytes = readFile(job.output);
    const auto avcc = bytes.find("avcC");
    ASSERT_NE(avcc, std::string::npos);
    ASSERT_EQ(bytes[avcc + 4 + 8] & 0x1f, 7) << "not a sequence parameter set";
    bytes[avcc + 4 + 11] = static_cast<char>(bytes[avcc + 4 + 11] + 1);
    writeFile(job.output, bytes);
    const timespec times[2] = {kept.st_atim, kept.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, job.output.c_str(), times, 0), 0);
    ASSERT_GT(resumable(ask(job)).first, 0.0) << "the file no longer counts as the kept one";

    const RunResult refused = resume(job);
    EXPECT_EQ(refused.exitCode, contract::kExitFailed) << describe(refused);
    const auto errors = linesStartingWith(refused.out, contract::kErrorPrefix);
    ASSERT_EQ(errors.size(), 1u) << refused.out;
    EXPECT_NE(errors[0].find("other encoder settings"), std::string::npos) << errors[0];
    EXPECT_EQ(readFile(job.output), bytes);
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
}
