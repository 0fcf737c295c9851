// The settings file's text: the Windows registry's export format (REGEDIT4
// or version 5.00), read into lines and written back so that nothing this
// reader does not understand is ever lost. Pure text in, text out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plexavo::hive {

using DWORD = std::uint32_t;

inline constexpr char kHeader4[] = "REGEDIT4";
inline constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_DWORD = 4;

// One value as stored: its type and its data bytes (strings without the
// terminator, in UTF-8).
struct Value {
    DWORD type = 0;
    std::string data;
    bool deleted = false; // "name"=-
};

// One logical line of the file; a hex value continued over several physical
// lines is one logical line. Lines this reader does not understand are kept
// as they stand, so rewriting the file never loses them.
struct Line {
    enum Kind { Other, Section, DeletedSection, ValueLine } kind = Other;
    std::string raw;  // the text as in the file, without the final line break
    std::string name; // Section: the key path; ValueLine: the value name ("" for @)
    std::optional<Value> value;
};

struct Hive {
    bool unicodeHeader = false; // "Windows Registry Editor Version 5.00": hex(1) holds UTF-16
    bool crlf = false;
    bool hasHeader = false;
    std::vector<Line> lines;
};

// Key and value names compare as the registry does: ASCII case ignored.
bool equalsNoCase(const std::string& a, const std::string& b);
std::string trim(const std::string& s);

// Parses a whole file. nullopt when it is not a hive at all (no header,
// binary content): such a file is damaged, not merely unknown.
std::optional<Hive> parseHive(std::string text);
std::string serialize(const Hive& hive);

// The text of a value line; nullopt when the value cannot be put into this file.
std::optional<std::string> valueLine(const std::string& name, DWORD type, const std::string& data,
                                     bool unicode);

// The value as the hive holds it now: the last line that sets it wins, as
// when the file is imported.
std::optional<Value> findValue(const Hive& hive, const std::string& section,
                               const std::string& name);
// Sets the value where an import would look for it, adding the header and
// the section when they are missing.
void setValue(Hive& hive, const std::string& section, const std::string& name,
              const std::string& text, const Value& value);

} // namespace plexavo::hive
