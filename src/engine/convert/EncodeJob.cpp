#include "engine/convert/EncodeJob.h"

#include "engine/platform/ChildProcess.h"
#include "engine/platform/CoreLocator.h"
#include "engine/platform/Platform.h"
#include "engine/services/DebugLog.h"
#include "engine/services/ResourceText.h"

#include <climits>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace plexavo {

namespace {

// The whole-second fields of the command line are written from their low 32 bits.
std::string seconds32(std::uint64_t value) {
    return std::to_string(static_cast<std::uint32_t>(value));
}

// How long a core whose output has ended may take to exit before it counts as hung.
constexpr int kExitWaitMs = 3000;
// What a stopping core prints is kept (for its error line) up to this much,
// and as much of the end of a run's whole output.
constexpr std::size_t kStopOutputKept = 16384;

// The engine's own failure reasons.
constexpr unsigned kStrCoreMissing = 62000;
constexpr unsigned kStrCoreNotStarted = 62001;
constexpr unsigned kStrCoreKilled = 62002;
constexpr unsigned kStrCoreNoReason = 62003;
constexpr unsigned kStrCoreSignal = 62004;

const char* killReason(StopOutcome outcome) {
    switch (outcome) {
    case StopOutcome::KilledSilent:
        return "it showed no sign of life";
    case StopOutcome::KilledLimit:
        return "it was still running at the time limit";
    case StopOutcome::KilledOnRequest:
        return "a second request said so";
    default:
        return "";
    }
}

bool wasKilled(StopOutcome outcome) {
    return outcome == StopOutcome::KilledSilent || outcome == StopOutcome::KilledLimit ||
           outcome == StopOutcome::KilledOnRequest;
}

} // namespace

std::string CEncodeJob::formatCommandLine(const std::string& sourcePath,
                                          const std::string& outputFilePath,
                                          const std::string& title, const std::string& options,
                                          std::uint64_t startSeconds, std::uint64_t length) {
    std::string line;
    line.reserve(256 + sourcePath.size() + outputFilePath.size() + title.size() + options.size());
    line += core::kProgramName;
    line += core::kAccessCode;
    line += " -i \"" + sourcePath + "\" -title \"" + title + "\" " + options;
    line += " -ss " + seconds32(startSeconds) + " -t " + seconds32(length);
    line += std::string(" ") + contract::kClaimOption + " \"" + outputFilePath + "\"";
    return line;
}

std::vector<std::string>
CEncodeJob::buildArguments(const std::string& sourcePath, const std::string& outputFilePath,
                           const std::string& title, const std::string& options,
                           std::uint64_t startSeconds, std::uint64_t length) {
    std::vector<std::string> args{core::programPath(), core::kAccessCode, "-i",
                                  sourcePath,          "-title",          title};
    // The option text is built from list values and digit edits only, so
    // blanks separate its words.
    std::string_view rest(options);
    while (!rest.empty()) {
        const auto begin = rest.find_first_not_of(' ');
        if (begin == std::string_view::npos)
            break;
        rest.remove_prefix(begin);
        const auto end = std::min(rest.find(' '), rest.size());
        args.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    args.insert(args.end(), {"-ss", seconds32(startSeconds), "-t", seconds32(length),
                             contract::kClaimOption, outputFilePath});
    return args;
}

int CEncodeJob::run(const std::string& sourcePath, const std::string& outputFilePath,
                    const std::string& title, const std::string& options,
                    std::uint64_t startSeconds, std::uint64_t endSeconds) {
    duration = static_cast<std::int64_t>(endSeconds - startSeconds);
    percent = 0;
    writtenKB = -1;
    stopRequested = false;
    killRequested = false;
    m_errorText.clear();
    m_failureReason.clear();
    m_writtenPath.clear();
    m_secondsWritten = 0;
    m_tail.clear();

    const auto length = endSeconds - startSeconds;
    CChildProcess child;
    child.commandLine =
        formatCommandLine(sourcePath, outputFilePath, title, options, startSeconds, length);
    child.arguments =
        buildArguments(sourcePath, outputFilePath, title, options, startSeconds, length);
    child.flags = CChildProcess::PipeStdout | CChildProcess::OwnProcessGroup;
    // The core stops (its file finished, playable) when this program dies.
    child.environment = {std::string(contract::kParentPidEnv) + "=" + std::to_string(getpid())};
    WriteLog("%s", child.commandLine.c_str());

    // A core asked to stop may need long to close a large file: it is killed
    // only without a sign of life, past the limit, or on a second request.
    std::string stopOutput;
    child.stopPolicy.silenceMs = stopSilenceMs;
    child.stopPolicy.limitMs = stopLimitMs;
    child.stopPolicy.watchedFile = outputFilePath;
    child.stopPolicy.killRequest = killAll ? killAll : &killRequested;
    child.stopPolicy.abortSignal = contract::kAbortSignal;
    child.stopPolicy.onOutput = [&stopOutput](const char* text, std::size_t n) {
        stopOutput.append(text, n);
        if (stopOutput.size() > kStopOutputKept)
            stopOutput.erase(0, stopOutput.size() - kStopOutputKept);
    };

    if (stopAll && stopAll->load()) {
        // Stopped before its core began: nothing was written.
        m_outcome = Outcome::Stopped;
        return 0;
    }
    const bool started = child.start() == 0;
    if (started)
        pumpOutput(child);

    const bool stopped = stopAsked();
    if (started && !stopped)
        child.waitForExit(kExitWaitMs);
    child.terminate();
    const StopOutcome stop = child.stopOutcome();
    const bool exitedAlone = child.hasExited() && !child.endedByTerminate();
    const bool statusKnown = child.exitStatusKnown();
    const int exitCode = child.exitCode();
    child.close();
    noteErrorLine(stopOutput);
    readRunTail(m_tail + stopOutput);

    if (!started) {
        const std::string program = core::programPath();
        WriteLog("Failed to start the encoder core: %s", program.c_str());
        m_failureReason = access(program.c_str(), F_OK) != 0
                              ? LoadResString(kStrCoreMissing, program.c_str())
                              : LoadResString(kStrCoreNotStarted, program.c_str());
        m_outcome = Outcome::NotStarted;
        return -1;
    }
    if (wasKilled(stop)) {
        // A killed core never gave its partial file a final name: nothing to
        // remove here (the next conversion into the folder clears it away),
        // and the output name may be another program's finished file.
        WriteLog("The encoder core was killed %s: %s.",
                 stopped ? "after the stop request" : "after its output ended", killReason(stop));
        m_writtenPath.clear();
        m_failureReason = LoadResString(kStrCoreKilled);
        m_outcome = Outcome::Killed;
        return -3;
    }
    if (stopped && exitedAlone && statusKnown && exitCode == contract::kExitDone) {
        // The request came as the core finished: the file is complete.
        WriteLog("The encoder core finished before the stop request took effect.");
        m_outcome = Outcome::Finished;
        return 0;
    }
    if (stopped) {
        m_outcome = Outcome::Stopped;
        return 0;
    }
    if (!exitedAlone) {
        WriteLog("The encoder core did not exit after its output ended.");
        m_failureReason = reasonOf(exitCode, statusKnown);
        m_outcome = Outcome::Failed;
        return -2;
    }
    if (!statusKnown) {
        // Reaped by someone else (a SIGCHLD set to be ignored, another
        // waitpid): only the core's own words tell how it ended.
        WriteLog("The encoder core's exit status is unknown; %s.",
                 m_errorText.empty() ? "it reported no error" : "it reported an error");
        m_outcome = m_errorText.empty() ? Outcome::Finished : Outcome::Failed;
        if (!m_errorText.empty())
            m_failureReason = reasonOf(exitCode, statusKnown);
        return m_errorText.empty() ? 0 : -2;
    }
    if (exitCode != contract::kExitDone) {
        WriteLog("The encoder core failed with exit code %d.", exitCode);
        m_failureReason = reasonOf(exitCode, statusKnown);
        m_outcome = Outcome::Failed;
        return -2;
    }
    m_outcome = Outcome::Finished;
    return 0;
}

std::uint64_t CEncodeJob::now() const {
    return clock ? clock() : platform::monotonicMs();
}

void CEncodeJob::resetPump(std::uint64_t now) {
    m_fill = 0;
    m_last = now;
    m_first = true;
}

bool CEncodeJob::afterRead(std::size_t n, std::uint64_t now) {
    keepTail(m_buffer + m_fill, n);
    m_fill += n;
    if (now - m_last < lookIntervalMs) {
        if (m_fill >= kBufferSize - 1)
            m_fill = 0; // too much at once: keep only what arrives from here on
        return false;
    }
    m_buffer[m_fill] = '\0';
    if (m_first && m_fill > 0) {
        WriteLog("%s", m_buffer);
        m_first = false;
    }
    parseProgress(m_buffer, m_fill);
    noteErrorLine({m_buffer, m_fill});
    m_fill = 0;
    m_last = now;
    return stopAsked();
}

bool CEncodeJob::pumpText(const char* text, std::size_t length, std::uint64_t now) {
    do {
        const std::size_t n = std::min(length, kBufferSize - 1 - m_fill);
        std::memcpy(m_buffer + m_fill, text, n);
        text += n;
        length -= n;
        if (afterRead(n, now))
            return true;
    } while (length > 0);
    return false;
}

void CEncodeJob::pumpOutput(CChildProcess& child) {
    child.setPriority(1);
    resetPump(now());

    for (;;) {
        // Wait no longer than the rest of this look's window, so that a stop is
        // honoured at the next look even while the core is silent.
        const std::uint64_t elapsed = now() - m_last;
        const int wait = elapsed >= lookIntervalMs ? 0 : static_cast<int>(lookIntervalMs - elapsed);
        pollfd pfd{child.stdoutRead, POLLIN, 0};
        const int ready = poll(&pfd, 1, wait);
        if (ready < 0 && errno != EINTR)
            break;
        ssize_t n = 0;
        if (ready > 0) {
            n = read(child.stdoutRead, m_buffer + m_fill, kBufferSize - 1 - m_fill);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // The core has exited; its last words may hold the reason of a failure.
                noteErrorLine({m_buffer, m_fill});
                break;
            }
        }
        if (afterRead(static_cast<std::size_t>(n), now()))
            break;
    }
    percent = 100;
}

int CEncodeJob::parseProgress(const char* text, std::size_t length) {
    const std::string_view all(text, length);
    const auto lineFeed = all.rfind('\n');
    const std::string_view tail =
        lineFeed == std::string_view::npos ? all : all.substr(lineFeed + 1);
    const std::string kept(tail.substr(0, 127));

    // The newest value wins: a chunk may hold several updates, and the first
    // would show progress a whole update late. A value cut off by the end of
    // the chunk (no blank after it yet) is used only when there is no other.
    std::string_view chosen;
    bool chosenComplete = false;
    for (auto at = tail.find("time="); at != std::string_view::npos;
         at = tail.find("time=", at + 5)) {
        std::string_view value = tail.substr(at + 5);
        const auto begin = value.find_first_not_of(' ');
        if (begin == std::string_view::npos)
            continue;
        value.remove_prefix(begin);
        const auto end = value.find(' ');
        const bool complete = end != std::string_view::npos;
        if (complete || !chosenComplete) {
            chosen = value.substr(0, std::min(end, value.size()));
            chosenComplete = complete;
        }
    }
    if (const auto at = tail.rfind("size="); at != std::string_view::npos) {
        const std::string value(tail.substr(at + 5, 24));
        const char* begin = value.c_str();
        while (*begin == ' ')
            ++begin;
        char* end = nullptr;
        const long long kb = std::strtoll(begin, &end, 10);
        if (end != begin && kb >= 0)
            writtenKB = kb;
    }
    if (chosen.empty())
        return -1;

    if (duration <= 0)
        return 0;
    const std::string token(chosen);
    const std::int64_t seconds = std::strtoll(token.c_str(), nullptr, 10);
    // Saturate rather than overflow: a wild time says "nearly done" or "not begun".
    std::int64_t p;
    if (seconds > LLONG_MAX / 100)
        p = 100;
    else if (seconds < 0)
        p = 0;
    else
        p = seconds * 100 / duration;
    const int current = percent.load();
    if (p > current && current % 10 == 0)
        WriteLog("%s", kept.c_str());
    percent = p >= 100 ? 99 : static_cast<int>(p);
    return 0;
}

void CEncodeJob::keepTail(const char* text, std::size_t length) {
    m_tail.append(text, length);
    if (m_tail.size() > 2 * kStopOutputKept)
        m_tail.erase(0, m_tail.size() - kStopOutputKept);
}

void CEncodeJob::readRunTail(const std::string& text) {
    const std::string_view output(contract::kOutputPrefix);
    const std::string_view note(contract::kNotePrefix);
    std::string_view rest(text);
    while (!rest.empty()) {
        const auto end = std::min(rest.find_first_of("\r\n"), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.substr(0, output.size()) == output) {
            m_writtenPath.assign(line.substr(output.size()));
        } else if (line.substr(0, note.size()) == note) {
            WriteLog("%s", std::string(line).c_str());
        } else if (const auto at = line.rfind("time="); at != std::string_view::npos) {
            const std::string value(line.substr(at + 5, 32));
            char* stop = nullptr;
            const double seconds = std::strtod(value.c_str(), &stop);
            if (stop != value.c_str() && seconds >= 0)
                m_secondsWritten = seconds;
        }
    }
}

std::string CEncodeJob::reasonOf(int exitCode, bool statusKnown) const {
    const std::string_view prefix(contract::kErrorPrefix);
    if (!m_errorText.empty())
        return m_errorText.substr(m_errorText.compare(0, prefix.size(), prefix) == 0 ? prefix.size()
                                                                                     : 0);
    if (statusKnown && exitCode > 128)
        return LoadResString(kStrCoreSignal, exitCode - 128);
    return LoadResString(kStrCoreNoReason, exitCode);
}

void CEncodeJob::noteErrorLine(std::string_view text) {
    // The last line that starts with the prefix.
    const std::string_view prefix(contract::kErrorPrefix);
    std::size_t found = std::string_view::npos;
    for (auto p = text.find(prefix); p != std::string_view::npos; p = text.find(prefix, p + 1))
        if (p == 0 || text[p - 1] == '\n' || text[p - 1] == '\r')
            found = p;
    if (found == std::string_view::npos)
        return;
    const std::string_view line = text.substr(found);
    m_errorText.assign(line.substr(0, line.find_first_of("\r\n\0")));
}

} // namespace plexavo
