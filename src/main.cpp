// Plexavo: the window, or with --probe / --convert the command-line front end
// for scripts.
#include "engine/platform/Platform.h"
#include "gui/shell/CVantrelApp.h"
#include "gui/shell/CommandLine.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A service manager or a script may start the program with SIGCHLD
    // ignored or signals blocked; the cores' exit statuses and the stop
    // requests of both front ends depend on the defaults.
    plexavo::platform::resetInheritedSignals();

    // The front end needs no display, so it runs before Qt is started.
    if (auto code = plexavo::cli::runIfRequested(argc, argv))
        return *code;

    QApplication application(argc, argv);
    plexavo::initProcessLocale();

    // QApplication has taken its own options out of argv; the rest are ours,
    // as raw bytes, so no file name is lost to a text conversion.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = plexavo::cli::parseWindowArguments(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "plexavo: unknown option %s\n\n", parsed.error.c_str());
        plexavo::cli::printUsage(stderr);
        return 2;
    }
    plexavo::CVantrelApp app;
    if (!app.InitInstance(parsed.files))
        return 1;
    return application.exec();
}
