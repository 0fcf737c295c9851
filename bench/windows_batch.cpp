// Figures of the two worker windows, printed (no thresholds):
//  - the longest gap between 10 ms timer ticks on the window thread while a
//    batch converts real clips, and while a detection pass probes 20 files;
//  - a detection pass over 100 small files against the sum of 100 single probes;
//  - Skip Current until the next row runs, and Cancel All until the window is
//    closed, on a conversion of normal size.
// Usage: bench_windows_batch WORKDIR   (the encoder core is found next to it)
#include "engine/convert/EncodeJob.h"
#include "engine/media/SourceItem.h"
#include "gui/common/MessageBox.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"
#include "support/BatchTestSupport.h"
#include "support/TestSourceList.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::convert::EncodeJob;
using plexavo::convert::ISourceList;
using plexavo::gui::BatchWindow;
using plexavo::gui::DetectionWindow;
using plexavo::gui::MessageBox;
using plexavo::media::SourceItem;
using plexavo::settings::ConversionSettings;
using plexavo::settings::kTargetH264;

namespace {

// Watches the window thread: the longest time between two ticks of a 10 ms timer.
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
    // The gap that 99 % of the ticks stay under, and how many exceed 50 ms.
    double p99Ms() const {
        if (m_gaps.empty())
            return 0.0;
        std::vector<qint64> sorted = m_gaps;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() * 99 / 100] / 1e6;
    }
    long over50() const {
        return std::count_if(m_gaps.begin(), m_gaps.end(), [](qint64 g) { return g > 50'000'000; });
    }
    std::string summary() const {
        char text[128];
        std::snprintf(text, sizeof text,
                      "longest gap %6.1f ms, 99th pct %5.1f ms, %ld gaps > 50 ms of %zu",
                      longestMs(), p99Ms(), over50(), m_gaps.size());
        return text;
    }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    std::vector<qint64> m_gaps;
};

// Runs the event loop until done() holds, looking every 5 ms without spinning.
void waitUntil(const std::function<bool()>& done) {
    if (done())
        return;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    loop.exec();
}

std::vector<std::string> toPaths(const QStringList& files) {
    std::vector<std::string> out;
    for (const QString& f : files)
        out.push_back(f.toStdString());
    return out;
}

// The list operations with no widget behind them: what the pass costs by itself.
class BareList : public ISourceList {
  public:
    std::vector<std::unique_ptr<SourceItem>> items;
    int rows = 0;
    EncodeJob theJob;
    ConversionSettings s;
    int rowCount() override { return rows; }
    int rowTag(int row) override { return row; }
    SourceItem* itemAt(int i) override { return items[static_cast<std::size_t>(i)].get(); }
    int appendItem(SourceItem* item) override {
        items.emplace_back(item);
        return static_cast<int>(items.size()) - 1;
    }
    int insertRow(const std::string&, int) override { return rows++; }
    void refreshRow(int) override {}
    ConversionSettings settings() override { return s; }
    void showFrameSize(const std::string&, const std::string&) override {}
    EncodeJob& job() override { return theJob; }
};

double detectionPass(ISourceList& list, const QStringList& files, std::string* gaps) {
    TickWatch watch;
    QElapsedTimer t;
    t.start();
    DetectionWindow dlg(list, toPaths(files), nullptr);
    dlg.open();
    waitUntil([&] { return !dlg.isVisible(); });
    if (gaps)
        *gaps = watch.summary();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKDIR\n", argv[0]);
        return 2;
    }
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    const QDir work(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(work.path());
    const QString clip = work.filePath(QStringLiteral("clip3s.mp4"));
    const QString longClip = work.filePath(QStringLiteral("clip60s.mp4"));
    QString error;
    if ((!QFile::exists(clip) && !makeClip(clip, 3, QStringLiteral("160x120"), &error)) ||
        (!QFile::exists(longClip) && !makeClip(longClip, 60, QStringLiteral("640x480"), &error))) {
        std::fprintf(stderr, "cannot make the clips: %s\n", qPrintable(error));
        return 1;
    }
    QStringList hundred;
    for (int i = 0; i < 100; ++i) {
        const QString f =
            work.filePath(QStringLiteral("copy %1.mp4").arg(i, 3, 10, QLatin1Char('0')));
        if (!QFile::exists(f))
            QFile::copy(clip, f);
        hundred << f;
    }
    const QString out = work.filePath(QStringLiteral("out"));

    // 0. The machine's own noise: the same watch with no window at work.
    {
        TickWatch watch;
        QElapsedTimer t;
        t.start();
        waitUntil([&] { return t.elapsed() >= 10000; });
        std::printf("idle baseline, 10 s:        window thread: %s\n", watch.summary().c_str());
    }

    // 1. A 20-file detection pass.
    {
        TestSourceList list;
        list.editSettings().outputPath = out.toStdString();
        std::string gaps;
        const double ms = detectionPass(list, hundred.mid(0, 20), &gaps);
        std::printf("detection pass, 20 files:   %8.0f ms; window thread: %s\n", ms, gaps.c_str());
    }

    // 2. 100 files: the pass against the sum of single probes, alternated
    //    three times so that the machine's load weighs on all alike (best of each).
    {
        double single = 1e18;
        double pass = 1e18;
        double bare = 1e18;
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer t;
            t.start();
            for (const QString& f : hundred) {
                SourceItem item;
                item.probe(f.toStdString());
            }
            single = std::min(single, t.nsecsElapsed() / 1e6);
            TestSourceList list;
            list.editSettings().outputPath = out.toStdString();
            pass = std::min(pass, detectionPass(list, hundred, nullptr));
            BareList bareList;
            bareList.s.outputPath = out.toStdString();
            bare = std::min(bare, detectionPass(bareList, hundred, nullptr));
        }
        std::printf("detection pass, 100 files:  %8.0f ms; sum of 100 single probes %8.0f ms; "
                    "overhead %+.0f ms\n",
                    pass, single, pass - single);
        std::printf("  the same pass on a list without widgets: %8.0f ms; overhead %+.0f ms\n",
                    bare, bare - single);
    }

    // 3. A real batch: three rows of 3 s and one of 60 s at 640x480 (MPEG-4).
    {
        TestSourceList list;
        list.editSettings().outputPath = out.toStdString();
        detectionPass(list, {clip, clip, clip, longClip}, nullptr);
        list.markAllWaiting();
        TickWatch watch;
        QElapsedTimer t;
        t.start();
        BatchWindow dlg(list, &list);
        dlg.open();
        waitUntil([&] { return !dlg.isVisible(); });
        std::printf("batch of 4 (69 s of media): %8.0f ms; window thread: %s\n",
                    t.nsecsElapsed() / 1e6, watch.summary().c_str());
    }

    // 4. Skip Current and Cancel All on the 60 s clip at 640x480 H.264.
    {
        TestSourceList list;
        list.editSettings().outputPath = out.toStdString();
        list.editSettings().targetFormat = kTargetH264;
        detectionPass(list, {longClip, longClip, longClip}, nullptr);
        list.markAllWaiting();
        BatchWindow dlg(list, &list);
        dlg.open();
        auto* skip = dlg.findChild<QPushButton*>(QStringLiteral("ctl1036"));
        auto* cancel = dlg.findChild<QPushButton*>(QStringLiteral("ctl1022"));
        waitUntil([&] { return list.job().percent.load() >= 10; });
        QElapsedTimer t;
        t.start();
        skip->click();
        // The next row runs once the driver has moved on and its job has begun.
        waitUntil([&] { return dlg.driver().currentIndex() == 1; });
        const double toNext = t.nsecsElapsed() / 1e6;
        // (The skipped job's 100 stays until the driver clears it for row 1.)
        waitUntil(
            [&] { return list.job().percent.load() >= 10 && list.job().percent.load() < 100; });
        t.restart();
        cancel->click();
        const double toClosed = t.nsecsElapsed() / 1e6;
        std::printf("Skip Current to next row:   %8.0f ms\n", toNext);
        std::printf("Cancel All to window closed:%8.0f ms (includes the core finishing its file)\n",
                    toClosed);
        std::printf("rows after: %d %d %d (3 = skipped)\n", list.statusOfRow(0),
                    list.statusOfRow(1), list.statusOfRow(2));
    }
    return 0;
}
