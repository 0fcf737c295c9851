// The batch: converts every row of the source list, one after the other, on
// the thread that calls run(). It reaches the list only through the call the
// window hands it (which runs a piece of work on the window's thread and
// waits), so it needs no Qt itself and can be tested below the window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace plexavo::convert {

class EncodeJob;
class ISourceList;

class BatchDriver {
  public:
    // Runs fn on the list's thread and returns when it has run.
    using UiCall = std::function<void(const std::function<void()>&)>;

    // The failure value of an item whose selected part is empty.
    static constexpr int kEmptyPart = static_cast<int>(0x80070057u);
    // The failure value of an item whose target format has no option text.
    static constexpr int kNoOptionText = -4;

    // job is the list's job, fetched by the caller on the list's thread.
    BatchDriver(ISourceList& list, EncodeJob& job, UiCall onUi);

    // The whole batch; returns when it has ended (all rows, or a cancel).
    void run();

    // Window thread: end the current row and go on with the next one.
    void skipCurrent();
    // Window thread: end the running item and stop the batch.
    void cancelAll();
    // Waits until run() has ended (tests and the bench; the window never
    // blocks on this, it waits in an event loop for onFinished).
    void waitFinished();

    bool finished() const { return m_finished.load(); }
    bool completed() const { return m_completed.load(); }
    bool cancelRequested() const { return m_cancelAll.load(); }
    int currentIndex() const { return m_currentIndex.load(); }
    int itemCount() const { return m_itemCount.load(); }
    // Rows that have their final status; after a cancel the window marks the
    // rows from here on as skipped.
    int rowsEnded() const { return m_rowsEnded.load(); }

    std::string stepText() const;
    std::string currentOutputPath() const;
    // "\npath" per failed item, in list order; empty when none failed.
    std::string failures() const;
    // "\npath\n    reason" per failed item, in list order: what the failure
    // report shows.
    std::string failureReport() const;
    bool anyFailed() const { return m_anyFailed.load(); }

    // Called on the driver's thread as its last act, after finished() turned true.
    std::function<void()> onFinished;

    // The overall bar: (current + index × 100) ÷ count, truncated; 0 for no items.
    static int overallPercent(int current, int index, int count);
    // Whether the core gets an option text for this target format.
    static bool hasOptionText(int targetFormat);

  private:
    // False when a cancel left the row without its final status.
    bool convertRow(int row, const std::string& folder, const std::string& extension,
                    const std::string& options, int targetFormat);
    void setTexts(const std::string& step, const std::string& output);

    ISourceList& m_list;
    EncodeJob& m_job;
    UiCall m_onUi;

    std::atomic<bool> m_cancelAll{false};
    std::atomic<int> m_skipRow{-1}; // the row Skip was clicked for
    std::atomic<bool> m_completed{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_anyFailed{false};
    std::atomic<int> m_currentIndex{-1};
    std::atomic<int> m_itemCount{0};
    std::atomic<int> m_rowsEnded{0};

    mutable std::mutex m_mutex; // guards the texts below and m_finished's waiters
    std::condition_variable m_finishedChanged;
    std::string m_stepText;
    std::string m_currentOutputPath;
    std::string m_failures;
    std::string m_failureReport;
};

// The "Elapsed ... Left about ... 3.4x" line: time of the batch so far, an
// estimate of the time left from the media seconds converted per second of
// wall time, and that rate. Fed by the window's timer; no clock of its own.
class BatchEstimate {
  public:
    void start(std::uint64_t nowMs, std::vector<std::int64_t> lengths);
    // The driver's current row and the job's percent at nowMs.
    void update(std::uint64_t nowMs, int index, int percent);
    // A skipped row counts only what was converted before the skip (its job
    // reports 100 once the core has ended).
    void noteSkip();

    // False until some media has been converted: the line stays blank.
    bool ready() const;
    std::int64_t elapsedSeconds() const;
    std::int64_t leftSeconds() const;
    // Media seconds per wall second.
    double speed() const;

  private:
    double doneMedia() const;

    std::vector<std::int64_t> m_lengths;
    std::uint64_t m_startMs = 0;
    std::uint64_t m_nowMs = 0;
    int m_index = -1;
    int m_percent = 0;
    bool m_skipped = false;
    double m_finishedMedia = 0; // media seconds of the rows before m_index
};

// Whole seconds as "H:MM:SS" (hours not padded, not wrapped).
std::string formatClock(std::int64_t seconds);

} // namespace plexavo::convert
