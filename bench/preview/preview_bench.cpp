// Measures the preview window on real clips and prints the figures:
//   open   FILE       open to first frame painted, 5 runs after a cold one
//   first  FILE       the process's first preview: open to first frame painted
//   drag   FILE       seeks while playing: time until the frame at the new
//                     position is painted, and the longest stall of the UI thread
//   play   FILE SECS FPS  frames shown and dropped over SECS seconds, picture
//                     against sound position
//   release FILE      threads and file handles before opening and after closing
//   shot   FILE PNG   a picture of the window showing a frame
// Sound goes to a silent clocked sink unless PLEXAVO_AUDIO_SINK says otherwise.
#include "engine/player/PlayerModule.h"
#include "gui/preview/PreviewDialog.h"
#include "gui/preview/PreviewWidgets.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace plexavo;
using namespace plexavo::gui;
using player::ClockTime;
using namespace std::chrono_literals;

namespace {

// Runs the event loop until `done` holds or `ms` pass; false on time-out.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void spin(int ms) {
    waitFor([] { return false; }, ms);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Watches the UI thread: a 5 ms timer whose late firings are the stalls.
class StallMeter {
  public:
    StallMeter() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last > 0)
                m_worst = std::max(m_worst, (now - m_last) / 1e6 - 5.0);
            m_last = now;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(5);
    }
    double worstMs() const { return std::max(0.0, m_worst); }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_worst = 0;
};

struct Open {
    std::int32_t start = 0;
    std::int32_t end = 0;
    std::unique_ptr<PreviewDialog> dialog;
};

// Shows a preview and waits for its first painted frame; -1 on failure.
double openAndTime(const std::string& path, Open& open) {
    QElapsedTimer timer;
    timer.start();
    open.dialog = std::make_unique<PreviewDialog>(path, open.start, open.end);
    open.dialog->show();
    VideoSurface* surface = open.dialog->videoSurface();
    if (!waitFor([&] { return surface->paintedFrames() > 0; }, 20000))
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

QSlider* positionSlider(PreviewDialog& dialog) {
    return dialog.findChild<QSlider*>(QStringLiteral("ctl1043"));
}

int benchOpen(const std::string& path) {
    Open cold;
    const double first = openAndTime(path, cold);
    cold.dialog.reset();
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        Open open;
        runs.push_back(openAndTime(path, open));
        open.dialog->reject();
        spin(100);
    }
    std::printf("open to first frame painted: median %.0f ms of 5 (runs:", median(runs));
    for (double r : runs)
        std::printf(" %.0f", r);
    std::printf("; cold first run %.0f ms; includes the 100 ms tick before opening)\n", first);
    return 0;
}

// The first preview of a process, as the window's first Preview meets it:
// the player's module loaded and GStreamer started on the way (its
// registry built first when the cache is empty). Prints "first MS".
int benchFirst(const std::string& path) {
    if (player::playerModuleLoaded()) {
        std::fprintf(stderr, "first: the player module was loaded before the preview\n");
        return 1;
    }
    Open open;
    const double ms = openAndTime(path, open);
    if (ms < 0)
        return 1;
    std::printf("first %.1f\n", ms);
    return 0;
}

int benchDrag(const std::string& path) {
    Open open;
    if (openAndTime(path, open) < 0)
        return 1;
    PreviewDialog& dialog = *open.dialog;
    QSlider* slider = positionSlider(dialog);
    VideoSurface* surface = dialog.videoSurface();
    spin(500);
    StallMeter stalls;
    std::vector<double> landings;
    double worstSeekCall = 0;
    int missed = 0;
    const int last = std::max(2, slider->maximum() - 2);
    // A slow drag: one second further every 300 ms, each seek on its own.
    for (int target = 1; target <= std::min(last, 20); target += 1) {
        QElapsedTimer timer;
        timer.start();
        slider->setSliderDown(true);
        QElapsedTimer call;
        call.start();
        slider->setSliderPosition(target); // seeks before it returns
        worstSeekCall = std::max(worstSeekCall, call.nsecsElapsed() / 1e6);
        const ClockTime wanted = std::chrono::seconds(target);
        // Playing on, the first painted frame at or just after the target.
        const bool landed = waitFor(
            [&] {
                const auto p = surface->paintedPosition();
                return p && *p >= wanted && *p < wanted + 200ms;
            },
            2000);
        if (landed)
            landings.push_back(timer.nsecsElapsed() / 1e6);
        else
            ++missed;
        slider->setSliderDown(false);
        spin(300 - std::min<int>(300, timer.elapsed()));
    }
    const double slowDragStall = stalls.worstMs();
    // A fast drag: a new position every 30 ms.
    StallMeter fastStalls;
    for (int i = 0; i < 60; ++i) {
        slider->setSliderDown(true);
        QElapsedTimer call;
        call.start();
        slider->setSliderPosition(1 + i % last);
        worstSeekCall = std::max(worstSeekCall, call.nsecsElapsed() / 1e6);
        spin(30);
    }
    slider->setSliderDown(false);
    spin(300);
    std::printf("seek while playing (slow drag, %zu seeks): lands and paints in median %.0f ms, "
                "worst %.0f ms, %d missed 2 s\n",
                landings.size(), median(landings),
                landings.empty() ? 0.0 : *std::max_element(landings.begin(), landings.end()),
                missed);
    std::printf("UI thread's longest stall: %.0f ms (slow drag), %.0f ms (fast drag, 60 moves "
                "30 ms apart); longest seek call %.1f ms\n",
                slowDragStall, fastStalls.worstMs(), worstSeekCall);
    return 0;
}

int benchPlay(const std::string& path, int seconds, double fps) {
    Open open;
    if (openAndTime(path, open) < 0)
        return 1;
    PreviewDialog& dialog = *open.dialog;
    player::Player* player = dialog.player();
    VideoSurface* surface = dialog.videoSurface();
    spin(500);
    const ClockTime firstPosition = player->position().value_or(ClockTime::zero());
    const std::uint64_t renderedBefore = player->framesRendered();
    const std::uint64_t paintedBefore = surface->paintedFrames();
    std::vector<double> offsets;
    QElapsedTimer timer;
    timer.start();
    StallMeter stalls;
    while (timer.elapsed() < seconds * 1000) {
        spin(250);
        // Picture against sound: the frame on screen against the playing
        // position (the sound sink's), paint latency included.
        const auto position = player->position();
        const auto painted = surface->paintedPosition();
        if (position && painted)
            offsets.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::abs(*position - *painted))
                    .count());
    }
    const ClockTime lastPosition = player->position().value_or(firstPosition);
    const double expected =
        std::chrono::duration<double>(lastPosition - firstPosition).count() * fps;
    const double shown = static_cast<double>(player->framesRendered() - renderedBefore);
    const double missing = std::max(0.0, expected - shown);
    const std::uint64_t painted = surface->paintedFrames() - paintedBefore;
    std::printf(
        "played %d s: %.0f frames due, %.0f shown by the sink, %.0f dropped (%.2f %%, "
        "late drops at the sink %llu), %llu painted; frame on screen vs playing position: "
        "median %.0f ms, worst %.0f ms; UI stall %.0f ms; sound %s\n",
        seconds, expected, shown, missing, expected > 0 ? 100.0 * missing / expected : 0.0,
        static_cast<unsigned long long>(player->framesDropped()),
        static_cast<unsigned long long>(painted), median(offsets),
        offsets.empty() ? 0.0 : *std::max_element(offsets.begin(), offsets.end()), stalls.worstMs(),
        player->audioIsSilent() ? "to a silent clocked sink (no sound device)" : "to the device");
    return 0;
}

int countEntries(const char* folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

int benchRelease(const std::string& path) {
    {
        Open warm; // the first one loads the plugins for good
        openAndTime(path, warm);
        spin(300);
    }
    spin(300);
    const int threads = countEntries("/proc/self/task");
    const int fds = countEntries("/proc/self/fd");
    if (std::getenv("PREVIEW_BENCH_LIST_FDS"))
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            std::printf("  fd %s -> %s\n", e.path().filename().c_str(),
                        std::filesystem::read_symlink(e.path(), ec).c_str());
        }
    int peakThreads = 0;
    QElapsedTimer timer;
    {
        Open open;
        openAndTime(path, open);
        spin(1000);
        peakThreads = countEntries("/proc/self/task");
        timer.start();
        open.dialog->reject();
    }
    const double closeMs = timer.nsecsElapsed() / 1e6;
    const int threadsAfter = countEntries("/proc/self/task");
    const int fdsAfter = countEntries("/proc/self/fd");
    std::printf("release: threads %d before, %d playing, %d right after closing; file handles %d "
                "before, %d after; closing took %.0f ms\n",
                threads, peakThreads, threadsAfter, fds, fdsAfter, closeMs);
    if (std::getenv("PREVIEW_BENCH_LIST_FDS"))
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            std::printf("  fd %s -> %s\n", e.path().filename().c_str(),
                        std::filesystem::read_symlink(e.path(), ec).c_str());
        }
    // Further rounds: whatever the first close kept must not grow.
    for (int round = 0; round < 3; ++round) {
        Open open;
        openAndTime(path, open);
        spin(500);
        open.dialog->reject();
        open.dialog.reset();
        spin(200);
    }
    std::printf("release: after 3 more previews: threads %d, file handles %d\n",
                countEntries("/proc/self/task"), countEntries("/proc/self/fd"));
    return threadsAfter <= threads && fdsAfter <= fds ? 0 : 1;
}

int shot(const std::string& path, const std::string& png) {
    Open open;
    open.start = 2;
    open.end = 7;
    if (openAndTime(path, open) < 0)
        return 1;
    spin(1500);
    QMetaObject::invokeMethod(open.dialog->findChild<QWidget*>(QStringLiteral("ctl1050")), "click");
    spin(300);
    return open.dialog->grab().save(QString::fromStdString(png)) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "open")
        return benchOpen(args[1]);
    if (args.size() >= 2 && args[0] == "first")
        return benchFirst(args[1]);
    if (args.size() >= 2 && args[0] == "drag")
        return benchDrag(args[1]);
    if (args.size() >= 4 && args[0] == "play")
        return benchPlay(args[1], std::atoi(args[2].c_str()), std::atof(args[3].c_str()));
    if (args.size() >= 2 && args[0] == "release")
        return benchRelease(args[1]);
    if (args.size() >= 3 && args[0] == "shot")
        return shot(args[1], args[2]);
    std::fprintf(stderr, "usage: preview_bench open|first|drag|release FILE | play FILE SECS FPS "
                         "| shot FILE PNG\n");
    return 2;
}
