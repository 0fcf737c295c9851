// Translation sources for language packs: gettext catalogs keyed by resource
// id (msgctxt), the template written from the English module, and the pack
// table compiled from a catalog.
#pragma once

#include "engine/res/ResourceModule.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace plexavo::po {

struct Message {
    std::string context; // msgctxt: the resource key
    std::string id;      // msgid: the English text it was translated from
    std::string str;     // msgstr: the translation, "" when untranslated
    bool fuzzy = false;
    int line = 0; // line of its msgid, for messages
};

struct Catalog {
    std::map<std::string, std::string> header; // fields of the msgid "" entry
    std::vector<Message> messages;             // in file order, obsolete ones left out
};

// Parses the text of a .po file. On a syntax error returns false with
// "line N: what" in error.
bool parse(const std::string& text, Catalog& catalog, std::string& error);

// The key of each entry of a module, by index: "STRING 61308", "PROMPT 32801",
// "DIALOG 101/1004", "MENU 128/32801" for a command and "MENU 128/POPUP 2" for
// the third popup of menu 128; "" for a menu separator, which has no text.
std::vector<std::string> keysOf(const res::Module& module);

// The .pot template: one message per text of the English module, in its order.
std::string writeTemplate(const res::Module& english);

// The text of a catalog with each entry's c-format flag as its English text
// asks: added where that text holds printf directives, dropped where it holds
// none, so that gettext checks exactly the directives the program passes.
// Every other line stays as it is; entries with keys the module lacks, the
// header and obsolete entries are left alone.
std::string syncFormatFlags(const res::Module& english, const std::string& catalogText);

// A quoted .po string, split after each embedded line break.
std::string quotePo(const std::string& keyword, const std::string& text);

struct PackEntry {
    res::Kind kind;
    int owner;
    int id;
    short level;
    std::string text;
};

struct PackInfo {
    std::uint16_t language = 0; // X-Plexavo-Language-Id
    std::string menuName;       // X-Plexavo-Language-Name, shown in the Language menu
    std::string moduleName;     // the menu name without its mnemonic, for logs
};

struct CompileResult {
    PackInfo info;
    std::vector<PackEntry> entries;
    std::vector<std::string> warnings; // untranslated, outdated, unknown keys
    std::vector<std::string> errors;   // the catalog cannot make a pack
    int translated = 0;
};

// The pack table: the English module's entries in its order, each with the
// catalog's translation. A text without a usable translation (missing, empty,
// fuzzy, made from another English text, or with other printf directives) is
// left out, so the pack reports it missing; menu entries stay with an empty
// text instead, so the menu keeps its shape.
CompileResult compile(const res::Module& english, const Catalog& catalog);

// C++ source of a pack library: the table and the three exports.
std::string writePackSource(const CompileResult& pack, const std::string& sourceName);

// A C string literal body for text (quotes, backslashes and control bytes escaped).
std::string escapeC(const std::string& text);

// The menu text without its mnemonic: "&Datei" -> "Datei", "ファイル(&F)" -> "ファイル".
std::string stripMnemonic(const std::string& text);

} // namespace plexavo::po
