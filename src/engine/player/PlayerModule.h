// The preview's player and GStreamer live in a module of their own,
// libplexavo-player.so beside the program, loaded the first time the preview
// or the preview's codec check needs them: the window starts without
// GStreamer's libraries, and a session that never previews never pays for
// them. The module offers one table of entry points.
#pragma once

#include "engine/player/GStreamerRuntime.h"
#include "engine/player/Player.h"

#include <string>
#include <vector>

namespace plexavo::player {

inline constexpr const char* kModuleFile = "libplexavo-player.so";
inline constexpr const char* kModuleEntry = "plexavoPlayerModule";
// Raised whenever the table changes, so a module of another build is refused.
inline constexpr unsigned kModuleAbi = 1;

struct ModuleApi {
    unsigned abi;
    bool (*initialize)(std::string* error);
    bool (*started)();
    GStreamerVersion (*version)();
    std::vector<std::string> (*missingPreviewParts)();
    // A new player (the caller owns it), or nullptr and why.
    Player* (*createPlayer)(Player::AudioOutput output, std::string* error);
};

// The module's table, loading the module the first time; nullptr (and the
// loader's message) when it cannot be loaded. Once loaded it stays: GStreamer
// cannot be unloaded. The module is looked for in the program's folder, or
// in PLEXAVO_PLAYER_MODULE's when that names a file (tests).
const ModuleApi* playerModule(std::string* error = nullptr);

// Whether this process has loaded the module; loads nothing.
bool playerModuleLoaded();

} // namespace plexavo::player
