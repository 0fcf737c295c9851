// A language switch with a full list: from the Language command to the
// rebuilt, repainted window (menus, title, view with every row carried over,
// toolbar). Target: at most 300 ms with 200 rows. Prints the figures.
//
//   lang_switch_bench [rows] [switches]     (the shipped packs beside the program)
#include "BenchItems.h"
#include "engine/media/SourceItem.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/shell/Application.h"
#include "gui/shell/LanguagePacksUi.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace plexavo;

using plexavo::gui::ConversionView;
using plexavo::gui::initProcessLocale;
using plexavo::gui::LanguageSwitch;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    initProcessLocale();
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int switches = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;

    settings::toolTipsHiddenThisRun = true;
    MessageBox::setAutoAnswer(QMessageBox::Ok); // the translation notice

    LanguageSwitch languages;
    MainWindow frame;
    languages.attach(&frame);
    frame.rebuildMenus(false);
    frame.show();

    ConversionView* view = frame.view();
    for (int i = 0; i < rows; ++i) {
        auto* item = bench::makeListItem(i);
        const int tag = view->appendItem(item);
        view->refreshRow(view->insertRow(item->displayName(), tag));
    }
    QCoreApplication::processEvents();

    // The entries of the shipped packs after English, by their language.
    std::vector<int> commands;
    const auto& ids = languages.packs().m_languageIds;
    for (std::size_t i = 1; i < ids.size() && commands.size() < 3; ++i)
        if (ids[i] != i18n::kChineseSimplified) // the same entries as the earlier figures
            commands.push_back(i18n::kFirstLanguageCommand + static_cast<int>(i));
    if (commands.size() < 2) {
        std::fprintf(stderr,
                     "lang_switch_bench: needs two packs besides Chinese beside the program\n");
        return 1;
    }

    std::vector<double> ms;
    for (int i = 0; i < switches; ++i) {
        const int id = commands[static_cast<std::size_t>(i) % commands.size()];
        QElapsedTimer clock;
        clock.start();
        frame.onCommand(id);
        frame.repaint(); // the rebuilt window on screen, not only in memory
        QCoreApplication::processEvents();
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (frame.view()->rowCount() != rows) {
            std::fprintf(stderr, "lang_switch_bench: rows lost in a switch\n");
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("language switch with %d rows, %d switches: median %.1f ms, worst %.1f ms "
                "(target <= 300 ms)\n",
                rows, switches, ms[ms.size() / 2], ms.back());
    return 0;
}
