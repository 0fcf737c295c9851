#include "gui/windows/DetectionWindow.h"

#include "engine/convert/SourceList.h"
#include "engine/i18n/ResourceText.h"
#include "engine/media/ProbeInOrder.h"
#include "engine/media/SourceItem.h"
#include "engine/media/SourcePaths.h"
#include "engine/platform/DebugLog.h"
#include "engine/settings/ConversionSettings.h"
#include "gui/common/DialogUnits.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/common/UiThread.h"
#include "gui/widgets/PathLabel.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <set>

namespace plexavo::gui {

using media::ProbeResult;
using platform::writeLog;
using settings::ConversionSettings;
using settings::kTargetFormatCount;
using settings::TargetExtensions;

namespace {

constexpr int kCtlStatus = 1030;
constexpr int kCtlProgress = 1026;
constexpr unsigned kStrStatus = 61212;
constexpr unsigned kStrFailedHead = 61205;
constexpr unsigned kStrReasons = 61222;
constexpr unsigned kStrUnreadableNames = 62021;

// Verdicts of one file's probe.
enum Verdict : int { kAdded, kFailed, kUnreadable };

} // namespace

DetectionWindow::DetectionWindow(convert::ISourceList& list, std::vector<std::string> paths,
                                 QWidget* parent)
    : WorkerDialog(parent), m_list(list), m_paths(std::move(paths)) {
    setObjectName(QStringLiteral("dlg137"));
    setModal(true);
    // No caption and so no close box; the panel below draws the frame, the
    // same on every window manager (and on none).
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::WinPanel);
    panel->setFrameShadow(QFrame::Raised);
    outer->addWidget(panel);

    m_status = new PathLabel(panel);
    m_status->setObjectName(controlName(kCtlStatus));
    m_status->setReservedLines(2);
    m_bar = new QProgressBar(panel);
    m_bar->setObjectName(controlName(kCtlProgress));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);

    // The window keeps the proportions of its dialog template.
    const DialogUnits du(font());
    const QSize margin(du.x(7), du.y(7));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    layout->addWidget(m_status);
    layout->addWidget(m_bar);

    setWindowTitle(dialogText(kDialogId, kCtlStatus)); // for the task list and screen readers
    m_status->setAccessibleName(dialogText(kDialogId, kCtlStatus));
    m_bar->setAccessibleName(dialogText(kDialogId, kCtlStatus));
    setFixedWidth(du.x(323));
    setMinimumHeight(du.y(59));

    m_timer.setObjectName(QStringLiteral("timer101"));
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, &DetectionWindow::onTimer);
}

DetectionWindow::~DetectionWindow() {
    if (!m_worker.joinable())
        return;
    // Torn down while working (the program is closing): stop after the file
    // being probed, serving the worker's list calls until it has ended.
    m_stop = true;
    if (!m_finished) {
        QEventLoop loop;
        connect(this, &DetectionWindow::workerEnded, &loop, &QEventLoop::quit);
        if (!m_finished)
            loop.exec();
    }
    m_worker.join();
}

std::string DetectionWindow::failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures;
}

std::string DetectionWindow::unreadableNames() const {
    std::lock_guard lock(m_mutex);
    return m_unreadableNames;
}

void DetectionWindow::showEvent(QShowEvent* event) {
    WorkerDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_status->setFullText(QString()); // empty until the first file's text
    m_worker = std::thread([this] { work(); });
    m_timer.start();
}

void DetectionWindow::onTimer() {
    std::string text;
    {
        std::lock_guard lock(m_mutex);
        text = m_statusText;
    }
    m_status->setFullText(QString::fromUtf8(text.c_str()));
    m_bar->setValue(m_progress.load());
}

void DetectionWindow::work() {
    writeLog("------Start load source files(%d)...------", static_cast<int>(m_paths.size()));
    ConversionSettings settings;
    runOnUiThread(this, [&] { settings = m_list.settings(); });
    const std::string extension = TargetExtensions[static_cast<std::size_t>(
        std::clamp(settings.targetFormat, 0, static_cast<int>(kTargetFormatCount) - 1))];

    media::probeInOrder(
        m_paths.size(), m_probeWorkers, &m_stop, [this](std::size_t i) { return probeFile(i); },
        [&](std::size_t i, ProbeResult& result) {
            addRow(i, result, settings.outputPath, extension);
        });

    m_finished = true;
    QMetaObject::invokeMethod(
        this, [this] { onWorkerEnded(); }, Qt::QueuedConnection);
}

// Several files are probed at once; the window names the first of them,
// the one the list waits for, with its place in the list. Called under m_mutex.
void DetectionWindow::showFirstRunning() {
    if (m_running.empty())
        return;
    const std::size_t first = *m_running.begin();
    const int count = static_cast<int>(m_paths.size());
    m_statusText =
        i18n::loadResString(kStrStatus, static_cast<int>(first) + 1, count, m_paths[first].c_str());
    // The bar only moves on, and is set before the file is probed.
    m_progress = std::max(m_progress.load(), static_cast<int>(100 * (first + 1) / count));
}

// On a probe worker's thread.
ProbeResult DetectionWindow::probeFile(std::size_t i) {
    const std::string& path = m_paths[i];
    const int count = static_cast<int>(m_paths.size());
    {
        std::lock_guard lock(m_mutex);
        m_running.insert(i);
        showFirstRunning();
    }
    writeLog("load %d/%d:%s", static_cast<int>(i) + 1, count, path.c_str());
    ProbeResult result;
    if (media::nameLostInConversion(path)) {
        writeLog("load %d/%d: the name does not survive as text", static_cast<int>(i) + 1, count);
        result.verdict = kUnreadable;
    } else {
        result.item = std::make_unique<media::SourceItem>();
        media::ProbeLimits limits;
        limits.stop = &m_stop;
        result.verdict = result.item->probe(path, limits) < 0 ? kFailed : kAdded;
    }
    std::lock_guard lock(m_mutex);
    m_running.erase(i);
    showFirstRunning();
    return result;
}

// Rows are added in list order, whichever probe ends first; names are given
// out as rows arrive, so two files never get one name.
void DetectionWindow::addRow(std::size_t i, ProbeResult& result, const std::string& outputFolder,
                             const std::string& extension) {
    const std::string& path = m_paths[i];
    if (result.verdict != kAdded) {
        std::lock_guard lock(m_mutex);
        (result.verdict == kUnreadable ? m_unreadableNames : m_failures) += "\n" + path;
        return;
    }
    // Named before the list owns it: from then on the window's thread
    // may paint the row at any moment.
    result.item->assignOutputName(outputFolder, extension, media::kOutputSuffix);
    const std::string name = result.item->displayName();
    // One trip to the window's thread per file: on a busy machine each
    // trip waits for that thread's turn.
    int index = 0;
    int row = 0;
    runOnUiThread(this, [&] {
        row = m_list.rowCount();
        index = m_list.appendItem(result.item.release());
        const int inserted = m_list.insertRow(name, index);
        m_list.refreshRow(inserted);
    });
    writeLog("Set FileAudioFormat array index(%d) to listtime(%d).", index, row);
}

void DetectionWindow::onWorkerEnded() {
    emit workerEnded();
    if (mayClose() || m_stop)
        return;
    if (m_worker.joinable())
        m_worker.join();
    m_timer.stop();
    onTimer();
    const std::string failed = failures();
    const std::string unreadable = unreadableNames();
    QString report;
    if (!failed.empty())
        report = str(kStrFailedHead) + QLatin1Char('\n') + QString::fromUtf8(failed.c_str()) +
                 QStringLiteral("\n\n") + str(kStrReasons);
    // A name the file dialog could not carry: the media was never looked at.
    if (!unreadable.empty())
        report += (report.isEmpty() ? QString() : QStringLiteral("\n\n")) +
                  str(kStrUnreadableNames, unreadable.c_str());
    if (!report.isEmpty())
        MessageBox::show(this, report, QMessageBox::NoIcon);
    finish();
}

void DetectionWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        m_status->setAccessibleName(dialogText(kDialogId, kCtlStatus));
        m_bar->setAccessibleName(dialogText(kDialogId, kCtlStatus));
    }
    WorkerDialog::changeEvent(event);
}

void DetectionWindow::keyPressEvent(QKeyEvent* event) {
    // Return does not end the pass either.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    WorkerDialog::keyPressEvent(event);
}

} // namespace plexavo::gui
