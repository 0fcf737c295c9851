// Opening web addresses with the desktop's browser, and the addresses of the
// pages that come with the program.
//
// The browser is the desktop's default handler for text/html: the first
// installed entry for it in the mimeapps.list files of the XDG config and data
// folders (desktop-specific lists first), else the first installed application
// that lists text/html. Its .desktop file's Exec= line is split by the
// desktop-entry rules; the field codes %u %U %f %F mark where the address
// goes. The program is started directly (argv, no shell, its own session), not
// waited for, and reaped when it ends.
//
// Calls (all on the user-interface thread, none blocks on the browser):
//   OpenWithBrowser(pages::downloadPageUrl("#directx").c_str(), SW_SHOWNORMAL); // Download menu
//   OpenWithBrowser(pages::homePageUrl().c_str(), SW_SHOW);                      // About box link
//   openWithDesktop(pages::helpFilePath());   // Help > Contents (xdg-open)
//   openWithDesktop(outputFolder);            // the view's "Go"
#pragma once

#include "engine/services/RegistryKey.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace plexavo {

// Window show states. The browser decides how it shows itself; they are kept
// so that callers read as they always did.
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

// Results of starting a program, numbered as the old process-start call
// numbered them. Anything above 31 means the program started.
inline constexpr int kStartOk = 33;
inline constexpr int kStartOutOfResources = 0;
inline constexpr int kStartFileNotFound = 2;
inline constexpr int kStartPathNotFound = 3;
inline constexpr int kStartAccessDenied = 5;
inline constexpr int kStartOutOfMemory = 8;
inline constexpr int kStartBadFormat = 11;
inline constexpr int kStartBadAssociation =
    27;                                        // a handler whose Exec= line is missing or malformed
inline constexpr int kStartNoAssociation = 31; // no text/html handler on this desktop

// Size of the buffer ReadClassesDefault fills (the text is cut to fit).
inline constexpr std::size_t kClassesValueSize = 1040;

// The desktop's associations seen as the registry's classes root:
//   ".htm" or ".html"                  -> the text/html handler's desktop id
//   ("firefox-esr.desktop")
//   "<desktop id>\shell\open\command"  -> that entry's Exec= value ("/usr/bin/firefox-esr %u")
// `out` must hold kClassesValueSize bytes; it is always terminated. Returns
// ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND (out empty) when there is no such entry.
LONG ReadClassesDefault(HKEY root, const char* subKey, char* out);

// Starts the text/html handler on `url` (one argv element, exactly as given).
// Arguments after the address's field code are dropped, as they were before,
// but for the "@@" that closes a Flatpak entry's forwarded address.
// Returns kStartOk, kStartNoAssociation when no browser is set up, or the
// start failure's code (kStartFileNotFound ...). CHyperLink::errorText turns
// a failure into words.
int OpenWithBrowser(const char* url, int showCmd);

// What OpenWithBrowser would run for `url`; empty when it would run nothing.
std::vector<std::string> browserCommand(const std::string& url);

// An Exec= value split into arguments by the desktop-entry quoting rules;
// nullopt when the quoting is malformed. Field codes are left in place.
std::optional<std::vector<std::string>> splitExec(const std::string& exec);

// Starts argv[0] (looked up on PATH) with argv detached: own session, input
// from /dev/null, reaped when it ends. The result codes as above.
int startDetached(const std::vector<std::string>& argv);

// Opens a file or folder with the desktop's own handler (xdg-open): Help
// contents and the output folder. kStartFileNotFound when xdg-open is missing.
int openWithDesktop(const std::string& pathOrUrl);

} // namespace plexavo

namespace plexavo::pages {

// The maker's pages and the help page are shipped with the program. Each is
// looked for in the program's folder, then in PREFIX/share/plexavo/ for a
// program in PREFIX/bin or PREFIX/lib/plexavo; the first one found is used
// (the program's folder when none is). A build with
// PLEXAVO_MAKER_SITE set points the two maker's pages at that web host instead.
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

} // namespace plexavo::pages
