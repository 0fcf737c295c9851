// The figure of the end-of-batch notification, printed (no thresholds): the
// time from the end of a batch (the driver has ended, as the window learns
// it) to the Notify call arriving at a notification service on a private
// session bus. The end message waits for a user who answers it after
// 300 ms, so a notification that waited for the window would show it.
// Usage: bench_desktop_notify [RUNS]   (default 30)
#include "engine/media/SourceItem.h"
#include "gui/common/DesktopIntegration.h"
#include "gui/common/MessageBox.h"
#include "gui/windows/BatchDesktop.h"
#include "gui/windows/BatchWindow.h"
#include "support/BatchTestSupport.h"
#include "support/TestDesktopBus.h"
#include "support/TestSourceList.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::announceOnDesktop;
using plexavo::gui::BatchWindow;
using plexavo::gui::DesktopIntegration;
using plexavo::gui::MessageBox;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    TestDesktopBus bus;
    if (!bus.ok() || !bus.startNotificationService()) {
        std::fprintf(stderr, "no private bus: %s\n", qPrintable(bus.error()));
        return 1;
    }
    ScriptedCore core(QStringLiteral("t|w:frame=1 time=5.00 |s:50|x:0"));
    QTemporaryDir out;
    TestSourceList list;
    list.editSettings().outputPath = out.path().toStdString() + "/";
    list.addItem("/media/in/clip.mp4", 0, 10);
    list.show();
    auto* desktop = new DesktopIntegration(&list, bus.connect(QStringLiteral("bench")));

    // The user answers each message 300 ms after it appears.
    MessageBox::setAutoAnswer(QMessageBox::NoButton);
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            QTimer::singleShot(300, box, [box] { box->button(QMessageBox::Ok)->click(); });
    });

    std::vector<double> latencies;
    for (int i = 0; i < runs; ++i) {
        const std::size_t before = bus.notifyCalls().size();
        list.markAllWaiting();
        BatchWindow dlg(list, &list);
        announceOnDesktop(dlg, list, *desktop);
        std::int64_t endedNs = 0;
        QObject::connect(&dlg, &BatchWindow::driverEnded, [&] { endedNs = steadyNs(); });
        user.start(250);
        dlg.open();
        QApplication::processEvents();
        QApplication::setActiveWindow(nullptr); // the user is in another program
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (!dlg.isVisible() && bus.notifyCalls().size() > before)
                loop.quit();
        });
        look.start(5);
        loop.exec();
        user.stop();
        const NotifyCall call = bus.notifyCalls().back();
        latencies.push_back((call.arrivedNs - endedNs) / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto under50 =
        std::count_if(latencies.begin(), latencies.end(), [](double ms) { return ms < 50.0; });
    std::printf("batch end to notification call, %d batches: median %.2f ms, max %.2f ms, "
                "%ld of %d under 50 ms\n",
                runs, latencies[latencies.size() / 2], latencies.back(), static_cast<long>(under50),
                runs);
    return 0;
}
