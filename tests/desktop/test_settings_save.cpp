// A setting that cannot be saved says why, with the system's words, and the
// file it was for; the file already there stays as it was. The read-only and
// full file systems are real: small tmpfs mounts in a mount namespace of this
// test's own (root only; elsewhere those tests skip and say why).
#include "engine/settings/StoredSettings.h"

#include "TestSupport.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace plexavo;
using namespace testing_support;

namespace {

const std::string kStored = "[Settings]\nLanguage=1033\n";

// A tmpfs of `size` mounted on a fresh folder, unmounted at the end. The
// mount lives in a mount namespace of this thread's own, so nothing of it
// shows outside the test, even when the test dies.
class ScratchMount {
  public:
    explicit ScratchMount(const std::string& size) {
        static const int isolated = [] {
            if (unshare(CLONE_NEWNS) != 0)
                return errno;
            return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 ? 0 : errno;
        }();
        if (isolated) {
            m_problem = std::string("no mount namespace of its own (") + std::strerror(isolated) +
                        "); run as root to test it";
            return;
        }
        const std::string options = "size=" + size + ",mode=0755";
        if (mount("tmpfs", m_point.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
            m_problem = std::string("cannot mount a tmpfs (") + std::strerror(errno) + ")";
            return;
        }
        m_mounted = true;
    }
    ~ScratchMount() {
        if (m_mounted)
            umount2(m_point.path().c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    // Empty when mounted; otherwise why not, for the skip message.
    const std::string& problem() const { return m_problem; }
    const std::string& path() const { return m_point.path(); }

    bool remountReadOnly() {
        return mount(nullptr, m_point.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) ==
               0;
    }

    // Fills the file system to the last byte.
    void fill() {
        const std::string filler = m_point / "filler";
        FILE* f = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
        }
        std::fclose(f);
    }

  private:
    TempDir m_point;
    bool m_mounted = false;
    std::string m_problem;
};

// The settings of one test live in `folder`.
class SettingsIn {
  public:
    explicit SettingsIn(const std::string& folder) : m_env("PLEXAVO_CONFIG_DIR", folder) {}
    std::string file() const { return settings::SettingsFile().path(); }

  private:
    EnvGuard m_env;
};

void expectFailure(const settings::SaveResult& result, const std::string& file, int error,
                   const char* words) {
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.file, file);
    EXPECT_EQ(result.error, error) << std::strerror(result.error);
    EXPECT_EQ(result.reason(), words);
}

} // namespace

TEST(SettingsSave, AFolderWhereTheFileBelongsIsNamedAndKept) {
    TempDir dir;
    SettingsIn settings(dir.path());
    fs::create_directory(settings.file());
    writeFile(settings.file() + "/precious", "x");
    expectFailure(settings::writeLanguage(1031), settings.file(), EISDIR, "Is a directory");
    expectFailure(settings::writeOutputPath("/videos/"), settings.file(), EISDIR, "Is a directory");
    EXPECT_EQ(readFile(settings.file() + "/precious"), "x");
}

TEST(SettingsSave, AFolderThatCannotBeMadeSaysWhy) {
    TempDir dir;
    writeFile(dir / "a-file", "x");
    SettingsIn settings(dir / "a-file/plexavo");
    expectFailure(settings::writeToolTipsHidden(), settings.file(), ENOTDIR, "Not a directory");
    EXPECT_EQ(readFile(dir / "a-file"), "x");
}

TEST(SettingsSave, TextTheFileCannotHoldIsRefusedWithItsReason) {
    // The keyfile holds text: bytes that are not UTF-8 cannot go in.
    TempDir dir;
    SettingsIn settings(dir.path());
    writeFile(settings.file(), kStored);
    expectFailure(settings::writeOutputPath("/videos/\xff\n/"), settings.file(), EILSEQ,
                  "Invalid or incomplete multibyte or wide character");
    EXPECT_EQ(readFile(settings.file()), kStored);
}

TEST(SettingsSave, AFolderWithoutWritePermissionSaysPermissionDenied) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes whatever the permissions say; the read-only mount test "
                        "covers a folder that cannot be written";
    TempDir dir;
    SettingsIn settings(dir.path());
    writeFile(settings.file(), kStored);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    expectFailure(settings::writeLanguage(1031), settings.file(), EACCES, "Permission denied");
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readFile(settings.file()), kStored);
}

TEST(SettingsSave, AReadOnlyFileSystemIsNamedAndTheFileStays) {
    ScratchMount scratch("1m");
    if (!scratch.problem().empty())
        GTEST_SKIP() << scratch.problem();
    SettingsIn settings(scratch.path());
    writeFile(settings.file(), kStored);
    ASSERT_TRUE(scratch.remountReadOnly()) << std::strerror(errno);

    expectFailure(settings::writeLanguage(1031), settings.file(), EROFS, "Read-only file system");
    expectFailure(settings::writeOutputPath("/videos/"), settings.file(), EROFS,
                  "Read-only file system");
    EXPECT_EQ(readFile(settings.file()), kStored);
    EXPECT_EQ(settings::readLanguage(), 1033) << "it still reads";

    // A settings folder not made yet cannot be made there either.
    SettingsIn deeper(scratch.path() + "/config/plexavo");
    expectFailure(settings::writeToolTipsHidden(), deeper.file(), EROFS, "Read-only file system");
}

TEST(SettingsSave, AFullFileSystemIsNamedAndTheFileStaysWhole) {
    ScratchMount scratch("256k");
    if (!scratch.problem().empty())
        GTEST_SKIP() << scratch.problem();
    SettingsIn settings(scratch.path());
    ASSERT_TRUE(settings::writeLanguage(1033).ok);
    const std::string before = readFile(settings.file());
    scratch.fill();

    expectFailure(settings::writeOutputPath("/videos/"), settings.file(), ENOSPC,
                  "No space left on device");
    EXPECT_EQ(readFile(settings.file()), before);
    EXPECT_FALSE(fileExists(settings.file() + ".tmp")) << "the unfinished copy is removed";
    EXPECT_EQ(settings::readLanguage(), 1033);

    // Room again: the next choice is saved.
    fs::remove(scratch.path() + "/filler");
    EXPECT_TRUE(settings::writeOutputPath("/videos/").ok);
    EXPECT_EQ(settings::readLanguage(), 1033);
}
