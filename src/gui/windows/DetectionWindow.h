// The detection pass: a small captionless window that probes the added files,
// up to one per processor at once on threads of its own, appends the files that
// can be converted to the source list in their order with their output names, and reports the
// others in one message at the end. The user cannot close it while it works. Run it with exec();
// the caller hands absolute paths.
#pragma once

#include "engine/media/ProbeInOrder.h"

#include "gui/windows/WorkerDialog.h"

#include <QTimer>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class QProgressBar;

namespace plexavo::convert {
class ISourceList;
}

namespace plexavo::gui {

class PathLabel;

class DetectionWindow : public WorkerDialog {
    Q_OBJECT

  public:
    static constexpr int kDialogId = 137;
    static constexpr int kTimerId = 101;
    static constexpr int kTimerMs = 100;

    DetectionWindow(convert::ISourceList& list, std::vector<std::string> paths,
                    QWidget* parent = nullptr);
    ~DetectionWindow() override;
    Q_DISABLE_COPY_MOVE(DetectionWindow)

    // "\npath" for each file the probe turned down, in order (tests, the bench).
    std::string failures() const;
    // "\npath" for each name that had lost bytes to a text conversion and so
    // named no file (nameLostInConversion): reported apart, the media is not at fault.
    std::string unreadableNames() const;
    bool finished() const { return m_finished.load(); }
    // The program is closing: the pass ends after the file being probed and
    // says nothing; the window stays until the program leaves.
    void stopForExit() { m_stop = true; }
    // How many files are probed at once (one per processor unless a test says).
    void setProbeWorkers(unsigned workers) { m_probeWorkers = workers; }

  signals:
    void workerEnded();

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void work();
    media::ProbeResult probeFile(std::size_t index);
    void addRow(std::size_t index, media::ProbeResult& result, const std::string& outputFolder,
                const std::string& extension);
    void showFirstRunning();
    void onTimer();
    void onWorkerEnded();

    convert::ISourceList& m_list;
    const std::vector<std::string> m_paths;
    std::thread m_worker;
    QTimer m_timer;
    bool m_started = false;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_progress{0};
    unsigned m_probeWorkers = media::probeWorkers();

    mutable std::mutex m_mutex; // guards the files being probed and the texts below
    std::set<std::size_t> m_running;
    std::string m_statusText;
    std::string m_failures;
    std::string m_unreadableNames;

    PathLabel* m_status = nullptr;
    QProgressBar* m_bar = nullptr;
};

} // namespace plexavo::gui
