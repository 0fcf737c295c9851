// Not a test: the program's own window start (as src/main.cpp has it) with
// one step added for the tests that stop a running batch with a signal: once
// the files named on the command line are in the list, it chooses Convert,
// as a user would. Everything else, the signal handling too, is the program's.
#include "engine/platform/Platform.h"
#include "gui/shell/Application.h"
#include "gui/shell/CommandLine.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

using namespace plexavo;

using plexavo::gui::Application;
using plexavo::gui::initProcessLocale;
using plexavo::gui::MainWindow;

int main(int argc, char** argv) {
    platform::resetInheritedSignals();
    QApplication application(argc, argv);
    initProcessLocale();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = gui::parseWindowArguments(args);
    if (!parsed.error.empty() || parsed.files.empty()) {
        std::fprintf(stderr, "usage: plexavo_convert_at_start FILE...\n");
        return 2;
    }
    Application app;
    if (!app.initInstance(parsed.files))
        return 1;

    QTimer convertOnce;
    convertOnce.setInterval(50);
    QObject::connect(&convertOnce, &QTimer::timeout, [&] {
        MainWindow* frame = app.mainFrame();
        // The detection pass has ended when its window is gone and the rows are in.
        if (!frame || QApplication::activeModalWidget() ||
            frame->view()->rowCount() < static_cast<int>(parsed.files.size()))
            return;
        convertOnce.stop();
        std::printf("converting\n");
        std::fflush(stdout);
        frame->action(gui::cmd::kConvert)->trigger();
    });
    convertOnce.start();
    return application.exec();
}
