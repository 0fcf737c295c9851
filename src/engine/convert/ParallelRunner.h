// Several conversions at once, for the command line: a plan that names
// every output before anything runs, and a runner that keeps up to N
// encoder cores busy and reports each file in whole lines.
#pragma once

#include "engine/media/SourceItem.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plexavo::convert {

class EncodeJob;
struct ResumeAnswer;

struct ConversionTask {
    std::string source;
    std::string title;
    std::string folder; // ends with '/'
    std::string output; // the planned name; the core may take the next numbered one
    std::uint32_t startSeconds = 0;
    std::uint32_t endSeconds = 0;
    // The source's length, whole seconds and exactly as probed (0: unknown):
    // a part that ends there is converted to the source's real end.
    std::uint32_t sourceSeconds = 0;
    double exactSeconds = 0;
    // A run with --resume: the output is a stopped file to continue (resume),
    // or a file an earlier run finished, left as it is (skip, and why).
    bool resume = false;
    double keptSeconds = 0;
    bool skip = false;
    std::string skipReason{};
};

// Names every output in list order, as converting one after the other
// would: a name planned for an earlier file counts as taken, and so does
// every file already in the folder. Looks at the disk, changes nothing.
std::vector<ConversionTask> planConversions(const std::vector<media::SourceItem>& items,
                                            const std::string& folder,
                                            const std::string& extension);

// The same files and folder run again to finish what a stopped run left:
// each task takes the first output an earlier run left for its title (in
// the order names are given out, none taken twice) that the core can
// continue, and continues it; failing that, an output an earlier run left
// is taken as finished and the task is skipped; a task with no earlier
// output converts as planned. ask is the core's question (askCanResume).
using ResumeQuestion =
    std::function<ResumeAnswer(const ConversionTask& task, const std::string& keptPath)>;
void planResume(std::vector<ConversionTask>& plan, const std::string& extension,
                const std::string& options, const ResumeQuestion& ask = {});

struct ConversionEvent {
    enum class Kind : std::uint8_t { Started, Written, Failed, Stopped, Skipped };
    Kind kind = Kind::Started;
    std::size_t index = 0; // in the plan, from 0
    std::size_t count = 0; // files in the plan
    const ConversionTask* task = nullptr;
    std::string written; // Written, Stopped: the file the core finished; empty if none
    std::string
        reason; // Failed (for a source that ended early: the file kept, and how much it holds)
    double secondsWritten = 0;
    double continuedFrom = -1; // Written, Stopped: the instant a continued file went on from
};

// The event as one line (no line feed): control characters in names and
// reasons show as '?', so that a name can never break a line in two.
std::string progressLine(const ConversionEvent& event);

// text with each control character (a line feed, a tab, DEL) shown as '?',
// as every name and reason the command line prints is shown.
std::string oneLine(std::string text);

struct RunSummary {
    std::size_t written = 0;
    std::size_t failed = 0;
    std::size_t stopped = 0;
    std::size_t notStarted = 0;
    bool interrupted = false; // requestStop() came before the run ended
    std::size_t skipped = 0;  // finished by an earlier run (--resume)
};

// "6 written, 1 failed": the counts that are not zero.
std::string summaryLine(const RunSummary& summary);

// How many conversions run at once: requested, or one per processor for 0;
// never more than there are files, never fewer than one.
unsigned effectiveJobs(unsigned requested, std::size_t files);

class ParallelRunner {
  public:
    ParallelRunner(std::vector<ConversionTask> tasks, std::string options, unsigned jobs);
    ~ParallelRunner();
    ParallelRunner(const ParallelRunner&) = delete;
    ParallelRunner& operator=(const ParallelRunner&) = delete;

    // Receives every event, one call at a time (under one mutex), in the
    // order they happen: a file's Started before its end.
    std::function<void(const ConversionEvent&)> onEvent;
    // Called on each job before the run (tests shorten its clocks).
    std::function<void(EncodeJob&)> prepareJob;

    // Converts the plan, up to the job count at once, each conversion on a
    // thread of its own that lives until its core has ended (the core's
    // parent-death signal follows the thread that started it). Returns when
    // every started conversion has ended.
    RunSummary run();

    // Stops every running conversion as a stop (the files are finished,
    // playable and kept) and starts no new one, however often it is asked.
    // Safe in a signal handler: it only sets lock-free flags, which the jobs
    // look at.
    void requestStop() noexcept { m_stop.store(true); }
    // The explicit abort (the user's second Ctrl+C): the cores are sent the
    // abort and drop their unfinished files; one that does not go is killed,
    // its partial file left for the next conversion into the folder to clear
    // away. Safe in a signal handler too.
    void requestAbort() noexcept {
        m_stop.store(true);
        m_kill.store(true);
    }
    static_assert(std::atomic<bool>::is_always_lock_free);

    unsigned jobs() const { return m_jobs; }

  private:
    void work(EncodeJob& job);
    ConversionEvent convert(EncodeJob& job, std::size_t index);
    void emit(const ConversionEvent& event); // under m_mutex

    std::vector<ConversionTask> m_tasks;
    std::string m_options;
    unsigned m_jobs;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_kill{false};

    std::mutex m_mutex; // guards what follows and the calls of onEvent
    std::size_t m_next = 0;
    RunSummary m_summary;
};

} // namespace plexavo::convert
