// The program's icon, for every window that shows it.
#pragma once

#include <QIcon>

namespace plexavo::gui {

// The installed one of the icon theme, else the built-in. The look reads
// the icon themes' indexes (hicolor's runs to thousands of lines), some
// milliseconds: the main window shows the built-in first and takes this
// one once it is up.
QIcon programIcon();
// The icon compiled into the program.
QIcon builtInProgramIcon();

} // namespace plexavo::gui
