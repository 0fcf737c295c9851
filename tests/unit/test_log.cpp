#include "engine/platform/DebugLog.h"

#include "TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <sys/wait.h>
#include <thread>

using namespace testing_support;

using plexavo::platform::logFormatted;
using plexavo::platform::writeLog;

namespace {

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plexavo::platform::setLogPath(m_dir / "debug.log")); }
    void TearDown() override { plexavo::platform::setLogPath(""); }
    std::string logText() const { return readFile(m_dir / "debug.log"); }
    std::string logPath() const { return m_dir / "debug.log"; }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::stringstream ss(logText());
        for (std::string line; std::getline(ss, line);)
            out.push_back(line);
        return out;
    }

    TempDir m_dir;
};

// Two writers' lines: each must come out whole, never mixed with another.
void expectWholeLines(const std::vector<std::string>& lines, std::size_t expected,
                      std::size_t width) {
    ASSERT_EQ(lines.size(), expected);
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), width) << line.substr(0, 40);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos)
            << "mixed line: " << line.substr(0, 40);
    }
}

} // namespace

TEST_F(LogTest, LongMessagesAreCutAndEachEndsWithALineBreak) {
    const std::string huge(9000, 'x');
    writeLog("%s", huge.c_str());
    writeLog("load %d/%d:%s", 1, 3, "/m/a b.avi");
    EXPECT_EQ(logText(), std::string(8191, 'x') + "\nload 1/3:/m/a b.avi\n");
}

TEST_F(LogTest, MarkedMessagesAreTimeStampedWithoutALineBreak) {
    writeLog("#FILE_LINE#first part");
    writeLog("#FILE_LINE#second line\n");
    writeLog("plain");
    const std::regex shape(
        R"(^\d\d:\d\d:\d\d \(-?\d+\): first part\d\d:\d\d:\d\d \(-?\d+\): second line\nplain\n$)");
    EXPECT_TRUE(std::regex_match(logText(), shape)) << logText();
}

TEST_F(LogTest, NothingIsWrittenWithoutAPath) {
    plexavo::platform::setLogPath("");
    writeLog("dropped");
    EXPECT_FALSE(fileExists(logPath()));
    EXPECT_FALSE(plexavo::platform::setLogPath(std::string(PATH_MAX, 'p')))
        << "a path beyond the buffer is refused";
    plexavo::platform::setLogPath(m_dir / "missing-folder/debug.log");
    writeLog("dropped silently"); // the file cannot be opened
}

TEST_F(LogTest, TwoThreadsWriteWholeLines) {
    constexpr int kLines = 400;
    auto writer = [](char c) {
        const std::string text(3000, c);
        for (int i = 0; i < kLines; ++i)
            writeLog("%s", text.c_str());
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    expectWholeLines(lines(), 2 * kLines, 3000);
}

TEST_F(LogTest, TwoProcessesWriteWholeLines) {
    constexpr int kLines = 300;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    const std::string text(5000, pid == 0 ? 'c' : 'p');
    for (int i = 0; i < kLines; ++i)
        writeLog("%s", text.c_str());
    if (pid == 0)
        _exit(0);
    int status = 0;
    waitpid(pid, &status, 0);
    expectWholeLines(lines(), 2 * kLines, 5000);
}

TEST_F(LogTest, FormattedMessagesHaveNoFloatingPointAndACutAt515) {
    const std::string longText(600, 'y');
    logFormatted("%s", longText.c_str());
    logFormatted("Failed in StopWhenReady!  hr=0x%x at %f%%, %d", 0x80004005u, 7);
    EXPECT_EQ(logText(),
              std::string(515, 'y') + "\nFailed in StopWhenReady!  hr=0x80004005 at %f%, 7\n");
}

// The path may change (from the window) while workers log: each message
// goes whole to the path in force when it is written, and nothing races
// (the sanitizer build checks the latter).
TEST_F(LogTest, ThePathChangesSafelyWhileOthersWrite) {
    constexpr int kLines = 300;
    const std::string other = m_dir / "other.log";
    std::atomic<bool> done{false};
    std::thread writer([] {
        const std::string text(200, 'w');
        for (int i = 0; i < kLines; ++i)
            writeLog("%s", text.c_str());
    });
    std::thread switcher([&] {
        for (int i = 0; !done; ++i) {
            plexavo::platform::setLogPath(i % 2 ? logPath() : other);
            std::this_thread::yield();
        }
    });
    writer.join();
    done = true;
    switcher.join();
    plexavo::platform::setLogPath(logPath());
    EXPECT_EQ(plexavo::platform::logPath(), logPath());

    std::vector<std::string> all = lines();
    std::stringstream ss(readFile(other));
    for (std::string line; std::getline(ss, line);)
        all.push_back(line);
    expectWholeLines(all, kLines, 200);
}
