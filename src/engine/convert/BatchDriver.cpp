#include "engine/convert/BatchDriver.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
#include "engine/convert/ResumeQuery.h"
#include "engine/convert/SourceList.h"
#include "engine/i18n/ResourceText.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/DebugLog.h"
#include "engine/platform/Files.h"
#include "engine/settings/ConversionSettings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace plexavo::convert {

using i18n::loadResString;
using media::kOutputSuffix;
using media::kStatusDone;
using media::kStatusError;
using media::kStatusReady;
using media::kStatusSkip;
using media::kStatusWaiting;
using media::SourceItem;
using platform::ensureFolder;
using platform::fileExists;
using platform::folderExists;
using platform::writeLog;
using settings::ConversionSettings;
using settings::kTargetCaptions;
using settings::kTargetDv;
using settings::kTargetDvd;
using settings::kTargetFormatCount;
using settings::kTargetH264;
using settings::kTargetMpeg4;
using settings::kTargetSvcd;
using settings::kTargetVcd;
using settings::TargetExtensions;

namespace {

constexpr unsigned kStrStep = 61215;
constexpr unsigned kStrSourceGone = 62005;
constexpr unsigned kStrFolderNotMade = 62006;
constexpr unsigned kStrEmptyPart = 62007;
constexpr unsigned kStrNoOptionText = 62008;
// The step of a continued file: the instant it goes on from.
constexpr unsigned kStrContinueStep = 62080;

void logPlain(const std::string& text) {
    writeLog("%s", text.c_str());
}

} // namespace

BatchDriver::BatchDriver(ISourceList& list, EncodeJob& job, UiCall onUi)
    : m_list(list), m_job(job), m_onUi(std::move(onUi)) {}

int BatchDriver::overallPercent(int current, int index, int count) {
    if (count <= 0)
        return 0;
    const int overall = static_cast<int>((current + index * 100.0) / count);
    return std::max(overall, 0); // before the first row the index is -1
}

bool BatchDriver::hasOptionText(int targetFormat) {
    switch (targetFormat) {
    case kTargetMpeg4:
    case kTargetH264:
    case kTargetDvd:
    case kTargetVcd:
    case kTargetSvcd:
    case kTargetDv:
        return true;
    default:
        return false;
    }
}

void BatchDriver::skipCurrent() {
    m_skipRow = m_currentIndex.load();
    m_job.stopRequested = true;
}

void BatchDriver::cancelAll() {
    m_cancelAll = true;
    m_skipRow = m_currentIndex.load();
    m_job.stopRequested = true;
}

void BatchDriver::waitFinished() {
    std::unique_lock lock(m_mutex);
    m_finishedChanged.wait(lock, [this] { return m_finished.load(); });
}

std::string BatchDriver::stepText() const {
    std::lock_guard lock(m_mutex);
    if (m_continueRow < 0)
        return m_stepText;
    // The core names the exact instant (a key frame at or before what the
    // file held) once it has begun.
    const double said = m_job.continuedFrom();
    char from[32];
    std::snprintf(from, sizeof from, "%.1f", said >= 0 ? said : m_continueFrom);
    return loadResString(kStrContinueStep, m_continueRow + 1, m_itemCount.load(),
                         m_continueSource.c_str(), from, m_currentOutputPath.c_str());
}

std::string BatchDriver::currentOutputPath() const {
    std::lock_guard lock(m_mutex);
    return m_currentOutputPath;
}

std::string BatchDriver::failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures;
}

std::string BatchDriver::failureReport() const {
    std::lock_guard lock(m_mutex);
    return m_failureReport;
}

void BatchDriver::setTexts(const std::string& step, const std::string& output) {
    std::lock_guard lock(m_mutex);
    m_stepText = step;
    m_currentOutputPath = output;
    m_continueRow = -1;
}

void BatchDriver::setContinueStep(int row, const std::string& source, const std::string& output,
                                  double from) {
    m_job.clearContinuedFrom(); // the last row's instant is not this one's
    std::lock_guard lock(m_mutex);
    m_currentOutputPath = output;
    m_continueRow = row;
    m_continueSource = source;
    m_continueFrom = from;
}

struct BatchDriver::Snapshot {
    bool present = false;
    std::string path;
    std::string title;
    std::uint32_t startSeconds = 0;
    std::uint32_t endSeconds = 0;
    SourcePart part;
    // What the row holds from earlier batches.
    bool converted = false;
    int status = kStatusReady;
    std::string output;
    double keptSeconds = 0;
};

struct BatchDriver::Outcome {
    int result = 0;
    bool skippedBeforeRun = false;
    bool stopped = false; // the core stopped on request and kept its file
    std::string reason;   // in the user's language, for the report
    std::string logText;  // for the debug log, whose texts stay English
};

void BatchDriver::run() {
    int count = 0;
    const Batch batch = prepare(count);
    m_itemCount = count;
    planRows(count, batch);
    for (int row = 0; row < count && !m_cancelAll; ++row) {
        if (!convertRow(row, batch))
            break;
        m_rowsEnded = row + 1;
    }
    m_job.resume = false;
    // A cancel that arrives once the last row has ended undoes nothing.
    m_completed = m_rowsEnded.load() == count;

    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_finishedChanged.notify_all();
    if (onFinished)
        onFinished();
}

BatchDriver::Batch BatchDriver::prepare(int& count) {
    ConversionSettings settings;
    m_onUi([&] {
        count = m_list.rowCount();
        settings = m_list.settings();
    });
    Batch batch;
    if (count > 0) {
        ensureFolder(settings.outputPath);
        if (!folderExists(settings.outputPath))
            writeLog("Can't create the output folder %s.", settings.outputPath.c_str());
        batch.options = buildOptionText(settings);
        // The size rule may have changed the frame size: the panel shows it.
        const FrameSize size = equalizedFrameSize(settings);
        if (size.width != settings.width || size.height != settings.height) {
            settings.width = size.width;
            settings.height = size.height;
            m_onUi([&] { m_list.showFrameSize(size.width, size.height); });
        }
    }
    batch.folder = settings.outputPath;
    batch.targetFormat = settings.targetFormat;
    batch.extension = TargetExtensions[static_cast<std::size_t>(
        std::clamp(settings.targetFormat, 0, static_cast<int>(kTargetFormatCount) - 1))];
    return batch;
}

std::vector<double> BatchDriver::plannedSeconds() const {
    std::vector<double> seconds;
    if (!m_planned)
        return seconds;
    for (const RowPlan& plan : m_plan)
        seconds.push_back(plan.leftSeconds);
    return seconds;
}

BatchDriver::RowPlan BatchDriver::planRow(const Snapshot& snap, const Batch& batch) const {
    RowPlan plan;
    plan.leftSeconds = snap.part.expectedSeconds();
    if (!snap.present || snap.endSeconds == snap.startSeconds || !hasOptionText(batch.targetFormat))
        return plan;
    // Convert has marked every row Waiting: a converted row is known by its flag.
    const bool done = snap.converted && snap.keptSeconds <= 0;
    if (done) {
        plan.passOver = fileExists(snap.output);
        return plan;
    }
    // The row's own kept file first, then what an earlier run of this title
    // may have left in the folder (a list built anew after a crash).
    std::vector<std::string> candidates;
    if (snap.keptSeconds > 0 && fileExists(snap.output))
        candidates.push_back(snap.output);
    for (const std::string& path : earlierOutputs(batch.folder, snap.title, batch.extension))
        if (path != snap.output || candidates.empty())
            candidates.push_back(path);
    const KeptOutput kept =
        findKeptOutput(candidates, snap.path, snap.title, batch.options, snap.part);
    if (!kept.keptPath.empty()) {
        plan.keptPath = kept.keptPath;
        plan.keptSeconds = kept.answer.keptSeconds;
        plan.leftSeconds = std::max(snap.part.expectedSeconds() - kept.answer.keptSeconds, 0.0);
    }
    return plan;
}

void BatchDriver::planRows(int count, const Batch& batch) {
    std::vector<RowPlan> plans;
    std::vector<double> wholeSeconds;
    int continuable = 0;
    for (int row = 0; row < count && !m_cancelAll; ++row) {
        Snapshot snap;
        m_onUi([&] {
            const SourceItem* item = m_list.itemAt(m_list.rowTag(row));
            if (!item)
                return;
            snap.present = true;
            snap.path = item->path;
            snap.title = item->title;
            snap.startSeconds = item->startSeconds;
            snap.endSeconds = item->endSeconds;
            snap.part = partOf(*item);
            snap.converted = item->converted;
            snap.status = item->status;
            snap.output = item->outputFilePath();
            snap.keptSeconds = item->keptSeconds;
        });
        plans.push_back(planRow(snap, batch));
        wholeSeconds.push_back(snap.part.expectedSeconds());
        continuable += plans.back().keptPath.empty() ? 0 : 1;
    }
    const bool continueThem =
        continuable > 0 && !m_cancelAll && askContinue && askContinue(continuable);
    if (continuable > 0)
        writeLog("%d stopped file(s) can be continued; %s.", continuable,
                 continueThem ? "they are continued" : "every file is converted anew");
    for (std::size_t i = 0; i < plans.size(); ++i) {
        if (!continueThem)
            plans[i] = RowPlan{false, {}, 0, wholeSeconds[i]}; // every row from the start
        else if (plans[i].passOver)
            plans[i].leftSeconds = 0;
    }
    plans.resize(static_cast<std::size_t>(count));
    m_plan = std::move(plans);
    m_planned = true;
}

bool BatchDriver::convertRow(int row, const Batch& batch) {
    const Snapshot snap = beginRow(row);
    if (!snap.present) {
        writeLog("Row %d has no item; passed over.", row);
        return true;
    }
    const RowPlan& plan = m_plan[static_cast<std::size_t>(row)];
    if (plan.passOver) {
        // Converted in the batch that stopped: its file stays as it is.
        writeLog("%s was converted already; passed over.", snap.path.c_str());
        m_onUi([&] {
            if (SourceItem* item = m_list.itemAt(m_list.rowTag(row)))
                item->status = kStatusDone;
            m_list.refreshRow(row);
        });
        return true;
    }

    // The folder is made again before every row: it may have been removed
    // (or its disk unmounted) while the batch ran.
    std::string folderError;
    if (!folderExists(batch.folder)) {
        errno = 0;
        ensureFolder(batch.folder);
        if (!folderExists(batch.folder)) {
            const int err = errno != 0 ? errno : ENOENT;
            writeLog("Can't create the output folder %s.", batch.folder.c_str());
            folderError =
                loadResString(kStrFolderNotMade, batch.folder.c_str(), std::strerror(err));
        }
    }
    const std::string output = outputFor(row, snap, batch, plan);
    const Outcome outcome = runRow(row, snap, output, batch, plan, folderError);
    if (outcome.result < 0)
        noteFailure(snap, outcome);
    if (m_cancelAll) {
        endRow(row, snap, outcome); // the kept file is noted; the window marks the status
        return false;
    }
    endRow(row, snap, outcome);
    return true;
}

BatchDriver::Snapshot BatchDriver::beginRow(int row) {
    Snapshot snap;
    // The row becomes current on the window's thread, where Skip is clicked:
    // a click is then always for the row that runs (or is about to run),
    // never a late one for the row before landing on this one. Its bar
    // starts at 0 in the same step, so no tick shows the last row's 100 here.
    m_onUi([&] {
        m_job.percent = 0;
        m_currentIndex = row;
        m_skipRow = -1;
        SourceItem* item = m_list.itemAt(m_list.rowTag(row));
        if (!item)
            return;
        item->status = kStatusWaiting;
        snap.present = true;
        snap.path = item->path;
        snap.title = item->title;
        snap.startSeconds = item->startSeconds;
        snap.endSeconds = item->endSeconds;
        snap.part = partOf(*item);
    });
    return snap;
}

std::string BatchDriver::outputFor(int row, const Snapshot& snap, const Batch& batch,
                                   const RowPlan& plan) {
    // A continued row keeps its kept file's name. Any other is named here,
    // off the window's thread (it looks at the disk), on a scratch item;
    // files written earlier in this batch count.
    SourceItem named;
    named.title = snap.title;
    if (plan.keptPath.empty()) {
        named.assignOutputName(batch.folder, batch.extension, kOutputSuffix);
    } else {
        const auto slash = plan.keptPath.rfind('/');
        const std::string file = plan.keptPath.substr(slash + 1);
        const auto dot = file.rfind('.');
        named.outputFolder = plan.keptPath.substr(0, slash + 1);
        named.outputName = file.substr(0, dot);
        named.outputExtension = dot == std::string::npos ? "" : file.substr(dot + 1);
    }
    m_onUi([&] {
        if (SourceItem* item = m_list.itemAt(m_list.rowTag(row))) {
            item->outputFolder = named.outputFolder;
            item->outputName = named.outputName;
            item->outputExtension = named.outputExtension;
        }
        m_list.refreshRow(row);
    });

    const std::string output = named.outputFilePath();
    if (plan.keptPath.empty()) {
        writeLog("Start convert %s to %s", snap.path.c_str(), output.c_str());
        setTexts(
            loadResString(kStrStep, row + 1, m_itemCount.load(), snap.path.c_str(), output.c_str()),
            output);
    } else {
        writeLog("Continue converting %s into %s, which holds %.1f s", snap.path.c_str(),
                 output.c_str(), plan.keptSeconds);
        setContinueStep(row, snap.path, output, plan.keptSeconds);
    }
    return output;
}

BatchDriver::Outcome BatchDriver::runRow(int row, const Snapshot& snap, const std::string& output,
                                         const Batch& batch, const RowPlan& plan,
                                         const std::string& folderError) {
    Outcome outcome;
    m_job.duration = 0;
    if (snap.endSeconds == snap.startSeconds) {
        outcome.result = kEmptyPart;
        outcome.reason = loadResString(kStrEmptyPart);
        outcome.logText = "The selected part is empty (start equals end).";
        return outcome;
    }
    if (!hasOptionText(batch.targetFormat)) {
        outcome.result = kNoOptionText;
        const char* caption = kTargetCaptions[static_cast<std::size_t>(
            std::clamp(batch.targetFormat, 0, kTargetFormatCount - 1))];
        outcome.reason = loadResString(kStrNoOptionText, caption);
        outcome.logText = std::string("Nothing converts to the target format ") + caption +
                          ": it has no option text.";
        return outcome;
    }
    if (m_cancelAll || m_skipRow == row) {
        outcome.skippedBeforeRun = true; // nothing written
        return outcome;
    }
    m_job.resume = !plan.keptPath.empty();
    outcome.result = m_job.run(snap.path, output, snap.title, batch.options, snap.part);
    outcome.stopped = m_job.outcome() == EncodeJob::Outcome::Stopped;
    if (outcome.result < 0) {
        // What the engine saw of the core is certain, and so is a file
        // kept short because its source ended early; past that, what it
        // sees of the files says it plainer than the core could.
        const auto kind = m_job.outcome();
        const bool coreFault = kind == EncodeJob::Outcome::NotStarted ||
                               kind == EncodeJob::Outcome::Killed ||
                               kind == EncodeJob::Outcome::Incomplete;
        outcome.reason = coreFault                ? m_job.failureReason()
                         : !fileExists(snap.path) ? loadResString(kStrSourceGone, snap.path.c_str())
                         : !folderError.empty()   ? folderError
                                                  : m_job.failureReason();
        outcome.logText = m_job.errorText().empty()
                              ? std::string("The encoder core could not start or did not finish.")
                              : m_job.errorText();
    }
    const std::string& written = m_job.writtenPath();
    if (!written.empty() && written != output)
        showWrittenName(row, written);
    return outcome;
}

void BatchDriver::showWrittenName(int row, const std::string& written) {
    // Another program took the name meanwhile (or changed the kept file): the
    // row shows the name the core actually wrote.
    writeLog("The output was written as %s", written.c_str());
    const auto slash = written.rfind('/');
    const std::string file = written.substr(slash == std::string::npos ? 0 : slash + 1);
    const auto dot = file.rfind('.');
    m_onUi([&] {
        if (SourceItem* item = m_list.itemAt(m_list.rowTag(row))) {
            item->outputFolder = written.substr(0, slash == std::string::npos ? 0 : slash + 1);
            item->outputName = file.substr(0, dot);
            item->outputExtension = dot == std::string::npos ? "" : file.substr(dot + 1);
        }
        m_list.refreshRow(row);
    });
}

void BatchDriver::noteFailure(const Snapshot& snap, const Outcome& outcome) {
    m_anyFailed = true;
    {
        std::lock_guard lock(m_mutex);
        m_failures += "\n" + snap.path;
        m_failureReport += "\n" + snap.path + "\n    " + outcome.reason;
    }
    logPlain("Converting " + snap.path + " is failed.");
    logPlain(outcome.logText);
}

void BatchDriver::endRow(int row, const Snapshot& snap, const Outcome& outcome) {
    // A skip that reached the job stopped it. One that came in the instant
    // between the look above and the job's start was cleared by the job, and
    // the file was finished: that row is Done.
    const bool skipped = outcome.skippedBeforeRun || (m_skipRow == row && m_job.stopRequested);
    const int status = outcome.result < 0 ? kStatusError : skipped ? kStatusSkip : kStatusDone;
    // A stopped file that was kept can be continued by a later batch.
    const bool kept = outcome.stopped && !m_job.writtenPath().empty();
    const double keptSeconds = m_job.secondsWritten();
    const double wholeSeconds = snap.part.expectedSeconds();
    m_onUi([&] {
        SourceItem* item = m_list.itemAt(m_list.rowTag(row));
        if (item && kept) {
            item->keptSeconds = std::max(keptSeconds, 0.0);
            item->keptOfSeconds = wholeSeconds;
        } else if (item && status == kStatusDone && !outcome.stopped) {
            item->keptSeconds = 0;
            item->keptOfSeconds = 0;
        }
        if (item && !m_cancelAll) {
            item->status = status;
            if (status == kStatusDone)
                item->converted = true;
        }
        m_list.refreshRow(row);
    });
}

// ---- the estimate line ----

namespace {
double lengthAt(const std::vector<double>& lengths, int i) {
    if (i < 0 || i >= static_cast<int>(lengths.size()))
        return 0.0;
    return std::max(lengths[static_cast<std::size_t>(i)], 0.0);
}
} // namespace

void BatchEstimate::start(std::uint64_t nowMs, std::vector<std::int64_t> lengths) {
    *this = BatchEstimate{};
    m_lengths.assign(lengths.begin(), lengths.end());
    m_startMs = nowMs;
    m_nowMs = nowMs;
}

void BatchEstimate::setLengths(std::uint64_t nowMs, const std::vector<double>& seconds) {
    m_lengths = seconds;
    m_startMs = std::max(nowMs, m_startMs);
    m_nowMs = std::max(m_nowMs, m_startMs);
}

void BatchEstimate::update(std::uint64_t nowMs, int index, int percent) {
    m_nowMs = std::max(nowMs, m_startMs);
    if (index != m_index) {
        // Rows passed over between two looks ended at once (failures): no media.
        if (m_index >= 0)
            m_finishedMedia += lengthAt(m_lengths, m_index) * m_percent / 100.0;
        m_index = index;
        m_percent = 0;
        m_skipped = false;
    }
    if (!m_skipped)
        m_percent = std::clamp(percent, 0, 100);
}

void BatchEstimate::noteSkip() {
    m_skipped = true;
}

double BatchEstimate::doneMedia() const {
    return m_finishedMedia + lengthAt(m_lengths, m_index) * m_percent / 100.0;
}

bool BatchEstimate::ready() const {
    return doneMedia() > 0.0 && m_nowMs > m_startMs;
}

std::int64_t BatchEstimate::elapsedSeconds() const {
    return static_cast<std::int64_t>((m_nowMs - m_startMs) / 1000);
}

double BatchEstimate::speed() const {
    if (m_nowMs <= m_startMs)
        return 0.0;
    return doneMedia() / (static_cast<double>(m_nowMs - m_startMs) / 1000.0);
}

std::int64_t BatchEstimate::leftSeconds() const {
    const double rate = speed();
    if (rate <= 0.0)
        return 0;
    double remaining = lengthAt(m_lengths, m_index) * (100 - m_percent) / 100.0;
    for (int j = std::max(m_index + 1, 0); j < static_cast<int>(m_lengths.size()); ++j)
        remaining += lengthAt(m_lengths, j);
    // Rounded up: "about 0:00:00" while work remains would read as done.
    return static_cast<std::int64_t>(std::ceil(remaining / rate));
}

std::string formatClock(std::int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

} // namespace plexavo::convert
