// The program's icon, for every window that shows it.
#pragma once

#include <QIcon>

namespace plexavo::gui {

// The installed one of the icon theme, else the built-in.
QIcon programIcon();

} // namespace plexavo::gui
