// The list kept on disk: every field through a write and a read, names that
// are not UTF-8, damaged files, and which copy's list a start may offer
// (its own never, a running copy's never, a dead copy's once more after a No).
#include "engine/media/ListState.h"

#include "TestSupport.h"

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace plexavo;
using namespace plexavo::media;
using namespace plexavo::platform;
using namespace plexavo::settings;
using namespace testing_support;

namespace {

SourceItem fullRow(const std::string& path) {
    SourceItem item;
    item.path = path;
    item.extension = "mkv";
    item.title = "clip one";
    item.bitsPerSample = 16;
    item.sampleRate = 48000;
    item.channels = 2;
    item.durationSeconds = 61;
    item.report.durationSeconds = 61.48;
    item.formatTag = 85;
    item.averageBytesPerSecond = 16000;
    item.blockAlign = 4;
    item.durationText = "00:01:01";
    item.bitrateText = "1200 kb/s";
    item.videoDescription = " h264, yuv420p, 1280x720, 25 fps";
    item.audioDescription = " aac, 48000 Hz, stereo";
    item.startSeconds = 3;
    item.endSeconds = 59;
    item.outputFolder = "/out/films/";
    item.outputName = "clip one-cvt[2]";
    item.outputExtension = "mp4";
    item.status = kStatusSkip;
    item.converted = true;
    item.keptSeconds = 31.25;
    item.keptOfSeconds = 56.5;
    return item;
}

SavedList sampleList() {
    SavedList list;
    ConversionSettings& s = list.settings;
    s.targetFormat = kTargetH264;
    s.tvStandard = kTvPal;
    s.sizeChoice = 6;
    s.width = "640";
    s.height = "272";
    s.frameRateChoice = 2;
    s.videoBitRateChoice = 5;
    s.variableBitRate = true;
    s.maxRate = "900";
    s.minRate = "200";
    s.channelsChoice = 1;
    s.audioBitRateChoice = 3;
    s.sampleRateChoice = 2;
    s.volumeChoice = 4;
    s.outputPath = "/home/me/Converted 100%/";
    list.rows.push_back(fullRow("/media/clip one.mkv"));
    list.rows.push_back(fullRow("/media/caf\xE9 \n%41.avi")); // Latin-1 bytes, a line feed, a %
    list.declined = 1;
    return list;
}

void expectSameRow(const SourceItem& a, const SourceItem& b) {
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.extension, b.extension);
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.bitsPerSample, b.bitsPerSample);
    EXPECT_EQ(a.sampleRate, b.sampleRate);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_EQ(a.durationSeconds, b.durationSeconds);
    EXPECT_EQ(a.report.durationSeconds, b.report.durationSeconds);
    EXPECT_EQ(a.formatTag, b.formatTag);
    EXPECT_EQ(a.averageBytesPerSecond, b.averageBytesPerSecond);
    EXPECT_EQ(a.blockAlign, b.blockAlign);
    EXPECT_EQ(a.durationText, b.durationText);
    EXPECT_EQ(a.bitrateText, b.bitrateText);
    EXPECT_EQ(a.videoDescription, b.videoDescription) << "the leading blank is kept";
    EXPECT_EQ(a.audioDescription, b.audioDescription);
    EXPECT_EQ(a.startSeconds, b.startSeconds);
    EXPECT_EQ(a.endSeconds, b.endSeconds);
    EXPECT_EQ(a.outputFolder, b.outputFolder);
    EXPECT_EQ(a.outputName, b.outputName);
    EXPECT_EQ(a.outputExtension, b.outputExtension);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.converted, b.converted);
    EXPECT_DOUBLE_EQ(a.keptSeconds, b.keptSeconds);
    EXPECT_DOUBLE_EQ(a.keptOfSeconds, b.keptOfSeconds);
}

// A state folder of the test's own.
struct StateHome {
    TempDir dir;
    EnvGuard env{"XDG_STATE_HOME", dir.path()};
    std::string lists() const { return dir / "plexavo/lists"; }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(lists()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace

TEST(ListState, EveryFieldOfTheSettingsAndTheRowsComesBack) {
    const SavedList list = sampleList();
    const auto back = parseListState(listStateText(list));
    ASSERT_TRUE(back);
    const ConversionSettings& a = list.settings;
    const ConversionSettings& b = back->settings;
    EXPECT_EQ(a.targetFormat, b.targetFormat);
    EXPECT_EQ(a.tvStandard, b.tvStandard);
    EXPECT_EQ(a.sizeChoice, b.sizeChoice);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.frameRateChoice, b.frameRateChoice);
    EXPECT_EQ(a.videoBitRateChoice, b.videoBitRateChoice);
    EXPECT_EQ(a.variableBitRate, b.variableBitRate);
    EXPECT_EQ(a.maxRate, b.maxRate);
    EXPECT_EQ(a.minRate, b.minRate);
    EXPECT_EQ(a.channelsChoice, b.channelsChoice);
    EXPECT_EQ(a.audioBitRateChoice, b.audioBitRateChoice);
    EXPECT_EQ(a.sampleRateChoice, b.sampleRateChoice);
    EXPECT_EQ(a.volumeChoice, b.volumeChoice);
    EXPECT_EQ(a.outputPath, b.outputPath);
    EXPECT_EQ(back->declined, 1);
    EXPECT_FALSE(back->finished);
    ASSERT_EQ(back->rows.size(), 2u);
    expectSameRow(list.rows[0], back->rows[0]);
    expectSameRow(list.rows[1], back->rows[1]);
}

TEST(ListState, NamesOfAnyBytesAreKeptWholeAndTheFileStaysText) {
    const std::string odd = "caf\xE9 \n\t%41 \xE5\xA4\x8F.avi";
    EXPECT_EQ(unescapeBytes(escapeBytes(odd)), odd);
    const std::string text = escapeBytes(odd);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\xE9'), std::string::npos) << "a byte that is not UTF-8 is escaped";
    // A name that is UTF-8 stays readable; its % is escaped so that "%41" stays "%41".
    EXPECT_EQ(escapeBytes("\xE5\xA4\x8F %41"), "\xE5\xA4\x8F %2541");
    EXPECT_EQ(unescapeBytes("%4"), "%4") << "a cut escape is taken as it stands";
}

TEST(ListState, ADamagedTextIsNoList) {
    const std::string good = listStateText(sampleList());
    EXPECT_FALSE(parseListState("")) << "empty";
    EXPECT_FALSE(parseListState("garbage\x01\x02 [[["));
    EXPECT_FALSE(parseListState(good.substr(0, good.find("[Row 1]")))) << "a row missing";
    std::string otherVersion = good;
    otherVersion.replace(otherVersion.find("Version=1"), 9, "Version=9");
    EXPECT_FALSE(parseListState(otherVersion));
    // A status out of range is no crash: the row is Ready.
    std::string wild = good;
    wild.replace(wild.find("Status=3"), 8, "Status=77");
    const auto list = parseListState(wild);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->rows[0].status, kStatusReady);
}

TEST(ListStateFiles, OwnListAndARunningCopysListAreNeverOffered) {
    StateHome home;
    ListStateFile first;
    ListStateFile second; // a second copy of the program, running at once
    ASSERT_TRUE(first.usable());
    ASSERT_TRUE(second.usable());
    ASSERT_NE(first.path(), second.path());
    EXPECT_EQ(first.save(sampleList()), 0);
    EXPECT_EQ(second.save(SavedList{}), 0);
    EXPECT_EQ(findLeftList(first.path()), nullptr) << "the other copy still runs";
    EXPECT_EQ(findLeftList(second.path()), nullptr);
    // Each copy's file holds its own list.
    EXPECT_EQ(parseListState(readFile(first.path()))->rows.size(), 2u);
    EXPECT_EQ(parseListState(readFile(second.path()))->rows.size(), 0u);
}

TEST(ListStateFiles, AFinishedListIsNotOfferedAndGoes) {
    StateHome home;
    std::string path;
    {
        ListStateFile copy;
        copy.save(sampleList());
        copy.markFinished();
        path = copy.path();
    }
    ListStateFile next;
    EXPECT_EQ(findLeftList(next.path()), nullptr);
    EXPECT_FALSE(testing_support::fileExists(path))
        << "a finished list of an ended copy is cleared away";
}

TEST(ListStateFiles, AnUnfinishedListIsOfferedOnceMoreAfterANo) {
    StateHome home;
    std::string path;
    {
        ListStateFile copy; // ends without a normal exit
        SavedList list = sampleList();
        list.declined = 0;
        copy.save(list);
        path = copy.path();
    }
    {
        ListStateFile next;
        auto left = findLeftList(next.path());
        ASSERT_TRUE(left);
        EXPECT_EQ(left->path(), path);
        EXPECT_EQ(left->list().rows.size(), 2u);
        // A third copy starting now does not offer it too: the second holds it.
        ListStateFile third;
        EXPECT_EQ(findLeftList(third.path()), nullptr);
        left->decline();
    }
    {
        ListStateFile next;
        auto left = findLeftList(next.path());
        ASSERT_TRUE(left) << "a hasty No loses nothing";
        EXPECT_EQ(left->list().declined, 1);
        left->decline();
    }
    ListStateFile last;
    EXPECT_EQ(findLeftList(last.path()), nullptr) << "the second No lets it go";
    EXPECT_FALSE(testing_support::fileExists(path));
}

TEST(ListStateFiles, TakenOverTheOldFileGoes) {
    StateHome home;
    std::string path;
    {
        ListStateFile copy;
        copy.save(sampleList());
        path = copy.path();
    }
    ListStateFile next;
    auto left = findLeftList(next.path());
    ASSERT_TRUE(left);
    left->takeOver();
    left.reset();
    EXPECT_FALSE(testing_support::fileExists(path));
    EXPECT_EQ(findLeftList(next.path()), nullptr);
}

TEST(ListStateFiles, ADamagedFileIsKeptAsideAndTheStartIsNormal) {
    StateHome home;
    ListStateFile own;
    const std::string damaged = home.lists() + "/123-456.list";
    writeFile(damaged, "[List]\nVersion=1\nRows=3\n\x01 not a keyfile");
    EXPECT_EQ(findLeftList(own.path()), nullptr);
    EXPECT_FALSE(testing_support::fileExists(damaged));
    EXPECT_EQ(readFile(damaged + ".damaged"), "[List]\nVersion=1\nRows=3\n\x01 not a keyfile");
    // Once aside, it is not looked at again.
    EXPECT_EQ(findLeftList(own.path()), nullptr);
    EXPECT_TRUE(testing_support::fileExists(damaged + ".damaged"));
}

TEST(ListStateFiles, AKilledCopysListIsFoundByTheNextStart) {
    StateHome home;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ListStateFile copy;
        copy.save(sampleList());
        (void)!write(ready[1], "x", 1);
        pause(); // runs until killed, its list never finished
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ListStateFile next;
    EXPECT_EQ(findLeftList(next.path()), nullptr) << "that copy still runs";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    auto left = findLeftList(next.path());
    ASSERT_TRUE(left);
    EXPECT_EQ(left->list().rows.size(), 2u);
    close(ready[0]);
    close(ready[1]);
}

// A copy with nothing in its list (ended by a signal, say) writes no list;
// its lock file must not stay behind either, one more for every such start.
TEST(ListStateFiles, ACopyThatNeverWroteAListLeavesNoFile) {
    StateHome home;
    { ListStateFile copy; }
    EXPECT_TRUE(home.files().empty());
    {
        ListStateFile copy;
        copy.save(sampleList());
    }
    EXPECT_EQ(home.files().size(), 2u) << "a written list is kept with its lock";
}

// Killed before it wrote its list, a copy leaves its lock file: the next
// start clears it once it is old enough not to be a copy starting now, and
// never one a running copy holds.
TEST(ListStateFiles, LocksOfCopiesKilledBeforeTheirListAreClearedAway) {
    StateHome home;
    ListStateFile own;
    ListStateFile running; // another copy, nothing in its list yet
    const auto age = [](const std::string& path, int seconds) {
        timespec times[2]{};
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= seconds;
        times[1] = times[0];
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    const std::string runningLock = running.path().substr(0, running.path().size() - 5) + ".lock";
    age(runningLock, 3600);
    const std::string dead = home.lists() + "/4242-1.lock";
    writeFile(dead, "");
    age(dead, 120);
    const std::string starting = home.lists() + "/4243-2.lock";
    writeFile(starting, "");
    const std::string stranger = home.lists() + "/notes.txt";
    writeFile(stranger, "mine");
    age(stranger, 3600);

    EXPECT_EQ(findLeftList(own.path()), nullptr);
    EXPECT_FALSE(testing_support::fileExists(dead));
    EXPECT_TRUE(testing_support::fileExists(starting)) << "may be a copy starting this instant";
    EXPECT_TRUE(testing_support::fileExists(runningLock)) << "its copy still runs";
    EXPECT_EQ(readFile(stranger), "mine");
}

TEST(ListStateFiles, WithoutAStateFolderNothingIsKeptAndNothingBreaks) {
    TempDir dir;
    writeFile(dir / "file", "x");
    EnvGuard env("XDG_STATE_HOME", dir / "file"); // a file where the folder belongs
    ListStateFile copy;
    EXPECT_FALSE(copy.usable());
    EXPECT_NE(copy.save(sampleList()), 0);
    EXPECT_EQ(findLeftList(copy.path()), nullptr);
}
