// The program's version, as the build sets it, and the version a language
// pack was built for: only a pack of this version is listed and loaded.
#include "engine/i18n/LanguagePacks.h"
#include "engine/i18n/ResourceText.h"

#include "LangTestSupport.h"
#include "PlexavoVersion.h"

#include <gtest/gtest.h>

using namespace plexavo;
using namespace plexavo::i18n;

TEST(ProgramVersion, IsTheProjectsAndTheAboutBoxSaysIt) {
    // project() in CMakeLists.txt, handed to this test apart from the header.
    EXPECT_STREQ(kProgramVersion, PLEXAVO_PROJECT_VERSION);
    EXPECT_EQ(kVersionMajor, PLEXAVO_PROJECT_VERSION_MAJOR);
    EXPECT_EQ(kVersionMinor, PLEXAVO_PROJECT_VERSION_MINOR);
    EXPECT_EQ(kVersionPatch, PLEXAVO_PROJECT_VERSION_PATCH);
    // The About box's line, in the program's own English.
    EXPECT_EQ(loadResString(61920, kVersionMajor, kVersionMinor, kVersionPatch),
              "Version " PLEXAVO_PROJECT_VERSION);
}

class PackVersionTest : public ::testing::Test {
  protected:
    lang_test::PackFolder m_folder;
};

TEST_F(PackVersionTest, OnlyAPackBuiltForThisVersionIsListed) {
    const std::string good = m_folder.add("LanResThisVersionDll.so");
    std::uint16_t id = 0;
    std::string name;
    EXPECT_TRUE(queryLanguagePack(good, id, name));
    EXPECT_EQ(id, 0x0416);
    EXPECT_EQ(name, "This");
    for (const char* pack : {"LanResOlderDll.so", "LanResLongerDll.so", "LanResShorterDll.so",
                             "LanResNoVersionDll.so"})
        EXPECT_FALSE(queryLanguagePack(m_folder.add(pack), id, name)) << pack;

    std::vector<std::uint16_t> ids;
    std::vector<std::string> names;
    std::vector<std::string> paths;
    buildLanguageList(ids, names, paths);
    EXPECT_EQ(names, std::vector<std::string>{"This"});
    EXPECT_EQ(paths, std::vector<std::string>{good});
}

TEST_F(PackVersionTest, APackOfAnotherVersionOrNoneIsNeverLoaded) {
    LanguagePacks packs;
    ASSERT_TRUE(packs.loadLanguagePack(m_folder.add("LanResThisVersionDll.so")));
    EXPECT_EQ(loadResString(61308), "This Add");

    for (const char* pack : {"LanResOlderDll.so", "LanResLongerDll.so", "LanResShorterDll.so",
                             "LanResNoVersionDll.so"}) {
        EXPECT_FALSE(packs.loadLanguagePack(m_folder.add(pack))) << pack;
        EXPECT_EQ(&i18n::currentModule(), &res::defaultModule()) << pack;
        EXPECT_EQ(packs.m_library, nullptr) << pack;
        EXPECT_EQ(loadResString(61308), "Add") << pack;
    }

    // Chosen from the menu by its language, it is not found, and the
    // language stays as it was.
    ASSERT_TRUE(packs.selectLanguage(0x0416));
    EXPECT_FALSE(packs.selectLanguage(0x0417));
    EXPECT_EQ(packs.m_currentLanguage, 0x0416);
    EXPECT_EQ(loadResString(61308), "This Add");
}
