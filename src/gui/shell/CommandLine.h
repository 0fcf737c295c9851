// The program's command line: the scripting front end (--probe, --convert),
// --help, --version, and the files and Qt options the window opens with.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace plexavo::gui {

// Reads the whole command line; nothing here touches a window system. When
// it asks for the front end, --help or --version, or makes no sense, does
// that and returns the exit code; otherwise returns nothing and the window
// opens with what parseWindowArguments reads.
std::optional<int> runIfRequested(int argc, char** argv);

struct WindowArguments {
    std::vector<std::string> files;     // absolute
    std::vector<std::string> qtOptions; // Qt's own options with their values, in order
    std::string error;                  // the argument that makes no sense, for the message
    bool help = false;                  // --help or -h
    bool version = false;               // --version
};
// The window's arguments: files to add ("--" ends the options, and a name
// that exists is a file whatever it starts with), and the options Qt reads
// itself, which alone are handed to QApplication.
WindowArguments parseWindowArguments(const std::vector<std::string>& args);

void printUsage(std::FILE* out);

} // namespace plexavo::gui
