// The shared test helpers decide whether other tests pass: a helper that
// cannot see a fault makes every check built on it pass for nothing.
#include "MediaTools.h"
#include "Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <locale>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace testing_support;

namespace {

bool always() {
    return true;
}

// Sets the C and C++ locales for the guard's lifetime (false when not installed).
class LocaleGuard {
  public:
    explicit LocaleGuard(const char* name)
        : m_c(std::setlocale(LC_ALL, nullptr)), m_cpp(std::locale()) {
        try {
            std::locale::global(std::locale(name));
            m_ok = true;
        } catch (const std::runtime_error&) {
            m_ok = false;
        }
    }
    ~LocaleGuard() {
        std::locale::global(m_cpp);
        std::setlocale(LC_ALL, m_c.c_str());
    }
    bool ok() const { return m_ok; }

  private:
    std::string m_c;
    std::locale m_cpp;
    bool m_ok = false;
};

} // namespace

TEST(TempDirSupport, RemovesEverythingEvenWhatATestLockedAway) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    std::string path;
    {
        TempDir dir;
        path = dir.path();
        fs::create_directories(dir / "locked/inner");
        writeFile(dir / "locked/inner/file", "x");
        fs::permissions(dir / "locked/inner", fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(dir / "locked", fs::perms::none);
    }
    EXPECT_FALSE(fileExists(path)) << path << " left behind";
}

TEST(TempDirSupport, KeepsTheFolderWhenThePolicySaysSo) {
    std::string path;
    {
        TempDir::keepWhen(always);
        TempDir dir;
        path = dir.path();
        writeFile(dir / "result", "look at me");
    }
    TempDir::keepWhen(nullptr);
    ASSERT_TRUE(fileExists(path));
    EXPECT_EQ(readFile(path + "/result"), "look at me");
    fs::remove_all(path);
}

TEST(TempDirSupport, NoTemporaryFolderIsAnError) {
    TempDir dir;
    EnvGuard tmp("TMPDIR", dir / "missing");
    EXPECT_ANY_THROW(TempDir());
}

TEST(FileSupport, WhatIsThereAndWhatCannotBeWritten) {
    TempDir dir;
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_TRUE(fileExists(dir / "dangling")) << "a dangling link is still something left behind";
    EXPECT_FALSE(fileExists(dir / "nowhere"));
    EXPECT_EQ(fileSize(dir / "nowhere"), -1);

    const std::string bytes("a\0b\r\n\xff", 6);
    writeFile(dir / "bytes", bytes);
    EXPECT_EQ(readFile(dir / "bytes"), bytes);
    EXPECT_EQ(fileSize(dir / "bytes"), 6);
    EXPECT_THROW(writeFile(dir / "no/such/folder/file", "x"), std::runtime_error);
}

TEST(EnvGuardSupport, RestoresTheFirstValueAfterChanges) {
    EnvGuard outer("PLEXAVO_SUPPORT_TEST", "before");
    {
        EnvGuard inner("PLEXAVO_SUPPORT_TEST", std::nullopt);
        EXPECT_EQ(std::getenv("PLEXAVO_SUPPORT_TEST"), nullptr);
        inner.set("changed");
        EXPECT_STREQ(std::getenv("PLEXAVO_SUPPORT_TEST"), "changed");
    }
    EXPECT_STREQ(std::getenv("PLEXAVO_SUPPORT_TEST"), "before");
}

TEST(RunSupport, ArgumentsArriveByteForByteAndOutputComesBack) {
    TempDir dir;
    EnvGuard argvFile("SCRIPTED_ARGV_FILE", dir / "argv");
    const std::vector<std::string> args = {SCRIPTED_CHILD_PATH,
                                           "-leading dash",
                                           "quote \" and ' $HOME",
                                           "\xc3\xa9t\xc3\xa9",
                                           "a",
                                           "w:out\\n",
                                           "e:err\\n",
                                           "x:3"};
    const RunResult joined = run(args, 60);
    EXPECT_TRUE(joined.started);
    EXPECT_EQ(joined.exitCode, 3);
    EXPECT_EQ(joined.out, "out\nerr\n");

    std::string expected;
    for (const auto& a : args)
        expected += a + '\0';
    EXPECT_EQ(readFile(dir / "argv"), expected);

    const RunResult apart = run(args, 60, separateStderr());
    EXPECT_EQ(apart.out, "out\n");
    EXPECT_EQ(apart.err, "err\n");
}

TEST(RunSupport, AChildPastItsTimeIsKilled) {
    const RunResult r = run({SCRIPTED_CHILD_PATH, "i", "s:60000", "x:0"}, 0.3);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.termSignal, SIGKILL);
    EXPECT_FALSE(run({"/no/such/program"}).started);
}

TEST(ProcessStateSupport, SeesAnUnreapedChildAndOpenDescriptors) {
    char* const argv[] = {const_cast<char*>(SCRIPTED_CHILD_PATH), const_cast<char*>("x:0"),
                          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
    auto zombie = [pid] {
        const auto children = childProcesses();
        return std::any_of(children.begin(), children.end(),
                           [pid](const ChildState& c) { return c.pid == pid && c.state == 'Z'; });
    };
    for (int i = 0; i < 3000 && !zombie(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(zombie()) << "an ended, unreaped child is not seen";
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const auto after = childProcesses();
    EXPECT_TRUE(std::none_of(after.begin(), after.end(),
                             [pid](const ChildState& c) { return c.pid == pid; }));

    TempDir dir;
    writeFile(dir / "held", "x");
    const int before = openDescriptorCount();
    {
        std::ifstream held(dir / "held");
        EXPECT_EQ(openDescriptorsTo(fs::canonical(dir / "held").string()), 1);
        EXPECT_EQ(openDescriptorCount(), before + 1);
    }
    EXPECT_EQ(openDescriptorsTo(fs::canonical(dir / "held").string()), 0);
    EXPECT_GE(threadCount(), 1);
}

TEST(MediaToolsSupport, LengthAndDecodeErrorsOfRealAndBrokenFiles) {
    TempDir dir;
    const std::string clip = dir / "-clip one.mkv";
    const RunResult made =
        run({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
             "testsrc=size=64x48:rate=25:duration=2", "-c:v", "mpeg4", "-y", "file:" + clip},
            120);
    ASSERT_EQ(made.exitCode, 0) << made.out;
    EXPECT_NEAR(probeDuration(clip), 2.0, 0.1);
    std::string complaints;
    EXPECT_TRUE(decodesCleanly(clip, &complaints)) << complaints;

    // Noise in the middle of the picture data: ffmpeg complains on standard error.
    std::string data = readFile(clip);
    for (size_t i = data.size() / 3; i < data.size() * 2 / 3; i += 7)
        data[i] = static_cast<char>(data[i] ^ 0x5a);
    writeFile(dir / "damaged.mkv", data);
    EXPECT_FALSE(decodesCleanly(dir / "damaged.mkv", &complaints));
    EXPECT_FALSE(complaints.empty());

    writeFile(dir / "text.mkv", "not media at all\n");
    EXPECT_EQ(probeDuration(dir / "text.mkv"), -1);
    EXPECT_FALSE(decodesCleanly(dir / "text.mkv"));
    EXPECT_EQ(probeDuration(dir / "missing.mkv"), -1);

    // Under a locale that writes "2,0" the length must still read as 2, not 0 or 2 truncated.
    LocaleGuard german("de_DE.UTF-8");
    if (!german.ok())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const std::string shortClip = dir / "short.mkv";
    ASSERT_EQ(run({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
                   "testsrc=size=64x48:rate=25:duration=1.6", "-c:v", "mpeg4", "-y", shortClip},
                  120)
                  .exitCode,
              0);
    EXPECT_NEAR(probeDuration(shortClip), 1.6, 0.05);
}
