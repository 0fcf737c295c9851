// The compiled-in English resource table: keys, placeholders, platform texts,
// menu shape and dialog captions.
#include "engine/i18n/ResourceText.h"
#include "engine/res/ResourceModule.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using plexavo::res::defaultModule;
using plexavo::res::Entry;
using plexavo::res::Kind;

namespace {

std::vector<Entry> entries(Kind kind, int owner = -1) {
    std::vector<Entry> out;
    const auto& m = defaultModule();
    for (std::size_t i = 0; i < m.count; ++i) {
        const Entry& e = m.entries[i];
        if (e.kind == kind && (owner == -1 || e.owner == owner))
            out.push_back(e);
    }
    return out;
}

const char* find(Kind kind, int owner, int id) {
    const auto& m = defaultModule();
    for (std::size_t i = 0; i < m.count; ++i) {
        const Entry& e = m.entries[i];
        if (e.kind == kind && e.owner == owner && e.id == id)
            return e.text;
    }
    return nullptr;
}

std::string str(int id) {
    const char* t = find(Kind::String, 0, id);
    return t ? t : "";
}

bool isSeparator(const Entry& e) {
    return e.id == 0 && e.text[0] == '\0';
}
bool isPopup(const Entry& e) {
    return e.id == 0 && e.text[0] != '\0';
}

// The letter after a single "&" (a "&&" is a literal ampersand), or 0.
char mnemonic(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p != '&')
            continue;
        if (p[1] == '&') {
            ++p;
            continue;
        }
        return static_cast<char>(std::tolower(static_cast<unsigned char>(p[1])));
    }
    return 0;
}

int singleAmpersands(const char* text) {
    int n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '&')
            continue;
        if (p[1] == '&')
            ++p;
        else
            ++n;
    }
    return n;
}

std::string prompt(int command) {
    const char* t = find(Kind::Prompt, 0, command);
    if (!t)
        return {};
    std::string s = t;
    return s.substr(0, s.find('\n'));
}

constexpr int kMainMenu = 128;

} // namespace

TEST(DefaultResources, IdentifiesItselfAsUsEnglish) {
    const auto& m = defaultModule();
    EXPECT_STREQ(m.name, "English");
    EXPECT_EQ(m.language, 0x0409);
    ASSERT_NE(m.entries, nullptr);
    EXPECT_GT(m.count, 0u);
}

TEST(DefaultResources, KeysAreUniqueAndEntriesWellShaped) {
    const auto& m = defaultModule();
    std::set<std::tuple<int, int, int>> keys;
    for (std::size_t i = 0; i < m.count; ++i) {
        const Entry& e = m.entries[i];
        SCOPED_TRACE("entry " + std::to_string(i) + " id " + std::to_string(e.id));
        ASSERT_NE(e.text, nullptr);
        if (e.kind == Kind::Menu) {
            EXPECT_GE(e.level, 0);
            if (e.id == 0)
                continue; // popups and separators share id 0
        } else {
            EXPECT_EQ(e.level, 0);
            EXPECT_STRNE(e.text, "") << "only menu separators may be empty";
        }
        if (e.kind == Kind::String || e.kind == Kind::Prompt) {
            EXPECT_EQ(e.owner, 0);
        }
        EXPECT_TRUE(keys.emplace(static_cast<int>(e.kind), e.owner, e.id).second)
            << "duplicate key";
    }
}

TEST(DefaultResources, HasEveryDescribedStringAndControl) {
    const int strings[] = {100,   128,   57345, 61200, 61201, 61205, 61207, 61208, 61209,
                           61210, 61212, 61215, 61221, 61222, 61224, 61225, 61226, 61242,
                           61243, 61308, 61310, 61311, 61313, 61315, 61316, 61317, 61319,
                           61320, 61322, 61323, 61324, 61325, 61328, 61329, 61330, 61332,
                           61335, 61336, 61337, 61338, 61339, 61340};
    for (int id : strings)
        EXPECT_NE(find(Kind::String, 0, id), nullptr) << "string " << id;

    const std::map<int, std::vector<int>> controls = {
        {100, {1, 1032, 1046, 1103}},
        {101,
         {1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1015, 1016, 1017,
          1077, 1101, 1118, 32792}},
        {106, {1022, 1028, 1030, 1036}},
        {107, {1, 1037, 1049, 1050, 1051, 1052, 1053, 1054}},
        {137, {1030}},
        {138, {1073}},
    };
    for (const auto& [dialog, ids] : controls)
        for (int id : ids)
            EXPECT_NE(find(Kind::Dialog, dialog, id), nullptr)
                << "dialog " << dialog << " control " << id;

    std::set<int> menuCommands;
    for (const Entry& e : entries(Kind::Menu, kMainMenu))
        menuCommands.insert(e.id);
    const int commands[] = {57600, 57601, 57603, 57604, 32801, 32803, 32804, 57665, 32805,
                            32806, 32807, 32808, 32750, 32703, 32708, 32709, 32710, 32712,
                            32713, 32717, 32702, 32701, 32718, 32719, 32720, 32721, 32733,
                            32722, 32723, 32730, 32725, 32724, 32726, 32727, 32776, 32778,
                            32777, 32779, 32780, 32791, 32792, 57664};
    for (int id : commands)
        EXPECT_EQ(menuCommands.count(id), 1u) << "command " << id;
}

// loadResString passes every text to vsnprintf: a directive the caller does
// not supply reads garbage, so only the formatted strings may hold any.
TEST(DefaultResources, PrintfDirectivesMatchWhatCallersPass) {
    const std::map<int, std::string> formatted = {
        {61212, "dds"},  // file number, file count, path
        {61215, "ddss"}, // item number, item count, source, output
        {61221, "s"},    // product name
        {61716, "d"},    // character limit of an over-long field
        {61900, "s"},    // batch time so far
        {61901, "s"},    // time left
        {61902, "s"},    // speed
        {61903, "sss"},  // the three above on one line
        // main window
        {61920, "ddd"}, // version parts
        {61921, "s"},   // About caption: product name
        {61922, "s"},   // About menu entry: product name
        {61927, "s"},   // help document path
        {61928, "s"},   // About title: product name
        {61930, "s"},   // output folder
        {61990, "s"},   // translation notice: the address to write to
        // failure reasons and the command line's stop
        {62000, "s"},     // core path
        {62001, "ss"},    // core path, system error text
        {62003, "d"},     // exit status
        {62004, "d"},     // signal number
        {62005, "s"},     // source path
        {62006, "ss"},    // folder, system error text
        {62008, "s"},     // target format
        {62009, "ss"},    // output path, seconds written
        {62011, "sss"},   // output path, seconds held, seconds promised
        {62080, "ddsss"}, // row, rows, source path, the second it goes on from, output path
        {62081, "d"},     // stopped files that can go on
        {62082, "d"},     // rows of the list left behind
        {62083, "ss"},    // seconds kept, seconds of the whole
        {62012, "s"},     // output path
        {62020, "ss"},    // settings file, the reason it could not be written
        {62021, "s"},     // file names that cannot be read, one per line
        {62050, "ddd"},   // batch-end notification: rows done, failed, skipped

        {62030, "s"}, // a link that would not open: the reason
        {62044, "d"}, // the start result without a text of its own
    };
    for (const Entry& e : entries(Kind::String)) {
        SCOPED_TRACE("string " + std::to_string(e.id));
        auto it = formatted.find(e.id);
        EXPECT_EQ(plexavo::i18n::conversionSignature(e.text),
                  it == formatted.end() ? "" : it->second);
    }
    // Texts that no one formats must not look formatted either.
    for (Kind kind : {Kind::Menu, Kind::Prompt, Kind::Dialog})
        for (const Entry& e : entries(kind))
            EXPECT_EQ(std::strchr(e.text, '%'), nullptr) << e.text;
}

TEST(DefaultResources, KeepsDescribedLineBreaksAndQuotes) {
    EXPECT_EQ(str(61212), "Detecting selected files.\nNo.%d/%d: \"%s\"");
    const std::string tenBlanks(10, ' ');
    EXPECT_EQ(str(61215), "Step %d/%d: From \"%s\" \n" + tenBlanks + "to \"%s\" \n" + tenBlanks +
                              "Click \"Skip\" or \"Cancel\" to abort conversion.");
    // Two blanks after the first full stop, as in the message it replaces.
    EXPECT_NE(str(100).find("failed.  Make"), std::string::npos);
}

TEST(DefaultResources, UsesTheLinuxPlatformTexts) {
    EXPECT_EQ(str(100), "Media framework initialization failed.  Make sure that the GStreamer "
                        "libraries are the correct version.");
    EXPECT_STREQ(find(Kind::Dialog, 101, 1101),
                 "Tips: Please install GStreamer 1.16 or later with its plugins. ( Click "
                 "Menu/Download )");

    const struct {
        int id;
        const char* menu;
        const char* prompt;
    } downloads[] = {
        {32776, "GStreamer Runtime", "Download the GStreamer runtime."},
        {32778, "GStreamer Plugins", "Download the GStreamer plugins."},
        {32777, "RealMedia Support", "Download RealMedia support."},
        {32779, "QuickTime Support", "Download QuickTime support."},
        {32780, "Ogg Codec", "Download Ogg Codec package."},
    };
    for (const auto& d : downloads) {
        EXPECT_STREQ(find(Kind::Menu, kMainMenu, d.id), d.menu);
        EXPECT_EQ(prompt(d.id), d.prompt);
    }

    const std::string reasons = str(61222);
    EXPECT_EQ(
        reasons.rfind("Please note the following reasons:\n"
                      "1. This file is not an available media file or doesn't include audio data.\n"
                      "2. The file is damaged, incomplete or protected.\n"
                      "3. The encoder core has no decoder for this format.\n"
                      "4. The file plays for less than one second.\n"
                      "5. You need install other third-party codec.\n\n",
                      0),
        0u);
    EXPECT_NE(reasons.find("Please click menu \"Download\" to get more."), std::string::npos);

    // Windows-only components must not surface anywhere on this platform.
    const char* windowsOnly[] = {"DirectX",    "hh.exe",      "quartz",           "C:\\",
                                 "RealPlayer", "Real Player", "Quicktime Player", "explorer.exe",
                                 ".chm"};
    const auto& m = defaultModule();
    for (std::size_t i = 0; i < m.count; ++i)
        for (const char* word : windowsOnly)
            EXPECT_EQ(std::strstr(m.entries[i].text, word), nullptr)
                << word << " in id " << m.entries[i].id;
}

TEST(DefaultResources, MainMenuIsWellFormed) {
    const auto menu = entries(Kind::Menu, kMainMenu);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.front().level, 0);
    EXPECT_TRUE(isPopup(menu.front()));

    for (std::size_t i = 0; i < menu.size(); ++i) {
        const Entry& e = menu[i];
        SCOPED_TRACE("menu entry " + std::to_string(i) + " \"" + e.text + "\"");
        if (i > 0) {
            EXPECT_LE(e.level, menu[i - 1].level + 1) << "level jumps";
        }
        if (e.level > 0) {
            // Its parent is the nearest earlier entry one level up: a popup.
            std::size_t p = i;
            while (p > 0 && menu[p - 1].level >= e.level)
                --p;
            ASSERT_GT(p, 0u);
            EXPECT_EQ(menu[p - 1].level, e.level - 1);
            EXPECT_TRUE(isPopup(menu[p - 1])) << "item outside a popup";
        } else {
            EXPECT_TRUE(isPopup(e)) << "commands and separators need a popup";
        }
        if (isPopup(e)) {
            ASSERT_LT(i + 1, menu.size()) << "empty popup at the end";
            EXPECT_EQ(menu[i + 1].level, e.level + 1) << "empty popup";
        }
        if (isSeparator(e)) {
            ASSERT_GT(i, 0u);
            EXPECT_FALSE(isSeparator(menu[i - 1])) << "two separators in a row";
            EXPECT_FALSE(isPopup(menu[i - 1])) << "separator opens a popup";
            ASSERT_LT(i + 1, menu.size());
            EXPECT_EQ(menu[i + 1].level, e.level) << "separator closes a popup";
        }
        EXPECT_LE(singleAmpersands(e.text), 1);
        const std::size_t len = std::strlen(e.text);
        EXPECT_FALSE(len > 0 && e.text[len - 1] == '&') << "dangling mnemonic marker";
    }

    // The menu rebuild reaches the Language and Help popups by position.
    std::vector<std::string> bar;
    for (const Entry& e : menu)
        if (e.level == 0)
            bar.push_back(e.text);
    const std::vector<std::string> expected = {
        "&File", "&Action", "&Language", "&Source Format", "&Target Format", "&Download", "&Help"};
    EXPECT_EQ(bar, expected);
}

TEST(DefaultResources, MenuMnemonicsDoNotClash) {
    // Entries the menu rebuild deletes never show, so they may share letters.
    const std::set<int> trimmed = {57600, 57601, 57603, 57604, 32721, 32733, 32722,
                                   32723, 32730, 32725, 32724, 32726, 32727};
    std::map<int, std::set<char>> usedPerPopup; // key: index of the popup entry
    std::vector<std::size_t> parents;
    const auto menu = entries(Kind::Menu, kMainMenu);
    for (std::size_t i = 0; i < menu.size(); ++i) {
        const Entry& e = menu[i];
        parents.resize(static_cast<std::size_t>(e.level));
        const int parent = e.level == 0 ? -1 : static_cast<int>(parents.back());
        if (isPopup(e))
            parents.push_back(i);
        if (trimmed.count(e.id))
            continue;
        if (char c = mnemonic(e.text)) {
            EXPECT_TRUE(usedPerPopup[parent].insert(c).second)
                << "'" << c << "' twice, at \"" << e.text << "\"";
        }
    }
}

TEST(DefaultResources, PromptsBelongToMenuCommandsAndToolbarButtonsHaveTooltips) {
    std::set<int> menuCommands;
    for (const Entry& e : entries(Kind::Menu, kMainMenu))
        if (e.id != 0)
            menuCommands.insert(e.id);
    for (const Entry& e : entries(Kind::Prompt)) {
        EXPECT_EQ(menuCommands.count(e.id), 1u) << "prompt for unknown command " << e.id;
        const char* nl = std::strchr(e.text, '\n');
        EXPECT_TRUE(nl == nullptr || std::strchr(nl + 1, '\n') == nullptr)
            << "a prompt has at most a status text and a tooltip: " << e.id;
        EXPECT_NE(e.text[0], '\n') << "empty status text for " << e.id;
    }

    // Toolbar slots: Add, Remove, Remove All, Move Up, Move Down, Preview, Convert, Exit.
    for (int id : {32801, 32803, 32804, 32805, 32806, 32807, 32808, 57665}) {
        const char* t = find(Kind::Prompt, 0, id);
        ASSERT_NE(t, nullptr) << id;
        const char* nl = std::strchr(t, '\n');
        ASSERT_NE(nl, nullptr) << "no tooltip for toolbar command " << id;
        EXPECT_NE(nl[1], '\0') << "empty tooltip for toolbar command " << id;
    }
}

TEST(DefaultResources, DialogsHaveTheirCaptionsAndOnlyThose) {
    for (int dialog : {100, 106, 107, 138})
        EXPECT_NE(find(Kind::Dialog, dialog, 0), nullptr) << "caption of dialog " << dialog;
    EXPECT_STREQ(find(Kind::Dialog, 106, 0), "Convert Video to iPhone Video formats");
    EXPECT_STREQ(find(Kind::Dialog, 107, 0), "Preview and select a part to convert");
    // The main form is a child window and the detection window has no title bar.
    for (int dialog : {101, 137})
        EXPECT_EQ(find(Kind::Dialog, dialog, 0), nullptr) << "dialog " << dialog;

    const std::set<int> known = {100, 101, 106, 107, 137, 138};
    for (const Entry& e : entries(Kind::Dialog))
        EXPECT_EQ(known.count(e.owner), 1u) << "unknown dialog " << e.owner;
}
