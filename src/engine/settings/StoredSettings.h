// The settings the program keeps between runs, each read from the settings
// file (SettingsFile.h) at the moment it is needed and written when the user
// changes it; nothing is cached.
#pragma once

#include "engine/settings/SettingsFile.h"

#include <optional>
#include <string>

namespace plexavo::settings {

inline constexpr char kHiddenToolTips[] = "HiddenToolTips"; // flag: the tips window was closed
inline constexpr char kLanguage[] = "Language";             // number: the chosen language id
inline constexpr char kOutputPath[] = "OutputPath";         // text: the folder for converted files

// Whether the help tips stay closed in this run: read at start-up and set
// when the user closes them, so that a view rebuilt by a language switch
// does not open them again. The window's thread only.
extern bool toolTipsHiddenThisRun;

bool readToolTipsHidden();
SaveResult writeToolTipsHidden(); // stores true; nothing ever stores false

// The stored language id; nothing when there is none, or it is not a number.
std::optional<int> readLanguage();
SaveResult writeLanguage(int languageId);

// The folder to convert into: the stored "OutputPath" resolved by
// resolveOutputPath when it names an existing folder, else the default
// ($HOME/ConvertedMedia/). The stored text's trailing '/' is kept as it was.
std::string readOutputPath();
SaveResult writeOutputPath(const std::string& folder);

// "~" and "~/x" become the home folder and a path inside it, "~user/x" the
// user's, and a relative name is taken inside the home folder: a relative
// output folder would otherwise land wherever the program was started.
std::string resolveOutputPath(const std::string& stored);

} // namespace plexavo::settings
