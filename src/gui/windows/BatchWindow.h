// The conversion window: runs the batch on its own thread and shows the step,
// the overall and current progress, the size of the file being written and an
// estimate of the time left; "Skip Current" ends the running file, "Cancel
// All" the batch. Run it with exec() once every row's status is Waiting.
#pragma once

#include "engine/convert/BatchDriver.h"

#include "gui/windows/WorkerDialog.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <thread>

class QLabel;
class QPushButton;

namespace plexavo::convert {
class EncodeJob;
class ISourceList;
} // namespace plexavo::convert

namespace plexavo::gui {

class PathLabel;
class PercentProgressBar;

class BatchWindow : public WorkerDialog {
    Q_OBJECT

  public:
    static constexpr int kDialogId = 106;
    static constexpr int kTimerId = 101;
    static constexpr int kTimerMs = 100;

    explicit BatchWindow(convert::ISourceList& list, QWidget* parent = nullptr);
    ~BatchWindow() override;
    Q_DISABLE_COPY_MOVE(BatchWindow)

    // For tests and the benchmark: the driver's state as the window sees it.
    const convert::BatchDriver& driver() const { return m_driver; }

  public slots:
    void onSkipCurrent();
    // Also the end-of-batch command: waits for the driver (the window keeps
    // painting meanwhile), reports, and closes.
    void onCancelAll();

  signals:
    // The driver has ended (emitted on the window's thread).
    void driverEnded();
    // What the desktop shows of the batch: the overall bar as it moves, with
    // the rows not yet ended; and the end, before any message is shown (the
    // rows the window marks skipped after a cancel are not marked yet).
    void overallProgress(int percent, int filesLeft);
    void batchEnded();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void makeControls();
    void layOut();
    // Starts the time estimate over every row's part.
    void startEstimate();
    void retranslate();
    void onTimer();
    // The driver's question whether the stopped files go on (count of them).
    bool askContinue(int count);
    void onDriverFinished();
    void refreshEstimate();
    void joinDriver();

    convert::ISourceList& m_list;
    convert::EncodeJob& m_job;
    convert::BatchDriver m_driver;
    std::thread m_worker;
    QTimer m_timer;
    QElapsedTimer m_clock;
    convert::BatchEstimate m_estimate;
    bool m_started = false;
    bool m_lengthsPlanned = false;
    bool m_ending = false;
    QString m_shownSize;

    PathLabel* m_step = nullptr;
    QLabel* m_overallLabel = nullptr;
    QLabel* m_currentLabel = nullptr;
    QLabel* m_sizeLabel = nullptr;
    QLabel* m_size = nullptr;
    QLabel* m_estimateLine = nullptr;
    PercentProgressBar* m_overall = nullptr;
    PercentProgressBar* m_current = nullptr;
    QPushButton* m_skip = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace plexavo::gui
