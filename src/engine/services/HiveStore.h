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

// Why a write did not reach the disk: the file it was for and the system's
// reason (an errno value). The user is told both, so a choice that will be
// gone at the next start is not lost in silence.
struct WriteFailure {
    std::string file;
    int error = 0;
};

// Sets one value in the file at hivePath: an ERROR_* code of RegistryKey.h.
// On a failure `why` (when given) says which file and why.
std::int32_t writeValue(const std::string& hivePath, const std::string& section,
                        const std::string& name, DWORD type, const std::string& data,
                        WriteFailure* why = nullptr);

} // namespace plexavo::hive
