#include "engine/settings/OldRegFile.h"

#include "engine/platform/Utf8.h"
#include "engine/settings/StoredSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace plexavo::settings {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kSection = "HKEY_LOCAL_MACHINE\\Software\\Vantrel\\Plexavo";
constexpr std::uint32_t kNoLanguage = 0xFFFFFFFF; // what the old program read as "none"

// One value of the old file as far as the import cares: a text (REG_SZ), a
// dword (REG_DWORD), or something else, which counts as neither.
struct OldValue {
    enum Type { Text, Dword, Other } type = Other;
    std::string text;
    std::uint32_t dword = 0;
};

// The three values the old file could hold for us; the last line that sets
// one wins, as when the file was imported into a registry.
struct OldValues {
    std::optional<OldValue> hiddenToolTips, language, outputPath;
};

// Names in that format compare with ASCII case ignored.
bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string_view trim(std::string_view s) {
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

bool isHex(std::string_view digits) {
    return !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                          [](char c) { return platform::hexDigit(c) >= 0; });
}

// The quoted text at the start of s, with the escapes \\ and \"; `rest` is
// what follows the closing quote.
std::optional<std::string> unquote(std::string_view s, std::string_view& rest) {
    if (s.empty() || s[0] != '"')
        return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
        } else if (s[i] == '"') {
            rest = s.substr(i + 1);
            return out;
        } else {
            out += s[i];
        }
    }
    return std::nullopt;
}

// "61,62,\<line break>  63" as bytes; nothing when malformed.
std::optional<std::string> hexBytes(std::string_view s) {
    std::string compact;
    for (const char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '\\')
            compact += c;
    std::string bytes;
    for (std::size_t i = 0; i < compact.size(); i += 3) {
        if (i + 2 > compact.size() || !isHex(compact.substr(i, 2)))
            return std::nullopt;
        bytes += static_cast<char>(platform::hexDigit(compact[i]) * 16 +
                                   platform::hexDigit(compact[i + 1]));
        if (i + 2 < compact.size() && compact[i + 2] != ',')
            return std::nullopt;
        if (i + 3 == compact.size())
            return std::nullopt; // a trailing comma
    }
    return bytes;
}

// A version 5 file's long-form text: UTF-16LE up to its terminator.
std::string fromUtf16(std::string_view bytes) {
    const auto unit = [&](std::size_t at) -> std::uint32_t {
        return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                           << 8;
    };
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp == 0)
            break;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        platform::appendUtf8(out, cp);
    }
    return out;
}

// The long form "hex(1):..." (a text that held line breaks), "hex(4):..." (a
// dword) or "hex:..." (binary).
std::optional<OldValue> parseHexData(std::string_view data, bool unicode) {
    std::string_view type = "3";
    if (data.substr(0, 4) == "hex(") {
        const auto close = data.find("):");
        if (close == std::string_view::npos || !isHex(data.substr(4, close - 4)))
            return std::nullopt;
        type = data.substr(4, close - 4);
        data.remove_prefix(close + 2);
    } else if (data.substr(0, 4) == "hex:") {
        data.remove_prefix(4);
    } else {
        return std::nullopt;
    }
    const auto bytes = hexBytes(data);
    if (!bytes)
        return std::nullopt;
    OldValue value;
    const unsigned long number = std::strtoul(std::string(type).c_str(), nullptr, 16);
    if (number == 1) {
        value.type = OldValue::Text;
        value.text = unicode ? fromUtf16(*bytes) : bytes->substr(0, bytes->find('\0'));
    } else if (number == 4 && bytes->size() == 4) {
        value.type = OldValue::Dword;
        for (int i = 3; i >= 0; --i)
            value.dword = value.dword << 8 | static_cast<unsigned char>((*bytes)[i]);
    }
    return value;
}

// The data after a value's '='; nothing when malformed (the line is skipped).
std::optional<OldValue> parseData(std::string_view data, bool unicode) {
    OldValue value;
    std::string_view rest;
    if (auto text = unquote(data, rest)) {
        if (!trim(rest).empty())
            return std::nullopt;
        value.type = OldValue::Text;
        value.text = std::move(*text);
        return value;
    }
    if (data.substr(0, 6) == "dword:") {
        const auto digits = data.substr(6);
        if (digits.size() > 8 || !isHex(digits))
            return std::nullopt;
        value.type = OldValue::Dword;
        value.dword =
            static_cast<std::uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
        return value;
    }
    return parseHexData(data, unicode);
}

// The file's lines; a long-form value continued over several lines (each
// but the last ending in '\') is one line.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    bool continued = false;
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size());
        std::string line(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (continued)
            lines.back() += "\n" + line;
        else
            lines.push_back(line);
        continued =
            !line.empty() && line.back() == '\\' && lines.back().find("=hex") != std::string::npos;
    }
    return lines;
}

// One line inside the program's section: a value we know is set or deleted.
void readValueLine(std::string_view line, bool unicode, OldValues& values) {
    std::string_view rest;
    const auto name = unquote(line, rest);
    rest = trim(rest);
    if (!name || rest.empty() || rest[0] != '=')
        return;
    std::optional<OldValue>* slot = nullptr;
    if (equalsNoCase(*name, kHiddenToolTips))
        slot = &values.hiddenToolTips;
    else if (equalsNoCase(*name, kLanguage))
        slot = &values.language;
    else if (equalsNoCase(*name, kOutputPath))
        slot = &values.outputPath;
    if (!slot)
        return;
    const auto data = trim(rest.substr(1));
    if (data == "-")
        slot->reset();
    else if (auto value = parseData(data, unicode))
        *slot = std::move(*value);
}

std::vector<std::pair<std::string, Value>> asSettings(const OldValues& old) {
    std::vector<std::pair<std::string, Value>> settings;
    if (old.hiddenToolTips && old.hiddenToolTips->type == OldValue::Text &&
        equalsNoCase(old.hiddenToolTips->text, "TRUE"))
        settings.emplace_back(kHiddenToolTips, true);
    if (old.language && old.language->type == OldValue::Dword && old.language->dword != kNoLanguage)
        settings.emplace_back(kLanguage, static_cast<int>(old.language->dword));
    if (old.outputPath && old.outputPath->type == OldValue::Text &&
        platform::isValidUtf8(old.outputPath->text))
        settings.emplace_back(kOutputPath, old.outputPath->text);
    return settings;
}

} // namespace

std::string oldRegFilePath() {
    if (const char* dir = std::getenv("PLEXAVO_CONFIG_DIR"); dir && *dir)
        return std::string(dir) + "/Plexavo.reg";
    return SettingsFile::configHome() + "/Vantrel/Plexavo.reg";
}

std::vector<std::pair<std::string, Value>> parseOldRegFile(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (text.find('\0') != std::string_view::npos)
        return {}; // binary, or a UTF-16 export
    const std::vector<std::string> lines = logicalLines(text);
    auto line = std::find_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return !trim(l).empty(); });
    if (line == lines.end() || (trim(*line) != kHeader4 && trim(*line) != kHeader5))
        return {};
    const bool unicode = trim(*line) == kHeader5;
    OldValues values;
    bool inSection = false;
    for (++line; line != lines.end(); ++line) {
        const std::string_view t = trim(*line);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            const bool deleted = t[1] == '-';
            const bool ours =
                equalsNoCase(t.substr(deleted ? 2 : 1, t.size() - (deleted ? 3 : 2)), kSection);
            inSection = ours && !deleted;
            if (ours && deleted)
                values = OldValues{}; // the key deleted: what came before is gone
        } else if (inSection) {
            readValueLine(t, unicode, values);
        }
    }
    return asSettings(values);
}

} // namespace plexavo::settings
