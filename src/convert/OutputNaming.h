// Output folders and the clock format of durations.
#pragma once

#include <cstdint>
#include <string>

namespace plexavo {

// Makes every missing level of path exist as a folder; failures are silent
// (the caller checks folderExists afterwards when it must know).
void ensureFolder(const std::string& path);
// True when something (a file or a folder) is at path.
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
// Whole seconds as "%02d:%02d:%02d", hours not wrapped at 24.
std::string FormatSeconds(std::uint64_t seconds);

} // namespace plexavo
