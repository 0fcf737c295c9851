#include "platform/ChildProcess.h"

#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <thread>

using plexavo::CChildProcess;
using namespace testing_support;

namespace {

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                ++count;
        closedir(dir);
    }
    return count - 1; // the listing's own
}

std::string readToEnd(int fd) {
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return text;
}

void startScripted(CChildProcess& child, std::vector<std::string> steps) {
    child.arguments = {SCRIPTED_CHILD_PATH};
    child.arguments.insert(child.arguments.end(), steps.begin(), steps.end());
    child.flags = CChildProcess::PipeStdout;
    ASSERT_EQ(child.start(), 0);
}

// A zombie still answers kill(pid, 0); a reaped child does not.
bool processGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

} // namespace

TEST(ChildProcess, OutputAndErrorArriveInOnePipeThatEndsWithTheChild) {
    CChildProcess child;
    startScripted(child, {"w:out ", "e:err ", "w:done", "x:0"});
    EXPECT_EQ(readToEnd(child.stdoutRead), "out err done");
    EXPECT_TRUE(child.waitForExit(5000));
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(child.terminate(), -1) << "an exited child cannot be terminated";
    child.close();
    EXPECT_EQ(child.stdoutRead, -1);
    EXPECT_EQ(child.processId, 0);
}

TEST(ChildProcess, MissingProgramFailsAndLeavesNothingOpen) {
    const int before = openDescriptorCount();
    CChildProcess child;
    child.arguments = {"/nonexistent/folder/Plexcore", "-i", "x"};
    child.flags = CChildProcess::PipeStdout | CChildProcess::PipeStdin;
    EXPECT_EQ(child.start(), -1);
    EXPECT_EQ(child.processId, 0);
    EXPECT_EQ(child.stdoutRead, -1);
    EXPECT_EQ(child.stdinWrite, -1);
    EXPECT_EQ(child.terminate(), -1);
    EXPECT_EQ(child.setPriority(1), -1);
    child.close();
    EXPECT_EQ(openDescriptorCount(), before);

    CChildProcess empty;
    EXPECT_EQ(empty.start(), -1) << "no program named";
}

TEST(ChildProcess, ArgumentsArePassedExactly) {
    TempDir dir;
    const std::string argvFile = dir / "argv";
    setenv("SCRIPTED_ARGV_FILE", argvFile.c_str(), 1);
    const std::vector<std::string> tricky = {
        "-clip.mp4", "a \"quoted\" name.mp4", "  blanks  ", "été 東京.mkv", "$(touch x); `id` | *", "", "\\back\\"};
    CChildProcess child;
    child.arguments = {SCRIPTED_CHILD_PATH, "a"};
    child.arguments.insert(child.arguments.end(), tricky.begin(), tricky.end());
    child.flags = CChildProcess::PipeStdout;
    ASSERT_EQ(child.start(), 0);
    readToEnd(child.stdoutRead);
    ASSERT_TRUE(child.waitForExit(5000));
    child.close();

    const std::string raw = readFile(argvFile);
    std::vector<std::string> seen;
    for (std::size_t at = 0; at < raw.size();) {
        const auto end = raw.find('\0', at);
        seen.push_back(raw.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(seen.size(), tricky.size() + 2);
    EXPECT_EQ(seen[1], "a");
    for (std::size_t i = 0; i < tricky.size(); ++i)
        EXPECT_EQ(seen[i + 2], tricky[i]);
    unsetenv("SCRIPTED_ARGV_FILE");
}

TEST(ChildProcess, NoDescriptorOfTheParentLeaksIntoTheChild) {
    TempDir dir;
    const std::string fdFile = dir / "fds";
    setenv("SCRIPTED_FD_FILE", fdFile.c_str(), 1);
    // A descriptor opened without close-on-exec, as a careless library would.
    const int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 3);
    CChildProcess child;
    startScripted(child, {"f"});
    readToEnd(child.stdoutRead);
    ASSERT_TRUE(child.waitForExit(5000));
    child.close();
    ::close(stray);
    EXPECT_EQ(readFile(fdFile), "0\n1\n2\n");
    unsetenv("SCRIPTED_FD_FILE");
}

TEST(ChildProcess, TerminateStopsAndReapsARunningChild) {
    CChildProcess child;
    startScripted(child, {"t", "w:ready\n", "s:20000"});
    char buf[16];
    ASSERT_GT(read(child.stdoutRead, buf, sizeof buf), 0);
    const pid_t pid = child.processId;
    EXPECT_EQ(child.terminate(), 0);
    EXPECT_TRUE(child.hasExited());
    EXPECT_TRUE(child.endedByTerminate());
    EXPECT_EQ(child.exitCode(), 255) << "the child's own stop handler ran";
    child.close();
    EXPECT_TRUE(processGone(pid));
}

TEST(ChildProcess, TerminateKillsAChildThatIgnoresTheRequest) {
    CChildProcess child;
    child.terminateGraceMs = 200;
    startScripted(child, {"i", "w:ready\n", "s:20000"});
    char buf[16];
    ASSERT_GT(read(child.stdoutRead, buf, sizeof buf), 0);
    const pid_t pid = child.processId;
    EXPECT_EQ(child.terminate(), 0);
    EXPECT_EQ(child.exitCode(), 128 + SIGKILL);
    child.close();
    EXPECT_TRUE(processGone(pid));
}

TEST(ChildProcess, ExitStatusOfAChildThatEndedOnItsOwn) {
    CChildProcess child;
    startScripted(child, {"x:7"});
    readToEnd(child.stdoutRead);
    EXPECT_EQ(child.terminate(), -1);
    EXPECT_TRUE(child.hasExited());
    EXPECT_FALSE(child.endedByTerminate());
    EXPECT_EQ(child.exitCode(), 7);
    EXPECT_EQ(child.start(), -1) << "a record is used once";
}

TEST(ChildProcess, CloseWithoutTerminateLeavesNoZombie) {
    CChildProcess child;
    startScripted(child, {"s:150", "x:0"});
    const pid_t pid = child.processId;
    child.close();
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        gone = processGone(pid);
    }
    EXPECT_TRUE(gone);
}

TEST(ChildProcess, IdlePriorityReachesEveryThreadAndBadIndexesAreRefused) {
    CChildProcess child;
    startScripted(child, {"w:ready\n", "s:20000"});
    char buf[16];
    ASSERT_GT(read(child.stdoutRead, buf, sizeof buf), 0);
    EXPECT_EQ(child.setPriority(1), 0);
    EXPECT_EQ(sched_getscheduler(child.processId), SCHED_IDLE);
    EXPECT_EQ(child.setPriority(0), 0);
    EXPECT_EQ(child.setPriority(6), -1);
    EXPECT_EQ(child.setPriority(-1), -1);
    EXPECT_EQ(child.terminate(), 0);
    EXPECT_EQ(child.setPriority(1), -1) << "no child any more";
    child.close();
}

TEST(ChildProcess, StdinPipeFeedsTheChild) {
    CChildProcess child;
    child.arguments = {"cat"};
    child.flags = CChildProcess::PipeStdout | CChildProcess::PipeStdin;
    ASSERT_EQ(child.start(), 0);
    ASSERT_EQ(write(child.stdinWrite, "echo", 4), 4);
    ::close(child.stdinWrite);
    child.stdinWrite = -1;
    EXPECT_EQ(readToEnd(child.stdoutRead), "echo");
    EXPECT_TRUE(child.waitForExit(5000));
    child.close();
}
