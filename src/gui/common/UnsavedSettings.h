// Tells the user when a setting could not be saved: the choice holds for
// this run but is gone at the next start, which the user should know of.
#pragma once

#include "engine/settings/SettingsFile.h"

class QWidget;

namespace plexavo::gui {

// Shows the file and the reason once per run: after the first failure the
// next ones (the same full disk, most likely) would only repeat it.
// Returns true when it showed the message. Call on the window's thread.
bool reportUnsavedSetting(QWidget* parent, const settings::SaveResult& result);

} // namespace plexavo::gui
