// Plexavo: the window, or with --probe / --convert the command-line front end
// for scripts.
#include "engine/platform/Platform.h"
#include "gui/preview/PreviewCheck.h"
#include "gui/shell/Application.h"
#include "gui/shell/CommandLine.h"

#include <QApplication>

#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A service manager or a script may start the program with SIGCHLD
    // ignored or signals blocked; the cores' exit statuses and the stop
    // requests of both front ends depend on the defaults.
    plexavo::platform::resetInheritedSignals();

    // The window's check of the preview, run in a child of its own.
    if (argc == 2 && std::strcmp(argv[1], plexavo::gui::kCheckOption) == 0)
        return plexavo::gui::runCheckInChild();

    // The whole command line is read before Qt is started: the front end,
    // --help, --version and a bad argument need no display.
    if (auto code = plexavo::gui::runIfRequested(argc, argv))
        return *code;

    // Arguments as raw bytes, so no file name is lost to a text conversion.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = plexavo::gui::parseWindowArguments(args);
    // Qt is handed its own options only, never a file it might take for one.
    std::vector<std::string> qtArgs{argv[0]};
    qtArgs.insert(qtArgs.end(), parsed.qtOptions.begin(), parsed.qtOptions.end());
    std::vector<char*> qtArgv;
    for (auto& arg : qtArgs)
        qtArgv.push_back(arg.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgs.size());

    QApplication application(qtArgc, qtArgv.data());
    plexavo::gui::initProcessLocale();
    plexavo::gui::Application app;
    if (!app.initInstance(parsed.files))
        return 1;
    return application.exec();
}
