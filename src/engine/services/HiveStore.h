// The settings file on disk: read whole, and changed one value at a time
// under a writers' lock by writing a complete new file that replaces the old
// one atomically, so a crash or a second running copy never leaves half a file.
#pragma once

#include "engine/services/HiveFormat.h"

#include <string>
#include <sys/types.h>

namespace plexavo::hive {

enum class LoadState { Missing, Ok, Damaged, Unreadable };

struct Loaded {
    LoadState state = LoadState::Missing;
    Hive hive;
    std::string text; // what was read (Damaged: kept for the copy set aside)
    bool complete = true;
    mode_t mode = 0644;
    int error = 0;
};

Loaded loadHive(const std::string& path);

// Sets one value in the file at hivePath: an ERROR_* code of RegistryKey.h.
std::int32_t writeValue(const std::string& hivePath, const std::string& section,
                        const std::string& name, DWORD type, const std::string& data);

} // namespace plexavo::hive
