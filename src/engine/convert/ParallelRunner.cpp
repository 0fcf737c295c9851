#include "engine/convert/ParallelRunner.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/ResumeQuery.h"
#include "engine/i18n/ResourceText.h"
#include "engine/platform/DebugLog.h"
#include "engine/platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <system_error>
#include <thread>

namespace plexavo::convert {

using i18n::loadResString;
using media::SourceItem;
using platform::fileExists;
using platform::folderExists;
using platform::writeLog;

namespace {

constexpr unsigned kStrSourceGone = 62005;
constexpr unsigned kStrFolderNotMade = 62006;
constexpr unsigned kStrStopped = 62009;
constexpr unsigned kStrStoppedEmpty = 62010;

std::string decimal(double value, const char* format = "%.1f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

std::vector<ConversionTask> planConversions(const std::vector<SourceItem>& items,
                                            const std::string& folder,
                                            const std::string& extension) {
    std::set<std::string> planned;
    const auto taken = [&planned](const std::string& path) {
        return planned.count(path) > 0 || fileExists(path);
    };
    std::vector<ConversionTask> plan;
    plan.reserve(items.size());
    for (const SourceItem& item : items) {
        SourceItem named;
        named.title = item.title;
        named.assignOutputName(folder, extension, media::kOutputSuffix, taken);
        const SourcePart part = partOf(item);
        ConversionTask task{.source = item.path,
                            .title = item.title,
                            .folder = named.outputFolder,
                            .output = named.outputFilePath(),
                            .startSeconds = item.startSeconds,
                            .endSeconds = item.endSeconds,
                            .sourceSeconds = static_cast<std::uint32_t>(part.sourceSeconds),
                            .exactSeconds = part.exactSeconds};
        planned.insert(task.output);
        plan.push_back(std::move(task));
    }
    return plan;
}

void planResume(std::vector<ConversionTask>& plan, const std::string& extension,
                const std::string& options, const ResumeQuestion& ask) {
    const ResumeQuestion question =
        ask ? ask : [&options](const ConversionTask& task, const std::string& kept) {
            const SourcePart part{task.startSeconds, task.endSeconds, task.sourceSeconds,
                                  task.exactSeconds};
            return askCanResume(task.source, kept, task.title, options, part);
        };
    std::set<std::string> claimed;
    for (ConversionTask& task : plan) {
        std::vector<std::string> earlier;
        for (const std::string& path : earlierOutputs(task.folder, task.title, extension))
            if (claimed.count(path) == 0)
                earlier.push_back(path);
        if (earlier.empty())
            continue; // nothing of it was written: converted as planned
        std::string reason;
        for (const std::string& path : earlier) {
            const ResumeAnswer answer = question(task, path);
            if (answer.resumable) {
                task.output = path;
                task.resume = true;
                task.keptSeconds = answer.keptSeconds;
                claimed.insert(path);
                break;
            }
            if (reason.empty())
                reason = answer.reason;
        }
        if (task.resume)
            continue;
        // Written by the earlier run and not to be continued: finished.
        task.output = earlier.front();
        task.skip = true;
        task.skipReason = reason;
        claimed.insert(earlier.front());
    }
}

std::string progressLine(const ConversionEvent& event) {
    char tag[64];
    std::snprintf(tag, sizeof tag, "[%zu/%zu] ", event.index + 1, event.count);
    const ConversionTask& task = *event.task;
    switch (event.kind) {
    case ConversionEvent::Kind::Started:
        if (task.resume)
            return tag + oneLine("Continuing " + task.source + " -> " + task.output + " from " +
                                 decimal(task.keptSeconds) + " s");
        return tag + oneLine("Converting " + task.source + " -> " + task.output);
    case ConversionEvent::Kind::Written:
        if (event.continuedFrom >= 0)
            return tag + oneLine("written: " + event.written + " (continued from " +
                                 decimal(event.continuedFrom, "%.2f") + " s)");
        return tag + oneLine("written: " + event.written);
    case ConversionEvent::Kind::Skipped:
        return tag + oneLine("skipped: " + task.output + " is finished" +
                             (task.skipReason.empty() ? "" : " (" + task.skipReason + ")"));
    case ConversionEvent::Kind::Failed:
        return tag + oneLine("failed: " + task.source + ": " + event.reason);
    case ConversionEvent::Kind::Stopped:
        if (event.written.empty())
            return tag + oneLine(loadResString(kStrStoppedEmpty));
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", event.secondsWritten);
        return tag + oneLine(loadResString(kStrStopped, event.written.c_str(), seconds));
    }
    return tag;
}

std::string summaryLine(const RunSummary& summary) {
    // Only the counts that are not zero: a run where nothing failed has no
    // "failed" in its output for a script to trip over.
    const std::pair<std::size_t, const char*> counts[] = {{summary.written, "written"},
                                                          {summary.failed, "failed"},
                                                          {summary.stopped, "stopped"},
                                                          {summary.skipped, "skipped"},
                                                          {summary.notStarted, "not started"}};
    std::string line;
    for (const auto& [count, what] : counts)
        if (count > 0)
            line += (line.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    return line.empty() ? "nothing converted" : line;
}

unsigned effectiveJobs(unsigned requested, std::size_t files) {
    unsigned jobs = requested;
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());
    if (files < jobs)
        jobs = static_cast<unsigned>(std::max<std::size_t>(files, 1));
    return jobs;
}

ParallelRunner::ParallelRunner(std::vector<ConversionTask> tasks, std::string options,
                               unsigned jobs)
    : m_tasks(std::move(tasks)), m_options(std::move(options)),
      m_jobs(effectiveJobs(jobs, m_tasks.size())) {}

ParallelRunner::~ParallelRunner() = default;

void ParallelRunner::emit(const ConversionEvent& event) {
    if (onEvent)
        onEvent(event);
}

RunSummary ParallelRunner::run() {
    {
        std::lock_guard lock(m_mutex);
        m_next = 0;
        m_summary = {};
    }
    std::vector<std::unique_ptr<EncodeJob>> jobs;
    for (unsigned i = 0; i < m_jobs; ++i) {
        jobs.push_back(std::make_unique<EncodeJob>());
        jobs.back()->stopAll = &m_stop;
        jobs.back()->killAll = &m_kill;
        if (prepareJob)
            prepareJob(*jobs.back());
    }
    std::vector<std::thread> threads;
    for (auto& job : jobs) {
        try {
            threads.emplace_back(&ParallelRunner::work, this, std::ref(*job));
        } catch (const std::system_error& e) {
            // Fewer threads only means fewer at once.
            writeLog("A conversion thread could not be started: %s", e.what());
            break;
        }
    }
    if (threads.empty())
        work(*jobs.front()); // this thread lives until the end, so it may start cores too
    for (auto& thread : threads)
        thread.join();

    std::lock_guard lock(m_mutex);
    m_summary.notStarted = m_tasks.size() - m_next;
    m_summary.interrupted = m_stop.load();
    return m_summary;
}

void ParallelRunner::work(EncodeJob& job) {
    for (;;) {
        std::size_t index;
        {
            // Taking a file and saying so happen under one lock with the look
            // at the stop flag: once a stop is seen, no file starts.
            std::lock_guard lock(m_mutex);
            if (m_stop.load() || m_next >= m_tasks.size())
                return;
            index = m_next++;
            ConversionEvent started;
            started.index = index;
            started.count = m_tasks.size();
            started.task = &m_tasks[index];
            if (!m_tasks[index].skip) // a finished file only says it is passed over
                emit(started);
        }
        const ConversionEvent ended = convert(job, index);
        std::lock_guard lock(m_mutex);
        switch (ended.kind) {
        case ConversionEvent::Kind::Written:
            ++m_summary.written;
            break;
        case ConversionEvent::Kind::Skipped:
            ++m_summary.skipped;
            break;
        case ConversionEvent::Kind::Failed:
            ++m_summary.failed;
            break;
        default:
            ++m_summary.stopped;
            break;
        }
        emit(ended);
    }
}

ConversionEvent ParallelRunner::convert(EncodeJob& job, std::size_t index) {
    const ConversionTask& task = m_tasks[index];
    ConversionEvent event;
    event.index = index;
    event.count = m_tasks.size();
    event.task = &task;
    if (task.skip) {
        writeLog("%s is finished already; passed over.", task.output.c_str());
        event.kind = ConversionEvent::Kind::Skipped;
        return event;
    }

    // Made again for every file: the folder may have been removed meanwhile.
    std::string folderError;
    if (!folderExists(task.folder)) {
        errno = 0;
        platform::ensureFolder(task.folder);
        if (!folderExists(task.folder)) {
            const int err = errno != 0 ? errno : ENOENT;
            folderError = loadResString(kStrFolderNotMade, task.folder.c_str(), std::strerror(err));
        }
    }
    if (task.resume)
        writeLog("Continue converting %s into %s, which holds %.1f s", task.source.c_str(),
                 task.output.c_str(), task.keptSeconds);
    else
        writeLog("Start convert %s to %s", task.source.c_str(), task.output.c_str());
    const SourcePart part{task.startSeconds, task.endSeconds, task.sourceSeconds,
                          task.exactSeconds};
    job.resume = task.resume;
    const int result = job.run(task.source, task.output, task.title, m_options, part);
    event.continuedFrom = job.continuedFrom();
    if (result < 0) {
        event.kind = ConversionEvent::Kind::Failed;
        // What the engine sees says it plainer than the core could; a file
        // kept short because its source ended early is named with its figures.
        const bool kept = job.outcome() == EncodeJob::Outcome::Incomplete;
        event.reason = kept ? job.failureReason()
                       : !fileExists(task.source)
                           ? loadResString(kStrSourceGone, task.source.c_str())
                       : !folderError.empty() ? folderError
                                              : job.failureReason();
        writeLog("Converting %s is failed.", task.source.c_str());
        writeLog("%s", event.reason.c_str());
    } else if (job.outcome() == EncodeJob::Outcome::Stopped) {
        event.kind = ConversionEvent::Kind::Stopped;
        event.written = job.writtenPath();
        event.secondsWritten = job.secondsWritten();
    } else {
        event.kind = ConversionEvent::Kind::Written;
        event.written = job.writtenPath(); // the file checked to be there
    }
    return event;
}

} // namespace plexavo::convert
