// The settings file: typed values in a keyfile, kept across runs, written
// under a lock and replaced whole, damaged files set aside, and an older
// Plexavo's Plexavo.reg taken over once and left as it was.
#include "engine/settings/OldRegFile.h"
#include "engine/settings/SettingsFile.h"
#include "engine/settings/StoredSettings.h"

#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace plexavo;
using namespace plexavo::settings;
using namespace testing_support;

namespace {

constexpr char kOldSection[] = "[HKEY_LOCAL_MACHINE\\Software\\Vantrel\\Plexavo]";

class SettingsStoreTest : public ::testing::Test {
  protected:
    std::string conf() const { return m_dir / "plexavo.conf"; }
    std::string confText() const { return readFile(conf()); }
    std::string oldFile() const { return m_dir / "Plexavo.reg"; }
    void writeOld(const std::string& body) {
        writeFile(oldFile(), std::string("REGEDIT4\n\n") + kOldSection + "\n" + body);
    }

    TempDir m_dir;
    EnvGuard m_env{"PLEXAVO_CONFIG_DIR", m_dir.path()};
};

using Values = std::vector<std::pair<std::string, Value>>;

Values oldValues(const std::string& body) {
    return parseOldRegFile(std::string("REGEDIT4\n\n") + kOldSection + "\n" + body);
}

} // namespace

// ---------------------------------------------------------------- the keyfile

TEST_F(SettingsStoreTest, ValuesKeepTheirTypesAcrossARestart) {
    EXPECT_TRUE(SettingsFile().write("Language", 2052).ok);
    EXPECT_TRUE(SettingsFile().write("OutputPath", std::string("/home/me/Videos/")).ok);
    EXPECT_TRUE(SettingsFile().write("HiddenToolTips", true).ok);
    EXPECT_EQ(confText(), "[Settings]\nLanguage=2052\nOutputPath=/home/me/Videos/\n"
                          "HiddenToolTips=true\n");

    const SettingsFile file; // as the next run finds it
    EXPECT_EQ(file.readNumber("Language"), 2052);
    EXPECT_EQ(file.readText("OutputPath"), "/home/me/Videos/");
    EXPECT_EQ(file.readFlag("HiddenToolTips"), true);
    // Another type than the one asked for is no value.
    EXPECT_EQ(file.readNumber("OutputPath"), std::nullopt);
    EXPECT_EQ(file.readFlag("Language"), std::nullopt);
    EXPECT_EQ(file.readNumber("HiddenToolTips"), std::nullopt);
    EXPECT_EQ(file.readText("Missing"), std::nullopt);

    // Changed, a value keeps its line.
    EXPECT_TRUE(SettingsFile().write("Language", 1031).ok);
    EXPECT_EQ(confText(), "[Settings]\nLanguage=1031\nOutputPath=/home/me/Videos/\n"
                          "HiddenToolTips=true\n");
}

TEST_F(SettingsStoreTest, TheNamedSettingsReadOnlyTheirOwnType) {
    struct Case {
        const char* line;
        std::optional<int> language;
    };
    for (const Case& c :
         {Case{"Language=1031", 1031}, Case{"Language = 2052 ", 2052},
          Case{"Language=\"2052\"", std::nullopt}, Case{"Language=0x804", std::nullopt},
          Case{"Language=German", std::nullopt}, Case{"Language=", std::nullopt},
          Case{"", std::nullopt}}) {
        writeFile(conf(), std::string("[Settings]\n") + c.line + "\n");
        EXPECT_EQ(readLanguage(), c.language) << c.line;
    }
    struct Flag {
        const char* line;
        bool hidden;
    };
    for (const Flag& c : {Flag{"HiddenToolTips=true", true}, Flag{"HiddenToolTips=1", true},
                          Flag{"HiddenToolTips=false", false}, Flag{"HiddenToolTips=yes", false},
                          Flag{"HiddenToolTips=TRUE", false}, Flag{"", false}}) {
        writeFile(conf(), std::string("[Settings]\n") + c.line + "\n");
        EXPECT_EQ(readToolTipsHidden(), c.hidden) << c.line;
    }
    // The values belong to their group: the same name elsewhere is not ours.
    writeFile(conf(), "[Other]\nLanguage=1031\nHiddenToolTips=true\n");
    EXPECT_EQ(readLanguage(), std::nullopt);
    EXPECT_FALSE(readToolTipsHidden());
}

TEST_F(SettingsStoreTest, AWriteKeepsEverythingElseTheFileHeld) {
    writeFile(conf(), "# kept by hand\n"
                      "[Settings]\n"
                      "# the folder I like\n"
                      "OutputPath=/old/\n"
                      "Name[de]=Umwandler\n"
                      "Unknown=value\n"
                      "\n"
                      "[Other]\n"
                      "Z=1\n");
    EXPECT_TRUE(writeOutputPath("/new/").ok);
    EXPECT_TRUE(writeLanguage(1033).ok);
    // Every line stays, in its place; only blank lines may move.
    std::string lines = confText();
    for (auto blank = lines.find("\n\n"); blank != std::string::npos; blank = lines.find("\n\n"))
        lines.erase(blank, 1);
    EXPECT_EQ(lines, "# kept by hand\n"
                     "[Settings]\n"
                     "# the folder I like\n"
                     "OutputPath=/new/\n"
                     "Name[de]=Umwandler\n"
                     "Unknown=value\n"
                     "Language=1033\n"
                     "[Other]\n"
                     "Z=1\n");
}

TEST_F(SettingsStoreTest, AnyTextSurvivesTheRoundTrip) {
    const std::string texts[] = {
        "/home/me/My \"Quoted\" Videos\\back/", "/home/me/Vid\xc3\xa9os/\xe6\x97\xa5\xe6\x9c\xac/",
        "/tmp/line\nbreak/\ttab\rreturn",       "  leading and trailing blanks  ",
        "# not a comment = [not a group]",      "",
    };
    for (const auto& text : texts) {
        ASSERT_TRUE(writeOutputPath(text).ok);
        EXPECT_EQ(SettingsFile().readText(kOutputPath), text);
        EXPECT_EQ(readLanguage(), std::nullopt) << "no other value appears";
    }
    // The file holds text: bytes that are not UTF-8 are refused, not mangled.
    writeOutputPath("/kept/");
    const std::string before = confText();
    const SaveResult result = writeOutputPath("/tmp/not-utf8-\xff\xfe/");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EILSEQ);
    EXPECT_EQ(result.file, conf());
    EXPECT_EQ(confText(), before);
}

TEST_F(SettingsStoreTest, ADamagedFileReadsAsDefaultsAndIsKeptAsideOnTheNextWrite) {
    const std::string junk = std::string("\x7f"
                                         "ELF\0\0garbage\x01\x02",
                                         16) +
                             "Language=1031";
    writeFile(conf(), junk);
    EXPECT_EQ(readLanguage(), std::nullopt);
    EXPECT_FALSE(readToolTipsHidden());
    EXPECT_EQ(confText(), junk) << "reading never changes the file";

    EXPECT_TRUE(writeLanguage(1033).ok);
    EXPECT_EQ(confText(), "[Settings]\nLanguage=1033\n");
    EXPECT_EQ(readFile(conf() + ".damaged"), junk);

    // A line that is no setting makes a file damaged too; a second damaged
    // file does not replace the first one set aside.
    const std::string halfEdited = "[Settings]\nLanguage=1031\nthis line is no value\n";
    writeFile(conf(), halfEdited);
    EXPECT_EQ(readLanguage(), std::nullopt);
    EXPECT_TRUE(writeLanguage(1036).ok);
    EXPECT_EQ(readFile(conf() + ".damaged"), junk);
    EXPECT_EQ(readFile(conf() + ".damaged.1"), halfEdited);
    EXPECT_EQ(readLanguage(), 1036);

    // Values before any group are no keyfile either.
    writeFile(conf(), "Language=1031\n");
    EXPECT_EQ(readLanguage(), std::nullopt);
}

TEST_F(SettingsStoreTest, AnUnreadableFileIsNeverReplaced) {
    // Something that cannot be read as a file sits where the file belongs.
    fs::create_directory(conf());
    writeFile(conf() + "/precious", "x");
    EXPECT_EQ(readLanguage(), std::nullopt);
    EXPECT_EQ(writeLanguage(1033).error, EISDIR);
    EXPECT_EQ(readFile(conf() + "/precious"), "x");

    if (geteuid() != 0) { // root reads whatever the permissions say
        fs::remove_all(conf());
        writeFile(conf(), "[Settings]\nLanguage=1033\n");
        chmod(conf().c_str(), 0);
        EXPECT_EQ(readLanguage(), std::nullopt);
        EXPECT_EQ(writeLanguage(1036).error, EACCES);
        chmod(conf().c_str(), 0600);
        EXPECT_EQ(readLanguage(), 1033);
    }
}

TEST_F(SettingsStoreTest, AWriteThroughALinkUpdatesTheLinkedFile) {
    const std::string real = m_dir / "dotfiles-plexavo.conf";
    writeFile(real, "[Settings]\nLanguage=1033\n");
    fs::create_symlink(real, conf());
    EXPECT_TRUE(writeOutputPath("/linked/").ok);
    EXPECT_TRUE(fs::is_symlink(conf()));
    EXPECT_EQ(readFile(real), "[Settings]\nLanguage=1033\nOutputPath=/linked/\n");
}

TEST_F(SettingsStoreTest, TheFileKeepsItsPermissions) {
    writeFile(conf(), "[Settings]\nLanguage=1033\n");
    chmod(conf().c_str(), 0640);
    writeLanguage(1036);
    struct stat st {};
    ASSERT_EQ(stat(conf().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SettingsStoreTest, TwoProcessesWritingAtOnceLoseNothingAndTearNothing) {
    writeFile(conf(), "[Settings]\nSentinel=7\n");
    constexpr int kEach = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < kEach; ++i) {
                const std::string name = std::string(c ? "B" : "A") + std::to_string(i);
                if (!SettingsFile().write(name, i).ok)
                    _exit(1);
            }
            _exit(0);
        }
    }
    // Meanwhile every read finds a whole file.
    int reads = 0;
    int torn = 0;
    for (int running = 2; running > 0; ++reads) {
        if (SettingsFile().readNumber("Sentinel") != 7)
            ++torn;
        for (pid_t& child : children) {
            int status = 0;
            if (child > 0 && waitpid(child, &status, WNOHANG) == child) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                child = 0;
                --running;
            }
        }
    }
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    const SettingsFile file;
    for (const char* prefix : {"A", "B"})
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(file.readNumber(prefix + std::to_string(i)), i) << prefix << i;
}

TEST_F(SettingsStoreTest, AWriterKilledMidWriteLeavesAWholeFile) {
    // A large file makes each write long enough for the kill to land inside one.
    std::string body = "[Settings]\n";
    for (int i = 0; i < 3000; ++i)
        body += "Filler" + std::to_string(i) + "=" + std::string(60, 'f') + "\n";
    writeFile(conf(), body + "OutputPath=/start/\n");

    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                writeOutputPath(i % 2 ? "/odd/" : "/even/");
        }
        usleep(static_cast<useconds_t>(3000 + round * 2500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        const SettingsFile file;
        const auto path = file.readText(kOutputPath);
        ASSERT_TRUE(path) << "round " << round;
        EXPECT_TRUE(path == "/start/" || path == "/odd/" || path == "/even/") << *path;
        EXPECT_EQ(file.readText("Filler2999"), std::string(60, 'f')) << "round " << round;
    }
    // The lock of a killed writer does not outlive it.
    EXPECT_TRUE(writeOutputPath("/after/").ok);
    EXPECT_EQ(SettingsFile().readText(kOutputPath), "/after/");
}

TEST(SettingsPlace, TheFileFollowsTheEnvironment) {
    {
        EnvGuard dir("PLEXAVO_CONFIG_DIR", "/t/conf");
        EXPECT_EQ(SettingsFile().path(), "/t/conf/plexavo.conf");
        EXPECT_EQ(oldRegFilePath(), "/t/conf/Plexavo.reg");
    }
    EnvGuard none("PLEXAVO_CONFIG_DIR", std::nullopt);
    {
        EnvGuard xdg("XDG_CONFIG_HOME", "/x/cfg");
        EXPECT_EQ(SettingsFile().path(), "/x/cfg/plexavo/plexavo.conf");
        EXPECT_EQ(oldRegFilePath(), "/x/cfg/Vantrel/Plexavo.reg");
    }
    EnvGuard relative("XDG_CONFIG_HOME", "relative/cfg"); // not absolute: ignored, as XDG says
    EnvGuard home("HOME", "/h/me");
    EXPECT_EQ(SettingsFile().path(), "/h/me/.config/plexavo/plexavo.conf");
    EXPECT_EQ(oldRegFilePath(), "/h/me/.config/Vantrel/Plexavo.reg");
}

TEST(SettingsPlace, AFileThatCannotBeWrittenStillReads) {
    TempDir dir;
    const std::string blocked = dir / "file-not-folder";
    writeFile(blocked, "x");
    EnvGuard env("PLEXAVO_CONFIG_DIR", blocked + "/sub");
    EXPECT_EQ(readLanguage(), std::nullopt);
    const SaveResult result = writeLanguage(1);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ENOTDIR);
    EXPECT_EQ(readFile(blocked), "x");
}

// ---------------------------------------------------------------- the old file

TEST_F(SettingsStoreTest, TheOldFileIsTakenOverOnceAndLeftInPlace) {
    const std::string old = std::string("REGEDIT4\n\n") + kOldSection +
                            "\n\"HiddenToolTips\"=\"tRuE\"\n\"Language\"=dword:00000804\n"
                            "\"OutputPath\"=\"/home/me/Vid\\\"eos/\"\n";
    writeFile(oldFile(), old);
    EXPECT_EQ(readLanguage(), 2052);
    EXPECT_EQ(confText(), "[Settings]\nHiddenToolTips=true\nLanguage=2052\n"
                          "OutputPath=/home/me/Vid\"eos/\n");
    EXPECT_EQ(readFile(oldFile()), old) << "the old file is left as it was";

    // Read once: what the old file says later no longer counts.
    writeOld("\"Language\"=dword:00000407\n");
    EXPECT_EQ(readLanguage(), 2052);
    EXPECT_TRUE(readToolTipsHidden());
    // Removing the new file starts over from the old one, as on a first run.
    fs::remove(conf());
    EXPECT_EQ(readLanguage(), 1031);
    EXPECT_FALSE(readToolTipsHidden());
}

TEST_F(SettingsStoreTest, AFirstWriteCarriesTheOldValuesAlong) {
    writeOld("\"Language\"=dword:00000407\n\"OutputPath\"=\"/old/\"\n");
    EXPECT_TRUE(writeOutputPath("/new/").ok);
    EXPECT_EQ(confText(), "[Settings]\nLanguage=1031\nOutputPath=/new/\n");
}

TEST_F(SettingsStoreTest, WhatIsNoSettingOfOursIsNotTakenOver) {
    // Nothing of ours, or no such file at all: no new file is made by a read.
    writeFile(oldFile(), std::string("REGEDIT4\n\n") + kOldSection + "\n\"Language\"=\"2052\"\n");
    EXPECT_EQ(readLanguage(), std::nullopt);
    writeFile(oldFile(), "not a registry file\n\"Language\"=dword:00000409\n");
    EXPECT_EQ(readLanguage(), std::nullopt);
    EXPECT_FALSE(fileExists(conf()));
    EXPECT_EQ(readFile(oldFile()), "not a registry file\n\"Language\"=dword:00000409\n");

    // A damaged new file is not a missing one: the old file stays unread.
    writeOld("\"Language\"=dword:00000407\n");
    writeFile(conf(), "damaged\n");
    EXPECT_EQ(readLanguage(), std::nullopt);
    EXPECT_TRUE(writeOutputPath("/x/").ok);
    EXPECT_EQ(confText(), "[Settings]\nOutputPath=/x/\n");
}

TEST(SettingsOldFile, TheOldPlaceIsFoundAndTheValuesReadWhileNoneCanBeSaved) {
    TempDir xdg;
    EnvGuard none("PLEXAVO_CONFIG_DIR", std::nullopt);
    EnvGuard env("XDG_CONFIG_HOME", xdg.path());
    fs::create_directories(xdg / "Vantrel");
    const std::string old =
        std::string("REGEDIT4\n\n") + kOldSection + "\n\"Language\"=dword:00000407\n";
    writeFile(xdg / "Vantrel/Plexavo.reg", old);
    writeFile(xdg / "plexavo", "a file where the folder belongs");
    EXPECT_EQ(readLanguage(), 1031);
    EXPECT_EQ(readLanguage(), 1031) << "read again, as nothing could be saved";
    fs::remove(xdg / "plexavo");
    EXPECT_EQ(readLanguage(), 1031);
    EXPECT_EQ(readFile(xdg / "plexavo/plexavo.conf"), "[Settings]\nLanguage=1031\n");
    EXPECT_EQ(readFile(xdg / "Vantrel/Plexavo.reg"), old);
}

TEST(SettingsOldFile, ValuesFollowTheOldRules) {
    const Values none;
    EXPECT_EQ(oldValues("\"HiddenToolTips\"=\"TRUE\"\n"), (Values{{kHiddenToolTips, true}}));
    EXPECT_EQ(oldValues("\"hiddentooltips\"=\"True\"\n"), (Values{{kHiddenToolTips, true}}));
    for (const char* notTrue : {"\"HiddenToolTips\"=\"TRUE \"\n", "\"HiddenToolTips\"=\"1\"\n",
                                "\"HiddenToolTips\"=dword:00000001\n", "\"Language\"=\"2052\"\n",
                                "\"Language\"=dword:ffffffff\n", "\"OutputPath\"=dword:00000001\n",
                                "\"OutputPath\"=\"/not-utf8-\xff/\"\n", "\"Other\"=\"x\"\n"})
        EXPECT_EQ(oldValues(notTrue), none) << notTrue;
    EXPECT_EQ(oldValues("\"Language\"=hex(4):04,08,00,00\n"), (Values{{kLanguage, 2052}}))
        << "the long form of a dword";
    // The long form of a text with a line break, as the old program wrote it.
    EXPECT_EQ(oldValues("\"OutputPath\"=hex(1):61,0a,62,\\\n  00\n"),
              (Values{{kOutputPath, std::string("a\nb")}}));
    // The last line wins; a deleted value or key is gone.
    EXPECT_EQ(oldValues("\"Language\"=dword:00000409\n\"Language\"=dword:00000407\n"),
              (Values{{kLanguage, 1031}}));
    EXPECT_EQ(oldValues("\"Language\"=dword:00000409\n\"Language\"=-\n"), none);
    EXPECT_EQ(oldValues("\"Language\"=dword:00000409\n\n[-HKEY_LOCAL_MACHINE\\Software\\Vantrel\\"
                        "Plexavo]\n"),
              none);
    // A malformed line is skipped; the line before it stands.
    EXPECT_EQ(oldValues("\"Language\"=dword:00000409\n\"Language\"=dword:zz\n"
                        "\"OutputPath\"=\"/home/me/Vid"),
              (Values{{kLanguage, 1033}}));
}

TEST(SettingsOldFile, TheFileAsAWholeIsReadAsRegeditReadsIt) {
    // Another section's values, a section named in other letter case, Windows
    // line ends and a byte-order mark.
    EXPECT_EQ(parseOldRegFile("\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                              "\"Language\"=dword:00000001\r\n\r\n"
                              "[hkey_local_machine\\software\\vantrel\\plexavo]\r\n"
                              "\"OutputPath\"=\"/x/\"\r\n"),
              (Values{{kOutputPath, std::string("/x/")}}));
    // A version 5 export keeps long-form texts in UTF-16.
    EXPECT_EQ(
        parseOldRegFile(std::string("Windows Registry Editor Version 5.00\n\n") + kOldSection +
                        "\n\"OutputPath\"=hex(1):56,00,69,00,64,00,e9,00,3c,d8,a5,df,00,00\n"),
        (Values{{kOutputPath, std::string("Vid\xc3\xa9\xf0\x9f\x8e\xa5")}}));
    // Not such a file: no header, or binary.
    EXPECT_TRUE(parseOldRegFile(std::string(kOldSection) + "\n\"Language\"=dword:1\n").empty());
    EXPECT_TRUE(parseOldRegFile(std::string("REGEDIT4\n\0", 10) + kOldSection).empty());
    EXPECT_TRUE(parseOldRegFile("").empty());
}

// ---------------------------------------------------------------- the output folder

TEST(OutputPath, RelativeAndTildeNamesLandInTheHomeFolder) {
    TempDir home;
    EnvGuard env("HOME", home.path());
    EXPECT_EQ(resolveOutputPath("~"), home.path());
    EXPECT_EQ(resolveOutputPath("~/Videos/"), home.path() + "/Videos/");
    EXPECT_EQ(resolveOutputPath("Videos/out"), home.path() + "/Videos/out");
    EXPECT_EQ(resolveOutputPath("/abs/x/"), "/abs/x/");
    EXPECT_EQ(resolveOutputPath("~root/x"), "/root/x");
    EXPECT_EQ(resolveOutputPath("~no-such-user-here/x"), home.path() + "/~no-such-user-here/x");
    EXPECT_EQ(resolveOutputPath(""), "");
}

TEST(OutputPath, OnlyAnExistingFolderIsUsed) {
    TempDir home;
    TempDir conf;
    EnvGuard h("HOME", home.path());
    EnvGuard c("PLEXAVO_CONFIG_DIR", conf.path());
    const std::string fallback = home.path() + "/ConvertedMedia/";

    EXPECT_EQ(readOutputPath(), fallback) << "nothing stored";
    fs::create_directories(home / "Clips");
    writeOutputPath("~/Clips");
    EXPECT_EQ(readOutputPath(), home.path() + "/Clips") << "no '/' added";
    writeOutputPath("Clips/");
    EXPECT_EQ(readOutputPath(), home.path() + "/Clips/");
    writeOutputPath(home / "gone/");
    EXPECT_EQ(readOutputPath(), fallback);
    writeFile(home / "a-file", "x");
    writeOutputPath(home / "a-file");
    EXPECT_EQ(readOutputPath(), fallback);
}
