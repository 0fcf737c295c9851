// The settings file of Plexavo before the keyfile: the registry's export text
// (REGEDIT4, or "Windows Registry Editor Version 5.00" when made by hand) with
// the values under [HKEY_LOCAL_MACHINE\Software\Vantrel\Plexavo]. It is read
// while no plexavo.conf exists, and never changed. This reader is the one
// place that knows that format's names.
#pragma once

#include "engine/settings/SettingsFile.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plexavo::settings {

// $PLEXAVO_CONFIG_DIR/Plexavo.reg when that variable is set, else
// $XDG_CONFIG_HOME/Vantrel/Plexavo.reg.
std::string oldRegFilePath();

// The settings the text holds, named and typed as the keyfile keeps them,
// each by the old rules: "HiddenToolTips" counts only as a text equal to
// "TRUE" ignoring case, "Language" only as a dword, "OutputPath" only as a
// text (and only one in UTF-8, which the keyfile can hold). Empty when the
// text is not such a file.
std::vector<std::pair<std::string, Value>> parseOldRegFile(std::string_view text);

} // namespace plexavo::settings
