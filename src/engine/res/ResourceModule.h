// A resource module: every user-visible text of one language, keyed by kind and id.
// The program's own (English) module is compiled in; language packs export the
// same table from a shared library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plexavo::res {

enum class Kind : std::uint8_t {
    String = 0, // string table: owner 0, id = string id
    Menu = 1,   // menu template: owner = menu resource id, entries in menu order
    Prompt = 2, // command prompt: owner 0, id = command id, "status text\ntooltip"
    Dialog = 3, // dialog template: owner = dialog id, id = control id (0 = caption)
};

struct Entry {
    Kind kind;
    int owner;
    int id;           // Menu: command id; 0 for a popup or a separator
    short level;      // Menu: nesting depth (0 = menu bar); 0 elsewhere
    const char* text; // Menu separator: ""
};

struct Module {
    const char* name;       // e.g. "English"
    std::uint16_t language; // Windows language id, e.g. 0x0409
    const Entry* entries;
    std::size_t count;
};

// The program's own English resources.
const Module& defaultModule();

} // namespace plexavo::res
