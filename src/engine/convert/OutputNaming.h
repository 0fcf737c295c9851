// Output folders and the clock format of durations.
#pragma once

#include "engine/platform/Files.h"

#include <cstdint>
#include <string>

namespace plexavo::convert {

// Whole seconds as "%02d:%02d:%02d", hours not wrapped at 24.
std::string formatSeconds(std::uint64_t seconds);

} // namespace plexavo::convert
