#include "gui/windows/BatchDesktop.h"

#include "engine/convert/SourceList.h"
#include "engine/media/SourceItem.h"
#include "gui/common/DesktopIntegration.h"
#include "gui/common/UiText.h"
#include "gui/windows/BatchWindow.h"

namespace plexavo::gui {

namespace {

constexpr unsigned kStrCompleted = 61209;
constexpr unsigned kStrCanceled = 61207;
constexpr unsigned kStrCounts = 62050;

} // namespace

BatchTally tallyBatch(const std::vector<int>& statuses, int rowsEnded, bool completed) {
    BatchTally tally;
    for (int row = 0, n = static_cast<int>(statuses.size()); row < n; ++row) {
        const int status = statuses[static_cast<std::size_t>(row)];
        if (status < 0)
            continue;
        if (!completed && row >= rowsEnded)
            ++tally.skipped;
        else if (status == media::kStatusDone)
            ++tally.done;
        else if (status == media::kStatusError)
            ++tally.failed;
        else if (status == media::kStatusSkip)
            ++tally.skipped;
    }
    return tally;
}

void announceOnDesktop(BatchWindow& dialog, convert::ISourceList& list,
                       DesktopIntegration& desktop) {
    // Each connection goes with the desktop object as well as the window.
    DesktopIntegration* target = &desktop;
    QObject::connect(
        &dialog, &BatchWindow::overallProgress, &desktop,
        [target](int percent, int filesLeft) { target->showProgress(percent / 100.0, filesLeft); });
    QObject::connect(&dialog, &BatchWindow::batchEnded, &desktop, [target, &dialog, &list] {
        // The rows are read here, on the window's thread, while the driver
        // has ended and before any message waits for the user.
        if (!DesktopIntegration::isActive(target->window())) {
            std::vector<int> statuses;
            for (int row = 0, n = list.rowCount(); row < n; ++row) {
                const media::SourceItem* item = list.itemAt(list.rowTag(row));
                statuses.push_back(item ? item->status : -1);
            }
            const convert::BatchDriver& driver = dialog.driver();
            const BatchTally tally = tallyBatch(statuses, driver.rowsEnded(), driver.completed());
            target->notify(str(driver.completed() ? kStrCompleted : kStrCanceled),
                           str(kStrCounts, tally.done, tally.failed, tally.skipped));
        }
        target->hideProgress();
    });
    // A window torn down in the middle of a batch (the program is closing)
    // never reaches its end: its progress goes all the same.
    QObject::connect(&dialog, &QObject::destroyed, &desktop, [target] { target->hideProgress(); });
}

} // namespace plexavo::gui
