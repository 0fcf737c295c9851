#include "engine/services/OpenWithBrowser.h"

#include "engine/platform/Platform.h"

#include "Process.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <thread>

using namespace plexavo;
using namespace testing_support;

namespace {

using Args = std::vector<std::string>;

// A desktop of its own: XDG folders in a temporary tree, and a browser script
// that writes the arguments it was given (NUL-separated) to a file.
class BrowserTest : public ::testing::Test {
  protected:
    BrowserTest() {
        for (const char* dir : {"config", "etcxdg", "data/applications", "share1/applications",
                                "share2/applications", "bin"})
            fs::create_directories(m_root / dir);
        writeFile(browserScript(),
                  "#!/bin/sh\n"
                  "out=\"$FAKE_BROWSER_OUT\"\n"
                  "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out.part\"\n"
                  "mv \"$out.part\" \"$out\"\n");
        chmod(browserScript().c_str(), 0755);
    }

    std::string browserScript() const { return m_root / "bin/fake browser"; }
    std::string argvFile() const { return m_root / "argv"; }

    void desktopFile(const std::string& where, const std::string& id, const std::string& body) {
        const std::string path = m_root / (where + "/applications/" + id);
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, "[Desktop Entry]\nType=Application\nName=Fake Browser\n" + body);
    }
    void mimeapps(const std::string& file, const std::string& body) {
        writeFile(m_root / file, body);
    }

    // The fake browser's entry: its path quoted, as the script's name has a blank.
    std::string execOfScript() const { return "\"" + browserScript() + "\""; }

    // What the browser was started with; empty when it did not run within 20 s.
    Args startedArgs() const {
        for (int i = 0; i < 2000 && !fs::exists(argvFile()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string data = readFile(argvFile());
        Args args;
        std::size_t start = 0;
        while (start < data.size()) {
            const auto end = data.find('\0', start);
            args.push_back(data.substr(start, end - start));
            start = end + 1;
        }
        return args;
    }

    TempDir m_root;
    EnvGuard m_config{"XDG_CONFIG_HOME", m_root / "config"};
    EnvGuard m_configDirs{"XDG_CONFIG_DIRS", m_root / "etcxdg"};
    EnvGuard m_data{"XDG_DATA_HOME", m_root / "data"};
    EnvGuard m_dataDirs{"XDG_DATA_DIRS", (m_root / "share1") + ":" + (m_root / "share2")};
    EnvGuard m_desktop{"XDG_CURRENT_DESKTOP", "X-Test:GNOME"};
    EnvGuard m_out{"FAKE_BROWSER_OUT", m_root / "argv"};
};

// Children of this process that have ended but were never reaped.
int zombieChildren() {
    const auto children = childProcesses();
    return static_cast<int>(std::count_if(children.begin(), children.end(),
                                          [](const ChildState& c) { return c.state == 'Z'; }));
}

} // namespace

TEST(ExecLine, IsSplitByTheDesktopEntryQuotingRules) {
    EXPECT_EQ(splitExec("firefox %u"), (Args{"firefox", "%u"}));
    EXPECT_EQ(splitExec("  a   b\tc  "), (Args{"a", "b", "c"}));
    EXPECT_EQ(splitExec(R"("/opt/My App/bin" --x="y z" "a\"b" "\$HOME" "\\" "\`")"),
              (Args{"/opt/My App/bin", "--x=y z", "a\"b", "$HOME", "\\", "`"}));
    EXPECT_EQ(splitExec(R"(prog "" end)"), (Args{"prog", "", "end"}));
    EXPECT_EQ(splitExec(R"(prog "unclosed)"), std::nullopt);
    EXPECT_EQ(splitExec(""), Args{});
}

TEST_F(BrowserTest, TheAddressTakesThePlaceOfTheFieldCodeAndWhatFollowsIsDropped) {
    struct Case {
        const char* exec;
        Args expected; // after the program itself
    };
    const std::string url = "https://example.org/a b?q=\"x\";rm -rf ~#top";
    for (const Case& c : {
             Case{"%PROG%", {url}}, // no code: appended
             Case{"%PROG% --new-window %u --private",
                  {"--new-window", url}},                      // cut after the address
             Case{"%PROG% \"%U\" -x", {url}},                  // quoted code
             Case{"%PROG% --url=%u --more", {"--url=" + url}}, // code inside an argument
             Case{"%PROG% run --file-forwarding org.mozilla.firefox @@u %u @@ --x",
                  {"run", "--file-forwarding", "org.mozilla.firefox", "@@u", url, "@@"}}, // Flatpak
             Case{"%PROG% --name %c %i %k %% %d %u",
                  {"--name", "Fake Browser", "--icon", "web", "%K", "%", url}},
         }) {
        std::string exec = c.exec;
        exec.replace(exec.find("%PROG%"), 6, execOfScript());
        desktopFile("share1", "fake.desktop", "Icon=web\nExec=" + exec + "\n");
        mimeapps("config/mimeapps.list", "[Default Applications]\ntext/html=fake.desktop\n");
        Args expected{browserScript()};
        for (auto arg : c.expected) {
            if (arg == "%K")
                arg = m_root / "share1/applications/fake.desktop";
            expected.push_back(arg);
        }
        EXPECT_EQ(browserCommand(url), expected) << c.exec;
    }
}

TEST_F(BrowserTest, AFileProgramGetsALocalPath) {
    desktopFile("share1", "viewer.desktop", "Exec=" + execOfScript() + " %F\n");
    mimeapps("config/mimeapps.list", "[Default Applications]\ntext/html=viewer.desktop\n");
    EXPECT_EQ(browserCommand("file:///opt/my%20docs/download.html#directx"),
              (Args{browserScript(), "/opt/my docs/download.html"}));
    EXPECT_EQ(browserCommand("https://x.org/"), (Args{browserScript(), "https://x.org/"}));
}

TEST_F(BrowserTest, DesktopFileEscapesAreUndoneBeforeSplitting) {
    fs::copy_file(browserScript(), m_root / "bin/two words");
    desktopFile("share1", "esc.desktop",
                "Exec=\"" + (m_root / "bin/two\\swords") + "\" --title \"a\\\\\\\\b\" %u\n");
    mimeapps("config/mimeapps.list", "[Default Applications]\ntext/html=esc.desktop\n");
    EXPECT_EQ(browserCommand("u"), (Args{m_root / "bin/two words", "--title", "a\\b", "u"}));
}

TEST_F(BrowserTest, TheDefaultFollowsTheMimeappsPrecedence) {
    for (const char* id : {"a.desktop", "b.desktop", "c.desktop", "d.desktop"})
        desktopFile("share1", id, "Exec=" + std::string(id) + "-prog %u\n");
    auto program = [this] {
        const auto args = browserCommand("u");
        return args.empty() ? std::string("none") : args[0];
    };

    EXPECT_EQ(program(), "none");
    mimeapps("share2/applications/mimeapps.list", "[Default Applications]\ntext/html=d.desktop\n");
    EXPECT_EQ(program(), "d.desktop-prog");
    mimeapps("etcxdg/mimeapps.list", "[Default Applications]\ntext/html=c.desktop\n");
    EXPECT_EQ(program(), "c.desktop-prog") << "system config before the data folders";
    mimeapps("config/mimeapps.list",
             "[Default Applications]\ntext/html=missing.desktop;b.desktop;\n");
    EXPECT_EQ(program(), "b.desktop-prog") << "user config first, uninstalled entries skipped";
    mimeapps("config/gnome-mimeapps.list", "[Default Applications]\ntext/html=a.desktop\n");
    EXPECT_EQ(program(), "a.desktop-prog") << "the desktop's own list first";

    // The user's copy of an entry replaces the system's; a hidden one removes it.
    desktopFile("data", "a.desktop", "Hidden=true\nExec=x %u\n");
    EXPECT_EQ(program(), "b.desktop-prog");
    desktopFile("data", "b.desktop", "TryExec=/nonexistent/prog\nExec=x %u\n");
    EXPECT_EQ(program(), "c.desktop-prog");
}

TEST_F(BrowserTest, WithoutADefaultAnApplicationForTheTypeIsTaken) {
    desktopFile("share2", "z-viewer.desktop", "MimeType=image/png;text/html;\nExec=zv %U\n");
    desktopFile("share2", "other.desktop", "MimeType=text/plain;\nExec=other %U\n");
    EXPECT_EQ(browserCommand("u"), (Args{"zv", "u"})) << "found by scanning without a cache";

    writeFile(m_root / "share1/applications/mimeinfo.cache",
              "[MIME Cache]\ntext/html=cached.desktop;\n");
    desktopFile("share1", "cached.desktop", "Exec=cached %u\n");
    EXPECT_EQ(browserCommand("u"), (Args{"cached", "u"}));

    desktopFile("share1", "added.desktop", "Exec=added %u\n");
    mimeapps("config/mimeapps.list", "[Added Associations]\ntext/html=added.desktop;\n");
    EXPECT_EQ(browserCommand("u"), (Args{"added", "u"}));
    mimeapps("config/mimeapps.list",
             "[Added Associations]\ntext/html=added.desktop;\n"
             "[Removed Associations]\ntext/html=added.desktop;cached.desktop;\n");
    EXPECT_EQ(browserCommand("u"), (Args{"zv", "u"}));
}

TEST_F(BrowserTest, TheClassesRootShowsTheHandlerAndItsCommand) {
    desktopFile("share1", "vendor/web.desktop", "Exec=" + execOfScript() + " %u\n");
    mimeapps("config/mimeapps.list", "[Default Applications]\ntext/html=vendor-web.desktop\n");
    char out[kClassesValueSize];
    EXPECT_EQ(ReadClassesDefault(HKEY_CLASSES_ROOT, ".htm", out), ERROR_SUCCESS);
    EXPECT_STREQ(out, "vendor-web.desktop");
    EXPECT_EQ(
        ReadClassesDefault(HKEY_CLASSES_ROOT, "vendor-web.desktop\\shell\\open\\command", out),
        ERROR_SUCCESS);
    EXPECT_EQ(std::string(out), execOfScript() + " %u");

    EXPECT_EQ(ReadClassesDefault(HKEY_CLASSES_ROOT, "nothing.desktop\\shell\\open\\command", out),
              ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(ReadClassesDefault(HKEY_LOCAL_MACHINE, ".htm", out), ERROR_FILE_NOT_FOUND);

    // A value longer than the buffer is cut, and still terminated.
    desktopFile("share1", "long.desktop", "Exec=" + std::string(3000, 'x') + "\n");
    out[kClassesValueSize - 1] = 'z';
    EXPECT_EQ(ReadClassesDefault(HKEY_CLASSES_ROOT, "long.desktop\\shell\\open\\command", out),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(out), std::string(kClassesValueSize - 1, 'x'));
}

TEST_F(BrowserTest, OpeningStartsTheBrowserWithTheAddressAsOneArgument) {
    desktopFile("share1", "fake.desktop", "Exec=" + execOfScript() + " --new-tab %u --dropped\n");
    mimeapps("config/mimeapps.list", "[Default Applications]\ntext/html=fake.desktop\n");
    const std::string hostile = "-x \"; touch " + (m_root / "pwned") + "; echo '$(id)' `id` #frag";
    EXPECT_GT(OpenWithBrowser(hostile.c_str(), SW_SHOWNORMAL), 31);
    EXPECT_EQ(startedArgs(), (Args{"--new-tab", hostile}));
    EXPECT_FALSE(fs::exists(m_root / "pwned"));

    // The browser has ended by now; it must have been reaped.
    int zombies = 1;
    for (int i = 0; i < 500 && (zombies = zombieChildren()) > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(zombies, 0);
}

TEST_F(BrowserTest, FailuresSayWhatWentWrong) {
    EXPECT_EQ(OpenWithBrowser("https://x.org/", SW_SHOW), kStartNoAssociation);

    desktopFile("share1", "broken.desktop", "Exec=\"unclosed %u\n");
    mimeapps("config/mimeapps.list", "[Default Applications]\ntext/html=broken.desktop\n");
    EXPECT_EQ(OpenWithBrowser("https://x.org/", SW_SHOW), kStartBadAssociation);

    desktopFile("share1", "broken.desktop", "Exec=/nonexistent/browser %u\n");
    EXPECT_EQ(OpenWithBrowser("https://x.org/", SW_SHOW), kStartFileNotFound);

    writeFile(m_root / "bin/not-executable", "#!/bin/sh\n");
    desktopFile("share1", "broken.desktop", "Exec=" + (m_root / "bin/not-executable") + " %u\n");
    EXPECT_EQ(OpenWithBrowser("https://x.org/", SW_SHOW), kStartAccessDenied);
    EXPECT_FALSE(fs::exists(argvFile()));
}

TEST(StartDetached, RunsWithoutAShellAndReportsMissingPrograms) {
    TempDir dir;
    const std::string marker = dir / "ran";
    EXPECT_GT(startDetached({"touch", marker}), 31);
    for (int i = 0; i < 1000 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_EQ(startDetached({"plexavo-no-such-program-here"}), kStartFileNotFound);
    EXPECT_EQ(startDetached({}), kStartFileNotFound);
}

TEST(ShippedPages, AddressesPointAtTheFilesBesideTheProgram) {
    EXPECT_EQ(pages::fileUrl("/opt/My Apps/ü#1/index.html"),
              "file:///opt/My%20Apps/%C3%BC%231/index.html");

    TempDir prefix;
    fs::create_directories(prefix / "lib/plexavo");
    fs::create_directories(prefix / "share/plexavo");
    writeFile(prefix / "share/plexavo/index.html", "x");
    writeFile(prefix / "lib/plexavo/Plexavo.html", "x");
    const std::string program = prefix / "lib/plexavo/";
    EXPECT_EQ(pages::locateShipped(program, "Plexavo.html"), prefix / "lib/plexavo/Plexavo.html");
    EXPECT_EQ(pages::locateShipped(program, "index.html"), prefix / "share/plexavo/index.html");
    EXPECT_EQ(pages::locateShipped(program, "download.html"), prefix / "lib/plexavo/download.html")
        << "nowhere: the program's folder";

    // The build puts the pages next to the programs, this test among them.
    const std::string help = pages::helpFilePath();
    EXPECT_TRUE(fs::exists(help)) << help;
    EXPECT_EQ(fs::path(help).filename(), "Plexavo.html");
    const std::string download = pages::downloadPageUrl("#realplayer");
    EXPECT_EQ(download.rfind("file:///", 0), 0u) << download;
    EXPECT_NE(download.find("/download.html#realplayer"), std::string::npos) << download;
    EXPECT_EQ(pages::downloadPageUrl("oggcodecs").substr(download.find('#')), "#oggcodecs");
    EXPECT_NE(pages::homePageUrl().find("/index.html"), std::string::npos);

    EXPECT_STREQ(pages::downloadAnchor(32776), "#directx");
    EXPECT_STREQ(pages::downloadAnchor(32778), "#wmplayer");
    EXPECT_STREQ(pages::downloadAnchor(32777), "#realplayer");
    EXPECT_STREQ(pages::downloadAnchor(32779), "#quicktime");
    EXPECT_STREQ(pages::downloadAnchor(32780), "#oggcodecs");
    EXPECT_EQ(pages::downloadAnchor(32801), nullptr);
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
        EXPECT_TRUE(download.count(pages::downloadAnchor(command) + 1))
            << pages::downloadAnchor(command);

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

TEST(DesktopOpen, GoesThroughXdgOpenWithTheNameAsOneArgument) {
    TempDir dir;
    const std::string record = dir / "args";
    writeFile(dir / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + record +
                                    ".part\" && mv \"" + record + ".part\" \"" + record + "\"\n");
    chmod((dir / "xdg-open").c_str(), 0755);
    EnvGuard path("PATH", dir.path() + ":/usr/bin:/bin");
    auto opened = [&](const std::string& target) {
        fs::remove(record);
        EXPECT_EQ(openWithDesktop(target), kStartOk);
        for (int i = 0; i < 1000 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return readFile(record);
    };
    EXPECT_EQ(opened("/home/me/Converted Media/"), "1\n/home/me/Converted Media/\n");
    EXPECT_EQ(opened("-rf folder"), "1\n./-rf folder\n") << "a leading '-' is no option";

    EnvGuard none("PATH", dir / "empty");
    EXPECT_EQ(openWithDesktop("/tmp"), kStartFileNotFound);
}
