#include "engine/i18n/ResourceText.h"
#include "engine/platform/DebugLog.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace plexavo::res;
using namespace testing_support;

using plexavo::i18n::conversionSignature;
using plexavo::i18n::currentModule;
using plexavo::i18n::loadResString;
using plexavo::i18n::setCurrentModule;

namespace {

const Entry kPackEntries[] = {
    {Kind::String, 0, 61337, 0, "Original behalten"},
    {Kind::String, 0, 61212, 0, "Erkenne.\nNr.%d/%d: \"%s\""},
    {Kind::String, 0, 61205, 0, "Bad %s %s %s"}, // asks for more than callers pass
};
const Module kPack{"Deutsch", 0x0407, kPackEntries, std::size(kPackEntries)};

class ResourceTextTest : public ::testing::Test {
  protected:
    void SetUp() override { plexavo::platform::setLogPath(m_dir / "log"); }
    void TearDown() override {
        setCurrentModule(nullptr);
        plexavo::platform::setLogPath("");
    }
    TempDir m_dir;
};

} // namespace

TEST_F(ResourceTextTest, FormatsTheCurrentModulesText) {
    EXPECT_EQ(loadResString(61337), "Keep Original");
    EXPECT_EQ(loadResString(61212, 2, 4, "/m/a b.avi"),
              "Detecting selected files.\nNo.2/4: \"/m/a b.avi\"");
    setCurrentModule(&kPack);
    EXPECT_EQ(&currentModule(), &kPack);
    EXPECT_EQ(loadResString(61337), "Original behalten");
    EXPECT_EQ(loadResString(61212, 1, 3, "/x"), "Erkenne.\nNr.1/3: \"/x\"");
    setCurrentModule(nullptr);
    EXPECT_EQ(loadResString(61337), "Keep Original");
}

TEST_F(ResourceTextTest, MissingTextIsEmptyAndLogged) {
    setCurrentModule(&kPack);
    EXPECT_EQ(loadResString(61323), "") << "no fallback to the program's own text";
    EXPECT_EQ(loadResString(4242), "");
    EXPECT_EQ(
        readFile(m_dir / "log"),
        "**Error Loading Resource String:id=61323\n**Error Loading Resource String:id=4242\n");
}

TEST_F(ResourceTextTest, APackTextWithOtherPlaceholdersIsNotFormatted) {
    setCurrentModule(&kPack);
    EXPECT_EQ(loadResString(61205), "Bad %s %s %s");
    EXPECT_NE(readFile(m_dir / "log").find("61205"), std::string::npos);
}

TEST(ResourceSignature, ConversionLettersInOrder) {
    EXPECT_EQ(conversionSignature("No.%d/%d: \"%s\" 100%% %-5.2f %*d %lu"), "ddsf*du");
}
