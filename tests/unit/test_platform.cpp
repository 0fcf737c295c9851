#include "engine/platform/Platform.h"

#include "TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using plexavo::platform::absolutePath;
using namespace testing_support;

namespace {

// Runs the body with the current folder set to dir, and puts it back.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string& dir) : m_old(fs::current_path()) {
        fs::current_path(dir);
    }
    ~CurrentFolder() { fs::current_path(m_old); }

  private:
    fs::path m_old;
};

} // namespace

TEST(AbsolutePath, ABareNameGetsTheCurrentFolder) {
    TempDir dir;
    const std::string here = fs::canonical(dir.path()).string();
    CurrentFolder cd(here);
    EXPECT_EQ(absolutePath("clip.mp4"), here + "/clip.mp4");
    EXPECT_EQ(absolutePath("./sub/./clip.mp4"), here + "/sub/clip.mp4")
        << "the file need not exist";
    EXPECT_EQ(absolutePath("-odd \"name\" été.mp4"), here + "/-odd \"name\" été.mp4");
    EXPECT_EQ(absolutePath("out/"), here + "/out/") << "a folder keeps its separator";
    EXPECT_EQ(absolutePath("../x.mp4"), here + "/../x.mp4")
        << "'..' stays: the links are not resolved";
}

TEST(AbsolutePath, AbsolutePathsStayAsWrittenButTidy) {
    EXPECT_EQ(absolutePath("/m/clip.mp4"), "/m/clip.mp4");
    EXPECT_EQ(absolutePath("//m///./clip.mp4"), "/m/clip.mp4");
    EXPECT_EQ(absolutePath("/"), "/");
    EXPECT_EQ(absolutePath(""), "");

    // A symbolic link keeps its own name: the title comes from what the user chose.
    TempDir dir;
    writeFile(dir / "real.mp4", "x");
    fs::create_symlink(dir / "real.mp4", dir / "alias.mp4");
    EXPECT_EQ(absolutePath(dir / "alias.mp4"), dir / "alias.mp4");
}

// A service manager or a script may start the program with SIGCHLD ignored
// (or SA_NOCLDWAIT) and signals blocked: the kernel would then reap the
// cores itself, their exit statuses lost, and stop requests would wait.
TEST(InheritedSignals, AreSetBackToWhatTheProgramReliesOn) {
    for (const bool noWait : {false, true}) {
        SCOPED_TRACE(noWait ? "SA_NOCLDWAIT" : "SIGCHLD ignored");
        SignalGuard restore(SIGCHLD, SIG_DFL);
        struct sigaction handedDown {};
        handedDown.sa_handler = noWait ? SIG_DFL : SIG_IGN;
        handedDown.sa_flags = noWait ? SA_NOCLDWAIT : 0;
        sigemptyset(&handedDown.sa_mask);
        ASSERT_EQ(sigaction(SIGCHLD, &handedDown, nullptr), 0);
        sigset_t blocked, old;
        sigemptyset(&blocked);
        for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
            sigaddset(&blocked, sig);
        ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &old), 0);

        plexavo::platform::resetInheritedSignals();

        struct sigaction now {};
        sigaction(SIGCHLD, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
        EXPECT_EQ(now.sa_flags & SA_NOCLDWAIT, 0);
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
            EXPECT_FALSE(sigismember(&mask, sig)) << strsignal(sig) << " still blocked";
        // A child's exit status reaches its parent again.
        const pid_t pid = fork();
        if (pid == 0)
            _exit(7);
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
}

// Pages a finished worker thread freed stay with its arena until they are
// handed back; kept allocations between them (as a list's rows would be)
// stop the allocator from doing it by itself.
TEST(FreeMemory, WhatAWorkerThreadFreedGoesBackToTheSystem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's own allocator holds the memory";
#else
    const auto residentBytes = [] {
        std::ifstream statm("/proc/self/statm");
        long size = 0, resident = 0;
        statm >> size >> resident;
        return resident * sysconf(_SC_PAGESIZE);
    };
    constexpr std::size_t kBlocks = 32768, kBlock = 1024; // 32 MiB in small blocks
    std::vector<char*> kept;
    std::thread([&] {
        std::vector<char*> blocks(kBlocks);
        for (char*& block : blocks) {
            block = static_cast<char*>(std::malloc(kBlock));
            std::memset(block, 1, kBlock);
        }
        for (std::size_t i = 0; i < kBlocks; ++i) {
            if (i % 64 == 0)
                kept.push_back(blocks[i]);
            else
                std::free(blocks[i]);
        }
    }).join();
    const long before = residentBytes();
    plexavo::platform::releaseFreeMemory();
    const long after = residentBytes();
    for (char* block : kept)
        std::free(block);
    EXPECT_GT(before - after, 16L << 20) << before << " -> " << after;
#endif
}
