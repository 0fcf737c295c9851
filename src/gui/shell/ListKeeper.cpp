#include "gui/shell/ListKeeper.h"

#include "engine/convert/ResumeQuery.h"
#include "engine/platform/DebugLog.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QGuiApplication>
#include <QScopeGuard>

namespace plexavo::gui {

using convert::RestoreSummary;
using convert::settleRestoredRows;
using media::findLeftList;
using media::kStatusSkip;
using media::SavedList;
using media::SourceItem;
using platform::writeLog;

namespace {
constexpr unsigned kStrRestoreQuestion = 62082;
} // namespace

ListKeeper::ListKeeper(MainWindow& frame) : m_frame(frame) {
    // Changes come in bursts (a batch refreshes a row several times, a
    // restore adds every row): one write when the loop is idle takes them all.
    m_saveSoon.setSingleShot(true);
    m_saveSoon.setInterval(0);
    connect(&m_saveSoon, &QTimer::timeout, this, &ListKeeper::saveNow);
    // A language switch makes a new view with the old one's state.
    auto previous = m_frame.configureView;
    m_frame.configureView = [this, previous](ConversionView* view) {
        if (previous)
            previous(view);
        watch(view);
    };
    watch(m_frame.view());
}

ListKeeper::~ListKeeper() {
    if (m_saveSoon.isActive() && !m_finished)
        saveNow();
}

void ListKeeper::watch(ConversionView* view) {
    if (view)
        connect(view, &ConversionView::listChanged, &m_saveSoon, qOverload<>(&QTimer::start),
                Qt::UniqueConnection);
}

void ListKeeper::saveNow() {
    m_saveSoon.stop();
    if (m_finished || !m_frame.view())
        return;
    m_file.save(m_frame.view()->savedList());
}

void ListKeeper::markFinished() {
    saveNow();
    m_finished = true;
    m_file.markFinished();
}

bool ListKeeper::offerLeftList() {
    const auto left = findLeftList(m_file.path());
    if (!left)
        return false;
    const int rows = static_cast<int>(left->list().rows.size());
    const auto answer =
        MessageBox::show(&m_frame, str(kStrRestoreQuestion, rows), QMessageBox::Question,
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        left->decline();
        return false;
    }
    SavedList list = left->list();
    RestoreSummary summary;
    {
        // The core is asked about each kept file, a few at a time.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        summary = settleRestoredRows(list);
    }
    writeLog("Restored the list of %s: %d file(s), %d converted, %d stopped with a kept file, "
             "%d ready, %d no longer there",
             left->path().c_str(), rows, summary.converted, summary.stopped, summary.ready,
             summary.missing);
    for (const SourceItem& row : list.rows)
        if (row.status == kStatusSkip && row.keptSeconds > 0)
            writeLog("  %s keeps %.1f of %.1f s in %s", row.path.c_str(), row.keptSeconds,
                     row.keptOfSeconds, row.outputFilePath().c_str());
    m_frame.view()->restoreList(list);
    // Written as this copy's own list before the old file goes.
    saveNow();
    left->takeOver();
    return true;
}

} // namespace plexavo::gui
