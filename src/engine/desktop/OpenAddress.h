// Opening addresses, files and folders with the desktop's own handlers.
// GIO chooses the browser from the desktop's defaults (mimeapps.list and the
// desktop entries of the XDG folders) and starts it as the desktop would.
//
// Calls (on the user-interface thread; neither waits for what it starts):
//   desktop::openInBrowser(desktop::downloadPageUrl("#directx")); // Download menu, About link
//   desktop::openWithDesktop(outputFolder);                      // "Go", Help > Contents
#pragma once

#include <string>

namespace plexavo::desktop {

// How an attempt to open ended; the window words every result but Started.
enum class OpenResult {
    Started,
    NoHandler,      // nothing on this desktop opens the address
    FileNotFound,   // the file, or the program to start, is missing
    PathNotFound,   // a folder on the way, or the handler's working folder, is missing
    AccessDenied,   // the system refused to run it
    OutOfMemory,    // too little memory, or too long an argument list
    BadFormat,      // the program cannot be run on this system
    BadHandler,     // the handler's desktop entry is malformed
    OutOfResources, // any other refusal of the system
};

// Starts the browser on `address`, passed as one argument exactly as given:
// the desktop's handler for the address's scheme, else its handler for web
// pages (text/html), else whatever the desktop opens the address with (in a
// sandbox, through its portal). The browser runs in a session of its own.
OpenResult openInBrowser(const std::string& address);

// Runs xdg-open on a file or folder, in a session of its own; FileNotFound
// when there is no xdg-open on the PATH.
OpenResult openWithDesktop(const std::string& pathOrUrl);

} // namespace plexavo::desktop
