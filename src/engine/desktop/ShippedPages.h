// The addresses of the pages that come with the program: the maker's home
// and download pages and the help page. Each is looked for in the program's
// folder, then in PREFIX/share/plexavo/ for a program in PREFIX/bin or
// PREFIX/lib/plexavo; the first one found is used (the program's folder when
// none is). A build with PLEXAVO_MAKER_SITE set points the two maker's pages
// at that web host instead.
#pragma once

#include <string>

namespace plexavo::desktop {

std::string homePageUrl(); // file:///.../index.html
std::string
downloadPageUrl(const std::string& anchor); // anchor "#directx" -> .../download.html#directx
std::string helpFilePath();                 // /.../Plexavo.html (a path, for xdg-open)

// Where a shipped file `name` is for a program in `programFolder` (see above).
std::string locateShipped(const std::string& programFolder, const std::string& name);

// file:// address of an absolute path, with every byte that needs it escaped.
std::string fileUrl(const std::string& absolutePath);

// The anchors of the Download menu's commands (32776, 32778, 32777, 32779,
// 32780); nullptr for any other command.
const char* downloadAnchor(int command);

} // namespace plexavo::desktop
