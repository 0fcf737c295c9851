// The program's icon, for every window that shows it.
#pragma once

#include <QIcon>

namespace plexavo::gui {

// The installed one of the icon theme, else the built-in. The look reads
// the icon themes' indexes (hicolor's runs to thousands of lines), some
// milliseconds: the main window shows the built-in first and takes this
// one once it is up.
QIcon programIcon();
// Whether the icon theme in use may draw the program otherwise than the
// built-in icon. Not Adwaita (GNOME's, and the one the program takes where
// the desktop names none): it draws no other program, so the name would fall
// through to hicolor and the copy installed with the program, the very
// picture built in, at the price of parsing hicolor's 650 folders (some
// milliseconds and a megabyte kept for the program's life).
bool themeMayDrawProgramIcon();
// The icon compiled into the program.
QIcon builtInProgramIcon();

} // namespace plexavo::gui
