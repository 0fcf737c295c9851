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
    // Asked once, on the driver's thread before the first row, when rows hold
    // a stopped output the core can continue (how many): true continues them
    // from where they stopped and passes over the rows converted already;
    // false (or unset) converts every row from the start.
    std::function<bool(int count)> askContinue;

    // Once planned() is true: the seconds each row has left to convert (a
    // continued row only the rest, a row passed over none), for the estimate.
    bool planned() const { return m_planned.load(); }
    std::vector<double> plannedSeconds() const;

    // The overall bar: (current + index × 100) ÷ count, truncated; 0 for no items.
    static int overallPercent(int current, int index, int count);
    // Whether the core gets an option text for this target format.
    static bool hasOptionText(int targetFormat);

  private:
    struct Snapshot;
    struct Outcome;
    // What the plan decided for a row before the first one ran.
    struct RowPlan {
        bool passOver = false;  // converted already: left as it is
        std::string keptPath;   // a stopped output to continue; empty: convert anew
        double keptSeconds = 0; // what the core said it holds
        double leftSeconds = 0; // what is left to convert
    };

    // The batch's settings, read once on the list's thread.
    struct Batch {
        std::string folder;
        std::string extension;
        std::string options;
        int targetFormat = 0;
    };
    Batch prepare(int& count);
    // Looks at every row for a stopped output the core can continue, and
    // asks whether to; fills m_plan.
    void planRows(int count, const Batch& batch);
    RowPlan planRow(const Snapshot& snap, const Batch& batch) const;

    // The steps of one row. False when a cancel left the row without its
    // final status.
    bool convertRow(int row, const Batch& batch);
    Snapshot beginRow(int row);
    std::string outputFor(int row, const Snapshot& snap, const Batch& batch, const RowPlan& plan);
    Outcome runRow(int row, const Snapshot& snap, const std::string& output, const Batch& batch,
                   const RowPlan& plan, const std::string& folderError);
    void showWrittenName(int row, const std::string& written);
    void noteFailure(const Snapshot& snap, const Outcome& outcome);
    void endRow(int row, const Snapshot& snap, const Outcome& outcome);
    void setTexts(const std::string& step, const std::string& output);
    void setContinueStep(int row, const std::string& source, const std::string& output,
                         double from);

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
    std::atomic<bool> m_planned{false};
    std::vector<RowPlan> m_plan; // written before planned() turns true, read only after

    mutable std::mutex m_mutex; // guards the texts below and m_finished's waiters
    std::condition_variable m_finishedChanged;
    std::string m_stepText;
    std::string m_currentOutputPath;
    // A continued row's step: its number, source and the instant planned
    // (the text names the core's own instant once it has said it).
    int m_continueRow = -1;
    std::string m_continueSource;
    double m_continueFrom = 0;
    std::string m_failures;
    std::string m_failureReport;
};

// The "Elapsed ... Left about ... 3.4x" line: time of the batch so far, an
// estimate of the time left from the media seconds converted per second of
// wall time, and that rate. Fed by the window's timer; no clock of its own.
class BatchEstimate {
  public:
    void start(std::uint64_t nowMs, std::vector<std::int64_t> lengths);
    // Each row's length anew once the batch has planned them (what is left
    // of a continued file, nothing of a row passed over), and the clock from
    // nowMs: the time spent planning and asking converted nothing.
    void setLengths(std::uint64_t nowMs, const std::vector<double>& seconds);
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

    std::vector<double> m_lengths;
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
