#include "engine/convert/EncodeJob.h"

#include "engine/convert/ResumeQuery.h"
#include "engine/i18n/ResourceText.h"
#include "engine/media/ProbeReport.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/ChildProcess.h"
#include "engine/platform/CoreLocator.h"
#include "engine/platform/DebugLog.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::convert {

using i18n::loadResString;
using media::coreStartFailure;
using media::SourceItem;
using platform::ChildProcess;
using platform::StopOutcome;
using platform::writeLog;

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
constexpr unsigned kStrCoreKilled = 62002;
constexpr unsigned kStrCoreNoReason = 62003;
constexpr unsigned kStrCoreSignal = 62004;
constexpr unsigned kStrIncomplete = 62011;
constexpr unsigned kStrFileNotThere = 62012;
constexpr unsigned kStrEndUnknown = 62013;

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

// A file the user can open under that name: a link or a device planted
// there is not what the core wrote.
bool isRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The core's "Output: " line shows a control character of a name as '?', as
// in its error lines: a name that is not there as printed is looked for
// among the regular files of the asked output's folder, the one whose name
// shows the same. The printed name when none (or more than one) does.
std::string fileNamed(const std::string& printed, const std::string& asked) {
    struct stat st {};
    if (printed.empty() || lstat(printed.c_str(), &st) == 0 ||
        printed.find('?') == std::string::npos)
        return printed;
    const auto shown = [](std::string text) {
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = '?';
        return text;
    };
    const std::string folder = asked.substr(0, asked.rfind('/') + 1);
    if (folder.empty() || printed.compare(0, folder.size(), shown(folder)) != 0 ||
        printed.find('/', folder.size()) != std::string::npos)
        return printed;
    const std::string name = printed.substr(folder.size());
    std::string found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string candidate = entry->d_name;
            if (shown(candidate) != name || !isRegularFile(folder + candidate))
                continue;
            if (!found.empty()) {
                found.clear(); // two files fit: neither is certain
                break;
            }
            found = folder + candidate;
        }
        closedir(dir);
    }
    return found.empty() ? printed : found;
}

// The two figures of the core's line for a source that ended early (in
// contract::kIncompleteFormat), as the core printed them; false when reason
// is not that line.
bool incompleteFigures(std::string_view reason, std::string& held, std::string& promised) {
    const std::string_view format(contract::kIncompleteFormat);
    const auto first = format.find("%.1f");
    const auto second = format.find("%.1f", first + 4);
    const std::string_view head = format.substr(0, first);
    const std::string_view middle = format.substr(first + 4, second - first - 4);
    const std::string_view tail = format.substr(second + 4);
    if (reason.substr(0, head.size()) != head)
        return false;
    reason.remove_prefix(head.size());
    const auto between = reason.find(middle);
    if (between == std::string_view::npos || between == 0)
        return false;
    const std::string_view rest = reason.substr(between + middle.size());
    if (rest.size() <= tail.size() || rest.substr(rest.size() - tail.size()) != tail)
        return false;
    held.assign(reason.substr(0, between));
    promised.assign(rest.substr(0, rest.size() - tail.size()));
    const auto isFigure = [](const std::string& text) {
        return text.find_first_not_of("0123456789.") == std::string::npos;
    };
    return isFigure(held) && isFigure(promised);
}

std::string oneDecimal(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

} // namespace

double SourcePart::expectedSeconds() const {
    if (toEnd() && exactSeconds > static_cast<double>(startSeconds))
        return exactSeconds - static_cast<double>(startSeconds);
    return endSeconds > startSeconds ? static_cast<double>(endSeconds - startSeconds) : 0.0;
}

SourcePart partOf(const SourceItem& item) {
    SourcePart part;
    part.startSeconds = item.startSeconds;
    part.endSeconds = item.endSeconds;
    part.sourceSeconds =
        item.durationSeconds > 0 ? static_cast<std::uint64_t>(item.durationSeconds) : 0;
    part.exactSeconds = item.report.durationSeconds.value_or(0.0);
    return part;
}

std::string EncodeJob::formatCommandLine(const std::string& sourcePath,
                                         const std::string& outputFilePath,
                                         const std::string& title, const std::string& options,
                                         std::uint64_t startSeconds, std::uint64_t length,
                                         bool resume) {
    std::string line;
    line.reserve(256 + sourcePath.size() + outputFilePath.size() + title.size() + options.size());
    line += contract::kProgramName;
    line += contract::kAccessCode;
    line += " -i \"" + sourcePath + "\" -title \"" + title + "\" " + options;
    line += " -ss " + seconds32(startSeconds) + " -t " + seconds32(length);
    line += std::string(" ") + (resume ? kResumeOption : contract::kClaimOption) + " \"" +
            outputFilePath + "\"";
    return line;
}

std::vector<std::string>
EncodeJob::buildArguments(const std::string& sourcePath, const std::string& outputFilePath,
                          const std::string& title, const std::string& options,
                          std::uint64_t startSeconds, std::uint64_t length, bool resume) {
    std::vector<std::string> args{
        platform::corePath(), contract::kAccessCode, "-i", sourcePath, "-title", title};
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
    // A continued file keeps its name: the core names it on -resume, and
    // takes a numbered one itself when the kept file changed meanwhile.
    args.insert(args.end(), {"-ss", seconds32(startSeconds), "-t", seconds32(length),
                             resume ? kResumeOption : contract::kClaimOption, outputFilePath});
    return args;
}

int EncodeJob::run(const std::string& sourcePath, const std::string& outputFilePath,
                   const std::string& title, const std::string& options, const SourcePart& part) {
    resetForRun(part);
    const auto length = part.coreLength();
    ChildProcess child;
    child.commandLine = formatCommandLine(sourcePath, outputFilePath, title, options,
                                          part.startSeconds, length, resume);
    child.arguments = buildArguments(sourcePath, outputFilePath, title, options, part.startSeconds,
                                     length, resume);
    writeLog("%s", child.commandLine.c_str());
    std::string stopOutput;
    prepareChild(child, outputFilePath, stopOutput);

    if (stopAll && stopAll->load()) {
        // Stopped before its core began: nothing was written.
        m_outcome = Outcome::Stopped;
        return 0;
    }
    const RunEnd end = runChild(child, stopOutput, outputFilePath);
    if (!end.started) {
        const std::string program = platform::corePath();
        writeLog("Failed to start the encoder core: %s (%s)", program.c_str(),
                 std::strerror(end.startError));
        m_failureReason = coreStartFailure(program, end.startError);
        m_outcome = Outcome::NotStarted;
        return -1;
    }
    if (wasKilled(end.stop)) {
        // A killed core never gave its partial file a final name: nothing to
        // remove here (the core removes it when it is asked to abort; past
        // that, the next conversion into the folder clears it away), and the
        // output name may be another program's finished file.
        writeLog("The encoder core was killed %s: %s.",
                 end.stopped ? "after the stop request" : "after its output ended",
                 killReason(end.stop));
        return endFailed(loadResString(kStrCoreKilled), Outcome::Killed, -3);
    }
    if (end.stopped)
        return endStopped(end, outputFilePath);
    if (!end.exitedAlone) {
        writeLog("The encoder core did not exit after its output ended.");
        return endFailed(reasonOf(end.exitCode, end.statusKnown), Outcome::Failed, -2);
    }
    return endExited(end, outputFilePath, part);
}

void EncodeJob::resetForRun(const SourcePart& part) {
    duration = static_cast<std::int64_t>(part.endSeconds - part.startSeconds);
    exactDuration = part.toEnd() ? part.expectedSeconds() : 0.0;
    percent = 0;
    writtenKB = -1;
    stopRequested = false;
    killRequested = false;
    m_errorText.clear();
    m_failureReason.clear();
    m_writtenPath.clear();
    m_secondsWritten = 0;
    m_continuedFrom = -1;
    m_tail.clear();
}

void EncodeJob::prepareChild(ChildProcess& child, const std::string& outputFilePath,
                             std::string& stopOutput) {
    child.flags = ChildProcess::PipeStdout | ChildProcess::OwnProcessGroup;
    // The core stops (its file finished, playable) when this program dies.
    child.environment = {std::string(contract::kParentPidEnv) + "=" + std::to_string(getpid())};
    // A core asked to stop may need long to close a large file: it is killed
    // only without a sign of life, past the limit, or on a second request.
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
}

EncodeJob::RunEnd EncodeJob::runChild(ChildProcess& child, const std::string& stopOutput,
                                      const std::string& outputFilePath) {
    RunEnd end;
    end.started = child.start() == 0;
    if (end.started)
        pumpOutput(child);
    end.stopped = stopAsked();
    if (end.started && !end.stopped)
        child.waitForExit(kExitWaitMs);
    child.terminate();
    end.stop = child.stopOutcome();
    end.exitedAlone = child.hasExited() && !child.endedByTerminate();
    end.statusKnown = child.exitStatusKnown();
    end.exitCode = child.exitCode();
    end.startError = child.startError();
    child.close();
    noteErrorLine(stopOutput);
    readRunTail(m_tail + stopOutput);
    m_writtenPath = fileNamed(m_writtenPath, outputFilePath);
    return end;
}

int EncodeJob::endFailed(const std::string& reason, Outcome outcome, int result) {
    m_failureReason = reason;
    m_writtenPath.clear();
    m_outcome = outcome;
    return result;
}

int EncodeJob::endStopped(const RunEnd& end, const std::string& outputFilePath) {
    if (end.exitedAlone && end.statusKnown && end.exitCode == contract::kExitDone) {
        // The request came as the core finished: the file is complete.
        writeLog("The encoder core finished before the stop request took effect.");
        return endFinished(outputFilePath);
    }
    // A stopped core names the file it finished; a name that is not its
    // file (nothing there, a link planted at it) is not shown as one.
    if (!m_writtenPath.empty() && !isRegularFile(m_writtenPath)) {
        writeLog("The stopped encoder core named %s, which is not a regular file.",
                 m_writtenPath.c_str());
        m_writtenPath.clear();
    }
    m_outcome = Outcome::Stopped;
    return 0;
}

int EncodeJob::endExited(const RunEnd& end, const std::string& outputFilePath,
                         const SourcePart& part) {
    std::string held, promised;
    const std::string_view reason =
        std::string_view(m_errorText)
            .substr(std::min(m_errorText.size(), std::strlen(contract::kErrorPrefix)));
    const bool incompleteLine = incompleteFigures(reason, held, promised);
    if (end.statusKnown ? end.exitCode == contract::kExitIncomplete
                        : incompleteLine && !m_writtenPath.empty())
        return endIncomplete(outputFilePath, part);
    if (!end.statusKnown) {
        // Reaped by someone else (a SIGCHLD set to be ignored, another
        // waitpid): only the core's own words tell how it ended, and a core
        // that finished its file always names it.
        writeLog("The encoder core's exit status is unknown; %s.",
                 !m_errorText.empty()    ? "it reported an error"
                 : m_writtenPath.empty() ? "it named no finished file"
                                         : "it named its finished file");
        if (!m_errorText.empty())
            return endFailed(reasonOf(end.exitCode, false), Outcome::Failed, -2);
        if (m_writtenPath.empty())
            return endFailed(loadResString(kStrEndUnknown), Outcome::Failed, -2);
        return endFinished(outputFilePath);
    }
    if (end.exitCode != contract::kExitDone) {
        writeLog("The encoder core failed with exit code %d.", end.exitCode);
        return endFailed(reasonOf(end.exitCode, true), Outcome::Failed, -2);
    }
    return endFinished(outputFilePath);
}

std::string EncodeJob::fileKept(const std::string& outputFilePath, const char* claim) {
    // The core names the file it finished; without a name it wrote the one asked for.
    const std::string written = m_writtenPath.empty() ? outputFilePath : m_writtenPath;
    if (isRegularFile(written))
        return written;
    writeLog("The encoder core %s, but %s is not a regular file.", claim, written.c_str());
    m_failureReason = loadResString(kStrFileNotThere, written.c_str());
    m_writtenPath.clear();
    m_outcome = Outcome::Failed;
    return {};
}

int EncodeJob::endFinished(const std::string& outputFilePath) {
    const std::string written = fileKept(outputFilePath, "reported success");
    if (written.empty())
        return -2;
    m_writtenPath = written;
    m_outcome = Outcome::Finished;
    return 0;
}

int EncodeJob::endIncomplete(const std::string& outputFilePath, const SourcePart& part) {
    const std::string written = fileKept(outputFilePath, "kept a file that ended early");
    if (written.empty())
        return -2;
    std::string held, promised;
    const std::string_view reason =
        std::string_view(m_errorText)
            .substr(std::min(m_errorText.size(), std::strlen(contract::kErrorPrefix)));
    if (!incompleteFigures(reason, held, promised)) {
        // The line is not the one agreed on: what the engine saw instead.
        held = oneDecimal(m_secondsWritten);
        promised = oneDecimal(part.expectedSeconds());
    }
    // The file stays (it plays, up to where the source ended), yet the run
    // failed: the user asked for more than it holds.
    writeLog("%s holds %s of %s seconds: the source is damaged", written.c_str(), held.c_str(),
             promised.c_str());
    m_failureReason =
        loadResString(kStrIncomplete, written.c_str(), held.c_str(), promised.c_str());
    m_writtenPath = written;
    m_outcome = Outcome::Incomplete;
    return -2;
}

std::uint64_t EncodeJob::now() const {
    return clock ? clock() : platform::monotonicMs();
}

void EncodeJob::resetPump(std::uint64_t now) {
    m_fill = 0;
    m_last = now;
    m_first = true;
}

bool EncodeJob::afterRead(std::size_t n, std::uint64_t now) {
    keepTail(m_buffer + m_fill, n);
    m_fill += n;
    if (now - m_last < lookIntervalMs) {
        if (m_fill >= kBufferSize - 1)
            m_fill = 0; // too much at once: keep only what arrives from here on
        return false;
    }
    m_buffer[m_fill] = '\0';
    if (m_first && m_fill > 0) {
        writeLog("%s", m_buffer);
        m_first = false;
    }
    noteContinueLine({m_buffer, m_fill});
    parseProgress(m_buffer, m_fill);
    noteErrorLine({m_buffer, m_fill});
    m_fill = 0;
    m_last = now;
    return stopAsked();
}

bool EncodeJob::pumpText(const char* text, std::size_t length, std::uint64_t now) {
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

void EncodeJob::pumpOutput(ChildProcess& child) {
    child.setIdlePriority();
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

int EncodeJob::parseProgress(const char* text, std::size_t length) {
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

    // A continued file reports positions in the whole output: only what is
    // left after the instant it goes on from counts.
    const double from = std::max(m_continuedFrom.load(), 0.0);
    const double partSeconds =
        (exactDuration > 0 ? exactDuration : static_cast<double>(duration)) - from;
    if (!(partSeconds > 0))
        return 0;
    // Decimals count (a part may end at 1.92 s); a value without digits reads as 0.
    double seconds = 0;
    std::from_chars(chosen.data(), chosen.data() + chosen.size(), seconds);
    seconds -= from;
    // Saturate rather than overflow: a wild time says "nearly done" or "not begun".
    std::int64_t p;
    if (!(seconds > 0))
        p = 0;
    else if (seconds >= partSeconds)
        p = 100;
    else
        // (the nudge keeps 0.29 of 1 s from reading as 28 %)
        p = static_cast<std::int64_t>(std::floor(seconds * 100 / partSeconds + 1e-9));
    const int current = percent.load();
    if (p > current && current % 10 == 0)
        writeLog("%s", kept.c_str());
    percent = p >= 100 ? 99 : static_cast<int>(p);
    return 0;
}

void EncodeJob::noteContinueLine(std::string_view text) {
    if (m_continuedFrom.load() >= 0)
        return;
    const std::string_view prefix(kContinuePrefix);
    for (auto at = text.find(prefix); at != std::string_view::npos;
         at = text.find(prefix, at + 1)) {
        if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r')
            continue;
        const std::string value(text.substr(at + prefix.size(), 32));
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (end != value.c_str() && seconds >= 0) {
            m_continuedFrom = seconds;
            writeLog("The encoder core continues the kept file from %.2f s.", seconds);
        }
        return;
    }
}

void EncodeJob::keepTail(const char* text, std::size_t length) {
    m_tail.append(text, length);
    if (m_tail.size() > 2 * kStopOutputKept)
        m_tail.erase(0, m_tail.size() - kStopOutputKept);
}

void EncodeJob::readRunTail(const std::string& text) {
    noteContinueLine(text);
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
            writeLog("%s", std::string(line).c_str());
        } else if (const auto at = line.rfind("time="); at != std::string_view::npos) {
            const std::string value(line.substr(at + 5, 32));
            char* stop = nullptr;
            const double seconds = std::strtod(value.c_str(), &stop);
            if (stop != value.c_str() && seconds >= 0)
                m_secondsWritten = seconds;
        }
    }
}

std::string EncodeJob::reasonOf(int exitCode, bool statusKnown) const {
    const std::string_view prefix(contract::kErrorPrefix);
    if (!m_errorText.empty())
        return m_errorText.substr(m_errorText.compare(0, prefix.size(), prefix) == 0 ? prefix.size()
                                                                                     : 0);
    if (statusKnown && exitCode > 128)
        return loadResString(kStrCoreSignal, exitCode - 128);
    return loadResString(kStrCoreNoReason, exitCode);
}

void EncodeJob::noteErrorLine(std::string_view text) {
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

} // namespace plexavo::convert
