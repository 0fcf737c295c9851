#include "engine/services/RegistryKey.h"

#include "TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace plexavo;
using namespace testing_support;

namespace {

constexpr char kKey[] = "Software\\Vantrel\\Plexavo";
constexpr char kSection[] = "[HKEY_LOCAL_MACHINE\\Software\\Vantrel\\Plexavo]";

class RegistryTest : public ::testing::Test {
  protected:
    std::string hive() const { return m_dir / "Plexavo.reg"; }
    std::string hiveText() const { return readFile(hive()); }
    void writeHive(const std::string& body) {
        writeFile(hive(), std::string("REGEDIT4\n\n") + kSection + "\n" + body);
    }

    TempDir m_dir;
    EnvGuard m_env{"PLEXAVO_CONFIG_DIR", m_dir.path()};
};

} // namespace

TEST_F(RegistryTest, ValuesKeepTheirTypesThroughTheFile) {
    {
        CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
        ASSERT_TRUE(key.isOpen());
        EXPECT_EQ(key.WriteDword("Language", 0x804), ERROR_SUCCESS);
        EXPECT_EQ(key.WriteString("OutputPath", "/home/me/Videos/"), ERROR_SUCCESS);
    }
    EXPECT_EQ(hiveText(),
              std::string("REGEDIT4\n\n") + kSection +
                  "\n\"Language\"=dword:00000804\n\"OutputPath\"=\"/home/me/Videos/\"\n");

    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
    DWORD language = 0;
    std::string path;
    EXPECT_EQ(key.ReadDword("Language", language), ERROR_SUCCESS);
    EXPECT_EQ(language, 0x804u);
    EXPECT_EQ(key.ReadString("OutputPath", path), ERROR_SUCCESS);
    EXPECT_EQ(path, "/home/me/Videos/");

    // The other type is not the value: the caller's default stays.
    std::string text = "default";
    DWORD number = 7;
    EXPECT_EQ(key.ReadString("Language", text), ERROR_WRONG_TYPE);
    EXPECT_EQ(text, "default");
    EXPECT_EQ(key.ReadDword("OutputPath", number), ERROR_WRONG_TYPE);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(key.ReadDword("Missing", number), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(number, 7u);
}

TEST_F(RegistryTest, ReplacingAValueRewritesItsLineInPlace) {
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
    key.WriteDword("Language", 1033);
    key.WriteString("OutputPath", "/a/");
    key.WriteDword("Language", 2052);
    EXPECT_EQ(hiveText(), std::string("REGEDIT4\n\n") + kSection +
                              "\n\"Language\"=dword:00000804\n\"OutputPath\"=\"/a/\"\n");
}

TEST_F(RegistryTest, StoredSettingsFollowTheirRules) {
    struct Case {
        const char* line;
        bool hidden;
    };
    for (const Case& c :
         {Case{"\"HiddenToolTips\"=\"TRUE\"", true}, Case{"\"HiddenToolTips\"=\"tRuE\"", true},
          Case{"\"HiddenToolTips\"=\"TRUE \"", false}, Case{"\"HiddenToolTips\"=\"1\"", false},
          Case{"\"HiddenToolTips\"=dword:00000001", false}, Case{"", false}}) {
        writeHive(std::string(c.line) + "\n");
        EXPECT_EQ(settings::readToolTipsHidden(), c.hidden) << c.line;
    }

    writeHive("\"Language\"=\"2052\"\n");
    EXPECT_EQ(settings::readLanguage(), -1) << "a language stored as text is no language";
    writeHive("\"Language\"=dword:00000409\n");
    EXPECT_EQ(settings::readLanguage(), 0x409);
    writeHive("\"Language\"=hex(4):04,08,00,00\n");
    EXPECT_EQ(settings::readLanguage(), 0x804) << "the long form of a dword";

    settings::writeToolTipsHidden();
    settings::writeLanguage(0x407);
    EXPECT_TRUE(settings::readToolTipsHidden());
    EXPECT_EQ(settings::readLanguage(), 0x407);
    EXPECT_NE(hiveText().find("\"HiddenToolTips\"=\"TRUE\"\n"), std::string::npos);
}

TEST_F(RegistryTest, DeletionsInTheFileCount) {
    writeHive("\"Language\"=dword:00000409\n\"Language\"=-\n");
    EXPECT_EQ(settings::readLanguage(), -1);
    writeHive("\"Language\"=dword:00000409\n\n[-HKEY_LOCAL_MACHINE\\Software\\Vantrel\\Plexavo]\n");
    EXPECT_EQ(settings::readLanguage(), -1);
    // Writing after a deleted key starts the key again below the deletion.
    settings::writeLanguage(0x411);
    EXPECT_EQ(settings::readLanguage(), 0x411);
}

TEST_F(RegistryTest, AWriteKeepsEverythingElseTheFileHeld) {
    const std::string original =
        "REGEDIT4\n"
        "; written by hand\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n"
        "\"Keep\"=hex(7):61,00,62,00,00,00\n"
        "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
        "  18,19,1a\n"
        "\n"
        "[hkey_local_machine\\software\\vantrel\\plexavo]\n"
        "this line is no value\n"
        "\"OutputPath\"=\"/old/\"\n"
        "@=\"default value\"\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Zed]\n"
        "\"Z\"=dword:00000001\n";
    writeFile(hive(), original);
    settings::writeOutputPath("/new/");
    settings::writeLanguage(0x409);

    const std::string expected =
        "REGEDIT4\n"
        "; written by hand\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n"
        "\"Keep\"=hex(7):61,00,62,00,00,00\n"
        "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
        "  18,19,1a\n"
        "\n"
        "[hkey_local_machine\\software\\vantrel\\plexavo]\n"
        "this line is no value\n"
        "\"OutputPath\"=\"/new/\"\n"
        "@=\"default value\"\n"
        "\"Language\"=dword:00000409\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Zed]\n"
        "\"Z\"=dword:00000001\n";
    EXPECT_EQ(hiveText(), expected);

    CRegistryKey other(HKEY_LOCAL_MACHINE, "Software\\Zed", 1);
    DWORD z = 0;
    EXPECT_EQ(other.ReadDword("Z", z), ERROR_SUCCESS);
    EXPECT_EQ(z, 1u);
}

TEST_F(RegistryTest, WindowsLineEndsStayWindowsLineEnds) {
    writeFile(hive(),
              std::string("REGEDIT4\r\n\r\n") + kSection + "\r\n\"Language\"=dword:00000409\r\n");
    EXPECT_EQ(settings::readLanguage(), 0x409);
    settings::writeOutputPath("/x/");
    EXPECT_EQ(hiveText(), std::string("REGEDIT4\r\n\r\n") + kSection +
                              "\r\n\"Language\"=dword:00000409\r\n\"OutputPath\"=\"/x/\"\r\n");
}

TEST_F(RegistryTest, AnyPathSurvivesTheRoundTrip) {
    const std::string paths[] = {
        "/home/me/My \"Quoted\" Videos\\back/", "/home/me/Vidéos/日本/", "/tmp/line\nbreak/",
        std::string("/tmp/not-utf8-\xff\xfe/"), "-leading dash",         "",
    };
    for (const auto& path : paths) {
        settings::writeOutputPath(path);
        CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 1);
        std::string read = "unset";
        EXPECT_EQ(key.ReadString("OutputPath", read), ERROR_SUCCESS);
        EXPECT_EQ(read, path);
    }
    // Text that cannot sit between quotes is kept in the long form.
    settings::writeOutputPath("a\nb");
    EXPECT_NE(hiveText().find("\"OutputPath\"=hex(1):61,0a,62,00\n"), std::string::npos)
        << hiveText();
}

TEST_F(RegistryTest, AVersionFiveExportIsReadWithItsUnicodeStrings) {
    // "Vidéo" as UTF-16LE with its terminator, the way regedit writes it.
    writeFile(hive(), std::string("Windows Registry Editor Version 5.00\n\n") + kSection +
                          "\n\"OutputPath\"=hex(1):56,00,69,00,64,00,e9,00,6f,00,00,00\n");
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
    std::string read;
    EXPECT_EQ(key.ReadString("OutputPath", read), ERROR_SUCCESS);
    EXPECT_EQ(read, "Vid\xc3\xa9o");
    EXPECT_EQ(key.WriteString("OutputPath", "x\ty"), ERROR_SUCCESS);
    EXPECT_NE(hiveText().find("\"OutputPath\"=hex(1):78,00,09,00,79,00,00,00"), std::string::npos);
    EXPECT_EQ(key.ReadString("OutputPath", read), ERROR_SUCCESS);
    EXPECT_EQ(read, "x\ty");
}

TEST_F(RegistryTest, ADamagedFileReadsAsDefaultsAndIsKeptAsideOnTheNextWrite) {
    const std::string junk = std::string("\x7f"
                                         "ELF\0\0garbage\x01\x02",
                                         16) +
                             "\"Language\"=dword:1";
    writeFile(hive(), junk);
    EXPECT_EQ(settings::readLanguage(), -1);
    EXPECT_FALSE(settings::readToolTipsHidden());
    EXPECT_EQ(hiveText(), junk) << "reading never changes the file";

    settings::writeLanguage(0x409);
    EXPECT_EQ(settings::readLanguage(), 0x409);
    EXPECT_EQ(readFile(hive() + ".damaged"), junk);

    // A second damaged file does not replace the first one set aside.
    writeFile(hive(), "not a registry file\n\"Language\"=dword:00000409\n");
    EXPECT_EQ(settings::readLanguage(), -1);
    settings::writeLanguage(0x40c);
    EXPECT_EQ(readFile(hive() + ".damaged"), junk);
    EXPECT_EQ(readFile(hive() + ".damaged.1"),
              "not a registry file\n\"Language\"=dword:00000409\n");
    EXPECT_EQ(settings::readLanguage(), 0x40c);
}

TEST_F(RegistryTest, DamagedLinesInAGoodFileAreSkippedAndKept) {
    // A file cut short in the middle of its last line.
    writeHive("\"Language\"=dword:00000409\n\"OutputPath\"=\"/home/me/Vid");
    EXPECT_EQ(settings::readLanguage(), 0x409);
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
    std::string path = "default";
    EXPECT_EQ(key.ReadString("OutputPath", path), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(path, "default");
    key.WriteString("OutputPath", "/ok/");
    EXPECT_EQ(hiveText(), std::string("REGEDIT4\n\n") + kSection +
                              "\n\"Language\"=dword:00000409\n\"OutputPath\"=\"/home/me/Vid\n"
                              "\"OutputPath\"=\"/ok/\"\n");
    EXPECT_EQ(key.ReadString("OutputPath", path), ERROR_SUCCESS);
    EXPECT_EQ(path, "/ok/");
}

TEST_F(RegistryTest, AnUnreadableHiveIsNeverReplaced) {
    // Something that cannot be read as a file sits where the hive belongs.
    fs::create_directory(hive());
    writeFile(hive() + "/precious", "x");
    EXPECT_EQ(settings::readLanguage(), -1);
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
    EXPECT_EQ(key.WriteDword("Language", 0x409), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readFile(hive() + "/precious"), "x");

    if (geteuid() != 0) { // root reads whatever the permissions say
        fs::remove_all(hive());
        writeHive("\"Language\"=dword:00000409\n");
        chmod(hive().c_str(), 0);
        EXPECT_EQ(settings::readLanguage(), -1);
        EXPECT_EQ(key.WriteDword("Language", 0x40c), ERROR_ACCESS_DENIED);
        chmod(hive().c_str(), 0600);
        EXPECT_EQ(settings::readLanguage(), 0x409);
    }
}

TEST_F(RegistryTest, AWriteThroughALinkUpdatesTheLinkedFile) {
    const std::string real = m_dir / "dotfiles-Plexavo.reg";
    writeFile(real, std::string("REGEDIT4\n\n") + kSection + "\n\"Language\"=dword:00000409\n");
    fs::create_symlink(real, hive());
    settings::writeOutputPath("/linked/");
    EXPECT_TRUE(fs::is_symlink(hive()));
    EXPECT_NE(readFile(real).find("\"OutputPath\"=\"/linked/\""), std::string::npos);
}

TEST_F(RegistryTest, TheFileKeepsItsPermissions) {
    writeHive("\"Language\"=dword:00000409\n");
    chmod(hive().c_str(), 0640);
    settings::writeLanguage(0x40c);
    struct stat st {};
    ASSERT_EQ(stat(hive().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kEach = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < kEach; ++i) {
                CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
                const std::string name = std::string(c ? "B" : "A") + std::to_string(i);
                if (key.WriteDword(name.c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS)
                    _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 1);
    for (const char* prefix : {"A", "B"}) {
        for (int i = 0; i < kEach; ++i) {
            const std::string name = prefix + std::to_string(i);
            DWORD value = 999;
            EXPECT_EQ(key.ReadDword(name.c_str(), value), ERROR_SUCCESS) << name;
            EXPECT_EQ(value, static_cast<DWORD>(i)) << name;
        }
    }
}

TEST_F(RegistryTest, AWriterKilledMidWriteLeavesAWholeFile) {
    // A large hive makes each write long enough for the kill to land inside one.
    std::string body;
    for (int i = 0; i < 3000; ++i)
        body += "\"Filler" + std::to_string(i) + "\"=\"" + std::string(60, 'f') + "\"\n";
    writeHive(body + "\"OutputPath\"=\"/start/\"\n");

    const std::string expectedEnd = "\"OutputPath\"=";
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                settings::writeOutputPath(i % 2 ? "/odd/" : "/even/");
        }
        usleep(static_cast<useconds_t>(3000 + round * 2500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 1);
        std::string path;
        ASSERT_EQ(key.ReadString("OutputPath", path), ERROR_SUCCESS) << "round " << round;
        EXPECT_TRUE(path == "/start/" || path == "/odd/" || path == "/even/") << path;
        std::string filler;
        ASSERT_EQ(key.ReadString("Filler2999", filler), ERROR_SUCCESS) << "round " << round;
        EXPECT_EQ(filler, std::string(60, 'f'));
    }
    // The lock of a killed writer does not outlive it.
    settings::writeOutputPath("/after/");
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 1);
    std::string path;
    key.ReadString("OutputPath", path);
    EXPECT_EQ(path, "/after/");
}

TEST(RegistryPlace, TheHiveFollowsTheEnvironment) {
    {
        EnvGuard dir("PLEXAVO_CONFIG_DIR", "/t/conf");
        EXPECT_EQ(CRegistryKey::hivePath(), "/t/conf/Plexavo.reg");
    }
    EnvGuard none("PLEXAVO_CONFIG_DIR", std::nullopt);
    {
        EnvGuard xdg("XDG_CONFIG_HOME", "/x/cfg");
        EXPECT_EQ(CRegistryKey::hivePath(), "/x/cfg/Vantrel/Plexavo.reg");
    }
    EnvGuard relative("XDG_CONFIG_HOME", "relative/cfg"); // not absolute: ignored, as XDG says
    EnvGuard home("HOME", "/h/me");
    EXPECT_EQ(CRegistryKey::hivePath(), "/h/me/.config/Vantrel/Plexavo.reg");
}

TEST(RegistryPlace, AKeyThatCannotBeWrittenStillReads) {
    TempDir dir;
    const std::string blocked = dir / "file-not-folder";
    writeFile(blocked, "x");
    EnvGuard env("PLEXAVO_CONFIG_DIR", blocked + "/sub");
    CRegistryKey key(HKEY_LOCAL_MACHINE, kKey, 3);
    EXPECT_TRUE(key.isOpen());
    DWORD value = 5;
    EXPECT_EQ(key.ReadDword("Language", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(key.WriteDword("Language", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(readFile(blocked), "x");

    CRegistryKey bad(HKEY::None, kKey, 3);
    EXPECT_FALSE(bad.isOpen());
    EXPECT_EQ(bad.ReadDword("Language", value), ERROR_INVALID_HANDLE);
}

TEST(OutputPath, RelativeAndTildeNamesLandInTheHomeFolder) {
    TempDir home;
    EnvGuard env("HOME", home.path());
    EXPECT_EQ(settings::resolveOutputPath("~"), home.path());
    EXPECT_EQ(settings::resolveOutputPath("~/Videos/"), home.path() + "/Videos/");
    EXPECT_EQ(settings::resolveOutputPath("Videos/out"), home.path() + "/Videos/out");
    EXPECT_EQ(settings::resolveOutputPath("/abs/x/"), "/abs/x/");
    EXPECT_EQ(settings::resolveOutputPath("~root/x"), "/root/x");
    EXPECT_EQ(settings::resolveOutputPath("~no-such-user-here/x"),
              home.path() + "/~no-such-user-here/x");
    EXPECT_EQ(settings::resolveOutputPath(""), "");
}

TEST(OutputPath, OnlyAnExistingFolderIsUsed) {
    TempDir home;
    TempDir conf;
    EnvGuard h("HOME", home.path());
    EnvGuard c("PLEXAVO_CONFIG_DIR", conf.path());
    const std::string fallback = home.path() + "/ConvertedMedia/";

    EXPECT_EQ(settings::readOutputPath(), fallback) << "nothing stored";
    fs::create_directories(home / "Clips");
    settings::writeOutputPath("~/Clips");
    EXPECT_EQ(settings::readOutputPath(), home.path() + "/Clips") << "no '/' added";
    settings::writeOutputPath("Clips/");
    EXPECT_EQ(settings::readOutputPath(), home.path() + "/Clips/");
    settings::writeOutputPath(home / "gone/");
    EXPECT_EQ(settings::readOutputPath(), fallback);
    writeFile(home / "a-file", "x");
    settings::writeOutputPath(home / "a-file");
    EXPECT_EQ(settings::readOutputPath(), fallback);
}
