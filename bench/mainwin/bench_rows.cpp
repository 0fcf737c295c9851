// Adding rows through the view's source-list operations from a worker, as the
// detection pass does: how long the user-interface thread is ever kept from
// its events (a 1 ms heartbeat timer measures the gaps) and how long each row
// takes. Target: no stall above 50 ms. Prints the figures.
#include "BenchItems.h"
#include "engine/media/SourceItem.h"
#include "engine/settings/StoredSettings.h"
#include "gui/view/ConversionView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace plexavo;

using plexavo::gui::ConversionView;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    settings::toolTipsHiddenThisRun = true;
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200;

    ConversionView view;
    view.onInitialUpdate();
    view.resize(735, 440);
    view.show();

    QElapsedTimer clock;
    clock.start();
    qint64 lastBeat = 0;
    qint64 worstGap = 0;
    QTimer heartbeat;
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastBeat)
            worstGap = std::max(worstGap, now - lastBeat);
        lastBeat = now;
    });

    std::vector<qint64> perRow;
    std::atomic<bool> done{false};
    qint64 total = 0;
    std::thread worker;
    QTimer::singleShot(50, [&] {
        heartbeat.start();
        worker = std::thread([&] {
            QElapsedTimer all;
            all.start();
            for (int i = 0; i < rows; ++i) {
                QElapsedTimer one;
                one.start();
                auto* item = bench::makeListItem(i);
                const std::string name = item->displayName();
                const int tag = view.appendItem(item);
                view.refreshRow(view.insertRow(name, tag));
                perRow.push_back(one.nsecsElapsed());
            }
            total = all.nsecsElapsed();
            done = true;
        });
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done) {
            heartbeat.stop();
            QCoreApplication::exit(0);
        }
    });
    poll.start(20);
    app.exec();
    worker.join();

    std::sort(perRow.begin(), perRow.end());
    const auto ms = [](qint64 ns) { return static_cast<double>(ns) / 1e6; };
    std::printf("rows added: %d in %.1f ms (%.0f rows/s)\n", rows, ms(total),
                rows / (ms(total) / 1000.0));
    std::printf("per row: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n",
                ms(perRow[perRow.size() / 2]), ms(perRow[perRow.size() * 99 / 100]),
                ms(perRow.back()));
    std::printf("longest user-interface stall: %.1f ms (target <= 50 ms)\n", ms(worstGap));
    std::printf("rows in the list: %d\n", view.rowCount());
    return view.rowCount() == rows ? 0 : 1;
}
