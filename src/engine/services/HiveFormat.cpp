#include "engine/services/HiveFormat.h"

#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace plexavo::hive {

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

namespace {

// A quoted text at s[pos] with the .reg escapes \\ and \"; pos ends after the quote.
std::optional<std::string> parseQuoted(const std::string& s, std::size_t& pos) {
    if (pos >= s.size() || s[pos] != '"')
        return std::nullopt;
    std::string out;
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
        } else if (c == '"') {
            pos = i + 1;
            return out;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::optional<std::string> parseHexBytes(const std::string& text) {
    std::string bytes;
    std::string compact;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\\' && c != '\n' && c != '\r')
            compact += c;
    if (compact.empty())
        return bytes;
    std::size_t i = 0;
    while (true) {
        if (i + 2 > compact.size())
            return std::nullopt;
        const int hi = platform::hexDigit(compact[i]);
        const int lo = platform::hexDigit(compact[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes += static_cast<char>(hi * 16 + lo);
        i += 2;
        if (i == compact.size())
            return bytes;
        if (compact[i] != ',')
            return std::nullopt;
        ++i;
    }
}

std::string utf16ToUtf8(const std::string& bytes) {
    std::string out;
    std::size_t i = 0;
    auto unit = [&](std::size_t at) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                          (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    while (i + 1 < bytes.size()) {
        std::uint32_t cp = unit(i);
        i += 2;
        if (cp == 0)
            break;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < bytes.size()) {
            const std::uint16_t low = unit(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        platform::appendUtf8(out, cp);
    }
    return out;
}

std::string utf8ToUtf16(const std::string& s) {
    std::string out;
    auto put = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        int n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else {
            cp = c & 0x07;
            n = 4;
        }
        for (int k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += static_cast<std::size_t>(n);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    put(0);
    return out;
}

// The data after '=' of a value line.
std::optional<Value> parseData(const std::string& text, bool unicode) {
    const std::string data = trim(text);
    Value v;
    if (data == "-") {
        v.deleted = true;
        return v;
    }
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 0;
        auto s = parseQuoted(data, pos);
        if (!s || pos != data.size())
            return std::nullopt;
        v.type = REG_SZ;
        v.data = *s;
        return v;
    }
    if (data.compare(0, 6, "dword:") == 0) {
        const std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return platform::hexDigit(c) >= 0; }))
            return std::nullopt;
        const DWORD n = static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16));
        v.type = REG_DWORD;
        v.data.assign(reinterpret_cast<const char*>(&n), 4); // little-endian host
        return v;
    }
    std::string rest;
    if (data.compare(0, 4, "hex:") == 0) {
        v.type = 3; // REG_BINARY
        rest = data.substr(4);
    } else if (data.compare(0, 4, "hex(") == 0) {
        const auto close = data.find("):", 4);
        if (close == std::string::npos || close == 4 || close > 12)
            return std::nullopt;
        const std::string digits = data.substr(4, close - 4);
        if (!std::all_of(digits.begin(), digits.end(),
                         [](char c) { return platform::hexDigit(c) >= 0; }))
            return std::nullopt;
        v.type = static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16));
        rest = data.substr(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = parseHexBytes(rest);
    if (!bytes)
        return std::nullopt;
    v.data = *bytes;
    if (v.type == REG_SZ) {
        // Stored with its terminator; UTF-16 in a version 5 file, narrow text otherwise.
        if (unicode) {
            v.data = utf16ToUtf8(v.data);
        } else {
            const auto nul = v.data.find('\0');
            if (nul != std::string::npos)
                v.data.resize(nul);
        }
    }
    return v;
}

void classify(Line& line, bool unicode) {
    const std::string t = trim(line.raw);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
        if (t[1] == '-') {
            line.kind = Line::DeletedSection;
            line.name = t.substr(2, t.size() - 3);
        } else {
            line.kind = Line::Section;
            line.name = t.substr(1, t.size() - 2);
        }
        return;
    }
    std::string name;
    std::size_t pos = 0;
    if (!t.empty() && t[0] == '@') {
        pos = 1;
    } else if (auto quoted = parseQuoted(t, pos)) {
        name = *quoted;
    } else {
        return; // blank, comment, or a line this reader does not know
    }
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t'))
        ++pos;
    if (pos >= t.size() || t[pos] != '=')
        return;
    if (auto value = parseData(t.substr(pos + 1), unicode)) {
        line.kind = Line::ValueLine;
        line.name = name;
        line.value = std::move(*value);
    }
}

} // namespace

// Parses a whole file. nullopt when it is not a hive at all (no header,
// binary content): such a file is damaged, not merely unknown.
std::optional<Hive> parseHive(std::string text) {
    Hive hive;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    if (text.find('\0') != std::string::npos)
        return std::nullopt; // binary, or a UTF-16 export
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return hive; // empty: nothing to keep
    hive.crlf = text.find("\r\n") != std::string::npos;

    std::vector<std::string> physical;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        physical.push_back(std::move(line));
        start = end + 1;
    }

    std::size_t i = 0;
    while (i < physical.size() && trim(physical[i]).empty())
        hive.lines.push_back(Line{Line::Other, physical[i++], {}, {}});
    if (i == physical.size())
        return hive;
    const std::string header = trim(physical[i]);
    if (header == kHeader5)
        hive.unicodeHeader = true;
    else if (header != kHeader4)
        return std::nullopt;
    hive.hasHeader = true;
    hive.lines.push_back(Line{Line::Other, physical[i++], {}, {}});

    for (; i < physical.size(); ++i) {
        Line line;
        line.raw = physical[i];
        // A hex value goes on over the next lines while a line ends with '\'.
        while (!line.raw.empty() && line.raw.back() == '\\' &&
               line.raw.find("=hex") != std::string::npos && i + 1 < physical.size())
            line.raw += "\n" + physical[++i];
        classify(line, hive.unicodeHeader);
        hive.lines.push_back(std::move(line));
    }
    return hive;
}

std::string serialize(const Hive& hive) {
    const char* eol = hive.crlf ? "\r\n" : "\n";
    std::string out;
    for (const auto& line : hive.lines) {
        std::string raw = line.raw;
        if (hive.crlf) {
            std::string withCr;
            for (const char c : raw) {
                if (c == '\n')
                    withCr += '\r';
                withCr += c;
            }
            raw = withCr;
        }
        out += raw;
        out += eol;
    }
    return out;
}

namespace {

std::string hexData(const std::string& head, const std::string& bytes) {
    std::string out = head;
    std::size_t column = out.size();
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
        out += buf;
        column += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

} // namespace

// The text of a value line; nullopt when the value cannot be put into this file.
std::optional<std::string> valueLine(const std::string& name, DWORD type, const std::string& data,
                                     bool unicode) {
    const std::string head = (name.empty() ? std::string("@") : quote(name)) + "=";
    if (type == REG_DWORD) {
        DWORD n = 0;
        std::memcpy(&n, data.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", n);
        return head + buf;
    }
    const bool plain =
        platform::isValidUtf8(data) && std::none_of(data.begin(), data.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
    if (plain)
        return head + quote(data);
    // Line breaks and other control characters cannot sit inside quotes.
    if (unicode) {
        if (!platform::isValidUtf8(data))
            return std::nullopt;
        return hexData(head + "hex(1):", utf8ToUtf16(data));
    }
    return hexData(head + "hex(1):", data + '\0');
}

// The value as the hive holds it now: the last line that sets it wins, as
// when the file is imported.
std::optional<Value> findValue(const Hive& hive, const std::string& section,
                               const std::string& name) {
    std::optional<Value> found;
    bool inSection = false;
    for (const auto& line : hive.lines) {
        if (line.kind == Line::Section || line.kind == Line::DeletedSection) {
            inSection = line.kind == Line::Section && equalsNoCase(line.name, section);
            if (line.kind == Line::DeletedSection && equalsNoCase(line.name, section))
                found.reset();
        } else if (inSection && line.kind == Line::ValueLine && equalsNoCase(line.name, name)) {
            found = line.value;
        }
    }
    if (found && found->deleted)
        return std::nullopt;
    return found;
}

void setValue(Hive& hive, const std::string& section, const std::string& name,
              const std::string& text, const Value& value) {
    if (!hive.hasHeader) {
        hive.lines.insert(hive.lines.begin(), {Line{Line::Other, kHeader4, {}, {}}, Line{}});
        hive.hasHeader = true;
    }
    constexpr auto kNone = std::string::npos;
    std::size_t lastValue = kNone; // the line that sets the value now
    std::size_t insertAt = kNone;  // after the last content line of the key's last section
    bool inSection = false;
    for (std::size_t i = 0; i < hive.lines.size(); ++i) {
        const Line& line = hive.lines[i];
        if (line.kind == Line::Section || line.kind == Line::DeletedSection) {
            inSection = line.kind == Line::Section && equalsNoCase(line.name, section);
            if (inSection) {
                insertAt = i + 1;
            } else if (equalsNoCase(line.name, section)) {
                // The key is deleted here: what came before no longer counts.
                lastValue = kNone;
                insertAt = kNone;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!trim(line.raw).empty())
            insertAt = i + 1;
        if (line.kind == Line::ValueLine && equalsNoCase(line.name, name))
            lastValue = i;
    }
    Line line{Line::ValueLine, text, name, value};
    if (lastValue != kNone) {
        hive.lines[lastValue] = std::move(line);
    } else if (insertAt != kNone) {
        hive.lines.insert(hive.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                          std::move(line));
    } else {
        if (!hive.lines.empty() && !trim(hive.lines.back().raw).empty())
            hive.lines.push_back(Line{});
        hive.lines.push_back(Line{Line::Section, "[" + section + "]", section, {}});
        hive.lines.push_back(std::move(line));
    }
}

} // namespace plexavo::hive
