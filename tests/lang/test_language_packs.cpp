// Finding, querying, listing and switching language packs, against packs
// built for the tests (some deliberately broken).
#include "LangTestSupport.h"

#include "engine/platform/DebugLog.h"
#include "engine/platform/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plexavo;
using namespace plexavo::i18n;
using lang_test::PackFolder;
using res::Kind;

namespace {

bool isMapped(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        return false;
    dlclose(h);
    return true;
}

} // namespace

TEST(LanguageIds, OnlyEnglishUnitedStatesIsTheBuiltInLanguage) {
    EXPECT_TRUE(isUsEnglish(0x0409));
    EXPECT_TRUE(isUsEnglish(0x7FFF0409)) << "bits above 15 do not count";
    EXPECT_FALSE(isUsEnglish(0x0809)) << "English (United Kingdom)";
    EXPECT_FALSE(isUsEnglish(0x0C09)) << "English (Australia)";
    EXPECT_FALSE(isUsEnglish(0x0407));
    EXPECT_FALSE(isUsEnglish(0));
}

TEST(PackNames, MatchTheLibraryPatternIgnoringCase) {
    for (const char* yes : {"LanResDeuDll.so", "lanresdeudll.so", "LANRESXDLL.SO", "LanResDll.so",
                            "LanRes Two Words Dll.so", "LanRes-Ü-Dll.so"})
        EXPECT_TRUE(isPackFileName(yes)) << yes;
    for (const char* no : {"LanResDeuDll.dll", "LanResDeuDll.so.1", "xLanResDeuDll.so", "LanRes.so",
                           "LanResDeu.so", "ResDeuDll.so", "LanResDeuDll.so~", "LanResDl.so", ""})
        EXPECT_FALSE(isPackFileName(no)) << no;
}

TEST(enumLanguagePacks, ListsPackNamedFilesButNotFolders) {
    PackFolder folder;
    folder.add("LanResBetaDll.so");
    folder.add("lanresZetaDLL.SO");
    folder.write("LanResJunkDll.so", "not a library");
    folder.write("LanResBeta.txt", "");
    folder.write("libLanResXDll.so", "");
    mkdir((folder.path() + "LanResFolderDll.so").c_str(), 0755);

    std::vector<std::string> list{"kept"};
    enumLanguagePacks(folder.path(), list);
    ASSERT_EQ(list.size(), 4u) << "appends to what the list holds";
    EXPECT_EQ(list[0], "kept");
    std::vector<std::string> found(list.begin() + 1, list.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{folder.path() + "LanResBetaDll.so",
                                               folder.path() + "LanResJunkDll.so",
                                               folder.path() + "lanresZetaDLL.SO"}));

    std::vector<std::string> none;
    enumLanguagePacks(folder.path() + "missing/", none);
    EXPECT_TRUE(none.empty());
    // A folder given without its trailing slash still yields full paths.
    std::vector<std::string> noSlash;
    enumLanguagePacks(folder.path().substr(0, folder.path().size() - 1), noSlash);
    EXPECT_EQ(noSlash.size(), 3u);
    for (const auto& p : noSlash)
        EXPECT_EQ(p.rfind(folder.path(), 0), 0u) << p;
}

// A program that cannot read its own path has no folder, so no packs: a pack
// in whatever folder it was started from is never loaded.
TEST(enumLanguagePacks, AnUnknownProgramFolderListsNothingFromTheCurrentOne) {
    PackFolder folder;
    folder.add("LanResBeta2Dll.so"); // Italian, which the program does not ship
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.path().c_str()), 0);

    EXPECT_EQ(platform::folderOfLink((folder.path() + "no-such-link").c_str()), "");
    EXPECT_EQ(platform::folderOfLink("/proc/self/exe"), platform::knownProgramFolder());
    EXPECT_EQ(platform::programFolder(), platform::knownProgramFolder());
    std::vector<std::string> list;
    enumLanguagePacks("", list);
    EXPECT_TRUE(list.empty());
    setPackFolder(""); // the program's own folder, which holds no Italian
    EXPECT_EQ(findLanguagePack(0x0410), "");
    setPackFolder(folder.path());
    EXPECT_EQ(findLanguagePack(0x0410), folder.path() + "LanResBeta2Dll.so");
    EXPECT_EQ(chdir(previous), 0);
}

TEST(queryLanguagePack, ReadsIdAndNameOnlyFromCompletePacks) {
    PackFolder folder;
    std::uint16_t id = 0;
    std::string name;
    const std::string beta = folder.add("LanResBetaDll.so");
    ASSERT_TRUE(queryLanguagePack(beta, id, name));
    EXPECT_EQ(id, 0x040C) << "the high bits the pack returns are dropped";
    EXPECT_EQ(name, "Beta");
    EXPECT_FALSE(isMapped(beta)) << "a query must not leave the pack loaded";

    ASSERT_TRUE(queryLanguagePack(folder.add("LanResAlphaDll.so"), id, name));
    EXPECT_EQ(id, 0x0436);
    EXPECT_EQ(name, "&Alpha");

    for (const char* broken : {"LanResNoLanguageDll.so", "LanResNoNameDll.so",
                               "LanResNoTableDll.so", "LanResBadTableDll.so"}) {
        id = 0xFFFF;
        name = "unchanged";
        EXPECT_FALSE(queryLanguagePack(folder.add(broken), id, name)) << broken;
    }
    EXPECT_FALSE(queryLanguagePack(folder.write("LanResJunkDll.so", "junk"), id, name));
    EXPECT_FALSE(queryLanguagePack(folder.path() + "LanResMissingDll.so", id, name));
}

TEST(buildLanguageList, SortsByNameInByteOrderAndLeavesOutBrokenPacks) {
    PackFolder folder;
    for (const char* pack : {"LanResBetaDll.so", "lanresZetaDLL.SO", "LanResAlphaDll.so",
                             "LanResGammaDll.so", "LanResNoNameDll.so", "LanResNoTableDll.so",
                             "LanResBadTableDll.so", "LanResNoLanguageDll.so"})
        folder.add(pack);
    folder.write("LanResJunkDll.so", "junk");

    std::vector<std::uint16_t> ids;
    std::vector<std::string> names, paths;
    buildLanguageList(ids, names, paths);
    // "&Alpha" sorts first: '&' is below every letter. Upper case before lower.
    EXPECT_EQ(names, (std::vector<std::string>{"&Alpha", "Beta", "Gamma", "Zeta"}));
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x0436, 0x040C, 0x040C, 0x0804}));
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[1], folder.path() + "LanResBetaDll.so");
    EXPECT_EQ(paths[3], folder.path() + "lanresZetaDLL.SO");
}

TEST(buildLanguageList, EqualNamesKeepTheFolderOrder) {
    PackFolder folder;
    folder.add("LanResBetaDll.so");
    folder.add("LanResBeta2Dll.so");
    folder.add("LanResBetaDll.so", "LanResBeta3Dll.so");
    std::vector<std::string> enumerated;
    enumLanguagePacks(folder.path(), enumerated);

    std::vector<std::uint16_t> ids;
    std::vector<std::string> names, paths;
    buildLanguageList(ids, names, paths);
    EXPECT_EQ(names, (std::vector<std::string>(3, "Beta")));
    EXPECT_EQ(paths, enumerated) << "a stable insertion keeps the file system's order";
}

TEST(findLanguagePack, ReturnsTheFirstPackWithTheLanguageInFolderOrder) {
    PackFolder folder;
    folder.add("LanResBetaDll.so");
    folder.add("LanResGammaDll.so"); // same language as Beta
    folder.add("lanresZetaDLL.SO");
    folder.add("LanResNoNameDll.so"); // 0x0412, but incomplete

    std::vector<std::string> order;
    enumLanguagePacks(folder.path(), order);
    const auto firstFrench = std::find_if(order.begin(), order.end(), [](const std::string& p) {
        return p.find("Beta") != std::string::npos || p.find("Gamma") != std::string::npos;
    });
    ASSERT_NE(firstFrench, order.end());
    EXPECT_EQ(findLanguagePack(0x040C), *firstFrench);
    EXPECT_EQ(findLanguagePack(0x10804), folder.path() + "lanresZetaDLL.SO")
        << "compares the low 16 bits";
    EXPECT_EQ(findLanguagePack(0x0412), "") << "an incomplete pack is never found";
    EXPECT_EQ(findLanguagePack(0x0419), "");
}

class LanguageStateTest : public ::testing::Test {
  protected:
    PackFolder m_folder;
};

TEST_F(LanguageStateTest, SelectingAPackMakesItsTextsCurrent) {
    const std::string zeta = m_folder.add("lanresZetaDLL.SO");
    LanguagePacks packs;
    ASSERT_TRUE(packs.selectLanguage(kChineseSimplified));
    EXPECT_EQ(packs.m_currentLanguage, kChineseSimplified);
    EXPECT_NE(packs.m_library, nullptr);
    EXPECT_EQ(loadResString(61308), "Zeta Add");
    EXPECT_EQ(loadResString(61212, 2, 5, "a b.avi"), "Zeta 2/5 \"a b.avi\"");
    EXPECT_STREQ(i18n::currentModule().name, "Zeta");

    EXPECT_FALSE(packs.selectLanguage(kChineseSimplified)) << "already current: nothing to do";
    EXPECT_EQ(loadResString(61308), "Zeta Add");

    ASSERT_TRUE(packs.selectLanguage(kEnglishUs));
    EXPECT_EQ(packs.m_currentLanguage, kEnglishUs);
    EXPECT_EQ(packs.m_library, nullptr);
    EXPECT_EQ(&i18n::currentModule(), &res::defaultModule());
    EXPECT_EQ(loadResString(61308), "Add");
    EXPECT_FALSE(isMapped(zeta)) << "the pack is released when English takes over";
    EXPECT_TRUE(packs.selectLanguage(kEnglishUs)) << "English is selected even when current";
}

TEST_F(LanguageStateTest, TheOldPackIsReleasedBeforeTheNewOneLoads) {
    const std::string beta = m_folder.add("LanResBetaDll.so");
    const std::string zeta = m_folder.add("lanresZetaDLL.SO");
    LanguagePacks packs;
    ASSERT_TRUE(packs.selectLanguage(0x040C));
    EXPECT_TRUE(isMapped(beta));
    ASSERT_TRUE(packs.selectLanguage(0x0804));
    EXPECT_FALSE(isMapped(beta));
    EXPECT_TRUE(isMapped(zeta));
    EXPECT_EQ(loadResString(61308), "Zeta Add");
}

TEST_F(LanguageStateTest, AMissingOrBrokenPackLeavesTheLanguageAsItWas) {
    m_folder.add("LanResBetaDll.so");
    m_folder.add("LanResNoTableDll.so"); // 0x0413
    LanguagePacks packs;
    ASSERT_TRUE(packs.selectLanguage(0x040C));

    EXPECT_FALSE(packs.selectLanguage(0x0419)) << "no pack for Russian";
    EXPECT_EQ(packs.m_currentLanguage, 0x040C);
    EXPECT_EQ(loadResString(61308), "Beta Add") << "nothing was unloaded for a missing pack";

    EXPECT_FALSE(packs.selectLanguage(0x0413)) << "a pack without its table is not found";
    EXPECT_EQ(packs.m_currentLanguage, 0x040C);

    // A pack that disappears or breaks between listing and switching: the
    // program's own texts take over, and the language id stays.
    EXPECT_FALSE(packs.loadLanguagePack(m_folder.write("LanResJunkDll.so", "junk")));
    EXPECT_EQ(packs.m_library, nullptr);
    EXPECT_EQ(&i18n::currentModule(), &res::defaultModule());
    EXPECT_EQ(packs.m_currentLanguage, 0x040C);
    EXPECT_FALSE(packs.loadLanguagePack(m_folder.add("LanResNoTableDll.so")));
    EXPECT_EQ(&i18n::currentModule(), &res::defaultModule());
    EXPECT_FALSE(packs.loadLanguagePack("")) << "an empty path restores the program's own texts";
}

TEST_F(LanguageStateTest, APackThatBreaksBeforeTheSwitchLeavesThePreviousOneCurrent) {
    const std::string beta = m_folder.add("LanResBetaDll.so");
    m_folder.add("LanResFlakyDll.so"); // 0x0415: found, then fails to load
    LanguagePacks packs;
    ASSERT_TRUE(packs.selectLanguage(0x040C));

    setenv("PLEXAVO_TEST_FLAKY_CALLS", "0", 1);
    EXPECT_FALSE(packs.selectLanguage(0x0415));
    EXPECT_EQ(std::string(getenv("PLEXAVO_TEST_FLAKY_CALLS")), "2") << "found, then loaded";
    EXPECT_EQ(packs.m_currentLanguage, 0x040C);
    EXPECT_EQ(packs.m_packPath, beta);
    EXPECT_EQ(loadResString(61308), "Beta Add") << "the texts still match the checked language";

    // From English, the failure simply leaves English.
    ASSERT_TRUE(packs.selectLanguage(kEnglishUs));
    setenv("PLEXAVO_TEST_FLAKY_CALLS", "0", 1);
    EXPECT_FALSE(packs.selectLanguage(0x0415));
    EXPECT_EQ(packs.m_currentLanguage, kEnglishUs);
    EXPECT_EQ(&i18n::currentModule(), &res::defaultModule());

    // When the previous pack is gone as well, nothing claims to be current.
    ASSERT_TRUE(packs.selectLanguage(0x040C));
    std::filesystem::remove(beta);
    setenv("PLEXAVO_TEST_FLAKY_CALLS", "0", 1);
    EXPECT_FALSE(packs.selectLanguage(0x0415));
    EXPECT_EQ(packs.m_currentLanguage, 0);
    EXPECT_EQ(&i18n::currentModule(), &res::defaultModule());
}

TEST_F(LanguageStateTest, AStringThePackLacksIsEmpty) {
    m_folder.add("LanResAlphaDll.so");
    LanguagePacks packs;
    ASSERT_TRUE(packs.selectLanguage(0x0436));
    EXPECT_EQ(loadResString(61323), "") << "untranslated in the catalog: no English fallback";
    EXPECT_EQ(loadResString(61310), "") << "fuzzy translations are not shipped";
    EXPECT_EQ(loadResString(61315), "") << "nor translations of an older English text";
    EXPECT_EQ(loadResString(61221, "Plexavo"), "") << "nor ones with other printf directives";
}

TEST_F(LanguageStateTest, TheLanguageListPutsTheBuiltInEnglishFirst) {
    m_folder.add("lanresZetaDLL.SO");
    m_folder.add("LanResBetaDll.so");
    m_folder.add("LanResNoNameDll.so");
    LanguagePacks packs;
    packs.m_languageIds = {1, 2, 3};
    packs.m_languageNames = {"stale"};
    packs.refreshLanguageList();
    EXPECT_EQ(packs.m_languageIds, (std::vector<std::uint16_t>{0x0409, 0x040C, 0x0804}));
    EXPECT_EQ(packs.m_languageNames, (std::vector<std::string>{"&English", "Beta", "Zeta"}));
    ASSERT_EQ(packs.m_packPaths.size(), 3u);
    EXPECT_EQ(packs.m_packPaths[0], "");
    EXPECT_EQ(packs.m_packPaths[2], m_folder.path() + "lanresZetaDLL.SO");

    PackFolder empty;
    packs.refreshLanguageList();
    EXPECT_EQ(packs.m_languageNames, (std::vector<std::string>{"&English"}));
}

TEST_F(LanguageStateTest, EndingTheStateRestoresTheProgramsOwnTexts) {
    const std::string beta = m_folder.add("LanResBetaDll.so");
    {
        LanguagePacks packs;
        ASSERT_TRUE(packs.selectLanguage(0x040C));
        EXPECT_EQ(loadResString(61308), "Beta Add");
    }
    EXPECT_EQ(&i18n::currentModule(), &res::defaultModule());
    EXPECT_EQ(loadResString(61308), "Add");
    EXPECT_FALSE(isMapped(beta));
}

TEST(WellFormedTables, RejectTablesThatCannotBeRead) {
    using res::Entry;
    using res::Module;
    const Entry good[] = {{Kind::String, 0, 1, 0, "a"}, {Kind::Dialog, 101, -3, 0, ""}};
    const Entry nullText[] = {{Kind::String, 0, 1, 0, nullptr}};
    const Entry badKind[] = {{static_cast<Kind>(9), 0, 1, 0, "a"}};
    const Module ok{"ok", 1, good, 2};
    const Module empty{"empty", 1, nullptr, 0};
    const Module noEntries{"none", 1, nullptr, 3};
    const Module withNull{"null", 1, nullText, 1};
    const Module withBadKind{"kind", 1, badKind, 1};
    EXPECT_TRUE(isWellFormed(&ok));
    EXPECT_TRUE(isWellFormed(&empty));
    EXPECT_FALSE(isWellFormed(nullptr));
    EXPECT_FALSE(isWellFormed(&noEntries));
    EXPECT_FALSE(isWellFormed(&withNull));
    EXPECT_FALSE(isWellFormed(&withBadKind));
}
