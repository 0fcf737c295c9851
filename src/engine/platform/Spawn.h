// Starts a program from an argv vector with posix_spawn, never through a
// shell: the one place the engine (and the tests' own runner) sets up a child.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace plexavo::platform {

// What a child's standard input, output or error is, besides a descriptor of
// the parent's that it gets in that place.
inline constexpr int kInherit = -1; // the parent's own
inline constexpr int kDevNull = -2; // /dev/null

struct SpawnRequest {
    // Run as named when it holds a '/', else looked for on PATH.
    std::string program;
    // argv, the program's name first.
    std::vector<std::string> arguments;
    // "NAME=value" entries added to (or replacing) this process's environment.
    std::vector<std::string> environment;
    std::optional<std::string> workingDirectory;
    int input = kDevNull;
    int output = kInherit;
    int error = kInherit;
    // The child leads a process group (or a session, and so a group) of its own.
    bool ownProcessGroup = false;
    bool ownSession = false;
};

// Starts the child with default signal handling, nothing blocked and no
// descriptor of this process's beyond the three standard ones, whatever the
// calling thread had set up. 0 and its pid, or the system's reason (an errno
// value: that of the exec when the program cannot run).
int spawnProcess(const SpawnRequest& request, pid_t& pid);

} // namespace plexavo::platform
