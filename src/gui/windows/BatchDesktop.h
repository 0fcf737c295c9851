// What the desktop shows of a batch: the overall progress on the dock while
// it runs, and, when it ends while the user is in another program, one
// notification with the end message and the counts of the rows.
#pragma once

#include <vector>

namespace plexavo::convert {
class ISourceList;
}

namespace plexavo::gui {

class BatchWindow;
class DesktopIntegration;

struct BatchTally {
    int done = 0;
    int failed = 0;
    int skipped = 0;
};

// The counts of a batch that has just ended, from the rows' statuses in list
// order (negative for a row without an item). After a cancel the rows from
// `rowsEnded` on are counted as skipped: that is what the window marks them
// right after it has told the desktop.
BatchTally tallyBatch(const std::vector<int>& statuses, int rowsEnded, bool completed);

// Ties the window's progress and end to the desktop for the window's life.
void announceOnDesktop(BatchWindow& dialog, convert::ISourceList& list,
                       DesktopIntegration& desktop);

} // namespace plexavo::gui
