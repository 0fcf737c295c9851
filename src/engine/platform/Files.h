// The few file-system questions the engine asks.
#pragma once

#include <string>

namespace plexavo {

// Makes every missing level of path exist as a folder; failures are silent
// (the caller checks folderExists afterwards when it must know).
void ensureFolder(const std::string& path);
// True when something (a file or a folder) is at path.
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
// Where converted files go unless the user chose a folder: ~/ConvertedMedia/.
std::string defaultOutputPath();

} // namespace plexavo
