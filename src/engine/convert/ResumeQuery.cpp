#include "engine/convert/ResumeQuery.h"

#include "engine/convert/EncodingOptions.h"
#include "engine/media/ProbeInOrder.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/ChildProcess.h"
#include "engine/platform/CoreLocator.h"
#include "engine/platform/DebugLog.h"
#include "engine/platform/Files.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace plexavo::convert {

using media::kStatusDone;
using media::kStatusReady;
using media::kStatusSkip;
using media::kStatusWaiting;
using media::SavedList;
using media::SourceItem;
using platform::ChildProcess;
using platform::fileExists;
using platform::writeLog;

namespace {

// The core reads the kept file's index and the source's head to answer: a
// slow disk may take a while, a core that takes longer than this is stuck.
constexpr int kAnswerLimitMs = 60000;
constexpr std::size_t kAnswerMax = 16384;
constexpr char kOutputSuffix[] = "cvt";

// Everything the child prints until it closes its output or the limit runs out.
std::string readAnswer(ChildProcess& child) {
    std::string text;
    const std::uint64_t start = platform::monotonicMs();
    char buffer[4096];
    for (;;) {
        const std::uint64_t spent = platform::monotonicMs() - start;
        if (spent >= kAnswerLimitMs)
            break;
        pollfd pfd{child.stdoutRead, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(kAnswerLimitMs - spent));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = read(child.stdoutRead, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (text.size() < kAnswerMax)
            text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool isRegular(const std::string& path) {
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

ResumeAnswer parseResumeAnswer(const std::string& output, int exitCode) {
    ResumeAnswer answer;
    std::string_view rest(output);
    while (!rest.empty()) {
        const auto end = std::min(rest.find_first_of("\r\n"), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.starts_with(kResumablePrefix)) {
            const std::string figures(line.substr(std::strlen(kResumablePrefix)));
            char* after = nullptr;
            const double kept = std::strtod(figures.c_str(), &after);
            if (after == figures.c_str() || !(kept >= 0))
                continue;
            const std::string_view tail(after);
            const double total = tail.starts_with(" of ") ? std::strtod(after + 4, nullptr) : 0.0;
            answer.resumable = exitCode == 0;
            answer.keptSeconds = kept;
            answer.totalSeconds = total > 0 ? total : 0.0;
        } else if (line.starts_with(kNotResumablePrefix)) {
            answer.reason.assign(line.substr(std::strlen(kNotResumablePrefix)));
        } else if (line.starts_with("Error: ") && answer.reason.empty()) {
            answer.reason.assign(line.substr(7));
        }
    }
    if (!answer.resumable && answer.reason.empty())
        answer.reason =
            "the encoder core gave no answer (exit status " + std::to_string(exitCode) + ")";
    if (!answer.resumable) {
        answer.keptSeconds = 0;
        answer.totalSeconds = 0;
    }
    return answer;
}

std::vector<std::string> canResumeArguments(const std::string& sourcePath,
                                            const std::string& keptPath, const std::string& title,
                                            const std::string& options, const SourcePart& part) {
    // The conversion's own arguments, so that the core compares the very
    // settings it would continue with.
    auto args = EncodeJob::buildArguments(sourcePath, keptPath, title, options, part.startSeconds,
                                          part.coreLength(), true);
    args[args.size() - 2] = kCanResumeOption;
    return args;
}

ResumeAnswer askCanResume(const std::string& sourcePath, const std::string& keptPath,
                          const std::string& title, const std::string& options,
                          const SourcePart& part) {
    ChildProcess child;
    child.arguments = canResumeArguments(sourcePath, keptPath, title, options, part);
    child.flags = ChildProcess::PipeStdout | ChildProcess::OwnProcessGroup;
    child.stopPolicy.silenceMs = 3000;
    child.stopPolicy.limitMs = 3000;
    if (child.start() != 0) {
        ResumeAnswer answer;
        answer.reason = std::string("the encoder core could not be started: ") +
                        std::strerror(child.startError());
        return answer;
    }
    const std::string output = readAnswer(child);
    child.waitForExit(3000);
    child.terminate();
    const int exitCode = child.hasExited() && child.exitStatusKnown() ? child.exitCode() : -1;
    child.close();
    ResumeAnswer answer = parseResumeAnswer(output, exitCode);
    writeLog("Can %s be continued? %s", keptPath.c_str(),
             answer.resumable ? "yes" : ("no: " + answer.reason).c_str());
    return answer;
}

std::vector<std::string> earlierOutputs(const std::string& folder, const std::string& title,
                                        const std::string& extension) {
    std::vector<std::string> found;
    SourceItem named;
    named.title = title;
    // The names are given out in this order; each one taken by a file is one
    // an earlier run may have written.
    named.assignOutputName(folder, extension, kOutputSuffix, [&found](const std::string& path) {
        if (!fileExists(path))
            return false;
        found.push_back(path);
        return true;
    });
    return found;
}

KeptOutput findKeptOutput(const std::vector<std::string>& candidates, const std::string& sourcePath,
                          const std::string& title, const std::string& options,
                          const SourcePart& part) {
    for (const std::string& candidate : candidates) {
        ResumeAnswer answer = askCanResume(sourcePath, candidate, title, options, part);
        if (answer.resumable)
            return {candidate, std::move(answer)};
    }
    return {};
}

RestoreSummary settleRestoredRows(SavedList& list, const KeptQuestion& ask) {
    const std::string options = buildOptionText(list.settings);
    const KeptQuestion question = ask ? ask : [&options](const SourceItem& row) {
        return askCanResume(row.path, row.outputFilePath(), row.title, options, partOf(row));
    };
    RestoreSummary summary;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < list.rows.size(); ++i) {
        SourceItem& row = list.rows[i];
        row.sourceMissing = !fileExists(row.path);
        summary.missing += row.sourceMissing ? 1 : 0;
        if (row.status == kStatusDone && row.converted) {
            ++summary.converted;
            continue;
        }
        // Being converted when the program died (its core then stopped and
        // kept the file), or stopped earlier: the core knows what is there.
        const bool mayBeKept = row.status == kStatusWaiting || row.keptSeconds > 0;
        if (mayBeKept && !row.sourceMissing && isRegular(row.outputFilePath()))
            asked.push_back(i);
        row.status = kStatusReady;
        row.keptSeconds = 0;
        row.keptOfSeconds = 0;
    }
    // Each question is a core reading two files: a list of stopped rows is
    // answered in the time of a few, while the window waits for it.
    std::vector<ResumeAnswer> answers(asked.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t k; (k = next++) < asked.size();)
            answers[k] = question(list.rows[asked[k]]);
    };
    {
        std::vector<std::jthread> workers;
        const std::size_t count = std::min<std::size_t>(media::probeWorkers(), asked.size());
        for (std::size_t w = 1; w < count; ++w)
            workers.emplace_back(work);
        work();
    }
    for (std::size_t k = 0; k < asked.size(); ++k) {
        if (!answers[k].resumable)
            continue;
        SourceItem& row = list.rows[asked[k]];
        row.status = kStatusSkip;
        row.keptSeconds = answers[k].keptSeconds;
        row.keptOfSeconds = answers[k].totalSeconds;
        ++summary.stopped;
    }
    summary.ready = static_cast<int>(list.rows.size()) - summary.converted - summary.stopped;
    return summary;
}

} // namespace plexavo::convert
