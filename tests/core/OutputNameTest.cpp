// Output names with -claim: a finished file takes the asked name only while it is free,
// else the next numbered one, and the core says which name it wrote. Two copies of the
// program converting same-named sources into one folder must keep both results.
#include "TestSupport.h"
#include "support/Checks.h"
#include "support/Core.h"
#include "support/Fixtures.h"
#include "support/Media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace coretest;

namespace {

Job claimJob(const std::string& input, const std::string& output) {
    Job job;
    job.input = input;
    job.output = output;
    job.size = "160x120";
    job.overwrite = false;
    job.extra = {plexavo::contract::kClaimOption};
    return job;
}

std::string nameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

} // namespace

// Two cores started at the same instant on different sources of the same name, into the
// same output name: each round must give two files, each whole and each its own source's.
TEST(Claim, TwoCoresIntoOneNameKeepBothFiles) {
    TempDir dir;
    const std::string shortClip = dir / "a/clip.mp4"; // 3 s
    const std::string longClip = dir / "b/clip.mp4";  // 6 s
    ASSERT_EQ(::mkdir((dir / "a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "b").c_str(), 0755), 0);
    copyFile(fixture("mov"), shortClip);
    copyFile(fixture("six"), longClip);

    constexpr int kRounds = 20;
    int clean = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string out = dir / ("out" + std::to_string(round));
        ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
        const Job a = claimJob(shortClip, out + "/clip-cvt.mp4");
        const Job b = claimJob(longClip, out + "/clip-cvt.mp4");
        // Either may start first.
        Child first(round % 2 ? b.argv() : a.argv());
        Child second(round % 2 ? a.argv() : b.argv());
        ASSERT_TRUE(first.started() && second.started());
        ASSERT_TRUE(first.wait(120000) && second.wait(120000)) << "a core did not finish";
        first.drain(2000);
        second.drain(2000);
        ASSERT_EQ(first.exitCode(), 0) << first.out;
        ASSERT_EQ(second.exitCode(), 0) << second.out;

        const std::set<std::string> said = {writtenOutput(first.out), writtenOutput(second.out)};
        const std::set<std::string> expected = {out + "/clip-cvt.mp4", out + "/clip-cvt[1].mp4"};
        EXPECT_EQ(said, expected) << first.out << "\n" << second.out;
        bool whole = said == expected;
        std::map<std::string, double> lengthOf;
        std::multiset<long> lengths;
        for (const std::string& path : expected) {
            ASSERT_TRUE(fileExists(path)) << path;
            const std::string errors = decodeErrors(path);
            EXPECT_EQ(errors, "") << path;
            const ProbeInfo p = ProbeInfo::of(path);
            ASSERT_TRUE(p.ok) << p.error;
            lengthOf[path] = p.formatNum("duration").value_or(0);
            lengths.insert(std::lround(lengthOf[path]));
            whole = whole && errors.empty();
        }
        EXPECT_EQ(lengths, (std::multiset<long>{3, 6})) << "a file lost, doubled or cut";
        EXPECT_TRUE(partialFilesIn(out).empty());
        // The name each core reports holds its own source: the 6 s one is the long clip.
        const std::string longOut = writtenOutput(round % 2 ? first.out : second.out);
        const double longLength = lengthOf.count(longOut) ? lengthOf[longOut] : 0.0;
        EXPECT_NEAR(longLength, 6.0, 0.2) << longOut;
        clean += whole && lengths == std::multiset<long>{3, 6} && partialFilesIn(out).empty() &&
                 std::fabs(longLength - 6.0) <= 0.2;
    }
    RecordProperty("rounds_without_a_clash", clean);
    std::printf("%d of %d rounds gave two whole, distinct files\n", clean, kRounds);
}

// An existing output is no reason to stop with -claim, and is never replaced, even with -y.
TEST(Claim, ExistingFilesAreKept) {
    TempDir dir;
    const std::string output = dir / "clip-cvt.mp4";
    writeFile(output, "precious");
    writeFile(dir / "clip-cvt[1].mp4", "also precious");
    Job job = claimJob(fixture("mov"), output);
    job.overwrite = true;
    const RunResult r = job.run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(writtenOutput(r.out), dir / "clip-cvt[2].mp4");
    EXPECT_EQ(readFile(output), "precious");
    EXPECT_EQ(readFile(dir / "clip-cvt[1].mp4"), "also precious");
    EXPECT_EQ(decodeErrors(dir / "clip-cvt[2].mp4"), "");

    // An asked numbered name counts on from its own number.
    job.output = dir / "clip-cvt[1].mp4";
    const RunResult next = job.run();
    ASSERT_EQ(next.exitCode, 0) << describe(next);
    EXPECT_EQ(writtenOutput(next.out), dir / "clip-cvt[3].mp4");
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
}

// With -claim a name taken by anything but a regular file (a link to /dev/null planted there,
// a named pipe) is just taken: the file goes to the next name, and the Output line names a
// file that is there.
TEST(Claim, NamesTakenByLinksAndPipesAreSkipped) {
    TempDir dir;
    const std::string output = dir / "clip-cvt.mp4";
    ASSERT_EQ(::symlink("/dev/null", output.c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "clip-cvt[1].mp4").c_str(), 0644), 0);
    const RunResult r = claimJob(fixture("mov"), output).run();
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(writtenOutput(r.out), dir / "clip-cvt[2].mp4");
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "clip-cvt[2].mp4").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_GT(st.st_size, 1000);
    EXPECT_EQ(decodeErrors(dir / "clip-cvt[2].mp4"), "");
    ASSERT_EQ(::lstat(output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the planted link was replaced";
}

// A source name of 250 bytes plus the program's "-cvt" no longer fits a folder's 255-byte
// names: -claim shortens the name (at a character boundary), twice gives the numbered one,
// and without -claim the run fails at once, before any work.
TEST(Claim, NamesLongerThanTheFolderAllowsAreShortened) {
    TempDir dir;
    const std::string pieces[] = {"Été ", "東京 ", "clip-", "😀"};
    std::string title;
    for (int i = 0; title.size() < 250; ++i)
        title += pieces[i % 4];
    title = title.substr(0, 250);
    while (!testing_support::isWellFormedUtf8(title))
        title.pop_back();
    title += std::string(250 - title.size(), 'x');
    ASSERT_EQ(title.size(), 250u);
    const std::string source = dir / (title + ".mp4");
    copyFile(fixture("mov"), source);
    const std::size_t nameMax =
        static_cast<std::size_t>(::pathconf(dir.path().c_str(), _PC_NAME_MAX));
    const std::string output = dir / (title + "-cvt.mp4");
    ASSERT_GT(nameOf(output).size(), nameMax) << "this test needs a name over the limit";

    Job exact = claimJob(source, output);
    exact.extra.clear();
    const RunResult refused = exact.run();
    EXPECT_EQ(refused.exitCode, plexavo::contract::kExitFailed) << describe(refused);
    EXPECT_EQ(linesStartingWith(refused.out, "Error: ").size(), 1u) << refused.out;
    EXPECT_TRUE(linesStartingWith(refused.out, "frame=").empty()) << "converted before failing";

    std::vector<std::string> written;
    for (int run = 0; run < 2; ++run) {
        const RunResult r = claimJob(source, output).run();
        ASSERT_EQ(r.exitCode, 0) << describe(r);
        written.push_back(writtenOutput(r.out));
    }
    ASSERT_NE(written[0], written[1]);
    for (const std::string& path : written) {
        const std::string name = nameOf(path);
        EXPECT_LE(name.size(), nameMax) << name;
        EXPECT_TRUE(testing_support::isWellFormedUtf8(name)) << "a character cut in two: " << name;
        EXPECT_EQ(name.compare(0, 200, title, 0, 200), 0) << "not the source's name: " << name;
        ASSERT_TRUE(fileExists(path));
        EXPECT_EQ(decodeErrors(path), "");
    }
    EXPECT_EQ(nameOf(written[1]).substr(nameOf(written[1]).size() - 7), "[1].mp4");
    EXPECT_TRUE(partialFilesIn(dir.path()).empty());
}
