// The small OS layer the engine stands on.
#pragma once

#include <cstdint>
#include <string>

namespace plexavo::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like a tick counter.
std::uint32_t tickCount();

// Folder of the running executable, with a trailing '/'.
std::string programFolder();

// Folder for per-user runtime files (locks): $XDG_RUNTIME_DIR or the temp folder.
std::string runtimeFolder();

} // namespace plexavo::platform
