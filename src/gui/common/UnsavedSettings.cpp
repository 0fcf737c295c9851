#include "gui/common/UnsavedSettings.h"

#include "engine/platform/DebugLog.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"

namespace plexavo::gui {

namespace {
constexpr unsigned kStrNotSaved = 62020;
bool g_reported = false; // the window's thread only
} // namespace

bool reportUnsavedSetting(QWidget* parent, const settings::SaveResult& result) {
    if (result.ok)
        return false;
    const std::string reason = result.reason();
    platform::writeLog("Settings: not saved in %s (%s)", result.file.c_str(), reason.c_str());
    if (g_reported)
        return false;
    g_reported = true;
    MessageBox::show(parent, str(kStrNotSaved, result.file.c_str(), reason.c_str()),
                     QMessageBox::Warning);
    return true;
}

} // namespace plexavo::gui
