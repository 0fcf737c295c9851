// The command line and the file system: usage errors, overwriting, the
// capability query, unusual file names, and sources or targets that fail.
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace coretest;

// ---------------------------------------------------------------------------
// Usage errors: one clear line, a failing exit, and no file touched.

struct UsageCase {
    const char* name;
    std::vector<std::string> options; // put between the input and -y
    std::vector<std::string> mention; // the error line names at least one of these
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class UsageError : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageError, RejectedWithOneLine) {
    const UsageCase& c = GetParam();
    TempDir dir;
    const std::string out = dir / "out.mp4";
    std::vector<std::string> args = {"-i", fixture("mp4")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"-y", out});
    const RunResult r = run(coreArgv(args), 60);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0) << "crashed";
    EXPECT_NE(r.exitCode, 0);
    const auto lines = splitLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    bool named = false;
    for (const auto& m : c.mention)
        named = named || lines[0].find(m) != std::string::npos;
    EXPECT_TRUE(named) << "the error does not say what is wrong: " << lines[0];
    EXPECT_FALSE(fileExists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Options, UsageError,
    ::testing::Values(
        UsageCase{"UnknownOption", {"-frobnicate", "1"}, {"frobnicate"}},
        UsageCase{"SizeWithoutHeight", {"-s", "320"}, {"-s", "320"}},
        UsageCase{"SizeNotNumbers", {"-s", "widexhigh"}, {"-s", "widexhigh"}},
        UsageCase{"SizeZero", {"-s", "0x0"}, {"-s", "0x0"}},
        UsageCase{"RateNotANumber", {"-r", "fast"}, {"-r", "fast"}},
        UsageCase{"BitrateNotANumber", {"-b", "lots"}, {"-b", "lots"}},
        UsageCase{"AudioBitrateGarbage", {"-ab", "12x"}, {"-ab", "12x"}},
        UsageCase{"SampleRateNotANumber", {"-ar", "high"}, {"-ar", "high"}},
        UsageCase{"ChannelsNotANumber", {"-ac", "stereo"}, {"-ac", "stereo"}},
        UsageCase{"StartNotATime", {"-ss", "soon"}, {"-ss", "soon"}},
        UsageCase{"LengthNotATime", {"-t", "forever"}, {"-t", "forever"}},
        UsageCase{"UnknownCodec", {"-vcodec", "theora"}, {"-vcodec", "theora"}},
        UsageCase{"UnknownTarget", {"-target", "pal-laserdisc"}, {"-target", "pal-laserdisc"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

TEST(Overwrite, ExistingOutputNeedsTheYesOption) {
    TempDir dir;
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "out.mp4";
    job.length = "1";
    writeFile(job.output, "precious");

    job.overwrite = false;
    const RunResult refused = job.run();
    EXPECT_EQ(refused.termSignal, 0);
    EXPECT_NE(refused.exitCode, 0) << describe(refused);
    EXPECT_EQ(readFile(job.output), "precious") << "existing file changed without -y";

    job.overwrite = true;
    const RunResult done = job.run();
    ASSERT_EQ(done.exitCode, 0) << describe(done);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.count("video"), 1);
}

// ---------------------------------------------------------------------------
// "-can-write" answers for this build of the FFmpeg libraries.

struct CapabilityCase {
    const char* name;
    bool (*available)();
};

void PrintTo(const CapabilityCase& c, std::ostream* os) {
    *os << c.name;
}

class CapabilityQuery : public ::testing::TestWithParam<CapabilityCase> {};

TEST_P(CapabilityQuery, AgreesWithWhatFfmpegCanWrite) {
    const CapabilityCase& c = GetParam();
    const int expected = c.available() ? 0 : 1;
    const RunResult bare = run({corePath(), "-can-write", c.name}, 30);
    EXPECT_EQ(bare.exitCode, expected) << describe(bare);
    const RunResult coded = run(coreArgv({"-can-write", c.name}), 30);
    EXPECT_EQ(coded.exitCode, expected) << "with the access code first: " << describe(coded);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CapabilityQuery,
    ::testing::Values(CapabilityCase{"wmv", [] { return hasMuxer("asf") && hasEncoder("wmv2"); }},
                      CapabilityCase{"ogm",
                                     [] {
                                         return hasMuxer("ogg") && hasEncoder("libtheora") &&
                                                (hasEncoder("libvorbis") || hasEncoder("vorbis"));
                                     }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CapabilityQuery, UnknownFormatIsNotWritable) {
    const RunResult r = run({corePath(), "-can-write", "betamax"}, 30);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_NE(r.exitCode, 0);
}

// ---------------------------------------------------------------------------
// File names reach the core as argv elements: they must work byte for byte.

TEST(FileNames, BlanksQuotesAndNonAsciiWork) {
    TempDir dir;
    const std::string folder = dir / "my films \"été\"";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    Job job;
    job.input = folder + "/l'été \"à\" 東京 clip.mp4";
    job.output = folder + "/sortie \"finale\" l'été 東京.mp4";
    copyFile(fixture("mp4"), job.input);
    job.length = "1";
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(job.output);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.count("video"), 1);
    EXPECT_EQ(p.count("audio"), 1);

    const RunResult probe = run(coreArgv({"-i", job.input}), 60);
    EXPECT_NE(probe.out.find("from '" + job.input + "':"), std::string::npos) << probe.out;
}

TEST(FileNames, RelativeNamesStartingWithDashAreFiles) {
    TempDir dir;
    copyFile(fixture("mp4"), dir / "-clip.mp4");
    Job job;
    job.input = "-clip.mp4";
    job.output = "-out.mp4";
    job.length = "1";
    const RunResult r = job.run(180, dir.path());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const ProbeInfo p = ProbeInfo::of(dir / "-out.mp4");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.count("video"), 1);
}

// ---------------------------------------------------------------------------
// Sources that cannot be read and targets that cannot be written: one
// "Error: " line, a failing exit, and no output left behind.

void expectCleanFailure(const RunResult& r, const std::string& output) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.termSignal, 0) << "crashed";
    EXPECT_NE(r.exitCode, 0) << describe(r);
    const auto errors = linesStartingWith(r.out, "Error: ");
    ASSERT_EQ(errors.size(), 1u) << r.out;
    EXPECT_GT(errors[0].size(), 8u) << "an error that says nothing";
    const auto lines = splitLines(r.out);
    EXPECT_EQ(lines.back(), errors[0]) << "the error is not the last word";
    EXPECT_FALSE(fileExists(output)) << "output left behind";
}

class BadSource : public ::testing::TestWithParam<const char*> {};

TEST_P(BadSource, FailsWithOneErrorLine) {
    TempDir dir;
    Job job;
    const std::string name = GetParam();
    job.input = name == "missing" ? dir / "no such file.mp4" : fixture(name);
    job.output = dir / "out.mp4";
    job.length = "2";
    expectCleanFailure(job.run(120), job.output);
}

INSTANTIATE_TEST_SUITE_P(Files, BadSource,
                         ::testing::Values("truncated", "garbled", "text", "document", "missing"));

// A fault inside the conversion that is nobody's input error (the core's test hook throws
// once part of the output is written): still one error line, and no broken file left.
class InternalFault : public ::testing::TestWithParam<const char*> {};

TEST_P(InternalFault, EndsWithAnErrorLineAndNoOutput) {
    TempDir dir;
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "out.mp4";
    const RunResult r = job.run(withEnv({std::string("PLEXCORE_TEST_FAULT=") + GetParam()}), 120);
    expectCleanFailure(r, job.output);
    EXPECT_EQ(r.exitCode, plexavo::contract::kExitFailed);
    EXPECT_NE(r.out.find("Error: internal error"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Thrown, InternalFault, ::testing::Values("exception", "unknown"));

TEST(BadTarget, FolderThatDoesNotExist) {
    TempDir dir;
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "no such folder/out.mp4";
    job.length = "1";
    expectCleanFailure(job.run(120), job.output);
}

TEST(BadTarget, FolderThatIsAFile) {
    TempDir dir;
    writeFile(dir / "plain", "not a folder");
    Job job;
    job.input = fixture("mp4");
    job.output = dir / "plain/out.mp4";
    job.length = "1";
    expectCleanFailure(job.run(120), job.output);
}

TEST(BadTarget, ReadOnlyFolder) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    const std::string folder = dir / "locked";
    ASSERT_EQ(mkdir(folder.c_str(), 0555), 0);
    Job job;
    job.input = fixture("mp4");
    job.output = folder + "/out.mp4";
    job.length = "1";
    expectCleanFailure(job.run(120), job.output);
}

// Cleaning up after a failure must never take a folder with it.
TEST(BadTarget, OutputNameIsAFolder) {
    TempDir dir;
    const std::string folder = dir / "out.mp4";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    writeFile(folder + "/keep.txt", "still here");
    Job job;
    job.input = fixture("mp4");
    job.output = folder;
    job.length = "1";
    const RunResult r = job.run(120);
    EXPECT_EQ(r.termSignal, 0) << "crashed";
    EXPECT_NE(r.exitCode, 0) << describe(r);
    EXPECT_EQ(linesStartingWith(r.out, "Error: ").size(), 1u) << r.out;
    EXPECT_EQ(readFile(folder + "/keep.txt"), "still here");
}
