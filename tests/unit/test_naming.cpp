#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/Files.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using plexavo::media::SourceItem;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

SourceItem itemTitled(const std::string& title) {
    SourceItem item;
    item.title = title;
    return item;
}

} // namespace

TEST(OutputNaming, NamesNeverOverAnExistingFileWhileACounterIsFree) {
    TempDir dir;
    SourceItem item = itemTitled("clip");
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(item.outputFolder, dir.path() + "/")
        << "a folder without a trailing separator gets one";
    EXPECT_EQ(item.outputName, "clip-cvt");
    EXPECT_EQ(item.outputExtension, "mp4");
    EXPECT_EQ(item.outputFilePath(), dir / "clip-cvt.mp4");

    writeFile(dir / "clip-cvt.mp4", "x");
    item.assignOutputName(dir.path() + "/", "mp4", "cvt");
    EXPECT_EQ(item.outputFileName(), "clip-cvt[1].mp4");
    writeFile(dir / "clip-cvt[1].mp4", "x");
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(item.outputFileName(), "clip-cvt[2].mp4") << "the counter never stacks";

    item.assignOutputName(dir.path(), "mov", "cvt");
    EXPECT_EQ(item.outputFileName(), "clip-cvt.mov") << "names are per extension";

    writeFile(dir / "clip.mp4", "x");
    item.assignOutputName(dir.path(), "mp4", "");
    EXPECT_EQ(item.outputFileName(), "clip[1].mp4");

    // A folder of that name is in the way as much as a file.
    std::filesystem::create_directory(dir / "dir-cvt.mp4");
    SourceItem other = itemTitled("dir");
    other.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(other.outputFileName(), "dir-cvt[1].mp4");
}

TEST(OutputNaming, StopsAfterAThousandNumberedNames) {
    TempDir dir;
    writeFile(dir / "c-cvt.mp4", "");
    for (int n = 1; n <= 1000; ++n)
        writeFile(dir / ("c-cvt[" + std::to_string(n) + "].mp4"), "");
    SourceItem item = itemTitled("c");
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(item.outputFileName(), "c-cvt[1000].mp4");
    std::filesystem::remove(dir / "c-cvt[999].mp4");
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(item.outputFileName(), "c-cvt[999].mp4");
}

// "-cvt", a counter and the extension must never push a name past what the
// file system takes: the title gives way, at a character boundary.
TEST(OutputNaming, ALongTitleIsShortenedSoThatEveryNameFits) {
    TempDir dir;
    const std::size_t limit = plexavo::platform::fileNameLimit(dir.path());
    ASSERT_GE(limit, 32u);
    SourceItem item = itemTitled(std::string(limit - 5, 'a'));
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(item.outputFileName().size(), limit);
    EXPECT_EQ(item.outputName.substr(item.outputName.size() - 4), "-cvt");
    writeFile(item.outputFilePath(), "x"); // the name is one the file system takes
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_EQ(item.outputFileName().size(), limit);
    EXPECT_EQ(item.outputName.substr(item.outputName.size() - 7), "-cvt[1]");
    writeFile(item.outputFilePath(), "x");

    // Three-byte characters: the cut never splits one.
    const std::string wide = "\xe6\x97\xa5"; // U+65E5
    std::string title;
    while (title.size() < limit)
        title += wide;
    item = itemTitled(title);
    item.assignOutputName(dir.path(), "mp4", "cvt");
    EXPECT_LE(item.outputFileName().size(), limit);
    const std::string stem = item.outputName.substr(0, item.outputName.size() - 4);
    EXPECT_EQ(stem.size() % 3, 0u) << "a character was cut in half";
    EXPECT_GT(stem.size() + 3 + 8, limit) << "no more was cut than needed";

    // Bytes that are not UTF-8 count as characters of their own.
    EXPECT_EQ(plexavo::platform::cutAtCharacter("ab\xff\xe6\x97\xa5", 4), "ab\xff");
    EXPECT_EQ(plexavo::platform::cutAtCharacter("ab\xe6\x97", 4), "ab\xe6\x97") << "a cut sequence";
    EXPECT_EQ(plexavo::platform::cutAtCharacter("abc", 0), "");
}

// A folder that does not exist yet is asked through its nearest parent.
TEST(OutputNaming, TheNameLimitOfAFolderStillToBeMade) {
    TempDir dir;
    EXPECT_EQ(plexavo::platform::fileNameLimit(dir / "not/yet/there"),
              plexavo::platform::fileNameLimit(dir.path()));
}

TEST(OutputFolders, EnsureFolderCreatesEveryMissingLevel) {
    TempDir dir;
    const std::string deep = dir / "one/two three/été/";
    EXPECT_FALSE(plexavo::platform::folderExists(deep));
    plexavo::platform::ensureFolder(deep);
    EXPECT_TRUE(plexavo::platform::folderExists(deep));
    EXPECT_TRUE(plexavo::platform::folderExists(dir / "one"));
    plexavo::platform::ensureFolder(deep); // already there: nothing happens

    writeFile(dir / "file", "x");
    EXPECT_TRUE(plexavo::platform::fileExists(dir / "file"));
    EXPECT_FALSE(plexavo::platform::folderExists(dir / "file"));
    plexavo::platform::ensureFolder(dir / "file/sub"); // blocked by a file: silently not made
    EXPECT_FALSE(plexavo::platform::folderExists(dir / "file/sub"));
    EXPECT_FALSE(plexavo::platform::fileExists(""));
    EXPECT_FALSE(plexavo::platform::folderExists(dir / "nothing"));
}

TEST(formatSeconds, ClockTextWithUnwrappedHours) {
    EXPECT_EQ(plexavo::convert::formatSeconds(3723), "01:02:03");
    EXPECT_EQ(plexavo::convert::formatSeconds(0), "00:00:00");
    EXPECT_EQ(plexavo::convert::formatSeconds(59), "00:00:59");
    EXPECT_EQ(plexavo::convert::formatSeconds(86399), "23:59:59");
    EXPECT_EQ(plexavo::convert::formatSeconds(360000), "100:00:00");
}
