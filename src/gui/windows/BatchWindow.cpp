#include "gui/windows/BatchWindow.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/SourceList.h"
#include "engine/media/SourceItem.h"
#include "engine/res/DialogLabels.h"
#include "gui/common/DialogUnits.h"
#include "gui/common/MessageBox.h"
#include "gui/common/ScriptHeights.h"
#include "gui/common/UiText.h"
#include "gui/common/UiThread.h"
#include "gui/widgets/PathLabel.h"
#include "gui/widgets/PercentProgressBar.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <sys/stat.h>

namespace plexavo::gui {

using convert::formatClock;
using media::SourceItem;

namespace {

namespace lp = res::label::progress;

constexpr int kCtlStep = 1030;
constexpr int kCtlOverall = 1026;
constexpr int kCtlCurrent = 1025;
constexpr int kCtlSize = 1028;
constexpr int kCtlSkip = 1036;
constexpr int kCtlCancel = 1022;

constexpr unsigned kStrCompleted = 61209;
constexpr unsigned kStrCanceled = 61207;
constexpr unsigned kStrCancelQuestion = 61208;
constexpr unsigned kStrFailedHead = 61243;
constexpr unsigned kStrReasons = 61222;
constexpr unsigned kStrElapsed = 61900;
constexpr unsigned kStrLeft = 61901;
constexpr unsigned kStrSpeed = 61902;
constexpr unsigned kStrEstimateLine = 61903;
constexpr unsigned kStrContinueQuestion = 62081;

// What a screen reader calls the size: the caption with the value, which
// grows while the file is written ("File Size: 12K").
QString sizeName(const QLabel* caption, const QString& value) {
    return value.isEmpty() ? nameFromLabel(caption->text())
                           : caption->text() + QLatin1Char(' ') + value;
}

// A thin sunken frame around a self-drawn bar, so it reads as a control.
QFrame* framed(QWidget* bar, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(bar);
    return frame;
}

} // namespace

BatchWindow::BatchWindow(convert::ISourceList& list, QWidget* parent)
    : WorkerDialog(parent), m_list(list), m_job(list.job()),
      m_driver(list, m_job, [this](const std::function<void()>& fn) { runOnUiThread(this, fn); }) {
    setObjectName(QStringLiteral("dlg106"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    makeControls();
    layOut();
    m_overall->setRange(0, 100);
    m_current->setRange(0, 100);
    retranslate();
    // The window keeps the proportions of its dialog template.
    const DialogUnits du(font());
    setFixedWidth(du.x(323));
    setMinimumHeight(du.y(121));

    startEstimate();
    connect(m_skip, &QPushButton::clicked, this, &BatchWindow::onSkipCurrent);
    connect(m_cancel, &QPushButton::clicked, this, &BatchWindow::onCancelAll);
    m_timer.setObjectName(QStringLiteral("timer101"));
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, &BatchWindow::onTimer);
    m_driver.onFinished = [this] {
        QMetaObject::invokeMethod(
            this, [this] { onDriverFinished(); }, Qt::QueuedConnection);
    };
    m_driver.askContinue = [this](int count) { return askContinue(count); };
    m_skip->setFocus();
}

void BatchWindow::makeControls() {
    m_step = new PathLabel(this);
    m_step->setObjectName(controlName(kCtlStep));
    m_step->setReservedLines(3);

    m_overallLabel = new QLabel(this);
    m_overallLabel->setObjectName(QStringLiteral("label106_overall"));
    m_overall = new PercentProgressBar(this);
    m_overall->setObjectName(controlName(kCtlOverall));

    m_currentLabel = new QLabel(this);
    m_currentLabel->setObjectName(QStringLiteral("label106_current"));
    m_sizeLabel = new QLabel(this);
    m_sizeLabel->setObjectName(QStringLiteral("label106_fileSize"));
    m_size = new QLabel(this);
    m_size->setObjectName(controlName(kCtlSize));
    m_size->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_size->setMinimumWidth(m_size->fontMetrics().horizontalAdvance(QStringLiteral("99999999K")));
    m_current = new PercentProgressBar(this);
    m_current->setObjectName(controlName(kCtlCurrent));

    m_estimateLine = new QLabel(this);
    m_estimateLine->setObjectName(QStringLiteral("estimateLine"));
    // Its text arrives once the window is laid out: room for it in any language.
    m_estimateLine->setMinimumHeight(lineHeightForEveryScript(m_estimateLine->font()));

    m_skip = new QPushButton(this);
    m_skip->setObjectName(controlName(kCtlSkip));
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(controlName(kCtlCancel));
    // Return must not end a conversion by accident; Space on the focused button does.
    for (QPushButton* b : {m_skip, m_cancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
}

void BatchWindow::layOut() {
    const DialogUnits du(font());
    const QSize margin(du.x(7), du.y(7));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    top->addWidget(m_step);
    top->addSpacing(margin.height() / 2);
    top->addWidget(m_overallLabel);
    top->addWidget(framed(m_overall, this));
    top->addSpacing(margin.height() / 2);
    auto* currentRow = new QHBoxLayout;
    currentRow->addWidget(m_currentLabel);
    currentRow->addStretch(1);
    currentRow->addWidget(m_sizeLabel);
    currentRow->addWidget(m_size);
    top->addLayout(currentRow);
    top->addWidget(framed(m_current, this));
    top->addWidget(m_estimateLine);
    top->addSpacing(margin.height() / 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_skip);
    buttons->addWidget(m_cancel);
    top->addLayout(buttons);
}

void BatchWindow::startEstimate() {
    // The estimate needs every row's part; read here, on the list's thread.
    std::vector<std::int64_t> lengths;
    for (int row = 0, n = m_list.rowCount(); row < n; ++row) {
        const SourceItem* item = m_list.itemAt(m_list.rowTag(row));
        lengths.push_back(item ? static_cast<std::int64_t>(item->endSeconds) - item->startSeconds
                               : 0);
    }
    m_estimate.start(0, std::move(lengths));
}

BatchWindow::~BatchWindow() {
    if (m_worker.joinable()) {
        // Torn down while converting (the program is closing): stop the
        // batch, and keep serving the driver's calls until it has ended.
        m_ending = true;
        m_driver.cancelAll();
        if (!m_driver.finished()) {
            QEventLoop loop;
            connect(this, &BatchWindow::driverEnded, &loop, &QEventLoop::quit);
            QTimer poll;
            connect(&poll, &QTimer::timeout, &loop, [&] {
                m_job.stopRequested = true;
                if (m_driver.finished())
                    loop.quit();
            });
            poll.start(kTimerMs);
            if (!m_driver.finished())
                loop.exec();
        }
        if (m_worker.joinable())
            m_worker.join();
    }
}

void BatchWindow::retranslate() {
    setWindowTitle(dialogText(kDialogId, 0));
    m_overallLabel->setText(dialogText(kDialogId, lp::kOverall));
    m_currentLabel->setText(dialogText(kDialogId, lp::kCurrent));
    m_sizeLabel->setText(dialogText(kDialogId, lp::kFileSize));
    m_skip->setText(dialogText(kDialogId, kCtlSkip));
    m_cancel->setText(dialogText(kDialogId, kCtlCancel));
    m_overall->setAccessibleName(nameFromLabel(m_overallLabel->text()));
    m_current->setAccessibleName(nameFromLabel(m_currentLabel->text()));
    m_size->setAccessibleName(sizeName(m_sizeLabel, m_shownSize));
    m_skip->setAccessibleName(m_skip->text());
    m_cancel->setAccessibleName(m_cancel->text());
    m_estimateLine->setAccessibleName(m_estimateLine->text());
    if (m_step->fullText().isEmpty())
        m_step->setAccessibleName(nameFromLabel(dialogText(kDialogId, kCtlStep)));
}

void BatchWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    WorkerDialog::changeEvent(event);
}

void BatchWindow::showEvent(QShowEvent* event) {
    WorkerDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    // The step and size texts start empty: the driver fills them.
    m_step->setFullText(QString());
    m_size->clear();
    m_clock.start();
    m_worker = std::thread([this] { m_driver.run(); });
    m_timer.start();
}

bool BatchWindow::askContinue(int count) {
    // Asked from the driver's thread before the first row; the answer is
    // the user's, on this one.
    bool yes = false;
    runOnUiThread(this, [&] {
        yes =
            !m_ending && MessageBox::show(this, str(kStrContinueQuestion, count),
                                          QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                                          QMessageBox::Yes) == QMessageBox::Yes;
    });
    return yes;
}

void BatchWindow::onTimer() {
    const int index = m_driver.currentIndex();
    if (!m_lengthsPlanned && m_driver.planned()) {
        // What is left of each row, now that the batch knows which go on.
        m_estimate.setLengths(static_cast<std::uint64_t>(m_clock.elapsed()),
                              m_driver.plannedSeconds());
        m_lengthsPlanned = true;
    }
    if (m_ending && !m_driver.finished())
        m_job.stopRequested = true; // a stop that raced the start of a run is asked again
    // A cancelled batch keeps its bars where they stood.
    if (!m_driver.cancelRequested() || m_driver.completed()) {
        // Before the first row the job still holds the previous batch's value.
        const int cur = index < 0 ? 0 : std::min(m_job.percent.load(), 100);
        m_current->setPos(cur);
        m_overall->setPos(convert::BatchDriver::overallPercent(cur, index, m_driver.itemCount()));
        if (index >= 0) {
            m_estimate.update(static_cast<std::uint64_t>(m_clock.elapsed()), index, cur);
            emit overallProgress(m_overall->pos(), m_driver.itemCount() - m_driver.rowsEnded());
        }
        refreshEstimate();
    }

    // The core writes a partial file that gets the output name only when it is
    // finished: while it runs, its own count of what it wrote is the size.
    const std::string output = m_driver.currentOutputPath();
    struct stat st {};
    long long kb = -1;
    if (index >= 0 && m_job.writtenKB.load() >= 0)
        kb = m_job.writtenKB.load();
    else if (!output.empty() && ::stat(output.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        kb = static_cast<long long>(st.st_size / 1024);
    if (kb >= 0) {
        const QString size = QString::asprintf("%lldK", kb);
        if (size != m_shownSize) {
            m_shownSize = size;
            m_size->setText(size);
            m_size->setAccessibleName(sizeName(m_sizeLabel, size));
        }
    }
    m_step->setFullText(QString::fromUtf8(m_driver.stepText().c_str()));
}

void BatchWindow::refreshEstimate() {
    if (!m_estimate.ready())
        return;
    const QString elapsed = str(kStrElapsed, formatClock(m_estimate.elapsedSeconds()).c_str());
    const QString left = str(kStrLeft, formatClock(m_estimate.leftSeconds()).c_str());
    const QByteArray rate = QLocale().toString(m_estimate.speed(), 'f', 1).toUtf8();
    const QString speed = str(kStrSpeed, rate.constData());
    const QString line = str(kStrEstimateLine, elapsed.toUtf8().constData(),
                             left.toUtf8().constData(), speed.toUtf8().constData());
    if (line != m_estimateLine->text()) {
        m_estimateLine->setText(line);
        m_estimateLine->setAccessibleName(line);
    }
}

void BatchWindow::onSkipCurrent() {
    if (m_ending)
        return;
    m_driver.skipCurrent();
    m_estimate.noteSkip();
}

void BatchWindow::onDriverFinished() {
    emit driverEnded();
    if (!m_ending)
        onCancelAll(); // the end-of-batch command
}

void BatchWindow::joinDriver() {
    if (m_worker.joinable())
        m_worker.join();
}

void BatchWindow::onCancelAll() {
    if (m_ending)
        return;
    m_ending = true;
    m_skip->setEnabled(false);
    m_cancel->setEnabled(false);
    if (!m_driver.finished())
        m_driver.cancelAll();

    // The driver may still need this thread (its list calls wait for it), and
    // a stopped core may take a while to finish its file: wait in a local
    // loop so both go on and the window keeps painting.
    if (!m_driver.finished()) {
        QEventLoop loop;
        connect(this, &BatchWindow::driverEnded, &loop, &QEventLoop::quit);
        if (!m_driver.finished())
            loop.exec();
    }
    joinDriver();

    if (m_driver.completed())
        onTimer(); // the bars show where the batch ended
    // Before the messages: they wait for the user, the desktop should not.
    emit batchEnded();

    if (m_driver.anyFailed()) {
        const QString report = str(kStrFailedHead) + QLatin1Char('\n') +
                               QString::fromUtf8(m_driver.failureReport().c_str()) +
                               QStringLiteral("\n\n") + str(kStrReasons);
        MessageBox::show(this, report, QMessageBox::NoIcon);
    }
    if (m_driver.completed()) {
        MessageBox::show(this, str(kStrCompleted), QMessageBox::Information);
    } else {
        // The row that was running and every row after it are skipped.
        for (int row = m_driver.rowsEnded(), n = m_driver.itemCount(); row < n; ++row) {
            if (SourceItem* item = m_list.itemAt(m_list.rowTag(row)))
                item->status = media::kStatusSkip;
            m_list.refreshRow(row);
        }
        MessageBox::show(this, str(kStrCanceled), QMessageBox::Information);
    }
    m_timer.stop();
    finish();
}

void BatchWindow::closeEvent(QCloseEvent* event) {
    WorkerDialog::closeEvent(event);
    if (mayClose() || m_ending || m_driver.cancelRequested())
        return;
    const auto answer =
        MessageBox::show(this, str(kStrCancelQuestion), QMessageBox::Question,
                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer == QMessageBox::Ok)
        QMetaObject::invokeMethod(this, &BatchWindow::onCancelAll, Qt::QueuedConnection);
}

} // namespace plexavo::gui
