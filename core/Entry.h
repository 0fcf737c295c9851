// The core's one entry point: every way out of it prints a result the program can read.
#pragma once

#include <functional>

namespace plexavo::core {

// What a run was doing, which decides what a failure during a stop request means.
enum class Task { Other, Conversion };

// Runs body, which says what it is doing through its argument, and turns whatever it throws
// into one "Error: " line and an exit status: UsageError -> usage, Failure -> failed (or
// stopped, for a conversion stopped on request), anything else -> failed with the reason it
// gave. Never throws.
int runGuarded(const std::function<int(Task& task)>& body) noexcept;

// The whole program: the command line without argv[0].
int runCore(int argc, char** argv) noexcept;

} // namespace plexavo::core
