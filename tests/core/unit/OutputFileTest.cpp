// Output names and the partial file: the naming rules on plain strings, then the claim and
// the clean-up on real files in a temporary folder.
#include "OutputFile.h"
#include "FFmpeg.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace plexavo::core;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t partialsIn(const std::string& folder) {
    const auto names = namesIn(folder);
    return static_cast<std::size_t>(std::count_if(names.begin(), names.end(), isPartialName));
}

std::size_t nameMaxOf(const std::string& folder) {
    return static_cast<std::size_t>(::pathconf(folder.c_str(), _PC_NAME_MAX));
}

// The program names outputs "<title>-cvt.<ext>"; this title is 250 bytes of mixed 1-, 2-,
// 3- and 4-byte characters, so cuts at any length may fall inside one.
std::string longTitle() {
    const std::string pieces[] = {"a", "é", "東", "😀", "-", "ñ"};
    std::string t;
    for (int i = 0; t.size() < 250; ++i) {
        const std::string& p = pieces[i % 6];
        if (t.size() + p.size() > 250)
            t += std::string(250 - t.size(), 'z');
        else
            t += p;
    }
    return t;
}

} // namespace

// ---------------------------------------------------------------------------
// Names

TEST(OutputNames, SplitIntoBaseCounterAndExtension) {
    struct Case {
        const char* name;
        const char* base;
        unsigned counter;
        const char* ext;
    };
    const Case cases[] = {
        {"clip-cvt.mp4", "clip-cvt", 0, ".mp4"},
        {"clip-cvt[1].mp4", "clip-cvt", 1, ".mp4"},
        {"clip-cvt[1000].mov", "clip-cvt", 1000, ".mov"},
        {"clip[2][3].mp4", "clip[2]", 3, ".mp4"}, // only the last bracket counts
        {"clip[0].mp4", "clip[0]", 0, ".mp4"},    // not a number this core writes
        {"clip[07].mp4", "clip[07]", 0, ".mp4"},
        {"clip[x].mp4", "clip[x]", 0, ".mp4"},
        {"clip[].mp4", "clip[]", 0, ".mp4"},
        {"clip[12345678901].mp4", "clip[12345678901]", 0, ".mp4"}, // too long to be a counter
        {"clip-cvt[4]", "clip-cvt", 4, ""},
        {"a.tar.gz", "a.tar", 0, ".gz"},
        {".mp4", ".mp4", 0, ""}, // a hidden file's name is all base
        {"[5].mp4", "", 5, ".mp4"},
        {"noext", "noext", 0, ""},
    };
    for (const Case& c : cases) {
        const NameParts p = splitName(c.name);
        EXPECT_EQ(p.base, c.base) << c.name;
        EXPECT_EQ(p.counter, c.counter) << c.name;
        EXPECT_EQ(p.ext, c.ext) << c.name;
    }
}

TEST(OutputNames, Utf8CutsNeverSplitACharacter) {
    const std::string text = longTitle();
    ASSERT_TRUE(testing_support::isWellFormedUtf8(text));
    for (std::size_t max = 0; max <= text.size() + 1; ++max) {
        const std::string cut = cutUtf8(text, max);
        ASSERT_LE(cut.size(), max);
        ASSERT_EQ(text.compare(0, cut.size(), cut), 0) << "not a start of the text, max " << max;
        ASSERT_TRUE(testing_support::isWellFormedUtf8(cut)) << "a character cut at max " << max;
        // Nothing more was dropped than the character the limit falls into.
        ASSERT_GT(cut.size() + 4, std::min(max, text.size())) << "cut too short at max " << max;
    }
    // Latin-1 bytes are not UTF-8: the cut stays a plain byte cut instead of eating them.
    const std::string latin1 = "caf\xe9\xa9\xa9\xa9\xa9";
    EXPECT_EQ(cutUtf8(latin1, 7), latin1.substr(0, 7));
    EXPECT_EQ(cutUtf8("abc", 0), "");
}

TEST(OutputNames, NumberedNamesFitTheFolderLimit) {
    const NameParts clip = splitName("clip-cvt.mp4");
    EXPECT_EQ(numberedName(clip, 0, 255), "clip-cvt.mp4");
    EXPECT_EQ(numberedName(clip, 1, 255), "clip-cvt[1].mp4");
    EXPECT_EQ(numberedName(splitName("clip-cvt[1].mp4"), 2, 255), "clip-cvt[2].mp4");
    // A tight limit shortens the base, never the counter or the extension.
    EXPECT_EQ(numberedName(clip, 12, 10), "cl[12].mp4");
    EXPECT_EQ(numberedName(clip, 1, 8), "c[1].mp4");
    EXPECT_EQ(numberedName(clip, 1, 7), "") << "no room for a base at all";

    const NameParts longOne = splitName(longTitle() + "-cvt.mp4");
    for (unsigned n : {0u, 1u, 9u, 10u, 999u, 1000u}) {
        const std::string name = numberedName(longOne, n, 255);
        EXPECT_LE(name.size(), 255u) << n;
        EXPECT_GE(name.size(), 252u) << "shortened more than a character needs: " << n;
        EXPECT_TRUE(testing_support::isWellFormedUtf8(name)) << n;
        const std::string tail = (n ? "[" + std::to_string(n) + "]" : "") + ".mp4";
        EXPECT_EQ(name.substr(name.size() - tail.size()), tail);
        EXPECT_EQ(longOne.base.compare(0, name.size() - tail.size(),
                                       name.substr(0, name.size() - tail.size())),
                  0)
            << "the base is not a start of the asked one";
    }
}

TEST(OutputNames, PartialNamesAreRecognisedExactly) {
    const std::string made = partialName("clip-cvt.mp4", "Ab3xY9", 255);
    EXPECT_EQ(made, "clip-cvt.partial-Ab3xY9");
    EXPECT_TRUE(isPartialName(made));
    const std::string longMade = partialName(longTitle() + "-cvt.mp4", "Ab3xY9", 255);
    EXPECT_LE(longMade.size(), 255u);
    EXPECT_TRUE(testing_support::isWellFormedUtf8(longMade));
    EXPECT_TRUE(isPartialName(longMade));
    EXPECT_LE(partialName(longTitle(), "Ab3xY9", 143).size(), 143u) << "eCryptfs-like limit";

    for (const char* other : {"clip.partial-Ab3xY", "clip.partial-Ab3xY9Z", "clip.partial-Ab3-Y9",
                              "clip.partial_Ab3xY9", "clip.mp4", "clip-cvt[1].mp4",
                              ".partial-Ab3xY", "clip.partial-Ab3xY9.mp4"})
        EXPECT_FALSE(isPartialName(other)) << other;
    EXPECT_TRUE(isPartialName(".partial-Ab3xY9"));
}

// ---------------------------------------------------------------------------
// Files

// Many finished files claiming one name at the same instant: each gets its own name, none
// is lost or replaced, and no partial file stays.
TEST(PartialFiles, SimultaneousClaimsGetDistinctNames) {
    TempDir dir;
    const std::string output = dir / "clip-cvt.mp4";
    constexpr int kWriters = 8;
    std::barrier start(kWriters);
    std::vector<std::string> written(kWriters);
    std::vector<std::string> failures(kWriters);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWriters; ++i)
        threads.emplace_back([&, i] {
            try {
                PartialFile partial(output, NameRule::Claim);
                writeFile(partial.path(), "writer " + std::to_string(i));
                start.arrive_and_wait();
                written[i] = partial.claim();
            } catch (const std::exception& e) {
                failures[i] = e.what();
            }
        });
    for (auto& t : threads)
        t.join();

    std::set<std::string> names;
    for (int i = 0; i < kWriters; ++i) {
        ASSERT_EQ(failures[i], "") << "writer " << i;
        EXPECT_EQ(readFile(written[i]), "writer " + std::to_string(i)) << written[i];
        names.insert(written[i]);
    }
    std::set<std::string> expected = {output};
    for (int k = 1; k < kWriters; ++k)
        expected.insert(dir / ("clip-cvt[" + std::to_string(k) + "].mp4"));
    EXPECT_EQ(names, expected);
    EXPECT_EQ(partialsIn(dir.path()), 0u);
}

TEST(PartialFiles, EachRuleNamesTheFinishedFile) {
    TempDir dir;
    const std::string output = dir / "out.mp4";
    writeFile(output, "precious");

    { // No -y: a name that appeared meanwhile is refused, not replaced.
        PartialFile partial(output, NameRule::Exact);
        writeFile(partial.path(), "new");
        EXPECT_THROW(partial.claim(), Failure);
    }
    EXPECT_EQ(readFile(output), "precious");
    EXPECT_EQ(partialsIn(dir.path()), 0u) << "a refused partial file stays";

    { // -claim: the next number, the existing file untouched.
        PartialFile partial(output, NameRule::Claim);
        writeFile(partial.path(), "claimed");
        EXPECT_EQ(partial.claim(), dir / "out[1].mp4");
    }
    EXPECT_EQ(readFile(output), "precious");
    EXPECT_EQ(readFile(dir / "out[1].mp4"), "claimed");

    { // -y: replaced by the finished file.
        PartialFile partial(output, NameRule::Replace);
        writeFile(partial.path(), "replaced");
        EXPECT_EQ(partial.claim(), output);
    }
    EXPECT_EQ(readFile(output), "replaced");

    { // A free name under the default rule.
        PartialFile partial(dir / "fresh.mp4", NameRule::Exact);
        writeFile(partial.path(), "fresh");
        EXPECT_EQ(partial.claim(), dir / "fresh.mp4");
    }
    EXPECT_EQ(readFile(dir / "fresh.mp4"), "fresh");

    { // Never claimed (a failed run): nothing stays.
        PartialFile partial(dir / "failed.mp4", NameRule::Claim);
        writeFile(partial.path(), "half");
        EXPECT_TRUE(fileExists(partial.path()));
    }
    EXPECT_FALSE(fileExists(dir / "failed.mp4"));
    EXPECT_EQ(partialsIn(dir.path()), 0u);
}

TEST(PartialFiles, NamesLongerThanTheFolderAllows) {
    TempDir dir;
    const std::size_t max = nameMaxOf(dir.path());
    const std::string output = dir / (longTitle() + "-cvt.mp4");
    ASSERT_GT(longTitle().size() + 8, max) << "this test needs a name over the limit";

    EXPECT_THROW(PartialFile(output, NameRule::Exact), Failure) << "the asked name cannot exist";
    EXPECT_THROW(PartialFile(output, NameRule::Replace), Failure);

    std::vector<std::string> names;
    for (int i = 0; i < 2; ++i) {
        PartialFile partial(output, NameRule::Claim);
        EXPECT_LE(partial.path().size() - dir.path().size() - 1, max);
        writeFile(partial.path(), "run " + std::to_string(i));
        names.push_back(partial.claim());
    }
    for (const std::string& path : names) {
        const std::string name = path.substr(dir.path().size() + 1);
        EXPECT_LE(name.size(), max);
        EXPECT_TRUE(testing_support::isWellFormedUtf8(name)) << name;
        EXPECT_TRUE(fileExists(path));
    }
    EXPECT_EQ(names[1].substr(names[1].size() - 7), "[1].mp4");
    EXPECT_EQ(readFile(names[1]), "run 1");
}

TEST(PartialFiles, FolderThatCannotTakeTheFile) {
    TempDir dir;
    EXPECT_THROW(PartialFile(dir / "missing/out.mp4", NameRule::Claim), Failure);
    writeFile(dir / "plain", "a file");
    EXPECT_THROW(PartialFile(dir / "plain/out.mp4", NameRule::Claim), Failure);
    EXPECT_THROW(PartialFile(dir.path() + "/", NameRule::Claim), Failure);
}

namespace {

// A partial file as a killed core leaves it: made in a child process that ends without
// running a destructor, so its lock goes and its note stays.
std::string leftByAKilledCore(const std::string& output) {
    int link[2];
    if (::pipe(link) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(link[0]);
        PartialFile file(output, NameRule::Claim);
        const std::string& path = file.path();
        (void)!::write(link[1], path.data(), path.size());
        ::_exit(0);
    }
    ::close(link[1]);
    std::string path;
    char buf[4096];
    for (ssize_t n; (n = ::read(link[0], buf, sizeof buf)) > 0;)
        path.append(buf, static_cast<std::size_t>(n));
    ::close(link[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return path;
}

std::size_t notesIn(const std::string& stateHome) {
    const std::string folder = stateHome + "/plexavo/partials";
    return fileExists(folder) ? namesIn(folder).size() : 0;
}

} // namespace

// The clean-up takes a partial file only when a core of this user noted it, no process holds
// it and it is not the input; every other file stays, whatever its name.
TEST(PartialFiles, CleanUpRemovesOnlyTheCoresOwnLeftovers) {
    TempDir dir, state;
    testing_support::EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string stale = leftByAKilledCore(dir / "old.mp4");
    ASSERT_FALSE(stale.empty());
    ASSERT_TRUE(fileExists(stale));
    EXPECT_EQ(notesIn(state.path()), 1u);

    // Files of the user's that only look like partial files, one of them the very source.
    for (const char* name :
         {"notes.partial-abc123", "holiday.partial-Zz9Qq1", "clip.partial-ABCDE", "clip.mp4"})
        writeFile(dir / name, "the user's own");
    ASSERT_EQ(::mkdir((dir / "folder.partial-CCCCCC").c_str(), 0755), 0);
    writeFile(dir / "target.mp4", "a link points here");
    ASSERT_EQ(::symlink("target.mp4", (dir / "link.partial-DDDDDD").c_str()), 0);

    PartialFile mine(dir / "new.mp4", NameRule::Claim); // live in this very process
    EXPECT_EQ(notesIn(state.path()), 2u);
    removeStalePartials(dir / "new.mp4", dir / "holiday.partial-Zz9Qq1");

    EXPECT_FALSE(fileExists(stale)) << "a killed core's partial file stayed";
    EXPECT_TRUE(fileExists(mine.path())) << "removed a partial file a live core holds";
    EXPECT_EQ(notesIn(state.path()), 1u) << "the removed file's note stayed";
    for (const char* name :
         {"notes.partial-abc123", "holiday.partial-Zz9Qq1", "clip.partial-ABCDE", "clip.mp4"})
        EXPECT_EQ(readFile(dir / name), "the user's own") << name;
    EXPECT_TRUE(fileExists(dir / "folder.partial-CCCCCC"));
    EXPECT_EQ(readFile(dir / "target.mp4"), "a link points here");
    removeStalePartials(dir / "no such folder/x.mp4", ""); // nothing to do, and no throw
}

// A noted leftover is still not taken when its name now holds another file (the user moved
// it and put something else there), when it is the source being converted, or when there is
// no notes folder to prove anything.
TEST(PartialFiles, CleanUpLeavesWhatItCannotProveIsItsOwn) {
    TempDir dir, state;
    testing_support::EnvGuard stateHome("XDG_STATE_HOME", state.path());
    const std::string replaced = leftByAKilledCore(dir / "a.mp4");
    const std::string source = leftByAKilledCore(dir / "b.mp4");
    ASSERT_TRUE(fileExists(replaced) && fileExists(source));
    ASSERT_EQ(::unlink(replaced.c_str()), 0);
    writeFile(replaced, "a new file under the old name");
    writeFile(source, "chosen as the source");

    removeStalePartials(dir / "out.mp4", source);
    EXPECT_EQ(readFile(replaced), "a new file under the old name");
    EXPECT_EQ(readFile(source), "chosen as the source");
    EXPECT_EQ(notesIn(state.path()), 1u) << "the note of the replaced file should go, the "
                                            "source's stay";

    // Another folder's leftover is that folder's business.
    TempDir other;
    removeStalePartials(other / "out.mp4", "");
    EXPECT_TRUE(fileExists(source));

    // No notes folder can be made (its place is a file): nothing is provably ours.
    removeStalePartials(dir / "out.mp4", "");
    ASSERT_FALSE(fileExists(source)) << "the source's leftover, no longer the source, goes";
    const std::string kept = leftByAKilledCore(dir / "c.mp4");
    writeFile(state / "blocked", "not a folder");
    stateHome.set(state / "blocked");
    EXPECT_EQ(partialNotesFolder(), "");
    removeStalePartials(dir / "out.mp4", "");
    EXPECT_TRUE(fileExists(kept));
}
