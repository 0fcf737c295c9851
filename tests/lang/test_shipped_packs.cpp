// The check of the packs that ship: each holds every text of the program's
// English module under the same key, with the same printf directives in the
// same order, an access key wherever English has one, and one translation for
// one English term.
#include "LangTestSupport.h"
#include "PoCatalog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <set>

using namespace plexavo;
using plexavo::i18n::loadResString;
using res::Entry;
using res::Kind;

namespace {

struct LoadedPack {
    std::string path;
    void* handle = nullptr;
    unsigned language = 0;
    std::string name;
    const res::Module* module = nullptr;
    ~LoadedPack() {
        if (handle)
            dlclose(handle);
    }
};

std::vector<std::unique_ptr<LoadedPack>> shippedPacks() {
    std::vector<std::string> paths;
    i18n::enumLanguagePacks(SHIPPED_PACKS_DIR, paths);
    std::vector<std::unique_ptr<LoadedPack>> packs;
    for (const auto& path : paths) {
        auto p = std::make_unique<LoadedPack>();
        p->path = path;
        p->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (p->handle) {
            if (auto f =
                    reinterpret_cast<i18n::GetLanguageFn>(dlsym(p->handle, i18n::kExportLanguage)))
                p->language = f() & 0xFFFF;
            if (auto f = reinterpret_cast<i18n::GetLanguageNameFn>(
                    dlsym(p->handle, i18n::kExportLanguageName)))
                p->name = f();
            if (auto f = reinterpret_cast<i18n::GetResourcesFn>(
                    dlsym(p->handle, i18n::kExportResources)))
                p->module = f();
        }
        packs.push_back(std::move(p));
    }
    return packs;
}

// Single '&' markers ("&&" is a literal ampersand).
std::vector<std::size_t> mnemonics(const std::string& s) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&')
            continue;
        if (i + 1 < s.size() && s[i + 1] == '&')
            ++i;
        else
            at.push_back(i);
    }
    return at;
}

// The access key letter, folded to lower case, or "" when there is none.
std::string accessKey(const std::string& s) {
    const auto at = mnemonics(s);
    if (at.empty() || at[0] + 1 >= s.size())
        return {};
    return std::string(1,
                       static_cast<char>(std::tolower(static_cast<unsigned char>(s[at[0] + 1]))));
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A text reduced to its term: no access key, no trailing "...", colon or blank.
std::string term(const std::string& text) {
    std::string s = po::stripMnemonic(text);
    for (bool changed = true; changed;) {
        changed = false;
        for (const char* tail : {"...", ":", "\xEF\xBC\x9A", " ", "\xC2\xA0"}) {
            if (endsWith(s, tail)) {
                s.resize(s.size() - std::strlen(tail));
                changed = true;
            }
        }
    }
    return s;
}

std::map<std::string, std::string> textsByKey(const res::Module& m) {
    std::map<std::string, std::string> out;
    const auto keys = po::keysOf(m);
    for (std::size_t i = 0; i < m.count; ++i)
        if (!keys[i].empty())
            out[keys[i]] = m.entries[i].text;
    return out;
}

std::vector<const Entry*> menuOf(const res::Module& m) {
    std::vector<const Entry*> out;
    for (std::size_t i = 0; i < m.count; ++i)
        if (m.entries[i].kind == Kind::Menu)
            out.push_back(&m.entries[i]);
    return out;
}

class ShippedPacks : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { s_packs = new auto(shippedPacks()); }
    static void TearDownTestSuite() {
        delete s_packs;
        s_packs = nullptr;
    }
    static const std::vector<std::unique_ptr<LoadedPack>>& packs() { return *s_packs; }
    static std::vector<std::unique_ptr<LoadedPack>>* s_packs;
};
std::vector<std::unique_ptr<LoadedPack>>* ShippedPacks::s_packs = nullptr;

} // namespace

TEST_F(ShippedPacks, AreTheFiveLanguagesEachComplete) {
    std::map<unsigned, int> languages;
    for (const auto& p : packs()) {
        SCOPED_TRACE(p->path);
        ASSERT_NE(p->handle, nullptr) << dlerror();
        ASSERT_NE(p->module, nullptr) << "no resource table";
        EXPECT_TRUE(i18n::isWellFormed(p->module));
        EXPECT_EQ(p->module->language, p->language);
        EXPECT_EQ(mnemonics(p->name).size(), 1u) << p->name;
        ++languages[p->language];
    }
    EXPECT_EQ(languages,
              (std::map<unsigned, int>{{1031, 1}, {1036, 1}, {1041, 1}, {2052, 1}, {3082, 1}}));
}

TEST_F(ShippedPacks, PutChineseSimplifiedRightAfterEnglish) {
    // The shipped names keep the menu's order: English, then Chinese first.
    lang_test::PackFolder folder;
    i18n::setPackFolder(SHIPPED_PACKS_DIR);
    i18n::LanguagePacks state;
    state.refreshLanguageList();
    ASSERT_GE(state.m_languageIds.size(), 2u);
    EXPECT_EQ(state.m_languageIds[0], i18n::kEnglishUs);
    EXPECT_EQ(state.m_languageIds[1], i18n::kChineseSimplified);
    // Language-menu access keys must not collide either.
    std::set<std::string> keys;
    for (const auto& name : state.m_languageNames)
        EXPECT_TRUE(keys.insert(accessKey(name)).second) << name;
}

TEST_F(ShippedPacks, HoldEveryEnglishTextWithItsDirectivesAndAccessKeys) {
    const auto& english = res::defaultModule();
    const auto englishTexts = textsByKey(english);
    for (const auto& p : packs()) {
        if (!p->module)
            continue;
        SCOPED_TRACE(p->name);
        const auto texts = textsByKey(*p->module);
        int differing = 0;
        for (const auto& [key, en] : englishTexts) {
            SCOPED_TRACE(key);
            const auto it = texts.find(key);
            ASSERT_NE(it, texts.end()) << "missing";
            const std::string& tr = it->second;
            EXPECT_FALSE(tr.empty()) << "empty translation";
            differing += tr != en;
            EXPECT_EQ(i18n::conversionSignature(tr.c_str()), i18n::conversionSignature(en.c_str()))
                << tr;
            const auto enKeys = mnemonics(en), trKeys = mnemonics(tr);
            EXPECT_EQ(trKeys.size(), enKeys.size()) << "access keys in \"" << tr << "\"";
            if (!trKeys.empty()) {
                ASSERT_LT(trKeys[0] + 1, tr.size()) << "dangling &";
                EXPECT_NE(tr[trKeys[0] + 1], ' ') << tr;
            }
            if (endsWith(en, ":")) {
                // A blank may follow where the language sets one after a colon.
                const std::string label = tr.substr(0, tr.find_last_not_of(' ') + 1);
                EXPECT_TRUE(endsWith(label, ":") || endsWith(label, "\xEF\xBC\x9A"))
                    << "label " << tr;
            }
            if (endsWith(en, "...")) {
                EXPECT_TRUE(endsWith(tr, "...")) << "opens something: " << tr;
            }
            if (key.rfind("PROMPT ", 0) == 0) {
                const auto nl = tr.find('\n');
                EXPECT_EQ(nl == std::string::npos, en.find('\n') == std::string::npos) << tr;
                EXPECT_EQ(std::count(tr.begin(), tr.end(), '\n'),
                          std::count(en.begin(), en.end(), '\n'));
                if (nl != std::string::npos) {
                    EXPECT_GT(nl, 0u) << "empty status text";
                    EXPECT_LT(nl + 1, tr.size()) << "empty tooltip";
                }
            }
        }
        for (const auto& [key, tr] : texts)
            EXPECT_TRUE(englishTexts.count(key)) << key << " is not a text of the program";
        EXPECT_GT(differing, static_cast<int>(englishTexts.size()) / 2) << "mostly English";

        // The document template keeps its seven fields and its file-type id.
        const std::string doc = texts.at("STRING 128");
        EXPECT_EQ(std::count(doc.begin(), doc.end(), '\n'), 6);
        EXPECT_NE(doc.find("\nVantrel.Doc\n"), std::string::npos);
    }
}

TEST_F(ShippedPacks, KeepTheMenuShapeAndDistinctAccessKeys) {
    const auto englishMenu = menuOf(res::defaultModule());
    // Entries the menu rebuild deletes never show, so they may share keys.
    const std::set<int> trimmed = {57600, 57601, 57603, 57604, 32721, 32733, 32722,
                                   32723, 32730, 32725, 32724, 32726, 32727};
    for (const auto& p : packs()) {
        if (!p->module)
            continue;
        SCOPED_TRACE(p->name);
        const auto menu = menuOf(*p->module);
        ASSERT_EQ(menu.size(), englishMenu.size());
        std::map<int, std::set<std::string>> used; // per parent popup index
        std::vector<std::size_t> parents;
        for (std::size_t i = 0; i < menu.size(); ++i) {
            const Entry& e = *menu[i];
            EXPECT_EQ(e.owner, englishMenu[i]->owner);
            EXPECT_EQ(e.id, englishMenu[i]->id);
            EXPECT_EQ(e.level, englishMenu[i]->level);
            EXPECT_EQ(e.text[0] == '\0', englishMenu[i]->text[0] == '\0') << "separators stay";
            parents.resize(static_cast<std::size_t>(e.level));
            const int parent = e.level == 0 ? -1 : static_cast<int>(parents.back());
            if (e.id == 0 && e.text[0] != '\0')
                parents.push_back(i);
            const std::string key = accessKey(e.text);
            if (!trimmed.count(e.id) && !key.empty()) {
                EXPECT_TRUE(used[parent].insert(key).second)
                    << "'" << key << "' twice at " << e.text;
            }
        }
    }
}

TEST_F(ShippedPacks, UseOneTranslationForOneEnglishTerm) {
    // Texts that are the same term in English ("Remove", "&Remove", "Volume:",
    // "Volume", the tooltip "Convert") read the same in a translation too.
    const auto& english = res::defaultModule();
    auto termsOf = [](const std::map<std::string, std::string>& texts) {
        std::map<std::string, std::string> out;
        for (const auto& [key, text] : texts) {
            if (key.rfind("PROMPT ", 0) == 0) {
                const auto nl = text.find('\n');
                if (nl != std::string::npos)
                    out[key + " tip"] = term(text.substr(nl + 1));
                continue; // status texts are sentences
            }
            if (text.find('\n') == std::string::npos)
                out[key] = term(text);
        }
        return out;
    };
    const auto englishTerms = termsOf(textsByKey(english));
    for (const auto& p : packs()) {
        if (!p->module)
            continue;
        SCOPED_TRACE(p->name);
        const auto terms = termsOf(textsByKey(*p->module));
        std::map<std::string, std::pair<std::string, std::string>>
            firstUse; // English term -> key, translation
        for (const auto& [key, en] : englishTerms) {
            const auto it = terms.find(key);
            if (it == terms.end())
                continue; // reported by the completeness check
            const auto [at, inserted] = firstUse.emplace(en, std::make_pair(key, it->second));
            if (!inserted) {
                EXPECT_EQ(it->second, at->second.second)
                    << "\"" << en << "\" at " << key << " and " << at->second.first;
            }
        }
    }
}

TEST_F(ShippedPacks, KeepFileDialogPatternsAsTheyAre) {
    // "Description|patterns|...||": only the descriptions are words.
    auto fields = [](const std::string& s) {
        std::vector<std::string> out(1);
        for (char c : s) {
            if (c == '|')
                out.emplace_back();
            else
                out.back() += c;
        }
        return out;
    };
    const auto englishTexts = textsByKey(res::defaultModule());
    for (const auto& p : packs()) {
        if (!p->module)
            continue;
        SCOPED_TRACE(p->name);
        const auto texts = textsByKey(*p->module);
        for (const auto& [key, en] : englishTexts) {
            if (en.find('|') == std::string::npos || !texts.count(key))
                continue;
            SCOPED_TRACE(key);
            const auto enFields = fields(en), trFields = fields(texts.at(key));
            ASSERT_EQ(trFields.size(), enFields.size());
            for (std::size_t i = 1; i < enFields.size(); i += 2)
                EXPECT_EQ(trFields[i], enFields[i]) << "pattern field " << i;
        }
    }
}

TEST_F(ShippedPacks, SwitchTheProgramsTexts) {
    lang_test::PackFolder folder;
    i18n::setPackFolder(SHIPPED_PACKS_DIR);
    i18n::LanguagePacks state;
    for (unsigned id : {2052u, 1031u, 1036u, 3082u, 1041u}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(state.selectLanguage(id));
        const std::string bye = loadResString(61221, "Plexavo");
        EXPECT_NE(bye.find("Plexavo"), std::string::npos) << bye;
        EXPECT_NE(bye, "Thanks for using Plexavo. Sure to exit?");
        EXPECT_NE(loadResString(61212, 3, 7, "/m/x.avi").find("3/7"), std::string::npos);
    }
    ASSERT_TRUE(state.selectLanguage(i18n::kEnglishUs));
    EXPECT_EQ(loadResString(61221, "Plexavo"), "Thanks for using Plexavo. Sure to exit?");
}
