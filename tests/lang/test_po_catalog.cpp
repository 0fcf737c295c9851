// The catalog tool: reading .po text, the template written from the English
// module, and the pack table compiled from a catalog.
#include "PoCatalog.h"

#include "engine/i18n/ResourceText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace plexavo;
using po::Catalog;
using res::Kind;

namespace {

Catalog parsed(const std::string& text) {
    Catalog c;
    std::string error;
    EXPECT_TRUE(po::parse(text, c, error)) << error;
    return c;
}

std::string parseError(const std::string& text) {
    Catalog c;
    std::string error;
    EXPECT_FALSE(po::parse(text, c, error));
    return error;
}

const char* const kHeader = "msgid \"\"\n"
                            "msgstr \"\"\n"
                            "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                            "\"X-Plexavo-Language-Id: 1031\\n\"\n"
                            "\"X-Plexavo-Language-Name: &Test\\n\"\n\n";

std::string message(const std::string& ctx, const std::string& id, const std::string& str,
                    const std::string& flags = "") {
    return (flags.empty() ? "" : "#, " + flags + "\n") + "msgctxt \"" + ctx + "\"\nmsgid \"" + id +
           "\"\nmsgstr \"" + str + "\"\n\n";
}

const po::PackEntry* find(const po::CompileResult& r, Kind kind, int owner, int id) {
    for (const auto& e : r.entries)
        if (e.kind == kind && e.owner == owner && e.id == id)
            return &e;
    return nullptr;
}

} // namespace

TEST(PoParse, ReadsContextsContinuationsEscapesAndFlags) {
    const Catalog c = parsed("# translator comment\n"
                             "msgid \"\"\n"
                             "msgstr \"\"\n"
                             "\"Language: de\\n\"\n"
                             "\"X-Plexavo-Language-Id:  1031 \\n\"\n"
                             "\n"
                             "#. extracted\n"
                             "#: src/file.cpp:1\n"
                             "#, c-format, fuzzy\n"
                             "msgctxt \"STRING 61212\"\n"
                             "msgid \"\"\n"
                             "\"Line one\\n\"\n"
                             "\"No.%d\"\n"
                             "msgstr \"Zeile\\teins\\n\" \n"
                             "  \"\\\"q\\\" \\\\ \\101\\x42\\x4a\\?\"\r\n"
                             "msgctxt \"STRING 1\"\n" // no blank line before the next entry
                             "msgid \"a\"\n"
                             "msgstr \"\xC3\xBC\"\n");
    EXPECT_EQ(c.header.at("Language"), "de");
    EXPECT_EQ(c.header.at("X-Plexavo-Language-Id"), "1031");
    ASSERT_EQ(c.messages.size(), 2u);
    EXPECT_EQ(c.messages[0].context, "STRING 61212");
    EXPECT_EQ(c.messages[0].id, "Line one\nNo.%d");
    EXPECT_EQ(c.messages[0].str, "Zeile\teins\n\"q\" \\ ABJ?");
    EXPECT_TRUE(c.messages[0].fuzzy);
    EXPECT_EQ(c.messages[0].line, 11);
    EXPECT_EQ(c.messages[1].context, "STRING 1");
    EXPECT_EQ(c.messages[1].str, "\xC3\xBC");
    EXPECT_FALSE(c.messages[1].fuzzy) << "a flag belongs to one entry";
}

TEST(PoParse, SkipsObsoleteEntriesWithTheirFlags) {
    const Catalog c = parsed("#, fuzzy\n"
                             "#~ msgctxt \"STRING 2\"\n"
                             "#~ msgid \"old\"\n"
                             "#~ msgstr \"alt\"\n"
                             "msgctxt \"STRING 3\"\n"
                             "msgid \"new\"\n"
                             "msgstr \"neu\"\n");
    ASSERT_EQ(c.messages.size(), 1u);
    EXPECT_EQ(c.messages[0].context, "STRING 3");
    EXPECT_FALSE(c.messages[0].fuzzy);
}

TEST(PoParse, ReportsFaultsWithTheirLine) {
    EXPECT_EQ(parseError("msgstr \"b\"\n"), "line 1: msgstr without its msgid");
    EXPECT_EQ(parseError("msgid \"a\"\n\nmsgstr \"b\"\n"),
              "line 2: an entry needs both msgid and msgstr");
    EXPECT_EQ(parseError("msgctxt \"K\"\nmsgid \"a\"\n\n"),
              "line 3: an entry needs both msgid and msgstr");
    EXPECT_EQ(parseError("msgctxt \"K\"\nmsgid \"a\"\nmsgstr \"b\"\n\n"
                         "msgctxt \"K\"\nmsgid \"c\"\nmsgstr \"d\"\n"),
              "line 6: msgctxt \"K\" appears twice");
    EXPECT_EQ(parseError("msgid \"a\nmsgstr \"b\"\n"), "line 1: the string has no closing quote");
    EXPECT_EQ(parseError("msgid \"a\" x\n"), "line 1: text after the closing quote");
    EXPECT_EQ(parseError("msgid \"\\q\"\n"), "line 1: unknown escape \\q");
    EXPECT_EQ(parseError("\"stray\"\n"),
              "line 1: a continued string without msgctxt, msgid or msgstr");
    EXPECT_EQ(parseError("msgid \"a\"\nmsgid_plural \"as\"\n"),
              "line 2: plural forms are not used by these texts");
    EXPECT_EQ(parseError("msgid \"a\"\nmsgstr[0] \"b\"\n"),
              "line 2: plural forms are not used by these texts");
    EXPECT_EQ(parseError("msgid \"a\"\nmsgctxt \"K\"\n"),
              "line 2: msgctxt must come first in an entry");
    EXPECT_EQ(parseError("hello\n"), "line 1: unexpected text \"hello\"");
}

TEST(PoKeys, NameEveryTextOfTheEnglishModuleOnce) {
    const auto& m = res::defaultModule();
    const auto keys = po::keysOf(m);
    ASSERT_EQ(keys.size(), m.count);
    std::map<std::string, int> seen;
    int separators = 0;
    for (std::size_t i = 0; i < m.count; ++i) {
        if (keys[i].empty()) {
            ++separators;
            EXPECT_EQ(m.entries[i].kind, Kind::Menu);
            EXPECT_STREQ(m.entries[i].text, "");
            continue;
        }
        EXPECT_EQ(++seen[keys[i]], 1) << keys[i];
    }
    EXPECT_GT(separators, 0);
    const res::Entry first = m.entries[0];
    ASSERT_EQ(first.kind, Kind::String);
    EXPECT_EQ(keys[0], "STRING " + std::to_string(first.id));
    EXPECT_EQ(seen.count("MENU 128/POPUP 0"), 1u);
    EXPECT_EQ(seen.count("MENU 128/POPUP 6"), 1u);
    EXPECT_EQ(seen.count("MENU 128/32801"), 1u);
    EXPECT_EQ(seen.count("PROMPT 32801"), 1u);
    EXPECT_EQ(seen.count("DIALOG 101/1004"), 1u);
    EXPECT_EQ(seen.count("DIALOG 101/-3"), 1u);
}

TEST(PoTemplate, ReadsBackAsEveryEnglishTextUntranslated) {
    const auto& m = res::defaultModule();
    const std::string pot = po::writeTemplate(m);
    const Catalog c = parsed(pot);
    EXPECT_EQ(c.header.at("Content-Type"), "text/plain; charset=UTF-8");
    EXPECT_TRUE(c.header.count("X-Plexavo-Language-Id"));
    EXPECT_TRUE(c.header.count("X-Plexavo-Language-Name"));

    const auto keys = po::keysOf(m);
    std::map<std::string, const po::Message*> byKey;
    for (const auto& msg : c.messages)
        byKey[msg.context] = &msg;
    std::size_t texts = 0;
    for (std::size_t i = 0; i < m.count; ++i) {
        if (keys[i].empty())
            continue;
        ++texts;
        ASSERT_TRUE(byKey.count(keys[i])) << keys[i];
        EXPECT_EQ(byKey[keys[i]]->id, m.entries[i].text) << keys[i];
        EXPECT_EQ(byKey[keys[i]]->str, "");
    }
    EXPECT_EQ(c.messages.size(), texts);
    // gettext checks the directives of the entries flagged c-format.
    EXPECT_NE(pot.find("#, c-format\nmsgctxt \"STRING 61212\""), std::string::npos);
    EXPECT_EQ(pot.find("#, c-format\nmsgctxt \"STRING 61308\""), std::string::npos);
}

TEST(PoTemplate, CarriesTheNotesTranslatorsNeed) {
    const std::string pot = po::writeTemplate(res::defaultModule());
    EXPECT_NE(pot.find("#. String 62030: a link or page that would not open; %s is the reason.\n"
                       "#, c-format\nmsgctxt \"STRING 62030\""),
              std::string::npos);
    EXPECT_NE(pot.find("#. String 62007.\nmsgctxt \"STRING 62007\""), std::string::npos);
}

// The flags follow the English text of each key, whatever the catalog held;
// no other line moves.
TEST(PoFormatFlags, FollowTheEnglishTextAndTouchNothingElse) {
    const std::string before =
        std::string("# Header comment\n") + kHeader +
        // a directive, no flags line: one is added after the comments
        "# translator's remark\n"
        "#. String 62000.\n"
        "msgctxt \"STRING 62000\"\n"
        "msgid \"The encoder core is missing: %s\"\n"
        "msgstr \"Der Kern fehlt: %s\"\n\n"
        // a directive, fuzzy, and a previous msgid: flag joins fuzzy
        "#, fuzzy\n"
        "#| msgid \"old %d\"\n"
        "msgctxt \"STRING 62003\"\n"
        "msgid \"\"\n"
        "\"The encoder core ended without giving a reason (exit status %d).\"\n"
        "msgstr \"Beendet (%d).\"\n\n"
        // no directive: a wrong flag goes, with its line when alone
        "#, c-format\n"
        "msgctxt \"STRING 62007\"\n"
        "msgid \"The selected part is empty.\"\n"
        "msgstr \"Leer.\"\n\n"
        "#, fuzzy, c-format\n"
        "msgctxt \"STRING 61308\"\n"
        "msgid \"Add\"\n"
        "msgstr \"Hinzu\"\n\n"
        // a directive marked no-c-format
        "#, no-c-format\n"
        "msgctxt \"STRING 62004\"\n"
        "msgid \"The encoder core was ended by signal %d.\"\n"
        "msgstr \"Signal %d.\"\n\n"
        // unknown keys and obsolete entries are not the tool's
        "msgctxt \"STRING 99999\"\n"
        "msgid \"gone %s\"\n"
        "msgstr \"weg %s\"\n\n"
        "#, c-format\n"
        "#~ msgctxt \"STRING 61308\"\n"
        "#~ msgid \"Add\"\n"
        "#~ msgstr \"Hinzu\"\n";
    const std::string expected =
        std::string("# Header comment\n") + kHeader +
        "# translator's remark\n"
        "#. String 62000.\n"
        "#, c-format\n"
        "msgctxt \"STRING 62000\"\n"
        "msgid \"The encoder core is missing: %s\"\n"
        "msgstr \"Der Kern fehlt: %s\"\n\n"
        "#, fuzzy, c-format\n"
        "#| msgid \"old %d\"\n"
        "msgctxt \"STRING 62003\"\n"
        "msgid \"\"\n"
        "\"The encoder core ended without giving a reason (exit status %d).\"\n"
        "msgstr \"Beendet (%d).\"\n\n"
        "msgctxt \"STRING 62007\"\n"
        "msgid \"The selected part is empty.\"\n"
        "msgstr \"Leer.\"\n\n"
        "#, fuzzy\n"
        "msgctxt \"STRING 61308\"\n"
        "msgid \"Add\"\n"
        "msgstr \"Hinzu\"\n\n"
        "#, c-format\n"
        "msgctxt \"STRING 62004\"\n"
        "msgid \"The encoder core was ended by signal %d.\"\n"
        "msgstr \"Signal %d.\"\n\n"
        "msgctxt \"STRING 99999\"\n"
        "msgid \"gone %s\"\n"
        "msgstr \"weg %s\"\n\n"
        "#, c-format\n"
        "#~ msgctxt \"STRING 61308\"\n"
        "#~ msgid \"Add\"\n"
        "#~ msgstr \"Hinzu\"\n";
    const auto& m = res::defaultModule();
    const std::string after = po::syncFormatFlags(m, before);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(po::syncFormatFlags(m, after), after) << "a second run changes nothing";
    EXPECT_EQ(po::syncFormatFlags(m, "msgctxt \"STRING 62000\"\nmsgid \"x %s\"\nmsgstr \"\""),
              "#, c-format\nmsgctxt \"STRING 62000\"\nmsgid \"x %s\"\nmsgstr \"\"")
        << "a file without a final line break keeps none";

    // The catalog still reads as the same messages, with the flags' effect only.
    const Catalog a = parsed(before), b = parsed(after);
    ASSERT_EQ(a.messages.size(), b.messages.size());
    for (std::size_t i = 0; i < a.messages.size(); ++i) {
        EXPECT_EQ(a.messages[i].context, b.messages[i].context);
        EXPECT_EQ(a.messages[i].str, b.messages[i].str);
        EXPECT_EQ(a.messages[i].fuzzy, b.messages[i].fuzzy) << a.messages[i].context;
    }
}

// What the shipped catalogs hold: every entry's flag already agrees with the
// English text (the plexavo-pot target sets them; see lang/README.md).
TEST(PoFormatFlags, ShippedCatalogsAreInStep) {
    for (const char* name : {"plexavo.pot", "de.po", "es.po", "fr.po", "ja.po", "zh_CN.po"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(LANG_SOURCE_DIR) + "/" + name, std::ios::binary);
        ASSERT_TRUE(in);
        std::ostringstream text;
        text << in.rdbuf();
        EXPECT_EQ(po::syncFormatFlags(res::defaultModule(), text.str()), text.str())
            << "run: cmake --build build --target plexavo-pot";
    }
}

TEST(PoTemplate, QuotesMultiLineTextsLineByLine) {
    EXPECT_EQ(po::quotePo("msgid", "one"), "msgid \"one\"\n");
    EXPECT_EQ(po::quotePo("msgid", "a \"b\" \\ c\n"), "msgid \"a \\\"b\\\" \\\\ c\\n\"\n");
    EXPECT_EQ(po::quotePo("msgstr", "one\ntwo\n\nthree"),
              "msgstr \"\"\n\"one\\n\"\n\"two\\n\"\n\"\\n\"\n\"three\"\n");
}

TEST(PoCompile, KeepsTheEnglishShapeAndOnlyUsableTranslations) {
    const Catalog c = parsed(
        std::string(kHeader) + message("STRING 61308", "Add", "Hinzuf\xC3\xBCgen") +
        message("STRING 61310", "Convert", "Konvertieren", "fuzzy") +
        message("STRING 61315", "Quit", "Beenden") +
        message("STRING 61221", "Thanks for using %s. Sure to exit?", "Danke %d", "c-format") +
        message("STRING 61323", "Ready", "") + message("MENU 128/POPUP 0", "&File", "&Datei") +
        message("MENU 128/32801", "&Add...", "Hinzuf\xC3\xBCgen...") +
        message("STRING 4242", "Gone", "Weg"));
    const auto& english = res::defaultModule();
    const po::CompileResult r = po::compile(english, c);
    ASSERT_TRUE(r.errors.empty()) << r.errors.front();
    EXPECT_EQ(r.info.language, 1031);
    EXPECT_EQ(r.info.menuName, "&Test");
    EXPECT_EQ(r.info.moduleName, "Test");
    EXPECT_EQ(r.translated, 3);

    ASSERT_NE(find(r, Kind::String, 0, 61308), nullptr);
    EXPECT_EQ(find(r, Kind::String, 0, 61308)->text, "Hinzuf\xC3\xBCgen");
    for (int id : {61310, 61315, 61221, 61323, 100})
        EXPECT_EQ(find(r, Kind::String, 0, id), nullptr) << id;
    EXPECT_EQ(find(r, Kind::Prompt, 0, 32801), nullptr);

    // The menu keeps every entry in the English order, levels and separators.
    std::vector<const po::PackEntry*> menu;
    for (const auto& e : r.entries)
        if (e.kind == Kind::Menu)
            menu.push_back(&e);
    std::vector<const res::Entry*> englishMenu;
    for (std::size_t i = 0; i < english.count; ++i)
        if (english.entries[i].kind == Kind::Menu)
            englishMenu.push_back(&english.entries[i]);
    ASSERT_EQ(menu.size(), englishMenu.size());
    for (std::size_t i = 0; i < menu.size(); ++i) {
        EXPECT_EQ(menu[i]->owner, englishMenu[i]->owner);
        EXPECT_EQ(menu[i]->id, englishMenu[i]->id);
        EXPECT_EQ(menu[i]->level, englishMenu[i]->level);
    }
    EXPECT_EQ(menu[0]->text, "&Datei");
    EXPECT_EQ(find(r, Kind::Menu, 128, 32801)->text, "Hinzuf\xC3\xBCgen...");
    EXPECT_EQ(find(r, Kind::Menu, 128, 32803)->text, "") << "untranslated, yet in place";

    auto warned = [&](const std::string& what) {
        for (const auto& w : r.warnings)
            if (w.find(what) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(warned("STRING 61310: marked fuzzy"));
    EXPECT_TRUE(warned("STRING 61315: translated from an older English text"));
    EXPECT_TRUE(warned("STRING 61221: its printf directives differ"));
    EXPECT_TRUE(warned("STRING 61323: untranslated"));
    EXPECT_TRUE(warned("STRING 100: no translation"));
    EXPECT_TRUE(warned("STRING 4242: the program has no such text"));
    EXPECT_TRUE(warned("MENU 128/32801: the access key (&) is missing"));
}

TEST(PoCompile, RefusesCatalogsWithoutTheirLanguage) {
    auto errors = [](const std::string& header) {
        return po::compile(res::defaultModule(), parsed(header)).errors;
    };
    EXPECT_EQ(errors("msgid \"\"\nmsgstr \"X-Plexavo-Language-Name: A\\n\"\n").size(), 1u);
    EXPECT_EQ(errors("msgid \"\"\nmsgstr \"X-Plexavo-Language-Id: 1031\\n\"\n").size(), 1u);
    for (const char* id : {"0", "65536", "12ab", "-4"})
        EXPECT_EQ(errors(std::string("msgid \"\"\nmsgstr \"\"\n\"X-Plexavo-Language-Id: ") + id +
                         "\\n\"\n\"X-Plexavo-Language-Name: A\\n\"\n")
                      .size(),
                  1u)
            << id;
    EXPECT_EQ(errors(std::string(kHeader)).size(), 0u);
    EXPECT_EQ(
        errors("msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n"
               "\"X-Plexavo-Language-Id: 0x407\\n\"\n\"X-Plexavo-Language-Name: A\\n\"\n")
            .size(),
        1u);
}

TEST(PoCompile, WritesCStringsThatCannotBreakOut) {
    EXPECT_EQ(po::escapeC("plain \xE4\xB8\xAD"), "plain \xE4\xB8\xAD");
    EXPECT_EQ(po::escapeC("a\"b\\c\nd\te"), "a\\\"b\\\\c\\nd\\te");
    EXPECT_EQ(po::escapeC("?"
                          "?=x"),
              "\\?\\?=x")
        << "no trigraph";
    EXPECT_EQ(po::escapeC(std::string("\x01") + "7\x7F"), "\\0017\\177")
        << "a digit after an escape stays a digit";

    po::CompileResult pack;
    pack.info = {0x0804, "&Chinese \"Simplified\"", "Chinese"};
    pack.entries.push_back({Kind::String, 0, 61308, 0, "\xE6\xB7\xBB\xE5\x8A\xA0"});
    const std::string source = po::writePackSource(pack, "zh.po");
    EXPECT_NE(source.find("{Kind::String, 0, 61308, 0, \"\xE6\xB7\xBB\xE5\x8A\xA0\"},"),
              std::string::npos);
    EXPECT_NE(source.find("GetLanguage() { return 2052; }"), std::string::npos);
    EXPECT_NE(source.find("GetLanguageName() { return \"&Chinese \\\"Simplified\\\"\"; }"),
              std::string::npos);
    EXPECT_NE(source.find("GetResourceModuleV1()"), std::string::npos);

    pack.entries.clear(); // no zero-length array
    EXPECT_NE(po::writePackSource(pack, "x.po").find("nullptr, 0}"), std::string::npos);
}

TEST(PoMnemonics, StripInEitherStyle) {
    EXPECT_EQ(po::stripMnemonic("&Datei"), "Datei");
    EXPECT_EQ(po::stripMnemonic("Save &As..."), "Save As...");
    EXPECT_EQ(po::stripMnemonic("R&&D"), "R&D");
    EXPECT_EQ(po::stripMnemonic("\xE6\x96\x87\xE4\xBB\xB6(&F)"), "\xE6\x96\x87\xE4\xBB\xB6");
    EXPECT_EQ(po::stripMnemonic("\xE8\xBF\xBD\xE5\x8A\xA0(&A)..."), "\xE8\xBF\xBD\xE5\x8A\xA0...");
    EXPECT_EQ(po::stripMnemonic("\xE6\x96\x87\xEF\xBC\x88&F\xEF\xBC\x89"), "\xE6\x96\x87");
    EXPECT_EQ(po::stripMnemonic("&Chinese Simplified (\xE7\xAE\x80)"),
              "Chinese Simplified (\xE7\xAE\x80)");
}
