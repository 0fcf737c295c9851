#include "engine/platform/ChildProcess.h"

#include "Process.h"
#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <thread>

using plexavo::platform::ChildProcess;
using namespace testing_support;

namespace {

std::string readToEnd(int fd) {
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return text;
}

void startScripted(ChildProcess& child, std::vector<std::string> steps) {
    child.arguments = {SCRIPTED_CHILD_PATH};
    child.arguments.insert(child.arguments.end(), steps.begin(), steps.end());
    child.flags |= ChildProcess::PipeStdout; // keeps what the test asked for
    ASSERT_EQ(child.start(), 0);
}

// A zombie still answers kill(pid, 0); a reaped child does not.
bool processGone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TEST(ChildProcess, OutputAndErrorArriveInOnePipeThatEndsWithTheChild) {
    ChildProcess child;
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
    ChildProcess child;
    child.arguments = {"/nonexistent/folder/Plexcore", "-i", "x"};
    child.flags = ChildProcess::PipeStdout | ChildProcess::PipeStdin;
    EXPECT_EQ(child.start(), -1);
    EXPECT_EQ(child.processId, 0);
    EXPECT_EQ(child.stdoutRead, -1);
    EXPECT_EQ(child.stdinWrite, -1);
    EXPECT_EQ(child.terminate(), -1);
    EXPECT_EQ(child.setIdlePriority(), -1);
    child.close();
    EXPECT_EQ(openDescriptorCount(), before);

    ChildProcess empty;
    EXPECT_EQ(empty.start(), -1) << "no program named";
}

// Why a start failed is the system's own reason, kept for the caller's
// message; a start that succeeds clears it.
TEST(ChildProcess, AFailedStartSaysWhy) {
    TempDir dir;
    const std::string program = dir / "program";
    ChildProcess child;
    child.arguments = {program};
    EXPECT_EQ(child.start(), -1);
    EXPECT_EQ(child.startError(), ENOENT);
    writeFile(program, "#!/bin/sh\nexit 0\n");
    fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(child.start(), -1);
    EXPECT_EQ(child.startError(), EACCES);
    fs::permissions(program, fs::perms::owner_all);
    EXPECT_EQ(child.start(), 0);
    EXPECT_EQ(child.startError(), 0);
    EXPECT_TRUE(child.waitForExit(10000));
    child.close();
    ChildProcess empty;
    EXPECT_EQ(empty.start(), -1);
    EXPECT_EQ(empty.startError(), EINVAL);
}

TEST(ChildProcess, ArgumentsArePassedExactly) {
    TempDir dir;
    const std::string argvFile = dir / "argv";
    EnvGuard argvTarget("SCRIPTED_ARGV_FILE", argvFile);
    const std::vector<std::string> tricky = {"-clip.mp4",    "a \"quoted\" name.mp4", "  blanks  ",
                                             "été 東京.mkv", "$(touch x); `id` | *",  "",
                                             "\\back\\"};
    ChildProcess child;
    child.arguments = {SCRIPTED_CHILD_PATH, "a"};
    child.arguments.insert(child.arguments.end(), tricky.begin(), tricky.end());
    child.flags = ChildProcess::PipeStdout;
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
}

TEST(ChildProcess, NoDescriptorOfTheParentLeaksIntoTheChild) {
    TempDir dir;
    const std::string fdFile = dir / "fds";
    EnvGuard fdTarget("SCRIPTED_FD_FILE", fdFile);
    // A descriptor opened without close-on-exec, as a careless library would.
    const int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 3);
    ChildProcess child;
    startScripted(child, {"f"});
    readToEnd(child.stdoutRead);
    ASSERT_TRUE(child.waitForExit(5000));
    child.close();
    ::close(stray);
    EXPECT_EQ(readFile(fdFile), "0\n1\n2\n");
}

TEST(ChildProcess, TerminateStopsAndReapsARunningChild) {
    ChildProcess child;
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
    ChildProcess child;
    child.stopPolicy.silenceMs = 200;
    startScripted(child, {"i", "w:ready\n", "s:20000"});
    char buf[16];
    ASSERT_GT(read(child.stdoutRead, buf, sizeof buf), 0);
    const pid_t pid = child.processId;
    EXPECT_EQ(child.terminate(), 0);
    EXPECT_EQ(child.exitCode(), 128 + SIGKILL);
    EXPECT_EQ(child.stopOutcome(), plexavo::platform::StopOutcome::KilledSilent);
    child.close();
    EXPECT_TRUE(processGone(pid));
}

TEST(ChildProcess, ChildrenLeadTheirOwnProcessGroupOnlyWhenAsked) {
    // Conversions ask, so a terminal's Ctrl+C reaches the program alone;
    // other children stay in the program's group.
    for (const bool own : {false, true}) {
        ChildProcess child;
        if (own)
            child.flags |= ChildProcess::OwnProcessGroup;
        startScripted(child, {"t", "w:ready\n", "s:20000"});
        char buf[16];
        ASSERT_GT(read(child.stdoutRead, buf, sizeof buf), 0);
        EXPECT_EQ(getpgid(child.processId), own ? child.processId : getpgrp()) << own;
        EXPECT_EQ(getsid(child.processId), getsid(0)) << "same session either way";
        EXPECT_EQ(child.terminate(), 0);
        EXPECT_EQ(child.exitCode(), 255) << "stopped as any child is";
        child.close();
    }
}

TEST(ChildProcess, ExitStatusOfAChildThatEndedOnItsOwn) {
    ChildProcess child;
    startScripted(child, {"x:7"});
    readToEnd(child.stdoutRead);
    EXPECT_EQ(child.terminate(), -1);
    EXPECT_TRUE(child.hasExited());
    EXPECT_FALSE(child.endedByTerminate());
    EXPECT_EQ(child.exitCode(), 7);
    EXPECT_EQ(child.start(), -1) << "a record is used once";
}

TEST(ChildProcess, CloseWithoutTerminateLeavesNoZombie) {
    ChildProcess child;
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

TEST(ChildProcess, IdlePriorityReachesTheChildAndNeedsOne) {
    ChildProcess child;
    startScripted(child, {"w:ready\n", "s:20000"});
    char buf[16];
    ASSERT_GT(read(child.stdoutRead, buf, sizeof buf), 0);
    EXPECT_EQ(child.setIdlePriority(), 0);
    EXPECT_EQ(sched_getscheduler(child.processId), SCHED_IDLE);
    EXPECT_EQ(child.setIdlePriority(), 0) << "asked again";
    EXPECT_EQ(child.terminate(), 0);
    EXPECT_EQ(child.setIdlePriority(), -1) << "no child any more";
    child.close();
}

TEST(ChildProcess, StdinPipeFeedsTheChild) {
    ChildProcess child;
    child.arguments = {"cat"};
    child.flags = ChildProcess::PipeStdout | ChildProcess::PipeStdin;
    ASSERT_EQ(child.start(), 0);
    ASSERT_EQ(write(child.stdinWrite, "echo", 4), 4);
    ::close(child.stdinWrite);
    child.stdinWrite = -1;
    EXPECT_EQ(readToEnd(child.stdoutRead), "echo");
    EXPECT_TRUE(child.waitForExit(5000));
    child.close();
}

TEST(ChildProcess, TheChildReadsNothingFromTheProgramsInput) {
    // Even with a terminal or a pipe full of text on the program's own input,
    // the child gets /dev/null: it must never steal the user's keystrokes.
    int fake[2];
    ASSERT_EQ(pipe(fake), 0);
    ASSERT_EQ(write(fake[1], "typed", 5), 5);
    const int savedStdin = dup(0);
    ASSERT_GE(savedStdin, 0);
    ASSERT_EQ(dup2(fake[0], 0), 0);
    ChildProcess child;
    child.arguments = {SCRIPTED_CHILD_PATH, "r"};
    child.flags = ChildProcess::PipeStdout;
    const int started = child.start();
    dup2(savedStdin, 0);
    ::close(savedStdin);
    ::close(fake[0]);
    ::close(fake[1]);
    ASSERT_EQ(started, 0);
    EXPECT_EQ(readToEnd(child.stdoutRead), "stdin=/dev/null read=0\n");
    EXPECT_TRUE(child.waitForExit(5000));
    child.close();
}

TEST(ChildProcess, ASpawnThatFailsLeavesNothingBehind) {
    const int before = openDescriptorCount();
    ChildProcess child;
    child.arguments = {SCRIPTED_CHILD_PATH, "x:0"};
    child.flags = ChildProcess::PipeStdout | ChildProcess::PipeStdin;
    child.workingDirectory = "/nonexistent/folder";
    EXPECT_EQ(child.start(), -1) << "a working folder that cannot be entered fails the start";
    EXPECT_EQ(child.processId, 0);
    EXPECT_EQ(child.stdoutRead, -1);
    EXPECT_EQ(child.stdinWrite, -1);
    child.close();
    EXPECT_EQ(openDescriptorCount(), before);

    TempDir dir;
    child.workingDirectory = dir.path();
    EnvGuard fdTarget("SCRIPTED_FD_FILE", dir / "fds");
    child.arguments = {SCRIPTED_CHILD_PATH, "f"};
    ASSERT_EQ(child.start(), 0) << "a working folder that exists is entered";
    readToEnd(child.stdoutRead);
    EXPECT_TRUE(child.waitForExit(5000));
    EXPECT_EQ(child.exitCode(), 0);
    child.close();
}

// A child reaped by someone else (SIGCHLD ignored makes the kernel reap it)
// has ended; how is unknown, and nothing may be signalled in its name.
TEST(ChildProcess, AChildReapedBySomeoneElseCountsAsEndedWithAnUnknownStatus) {
    SignalGuard ignoreChildren(SIGCHLD, SIG_IGN);
    ChildProcess child;
    startScripted(child, {"w:bye\n", "x:3"});
    EXPECT_EQ(readToEnd(child.stdoutRead), "bye\n");
    EXPECT_TRUE(child.waitForExit(5000));
    EXPECT_TRUE(child.hasExited());
    EXPECT_FALSE(child.exitStatusKnown());
    EXPECT_EQ(child.exitCode(), -1);
    EXPECT_EQ(child.terminate(), -1) << "nothing left to stop";
    EXPECT_EQ(child.setIdlePriority(), -1);
    child.close();
}

TEST(ChildProcess, ChildrenClosedWhileRunningShareOneReaper) {
    const int threadsBefore = threadCount();
    std::vector<pid_t> pids;
    for (int i = 0; i < 8; ++i) {
        ChildProcess child;
        startScripted(child, {"s:300", "x:0"});
        pids.push_back(child.processId);
        child.close();
    }
    // One reaper (and perhaps a sanitizer's helper thread), not one per child.
    EXPECT_LE(threadCount(), threadsBefore + 2) << "not one thread per child";
    for (int i = 0; i < 500 && plexavo::platform::pendingReaps() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(plexavo::platform::pendingReaps(), 0u);
    for (pid_t pid : pids)
        EXPECT_TRUE(processGone(pid)) << "zombie " << pid;
}

// The stop policy: a child asked to stop is given time while it shows signs
// of life, and killed only when it shows none, runs past the limit, or a
// second request comes.
class StopPolicyTest : public ::testing::Test {
  protected:
    void startReady(const std::vector<std::string>& steps) {
        m_child.arguments = {SCRIPTED_CHILD_PATH};
        m_child.arguments.insert(m_child.arguments.end(), steps.begin(), steps.end());
        m_child.arguments.push_back(m_dir / "out.bin"); // the file g: and o: write
        m_child.flags = ChildProcess::PipeStdout;
        ASSERT_EQ(m_child.start(), 0);
        char buf[6];
        ASSERT_EQ(read(m_child.stdoutRead, buf, sizeof buf), 6) << "the child says ready first";
    }
    std::chrono::milliseconds stopTime() {
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(m_child.terminate(), 0);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - begin);
    }

    TempDir m_dir;
    ChildProcess m_child;
};

TEST_F(StopPolicyTest, AChildThatKeepsPrintingIsLetFinish) {
    // Prints for longer than the silence limit, then exits as a core does.
    m_child.stopPolicy.silenceMs = 300;
    std::string printed;
    m_child.stopPolicy.onOutput = [&](const char* text, std::size_t n) { printed.append(text, n); };
    startReady({"q", "w:ready\n", "W", "p:1200:50:time=1 \\r", "w:Error: none\n", "x:255"});
    EXPECT_GE(stopTime(), std::chrono::milliseconds(1000));
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::Exited);
    EXPECT_EQ(m_child.exitCode(), 255) << "not killed";
    EXPECT_NE(printed.find("Error: none\n"), std::string::npos)
        << "its last words reach the caller";
}

TEST_F(StopPolicyTest, AChildWhoseFileGrowsIsLetFinishWithoutPrinting) {
    m_child.stopPolicy.silenceMs = 300;
    m_child.stopPolicy.watchedFile = m_dir / "out.bin";
    startReady({"q", "w:ready\n", "W", "g:1200:50", "x:255"});
    EXPECT_GE(stopTime(), std::chrono::milliseconds(1000));
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::Exited);
    EXPECT_EQ(m_child.exitCode(), 255);
}

TEST_F(StopPolicyTest, AChildThatPrintsALotWhileStoppingIsNotStalledByAFullPipe) {
    m_child.stopPolicy.silenceMs = 500;
    startReady({"q", "w:ready\n", "W", "n:1000000:x", "x:255"});
    stopTime();
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::Exited);
    EXPECT_EQ(m_child.exitCode(), 255);
}

TEST_F(StopPolicyTest, ASilentChildIgnoringTheRequestIsKilledAfterTheSilence) {
    m_child.stopPolicy.silenceMs = 400;
    startReady({"i", "w:ready\n", "s:20000"});
    const auto took = stopTime();
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(15000));
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::KilledSilent);
    EXPECT_EQ(m_child.exitCode(), 128 + SIGKILL);
}

TEST_F(StopPolicyTest, AChildThatNeverStopsIsKilledAtTheLimit) {
    m_child.stopPolicy.silenceMs = 300;
    m_child.stopPolicy.limitMs = 900;
    startReady({"i", "w:ready\n", "p:20000:30:time=2 \\r"});
    const auto took = stopTime();
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(15000));
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::KilledLimit);
}

TEST_F(StopPolicyTest, ASecondRequestKillsAtOnce) {
    std::atomic<bool> second{false};
    m_child.stopPolicy.killRequest = &second;
    startReady({"i", "w:ready\n", "p:20000:30:time=2 \\r"});
    std::thread insist([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        second = true;
    });
    const auto took = stopTime();
    insist.join();
    EXPECT_LT(took, std::chrono::milliseconds(9000)) << "neither silence nor limit was waited for";
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::KilledOnRequest);
}

// Past its limits, or when someone insists, the child is first sent the abort signal, which
// lets a core drop its unfinished file itself; SIGKILL only when it does not go.
TEST_F(StopPolicyTest, TheAbortSignalComesBeforeTheKill) {
    std::atomic<bool> second{false};
    m_child.stopPolicy.killRequest = &second;
    m_child.stopPolicy.abortSignal = SIGUSR1;
    startReady({"i", "A", "w:ready\n", "p:20000:30:time=2 \\r"});
    std::thread insist([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        second = true;
    });
    stopTime();
    insist.join();
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::KilledOnRequest);
    EXPECT_EQ(m_child.exitCode(), 3) << "the abort did not reach it before the kill";
}

TEST_F(StopPolicyTest, AChildDeafToTheAbortIsKilled) {
    m_child.stopPolicy.silenceMs = 300;
    m_child.stopPolicy.abortSignal = SIGUSR1;
    startReady({"i", "j", "w:ready\n", "s:20000"});
    stopTime();
    EXPECT_EQ(m_child.stopOutcome(), plexavo::platform::StopOutcome::KilledSilent);
    EXPECT_EQ(m_child.exitCode(), 128 + SIGKILL);
}
