// Opening addresses with the desktop's handlers, on a desktop made for the
// test: XDG folders in a temporary tree whose entries name a browser script
// that records what it was started with; and the shipped pages' addresses.
#include "engine/desktop/OpenAddress.h"
#include "engine/desktop/ShippedPages.h"

#include "engine/platform/Platform.h"

#include "Process.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace plexavo;
using namespace testing_support;
using desktop::OpenResult;

namespace {

using Args = std::vector<std::string>;

// What a started browser recorded: its arguments, and its session and
// signal state from /proc.
struct Recorded {
    Args args;
    std::string stat;
    std::string status;
};

// Waits for `path` to appear, at most 20 s (a browser started by another process).
bool appears(const std::string& path) {
    for (int i = 0; i < 2000 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(path);
}

// The value of a "Name:\tvalue" line of /proc/<pid>/status.
std::string statusField(const std::string& status, const std::string& name) {
    const auto at = status.find(name + ":\t");
    if (at == std::string::npos)
        return {};
    const auto start = at + name.size() + 2;
    return status.substr(start, status.find('\n', start) - start);
}

// The session id in /proc/<pid>/stat: the fourth field after the command's ')'.
long sessionOf(const std::string& stat) {
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string state;
    long parent = 0, group = 0, session = 0;
    rest >> state >> parent >> group >> session;
    return session;
}

class DesktopTest : public ::testing::Test {
  protected:
    DesktopTest() {
        for (const char* dir : {"config", "data/applications", "share", "bin"})
            fs::create_directories(m_root / dir);
        // The shell reads its own state with builtins: seen from a command it
        // waits for, it would have every signal blocked.
        writeFile(browser(),
                  "#!/bin/sh\n"
                  "out=\"$FAKE_BROWSER_OUT\"\n"
                  "read -r stat < /proc/$$/stat\n"
                  "while IFS= read -r l; do printf '%s\\n' \"$l\"; done < /proc/$$/status > "
                  "\"$out.status\"\n"
                  "printf '%s\\n' \"$stat\" > \"$out.stat\"\n"
                  "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out.part\"\n"
                  "mv \"$out.part\" \"$out\"\n");
        chmod(browser().c_str(), 0755);
    }

    // The browser script; its name has a blank, so entries must quote it.
    std::string browser() const { return m_root / "bin/fake browser"; }

    void entry(const std::string& id, const std::string& body) {
        writeFile(m_root / ("data/applications/" + id),
                  "[Desktop Entry]\nType=Application\nName=Fake Browser\n" + body);
    }
    // An entry of the browser script that records into `record`.
    void browserEntry(const std::string& id, const std::string& record,
                      const std::string& more = "") {
        entry(id, "Exec=env FAKE_BROWSER_OUT=" + (m_root / record) + " \"" + browser() +
                      "\" --new-tab %u\n" + more);
    }
    void defaults(const std::string& lines) {
        writeFile(m_root / "config/mimeapps.list", "[Default Applications]\n" + lines);
    }

    // GIO reads the XDG folders once per process, as a program does when it
    // starts; each open runs in a child process that starts on this desktop.
    // (This process never asks GIO itself, so the children inherit nothing.)
    static OpenResult openInFreshProcess(const std::string& address) {
        int out[2];
        if (pipe(out) != 0)
            return OpenResult::OutOfResources;
        const pid_t child = fork();
        if (child == 0) {
            close(out[0]);
            // The browser must not inherit what the program's threads block or ignore.
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGUSR1);
            sigprocmask(SIG_BLOCK, &blocked, nullptr);
            signal(SIGUSR2, SIG_IGN);
            const auto result = static_cast<int>(desktop::openInBrowser(address));
            _exit(write(out[1], &result, sizeof result) == sizeof result ? 0 : 1);
        }
        close(out[1]);
        int result = -1;
        const bool read = ::read(out[0], &result, sizeof result) == sizeof result;
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        return read ? static_cast<OpenResult>(result) : OpenResult::OutOfResources;
    }

    // What the browser that writes to `record` was started with; empty args
    // when it did not run within 20 s.
    Recorded recorded(const std::string& record) const {
        const std::string path = m_root / record;
        Recorded r;
        if (!appears(path))
            return r;
        const std::string data = readFile(path);
        for (std::size_t start = 0; start < data.size();) {
            const auto end = data.find('\0', start);
            r.args.push_back(data.substr(start, end - start));
            start = end + 1;
        }
        r.stat = readFile(path + ".stat");
        r.status = readFile(path + ".status");
        return r;
    }

    TempDir m_root;
    EnvGuard m_config{"XDG_CONFIG_HOME", m_root / "config"};
    EnvGuard m_configDirs{"XDG_CONFIG_DIRS", m_root / "config-dirs"};
    EnvGuard m_data{"XDG_DATA_HOME", m_root / "data"};
    EnvGuard m_dataDirs{"XDG_DATA_DIRS", m_root / "share"};
    EnvGuard m_desktop{"XDG_CURRENT_DESKTOP", "X-Test"};
    EnvGuard m_vfs{"GIO_USE_VFS", "local"};
    // No session bus: nothing may be started to provide one.
    EnvGuard m_bus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (m_root / "no-bus")};
};

} // namespace

TEST_F(DesktopTest, TheBrowserGetsTheAddressAsOneArgumentInASessionOfItsOwn) {
    browserEntry("fake.desktop", "web");
    defaults("x-scheme-handler/http=fake.desktop\ntext/html=fake.desktop\n");
    const std::string hostile =
        "http://example.org/a b?q=\"x\";touch " + (m_root / "pwned") + "; echo '$(id)' `id`#top";
    ASSERT_EQ(openInFreshProcess(hostile), OpenResult::Started);
    const Recorded browser = recorded("web");
    EXPECT_EQ(browser.args, (Args{"--new-tab", hostile}));
    EXPECT_FALSE(fs::exists(m_root / "pwned"));

    // Ctrl+C in the program's terminal does not reach it, and it starts
    // with nothing blocked or ignored.
    ASSERT_FALSE(browser.stat.empty());
    EXPECT_NE(sessionOf(browser.stat), static_cast<long>(getsid(0)));
    EXPECT_EQ(statusField(browser.status, "SigBlk"), "0000000000000000");
    EXPECT_EQ(statusField(browser.status, "SigIgn"), "0000000000000000");
}

TEST_F(DesktopTest, TheShippedPagesOpenInTheWebPageHandlerAtTheirAnchor) {
    browserEntry("pages.desktop", "pages");
    browserEntry("links.desktop", "links");
    defaults("x-scheme-handler/https=links.desktop\ntext/html=pages.desktop\n");
    const std::string page = desktop::downloadPageUrl("#realplayer");
    ASSERT_EQ(openInFreshProcess(page), OpenResult::Started);
    EXPECT_EQ(recorded("pages").args, (Args{"--new-tab", page}));

    // An address of a scheme with a handler of its own goes to that one.
    ASSERT_EQ(openInFreshProcess("https://example.org/"), OpenResult::Started);
    EXPECT_EQ(recorded("links").args, (Args{"--new-tab", "https://example.org/"}));
}

TEST_F(DesktopTest, WithoutAHandlerItSaysSo) {
    EXPECT_EQ(openInFreshProcess("http://example.org/"), OpenResult::NoHandler);
    EXPECT_EQ(openInFreshProcess(desktop::downloadPageUrl("#directx")), OpenResult::NoHandler);

    // An entry whose program is not installed is no handler: the desktop
    // offers no such application either.
    entry("gone.desktop", "Exec=" + (m_root / "bin/no-such-browser") + " %u\n");
    defaults("x-scheme-handler/http=gone.desktop\ntext/html=gone.desktop\n");
    EXPECT_EQ(openInFreshProcess("http://example.org/"), OpenResult::NoHandler);
}

TEST_F(DesktopTest, AHandlerThatCannotStartSaysWhy) {
    // Its working folder is missing: the program cannot be started in it.
    browserEntry("nowhere.desktop", "nowhere", "Path=" + (m_root / "no-such-folder") + "\n");
    defaults("x-scheme-handler/http=nowhere.desktop\n");
    EXPECT_EQ(openInFreshProcess("http://example.org/"), OpenResult::PathNotFound);
}

TEST(DesktopOpen, GoesThroughXdgOpenWithTheNameAsOneArgument) {
    TempDir dir;
    const std::string record = dir / "args";
    writeFile(dir / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + record +
                                    ".part\" && mv \"" + record + ".part\" \"" + record + "\"\n");
    chmod((dir / "xdg-open").c_str(), 0755);
    EnvGuard path("PATH", dir.path() + ":/usr/bin:/bin");
    auto opened = [&](const std::string& target) {
        fs::remove(record);
        EXPECT_EQ(desktop::openWithDesktop(target), OpenResult::Started);
        EXPECT_TRUE(appears(record));
        return readFile(record);
    };
    EXPECT_EQ(opened("/home/me/Converted Media/"), "1\n/home/me/Converted Media/\n");
    EXPECT_EQ(opened("-rf folder"), "1\n./-rf folder\n") << "a leading '-' is no option";

    // Nothing started is left unreaped.
    auto zombies = [] {
        const auto children = childProcesses();
        return std::count_if(children.begin(), children.end(),
                             [](const ChildState& c) { return c.state == 'Z'; });
    };
    EXPECT_EQ(zombies(), 0);

    EnvGuard none("PATH", dir / "empty");
    EXPECT_EQ(desktop::openWithDesktop("/tmp"), OpenResult::FileNotFound);
}

TEST(ShippedPages, AddressesPointAtTheFilesBesideTheProgram) {
    EXPECT_EQ(desktop::fileUrl("/opt/My Apps/ü#1/index.html"),
              "file:///opt/My%20Apps/%C3%BC%231/index.html");

    TempDir prefix;
    fs::create_directories(prefix / "lib/plexavo");
    fs::create_directories(prefix / "share/plexavo");
    writeFile(prefix / "share/plexavo/index.html", "x");
    writeFile(prefix / "lib/plexavo/Plexavo.html", "x");
    const std::string program = prefix / "lib/plexavo/";
    EXPECT_EQ(desktop::locateShipped(program, "Plexavo.html"), prefix / "lib/plexavo/Plexavo.html");
    EXPECT_EQ(desktop::locateShipped(program, "index.html"), prefix / "share/plexavo/index.html");
    EXPECT_EQ(desktop::locateShipped(program, "download.html"),
              prefix / "lib/plexavo/download.html")
        << "nowhere: the program's folder";

    // The build puts the pages next to the programs, this test among them.
    const std::string help = desktop::helpFilePath();
    EXPECT_TRUE(fs::exists(help)) << help;
    EXPECT_EQ(fs::path(help).filename(), "Plexavo.html");
    const std::string download = desktop::downloadPageUrl("#realplayer");
    EXPECT_EQ(download.rfind("file:///", 0), 0u) << download;
    EXPECT_NE(download.find("/download.html#realplayer"), std::string::npos) << download;
    EXPECT_EQ(desktop::downloadPageUrl("oggcodecs").substr(download.find('#')), "#oggcodecs");
    EXPECT_NE(desktop::homePageUrl().find("/index.html"), std::string::npos);

    EXPECT_STREQ(desktop::downloadAnchor(32776), "#directx");
    EXPECT_STREQ(desktop::downloadAnchor(32778), "#wmplayer");
    EXPECT_STREQ(desktop::downloadAnchor(32777), "#realplayer");
    EXPECT_STREQ(desktop::downloadAnchor(32779), "#quicktime");
    EXPECT_STREQ(desktop::downloadAnchor(32780), "#oggcodecs");
    EXPECT_EQ(desktop::downloadAnchor(32801), nullptr);
}

TEST(ShippedPages, TheAnchorsTheProgramOpensExist) {
    auto ids = [](const std::string& html) {
        std::set<std::string> out;
        for (std::size_t at = html.find(" id=\""); at != std::string::npos;
             at = html.find(" id=\"", at + 1)) {
            const auto start = at + 5;
            out.insert(html.substr(start, html.find('"', start) - start));
        }
        return out;
    };
    const std::string folder = plexavo::platform::programFolder();
    const auto download = ids(readFile(folder + "download.html"));
    for (int command : {32776, 32778, 32777, 32779, 32780})
        EXPECT_TRUE(download.count(desktop::downloadAnchor(command) + 1))
            << desktop::downloadAnchor(command);

    // Every link inside a page, and from one page to another's section, lands somewhere.
    for (const char* page : {"Plexavo.html", "index.html", "download.html"}) {
        const std::string html = readFile(folder + page);
        ASSERT_FALSE(html.empty()) << page;
        for (std::size_t at = html.find("href=\""); at != std::string::npos;
             at = html.find("href=\"", at + 1)) {
            const auto start = at + 6;
            const std::string href = html.substr(start, html.find('"', start) - start);
            const auto hash = href.find('#');
            const std::string file = hash == std::string::npos ? href : href.substr(0, hash);
            if (file.find(':') != std::string::npos)
                continue; // an outside address
            const std::string target = file.empty() ? page : file;
            EXPECT_TRUE(fs::exists(folder + target)) << page << " -> " << href;
            if (hash != std::string::npos) {
                EXPECT_TRUE(ids(readFile(folder + target)).count(href.substr(hash + 1)))
                    << page << " -> " << href;
            }
        }
    }
}
