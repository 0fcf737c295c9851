#include "PoCatalog.h"

#include "engine/i18n/ResourceText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

namespace plexavo::po {

using res::Kind;

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Reads one quoted string starting at s[pos] == '"' into out; the rest of the
// line may hold only blanks.
bool readQuoted(const std::string& s, std::size_t pos, std::string& out, std::string& error) {
    pos = s.find_first_not_of(" \t", pos);
    if (pos == std::string::npos || s[pos] != '"') {
        error = "a quoted string is expected";
        return false;
    }
    for (++pos; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            if (s.find_first_not_of(" \t\r", pos + 1) != std::string::npos) {
                error = "text after the closing quote";
                return false;
            }
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= s.size())
            break;
        switch (const char e = s[pos]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '"':
        case '\\':
        case '\'':
        case '?':
            out += e;
            break;
        case 'x': {
            int value = 0, digits = 0;
            while (digits < 2 && pos + 1 < s.size() &&
                   std::isxdigit(static_cast<unsigned char>(s[pos + 1]))) {
                const char h =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(s[++pos])));
                value = value * 16 + (h <= '9' ? h - '0' : h - 'a' + 10);
                ++digits;
            }
            if (digits == 0) {
                error = "\\x without digits";
                return false;
            }
            out += static_cast<char>(value);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int value = e - '0', digits = 1;
                while (digits < 3 && pos + 1 < s.size() && s[pos + 1] >= '0' && s[pos + 1] <= '7') {
                    value = value * 8 + (s[++pos] - '0');
                    ++digits;
                }
                out += static_cast<char>(value);
                break;
            }
            error = std::string("unknown escape \\") + e;
            return false;
        }
    }
    error = "the string has no closing quote";
    return false;
}

struct Pending {
    Message msg;
    bool hasContext = false, hasId = false, hasStr = false;
    bool fuzzy = false;
    std::string* field = nullptr;
    bool empty() const { return !hasContext && !hasId && !hasStr; }
};

void parseHeader(const std::string& text, std::map<std::string, std::string>& header) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            header[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
}

const char* dialogName(int dialog) {
    switch (dialog) {
    case 100:
        return "About box";
    case 101:
        return "Main window, settings panel";
    case 106:
        return "Conversion progress window";
    case 107:
        return "Preview window";
    case 137:
        return "Detection window";
    case 138:
        return "Help tips window";
    default:
        return nullptr;
    }
}

// What a translator cannot tell from a string's text alone.
const char* stringNote(int id) {
    switch (id) {
    case 62030:
        return "a link or page that would not open; %s is the reason";
    case 62045:
        return "the translation notice of a build without an address to write to";
    case 62046:
        return "what screen readers call the information box beside the source list";
    default:
        return nullptr;
    }
}

std::string translatorNote(const res::Entry& e) {
    std::ostringstream note;
    switch (e.kind) {
    case Kind::String:
        note << "String " << e.id;
        if (const char* what = stringNote(e.id))
            note << ": " << what;
        note << ".";
        break;
    case Kind::Menu:
        note << (e.id == 0 ? "Menu title" : "Menu command") << " (menu " << e.owner << ").";
        break;
    case Kind::Prompt:
        note << "Command " << e.id << ": "
             << (std::strchr(e.text, '\n') ? "status-bar text, a line break, then the tooltip."
                                           : "status-bar text.");
        break;
    case Kind::Dialog: {
        const char* name = dialogName(e.owner);
        note << (name ? name : "Dialog") << " (dialog " << e.owner << "), "
             << (e.id == 0  ? std::string("window title")
                 : e.id < 0 ? "label " + std::to_string(-e.id)
                            : "control " + std::to_string(e.id))
             << ".";
        break;
    }
    }
    if (std::strchr(e.text, '&'))
        note << " Keep one & before the access key.";
    return note.str();
}

bool hasMnemonicMarker(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '&') {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

} // namespace

bool parse(const std::string& text, Catalog& catalog, std::string& error) {
    catalog = Catalog{};
    Pending cur;
    std::set<std::string> seen;
    int lineNo = 0;
    std::string why;

    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    // Ends the entry being read; returns false on an incomplete one.
    auto flush = [&]() {
        if (cur.empty()) {
            cur = Pending{};
            return true;
        }
        if (!cur.hasId || !cur.hasStr)
            return fail("an entry needs both msgid and msgstr");
        if (!cur.hasContext && cur.msg.id.empty()) {
            parseHeader(cur.msg.str, catalog.header);
        } else {
            if (!seen.insert(cur.msg.context).second) {
                error = "line " + std::to_string(cur.msg.line) + ": msgctxt \"" + cur.msg.context +
                        "\" appears twice";
                return false;
            }
            cur.msg.fuzzy = cur.fuzzy;
            catalog.messages.push_back(cur.msg);
        }
        cur = Pending{};
        return true;
    };

    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = trim(line);
        if (t.empty()) {
            if (!flush())
                return false;
            continue;
        }
        if (t[0] == '#') {
            // A comment after a complete message starts the next one.
            if (cur.hasStr && !flush())
                return false;
            if (startsWith(t, "#~")) {
                cur.fuzzy = false; // obsolete entries carry nothing over
                continue;
            }
            if (startsWith(t, "#,")) {
                std::istringstream flags(t.substr(2));
                std::string flag;
                while (std::getline(flags, flag, ','))
                    if (trim(flag) == "fuzzy")
                        cur.fuzzy = true;
            }
            continue;
        }
        if (t[0] == '"') {
            if (!cur.field)
                return fail("a continued string without msgctxt, msgid or msgstr");
            std::string more;
            if (!readQuoted(t, 0, more, why))
                return fail(why);
            *cur.field += more;
            continue;
        }
        const auto space = t.find_first_of(" \t");
        const std::string keyword = t.substr(0, space);
        const std::size_t rest = space == std::string::npos ? t.size() : space;
        if (keyword == "msgid_plural" || startsWith(keyword, "msgstr["))
            return fail("plural forms are not used by these texts");
        if (keyword != "msgctxt" && keyword != "msgid" && keyword != "msgstr")
            return fail("unexpected text \"" + t + "\"");
        if ((keyword == "msgctxt" || keyword == "msgid") && cur.hasStr && !flush())
            return false;
        std::string* field = nullptr;
        if (keyword == "msgctxt") {
            if (cur.hasContext || cur.hasId)
                return fail("msgctxt must come first in an entry");
            cur.hasContext = true;
            field = &cur.msg.context;
        } else if (keyword == "msgid") {
            if (cur.hasId)
                return fail("a second msgid in one entry");
            cur.hasId = true;
            cur.msg.line = lineNo;
            field = &cur.msg.id;
        } else {
            if (!cur.hasId || cur.hasStr)
                return fail("msgstr without its msgid");
            cur.hasStr = true;
            field = &cur.msg.str;
        }
        if (!readQuoted(t, rest, *field, why))
            return fail(why);
        cur.field = field;
    }
    ++lineNo;
    return flush();
}

std::vector<std::string> keysOf(const res::Module& module) {
    std::vector<std::string> keys;
    keys.reserve(module.count);
    std::map<int, int> popups; // per menu: popups seen so far
    for (std::size_t i = 0; i < module.count; ++i) {
        const res::Entry& e = module.entries[i];
        switch (e.kind) {
        case Kind::String:
            keys.push_back("STRING " + std::to_string(e.id));
            break;
        case Kind::Prompt:
            keys.push_back("PROMPT " + std::to_string(e.id));
            break;
        case Kind::Dialog:
            keys.push_back("DIALOG " + std::to_string(e.owner) + "/" + std::to_string(e.id));
            break;
        case Kind::Menu:
            if (e.id != 0)
                keys.push_back("MENU " + std::to_string(e.owner) + "/" + std::to_string(e.id));
            else if (e.text[0] == '\0')
                keys.emplace_back(); // separator
            else
                keys.push_back("MENU " + std::to_string(e.owner) + "/POPUP " +
                               std::to_string(popups[e.owner]++));
            break;
        }
    }
    return keys;
}

std::string quotePo(const std::string& keyword, const std::string& text) {
    auto escape = [](const std::string& s) {
        std::string out;
        for (const char c : s) {
            switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
            }
        }
        return out;
    };
    const auto nl = text.find('\n');
    if (nl == std::string::npos || nl + 1 == text.size())
        return keyword + " \"" + escape(text) + "\"\n";
    std::string out = keyword + " \"\"\n";
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        out += "\"" + escape(text.substr(start, end - start)) + "\"\n";
        start = end;
    }
    return out;
}

std::string writeTemplate(const res::Module& english) {
    std::ostringstream out;
    out << "# Plexavo user-interface texts, keyed by resource (msgctxt).\n"
           "# Generated from the program's English resources by the plexavo-pot target;\n"
           "# start a translation with msginit, refresh one with msgmerge.\n"
           "#\n"
           "# A translation keeps the printf directives (%d, %s) in their order, one\n"
           "# access key (&) wherever the English text has one, and the line breaks of\n"
           "# command prompts (status text, then tooltip).\n"
           "#\n"
           "#, fuzzy\n"
           "msgid \"\"\n"
           "msgstr \"\"\n"
           "\"Project-Id-Version: Plexavo\\n\"\n"
           "\"PO-Revision-Date: YEAR-MO-DA HO:MI+ZONE\\n\"\n"
           "\"Last-Translator: FULL NAME <EMAIL@ADDRESS>\\n\"\n"
           "\"Language-Team: LANGUAGE <LL@li.org>\\n\"\n"
           "\"Language: \\n\"\n"
           "\"MIME-Version: 1.0\\n\"\n"
           "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
           "\"Content-Transfer-Encoding: 8bit\\n\"\n"
           "\"X-Plexavo-Language-Id: \\n\"\n"
           "\"X-Plexavo-Language-Name: \\n\"\n";
    const auto keys = keysOf(english);
    for (std::size_t i = 0; i < english.count; ++i) {
        if (keys[i].empty())
            continue;
        const res::Entry& e = english.entries[i];
        out << "\n#. " << translatorNote(e) << "\n";
        if (!i18n::conversionSignature(e.text).empty())
            out << "#, c-format\n";
        out << quotePo("msgctxt", keys[i]) << quotePo("msgid", e.text) << "msgstr \"\"\n";
    }
    return out.str();
}

namespace {

bool isBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

// The msgctxt of one entry's lines (a first line and its continuations), or
// false when the entry has none (the header) or it cannot be read.
bool entryContext(const std::vector<std::string>& lines, std::size_t begin, std::size_t end,
                  std::size_t& at, std::string& context) {
    for (at = begin; at < end; ++at)
        if (startsWith(lines[at], "msgctxt "))
            break;
    if (at == end)
        return false;
    std::string error;
    if (!readQuoted(lines[at], std::strlen("msgctxt"), context, error))
        return false;
    for (std::size_t k = at + 1; k < end && startsWith(trim(lines[k]), "\""); ++k)
        if (!readQuoted(lines[k], 0, context, error))
            return false;
    return true;
}

// One entry's lines with its flags line changed as wanted; untouched when it
// already agrees.
void setFormatFlag(std::vector<std::string>& entry, std::size_t contextAt, bool wanted) {
    std::size_t flagsAt = contextAt;
    for (std::size_t k = 0; k < contextAt; ++k)
        if (startsWith(entry[k], "#,")) {
            flagsAt = k;
            break;
        }
    std::vector<std::string> flags;
    if (flagsAt != contextAt) {
        std::istringstream in(entry[flagsAt].substr(2));
        std::string flag;
        while (std::getline(in, flag, ','))
            if (!trim(flag).empty())
                flags.push_back(trim(flag));
    }
    const auto has = [&](const char* f) {
        return std::find(flags.begin(), flags.end(), f) != flags.end();
    };
    if (has("c-format") == wanted && !(wanted && has("no-c-format")))
        return;
    std::erase(flags, std::string("no-c-format"));
    std::erase(flags, std::string("c-format"));
    if (wanted)
        flags.push_back("c-format");

    std::string line = "#,";
    for (std::size_t k = 0; k < flags.size(); ++k)
        line += (k ? ", " : " ") + flags[k];
    if (flagsAt != contextAt) {
        if (flags.empty())
            entry.erase(entry.begin() + static_cast<std::ptrdiff_t>(flagsAt));
        else
            entry[flagsAt] = line;
        return;
    }
    // A new flags line goes where gettext writes it: after the comments and
    // references, before the previous msgid (#|) and the message.
    std::size_t insertAt = 0;
    while (insertAt < contextAt && !startsWith(entry[insertAt], "#|"))
        ++insertAt;
    entry.insert(entry.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

} // namespace

std::string syncFormatFlags(const res::Module& english, const std::string& catalogText) {
    std::map<std::string, bool> needsFormat;
    const auto keys = keysOf(english);
    for (std::size_t i = 0; i < english.count; ++i)
        if (!keys[i].empty())
            needsFormat[keys[i]] = !i18n::conversionSignature(english.entries[i].text).empty();

    std::vector<std::string> lines;
    std::istringstream in(catalogText);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const bool finalNewline = !catalogText.empty() && catalogText.back() == '\n';

    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size();) {
        if (isBlank(lines[i])) {
            out.push_back(lines[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < lines.size() && !isBlank(lines[end]))
            ++end;
        std::vector<std::string> entry(lines.begin() + static_cast<std::ptrdiff_t>(i),
                                       lines.begin() + static_cast<std::ptrdiff_t>(end));
        std::size_t contextAt = 0;
        std::string context;
        if (entryContext(entry, 0, entry.size(), contextAt, context)) {
            const auto known = needsFormat.find(context);
            if (known != needsFormat.end())
                setFormatFlag(entry, contextAt, known->second);
        }
        out.insert(out.end(), entry.begin(), entry.end());
        i = end;
    }

    std::string text;
    for (std::size_t k = 0; k < out.size(); ++k) {
        text += out[k];
        if (k + 1 < out.size() || finalNewline)
            text += '\n';
    }
    return text;
}

std::string stripMnemonic(const std::string& text) {
    std::string s = text;
    // "(&F)" after a CJK text, in ASCII or full-width parentheses.
    for (const char* open : {"(&", "\xEF\xBC\x88&"}) {
        const auto at = s.find(open);
        if (at == std::string::npos)
            continue;
        const std::size_t letter = at + std::strlen(open);
        for (const char* close : {")", "\xEF\xBC\x89"}) {
            if (s.compare(letter + 1, std::strlen(close), close) == 0) {
                s.erase(at, letter + 1 + std::strlen(close) - at);
                return trim(s);
            }
        }
    }
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size() && s[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (s[i] != '&') {
            out += s[i];
        }
    }
    return out;
}

CompileResult compile(const res::Module& english, const Catalog& catalog) {
    CompileResult result;
    auto field = [&](const char* name) {
        const auto it = catalog.header.find(name);
        return it == catalog.header.end() ? std::string() : it->second;
    };

    const std::string contentType = field("Content-Type");
    if (!contentType.empty() && contentType.find("charset=UTF-8") == std::string::npos &&
        contentType.find("charset=utf-8") == std::string::npos)
        result.errors.push_back("the catalog must be UTF-8 (Content-Type: " + contentType + ")");
    const std::string idText = field("X-Plexavo-Language-Id");
    char* end = nullptr;
    const long id = std::strtol(idText.c_str(), &end, 0);
    if (idText.empty() || *end != '\0' || id <= 0 || id > 0xFFFF)
        result.errors.push_back("X-Plexavo-Language-Id must be a language id (1..65535), not \"" +
                                idText + "\"");
    else
        result.info.language = static_cast<std::uint16_t>(id);
    result.info.menuName = field("X-Plexavo-Language-Name");
    if (result.info.menuName.empty())
        result.errors.push_back("X-Plexavo-Language-Name is missing");
    result.info.moduleName = stripMnemonic(result.info.menuName);

    std::map<std::string, const Message*> byKey;
    for (const Message& m : catalog.messages)
        byKey[m.context] = &m;

    const auto keys = keysOf(english);
    std::set<std::string> known;
    for (std::size_t i = 0; i < english.count; ++i) {
        const res::Entry& e = english.entries[i];
        PackEntry out{e.kind, e.owner, e.id, e.level, {}};
        if (keys[i].empty()) { // separator
            result.entries.push_back(out);
            continue;
        }
        known.insert(keys[i]);
        const auto it = byKey.find(keys[i]);
        std::string problem;
        if (it == byKey.end())
            problem = "no translation";
        else if (it->second->str.empty())
            problem = "untranslated";
        else if (it->second->fuzzy)
            problem = "marked fuzzy";
        else if (it->second->id != e.text)
            problem = "translated from an older English text";
        else if (i18n::conversionSignature(it->second->str.c_str()) !=
                 i18n::conversionSignature(e.text))
            problem = "its printf directives differ from the English text";
        if (problem.empty()) {
            if (hasMnemonicMarker(e.text) && !hasMnemonicMarker(it->second->str))
                result.warnings.push_back("line " + std::to_string(it->second->line) + ": " +
                                          keys[i] + ": the access key (&) is missing");
            out.text = it->second->str;
            ++result.translated;
            result.entries.push_back(out);
            continue;
        }
        const int line = it == byKey.end() ? 0 : it->second->line;
        result.warnings.push_back((line ? "line " + std::to_string(line) + ": " : std::string()) +
                                  keys[i] + ": " + problem);
        if (e.kind == Kind::Menu)
            result.entries.push_back(out); // keeps the menu's shape
    }
    for (const Message& m : catalog.messages)
        if (!known.count(m.context))
            result.warnings.push_back("line " + std::to_string(m.line) + ": " + m.context +
                                      ": the program has no such text");
    return result;
}

std::string escapeC(const std::string& text) {
    static const char* const kHex = "01234567";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '?':
            out += "\\?";
            break; // no trigraph can form
        default:
            if (c < 0x20 || c == 0x7F) {
                // Three octal digits always: a following digit cannot join the escape.
                out += '\\';
                out += kHex[(c >> 6) & 7];
                out += kHex[(c >> 3) & 7];
                out += kHex[c & 7];
            } else {
                out += ch; // UTF-8 passes through; the compiler reads UTF-8
            }
        }
    }
    return out;
}

std::string writePackSource(const CompileResult& pack, const std::string& sourceName) {
    static const char* const kKinds[] = {"String", "Menu", "Prompt", "Dialog"};
    std::ostringstream out;
    out << "// Generated from " << sourceName
        << " by plexavo-po; edit the catalog, not this file.\n"
           "#include \"engine/res/ResourceModule.h\"\n\n"
           "#define PLEXAVO_PACK_EXPORT extern \"C\" __attribute__((visibility(\"default\")))\n\n"
           "namespace {\n\n"
           "using plexavo::res::Entry;\n"
           "using plexavo::res::Kind;\n"
           "using plexavo::res::Module;\n\n";
    if (pack.entries.empty()) {
        out << "const Module kModule{\"" << escapeC(pack.info.moduleName) << "\", "
            << pack.info.language << ", nullptr, 0};\n\n";
    } else {
        out << "const Entry kEntries[] = {\n";
        for (const PackEntry& e : pack.entries)
            out << "    {Kind::" << kKinds[static_cast<int>(e.kind)] << ", " << e.owner << ", "
                << e.id << ", " << e.level << ", \"" << escapeC(e.text) << "\"},\n";
        out << "};\n\n"
            << "const Module kModule{\"" << escapeC(pack.info.moduleName) << "\", "
            << pack.info.language << ", kEntries, sizeof kEntries / sizeof kEntries[0]};\n\n";
    }
    out << "} // namespace\n\n"
        << "PLEXAVO_PACK_EXPORT unsigned GetLanguage() { return " << pack.info.language << "; }\n"
        << "PLEXAVO_PACK_EXPORT const char* GetLanguageName() { return \""
        << escapeC(pack.info.menuName) << "\"; }\n"
        << "PLEXAVO_PACK_EXPORT const Module* GetResourceModuleV1() { return &kModule; }\n";
    return out.str();
}

} // namespace plexavo::po
