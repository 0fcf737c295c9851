// The program's command line: the scripting front end (--probe, --convert)
// and the files the window opens with.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace plexavo::cli {

// When the arguments ask for the command-line front end (or --help), runs it
// and returns the exit code; otherwise returns nothing and the window opens.
std::optional<int> runIfRequested(int argc, char** argv);

struct WindowArguments {
    std::vector<std::string> files; // absolute
    std::string error;              // an unknown option, for the message
};
// The window's own arguments (Qt's are already removed): files to add, with
// "--" ending the options so a file may start with '-'.
WindowArguments parseWindowArguments(const std::vector<std::string>& args);

void printUsage(std::FILE* out);

} // namespace plexavo::cli
