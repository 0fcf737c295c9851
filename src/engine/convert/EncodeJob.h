// One conversion: runs the encoder core on one item, pumps its output and
// turns the "time=" field into a percentage.
#pragma once

#include "PlexcoreContract.h"
#include "engine/platform/ChildProcess.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plexavo::platform {
class ChildProcess;
}
namespace plexavo::media {
class SourceItem;
}

namespace plexavo::convert {

// The part of a source one conversion covers, and how the core is asked for it.
struct SourcePart {
    // The part as the list holds it, in whole seconds (the preview marks whole seconds).
    std::uint64_t startSeconds = 0;
    std::uint64_t endSeconds = 0;
    // The source's length in the list's whole seconds and as the probe read
    // it exactly; 0 when unknown.
    std::uint64_t sourceSeconds = 0;
    double exactSeconds = 0;

    // The part ends where the source ends (nothing marked, or a part marked
    // up to the end): the core converts to the source's real end, which lies
    // up to a second past the whole seconds the list shows.
    bool toEnd() const { return sourceSeconds > 0 && endSeconds >= sourceSeconds; }
    // The core's "-t": 0 (to the end) or the marked length.
    std::uint64_t coreLength() const { return toEnd() ? 0 : endSeconds - startSeconds; }
    // The seconds of output to expect, for the percentages: exact for a part
    // that runs to a known end.
    double expectedSeconds() const;
};

// The part of item to convert: what is marked, and the source's own length.
SourcePart partOf(const media::SourceItem& item);

class EncodeJob {
  public:
    // Buffer rules of the output pump.
    static constexpr std::size_t kBufferSize = contract::kProbeReadSize; // same buffer as the probe
    static constexpr std::uint32_t kLookIntervalMs = contract::kProgressIntervalMs;

    // How the last run ended.
    enum class Outcome : std::uint8_t {
        Finished,   // the core exited on its own and reported success
        Stopped,    // stopped on request; the core closed its file
        NotStarted, // the core could not be started
        Failed,     // the core reported a failure, or its file is not there
        Killed,     // the core had to be ended; no file was written under the output name
        Incomplete, // the source ended early: the file is kept, but holds less than the part
    };

    // 0..99 while the core runs, 100 once its output has ended.
    std::atomic<int> percent{0};
    // Kilobytes the running conversion has written, from the newest "size="
    // (its file has no final name until it is finished); -1 before the first.
    std::atomic<std::int64_t> writtenKB{-1};
    // Length of the part being converted, whole seconds.
    std::int64_t duration = 0;
    // The same length exactly, when known (a part that runs to the source's
    // end ends at a fraction of a second): percentages are measured against
    // it. 0: against duration.
    double exactDuration = 0;
    // Set from the window thread to end the running conversion early. The core
    // is asked to stop and given time to finish its file.
    std::atomic<bool> stopRequested{false};
    // Set from the window thread when a stopping core must not be waited for
    // any longer (the second, explicit request: the program is closing). Set
    // alone, it stops the conversion and kills the core at once.
    std::atomic<bool> killRequested{false};
    // A stop shared by several jobs (every conversion of a command line that
    // runs some at once), set from any thread or a signal handler. Unlike
    // stopRequested, run() never clears it: a stop that lands just as a job
    // begins still stops that job.
    const std::atomic<bool>* stopAll = nullptr;
    // Its second request, shared the same way: the cores are killed at once.
    // When given, a stopping run watches it in place of killRequested.
    const std::atomic<bool>* killAll = nullptr;
    // The next runs continue the kept file they are given as the output (a
    // stopped conversion's, which the core checks) instead of writing anew.
    bool resume = false;

    // The pump's clock in milliseconds (monotonic unless a test sets it).
    std::function<std::uint64_t()> clock;
    // How often the pump looks at the output.
    std::uint32_t lookIntervalMs = kLookIntervalMs;
    // A core asked to stop is killed after this long without output or
    // growth of its file, or this long after the request.
    int stopSilenceMs = 10000;
    int stopLimitMs = 120000;

    virtual ~EncodeJob() = default;

    // Runs one conversion to its end on the calling thread. 0 when the core
    // finished (and its file is there, a regular file under the name it
    // gave) or was stopped on request; negative when it could not be started
    // (-1), failed or wrote less than the part because the source ended early
    // (-2: Failed, Incomplete), or had to be ended (-3: nothing was written
    // under the output name; when the stop was asked for, the item still
    // counts as skipped).
    int run(const std::string& sourcePath, const std::string& outputFilePath,
            const std::string& title, const std::string& options, const SourcePart& part);
    Outcome outcome() const { return m_outcome; }

    // The read loop of a started child.
    void pumpOutput(platform::ChildProcess& child);
    // The pump's rule apart from any pipe: text arriving at time now, in
    // pieces as the pipe would deliver them. True when a look saw a stop request.
    bool pumpText(const char* text, std::size_t length, std::uint64_t now);
    // Starts the pump's gathering afresh, as a run does.
    void resetPump(std::uint64_t now);

    // One parse of a chunk of output: 0 when a "time=" value was taken.
    int parseProgress(const char* text, std::size_t length);

    // The last "Error: ..." line the core printed during the last run (no line break).
    const std::string& errorText() const { return m_errorText; }
    // Why the last run failed, in the current language where the words are
    // the engine's own: the core's reason, or what the engine saw (the core
    // missing, not starting, killed, or ending without a word). Empty on success.
    const std::string& failureReason() const { return m_failureReason; }
    // The file the last run actually wrote, as the core named it once it was
    // finished (a taken name makes it pick the next numbered one); empty when
    // it wrote none. Only ever a regular file that is there (a link or a
    // device planted at the name does not count).
    const std::string& writtenPath() const { return m_writtenPath; }
    // Seconds of output the last run wrote, from its newest "time=".
    double secondsWritten() const { return m_secondsWritten; }
    // The instant of the output a continued run went on from, as the core
    // said it; negative when the last run continued nothing. Its percentages
    // count only the rest.
    double continuedFrom() const { return m_continuedFrom.load(); }
    void clearContinuedFrom() { m_continuedFrom = -1; }

    // The command line of one conversion as logged, and the argv that runs
    // it; a length of 0 converts to the end of the source.
    static std::string formatCommandLine(const std::string& sourcePath,
                                         const std::string& outputFilePath,
                                         const std::string& title, const std::string& options,
                                         std::uint64_t startSeconds, std::uint64_t length,
                                         bool resume = false);
    static std::vector<std::string>
    buildArguments(const std::string& sourcePath, const std::string& outputFilePath,
                   const std::string& title, const std::string& options, std::uint64_t startSeconds,
                   std::uint64_t length, bool resume = false);

  private:
    // How the core of a run ended, as the engine saw it.
    struct RunEnd {
        bool started = false;
        bool stopped = false; // a stop was asked for
        platform::StopOutcome stop = platform::StopOutcome::NotStopped;
        bool exitedAlone = false;
        bool statusKnown = true;
        int exitCode = 0;
        int startError = 0;
    };
    // The steps of run(): its state afresh, the child's set-up, running it to
    // its end, and the verdict by how it ended.
    void resetForRun(const SourcePart& part);
    void prepareChild(platform::ChildProcess& child, const std::string& outputFilePath,
                      std::string& stopOutput);
    RunEnd runChild(platform::ChildProcess& child, const std::string& stopOutput,
                    const std::string& outputFilePath);
    int endFailed(const std::string& reason, Outcome outcome, int result);
    int endStopped(const RunEnd& end, const std::string& outputFilePath);
    int endExited(const RunEnd& end, const std::string& outputFilePath, const SourcePart& part);
    // Notes the core's "Continue: from" line.
    void noteContinueLine(std::string_view text);

    std::uint64_t now() const;
    bool stopAsked() const {
        return stopRequested || killRequested || (stopAll && stopAll->load()) ||
               (killAll && killAll->load());
    }
    // One read of n bytes into the buffer has been made at time now.
    bool afterRead(std::size_t n, std::uint64_t now);
    void noteErrorLine(std::string_view text);
    void keepTail(const char* text, std::size_t length);
    // Reads the lines of the whole run once it has ended: the name written,
    // the seconds written, the core's notes.
    void readRunTail(const std::string& text);
    std::string reasonOf(int exitCode, bool statusKnown) const;
    // The ends of a run whose core exited on its own with its file done (or
    // done in part, the source having ended early).
    // The file the run left when it is a regular file there; else the run
    // failed (the core's claim in the log) and "" comes back.
    std::string fileKept(const std::string& outputFilePath, const char* claim);
    int endFinished(const std::string& outputFilePath);
    int endIncomplete(const std::string& outputFilePath, const SourcePart& part);

    std::string m_errorText;
    std::string m_failureReason;
    std::string m_writtenPath;
    double m_secondsWritten = 0;
    std::atomic<double> m_continuedFrom{-1};
    std::string m_tail; // the end of everything the core printed this run
    Outcome m_outcome = Outcome::Finished;
    char m_buffer[kBufferSize] = {};
    std::size_t m_fill = 0;
    std::uint64_t m_last = 0;
    bool m_first = true;
};

} // namespace plexavo::convert
