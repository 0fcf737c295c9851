// A thousand files added at once, as the Add command gives them to the
// detection pass of the main window (offscreen): the time until every row
// is Ready with one probe at a time against one probe per processor, and
// how long the window thread is ever kept from its events meanwhile (a
// 10 ms timer: the longest gap between its ticks). Checks that the rows
// came in the files' order and all Ready. Prints the figures.
// Usage: bench_detect_thousand FILE-LIST [ROUNDS]   (one path a line; the
// encoder core is found next to the program)
#include "engine/media/ProbeInOrder.h"
#include "engine/media/SourceItem.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "gui/windows/DetectionWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace plexavo;
using namespace plexavo::gui;
using plexavo::media::SourceItem;
using plexavo::media::kStatusReady;
using plexavo::media::probeWorkers;

namespace {

constexpr double kTargetRatio = 0.6;
constexpr double kTargetLatencyMs = 50;

// The window thread's answer time: the gaps between the ticks of a 10 ms timer.
class TickWatch {
  public:
    TickWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                m_gaps.push_back(now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    double longestMs() const {
        return m_gaps.empty() ? 0.0 : *std::max_element(m_gaps.begin(), m_gaps.end()) / 1e6;
    }
    double p99Ms() const {
        if (m_gaps.empty())
            return 0.0;
        std::vector<qint64> sorted = m_gaps;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() * 99 / 100] / 1e6;
    }
    long over(double ms) const {
        return std::count_if(m_gaps.begin(), m_gaps.end(),
                             [ms](qint64 g) { return g > static_cast<qint64>(ms * 1e6); });
    }
    std::size_t ticks() const { return m_gaps.size(); }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    std::vector<qint64> m_gaps;
};

void waitUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    loop.exec();
}

struct Pass {
    double seconds = 0;
    double longestGapMs = 0;
    double p99GapMs = 0;
    long gapsOver50 = 0;
    std::size_t ticks = 0;
    bool inOrderAllReady = false;
};

Pass addAll(const std::vector<std::string>& paths, unsigned workers) {
    MainWindow frame;
    frame.show();
    ConversionView& view = *frame.view();
    Pass pass;
    {
        TickWatch watch;
        QElapsedTimer clock;
        clock.start();
        DetectionWindow pass1(view, paths, &frame);
        pass1.setProbeWorkers(workers);
        pass1.open();
        waitUntil([&] { return !pass1.isVisible(); });
        pass.seconds = clock.nsecsElapsed() / 1e9;
        pass.longestGapMs = watch.longestMs() - 10;
        pass.p99GapMs = watch.p99Ms() - 10;
        pass.gapsOver50 = watch.over(10 + kTargetLatencyMs);
        pass.ticks = watch.ticks();
    }
    bool ok = view.rowCount() == static_cast<int>(paths.size());
    for (int row = 0; ok && row < view.rowCount(); ++row) {
        const SourceItem* item = view.itemAt(view.rowTag(row));
        ok = item && item->path == paths[static_cast<std::size_t>(row)] &&
             item->status == kStatusReady;
    }
    pass.inOrderAllReady = ok;
    return pass;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-LIST [ROUNDS]\n", argv[0]);
        return 2;
    }
    std::vector<std::string> paths;
    std::ifstream list(argv[1]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty())
            paths.push_back(line);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    settings::toolTipsHiddenThisRun = true;
    MessageBox::setAutoAnswer(QMessageBox::Ok); // a file the probe refuses

    const unsigned parallel = probeWorkers();
    std::vector<double> one;
    std::vector<double> many;
    double worstGap = 0;
    for (int round = 0; round < rounds; ++round) {
        for (unsigned workers : {1u, parallel}) {
            const Pass pass = addAll(paths, workers);
            std::printf("%zu files, %u probe%s at once: %6.1f s to every row Ready (%s); "
                        "window thread: longest gap %5.1f ms, 99th pct %4.1f ms, %ld of %zu "
                        "ticks late by more than %.0f ms\n",
                        paths.size(), workers, workers == 1 ? " " : "s", pass.seconds,
                        pass.inOrderAllReady ? "rows in order, all Ready" : "ROWS WRONG",
                        pass.longestGapMs, pass.p99GapMs, pass.gapsOver50, pass.ticks,
                        kTargetLatencyMs);
            (workers == 1 ? one : many).push_back(pass.seconds);
            if (workers != 1)
                worstGap = std::max(worstGap, pass.longestGapMs);
        }
    }
    std::sort(one.begin(), one.end());
    std::sort(many.begin(), many.end());
    const double ratio = many[many.size() / 2] / one[one.size() / 2];
    std::printf("one probe per processor (%u) / one at a time: %.2f x (target <= %.1f) %s; "
                "the window's longest wait %.1f ms (target <= %.0f ms) %s\n",
                parallel, ratio, kTargetRatio, ratio <= kTargetRatio ? "met" : "MISSED", worstGap,
                kTargetLatencyMs, worstGap <= kTargetLatencyMs ? "met" : "MISSED");
    return 0;
}
