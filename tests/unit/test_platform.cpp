#include "engine/platform/Platform.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
