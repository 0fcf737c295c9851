#include "engine/convert/BatchDriver.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
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

// What the driver needs of a row's item, read on the list's thread.
struct RowSnapshot {
    bool present = false;
    std::string path;
    std::string title;
    std::uint32_t startSeconds = 0;
    std::uint32_t endSeconds = 0;
    SourcePart part;
};

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
    return m_stepText;
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
}

void BatchDriver::run() {
    int count = 0;
    ConversionSettings settings;
    m_onUi([&] {
        count = m_list.rowCount();
        settings = m_list.settings();
    });
    m_itemCount = count;

    std::string options;
    if (count > 0) {
        ensureFolder(settings.outputPath);
        if (!folderExists(settings.outputPath))
            writeLog("Can't create the output folder %s.", settings.outputPath.c_str());
        options = buildOptionText(settings);
        // The size rule may have changed the frame size: the panel shows it.
        const FrameSize size = equalizedFrameSize(settings);
        if (size.width != settings.width || size.height != settings.height) {
            settings.width = size.width;
            settings.height = size.height;
            m_onUi([&] { m_list.showFrameSize(size.width, size.height); });
        }
    }

    const std::string extension = TargetExtensions[static_cast<std::size_t>(
        std::clamp(settings.targetFormat, 0, static_cast<int>(kTargetFormatCount) - 1))];
    for (int row = 0; row < count && !m_cancelAll; ++row) {
        if (!convertRow(row, settings.outputPath, extension, options, settings.targetFormat))
            break;
        m_rowsEnded = row + 1;
    }
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

bool BatchDriver::convertRow(int row, const std::string& folder, const std::string& extension,
                             const std::string& options, int targetFormat) {
    RowSnapshot snap;
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
        snap = {true, item->path, item->title, item->startSeconds, item->endSeconds, partOf(*item)};
    });
    if (!snap.present) {
        writeLog("Row %d has no item; passed over.", row);
        return true;
    }

    // The folder is made again before every row: it may have been removed
    // (or its disk unmounted) while the batch ran.
    std::string folderError;
    if (!folderExists(folder)) {
        errno = 0;
        ensureFolder(folder);
        if (!folderExists(folder)) {
            const int err = errno != 0 ? errno : ENOENT;
            writeLog("Can't create the output folder %s.", folder.c_str());
            folderError = loadResString(kStrFolderNotMade, folder.c_str(), std::strerror(err));
        }
    }

    // Named here, off the window's thread (it looks at the disk), on a
    // scratch item; files written earlier in this batch count.
    SourceItem named;
    named.title = snap.title;
    named.assignOutputName(folder, extension, kOutputSuffix);
    m_onUi([&] {
        if (SourceItem* item = m_list.itemAt(m_list.rowTag(row))) {
            item->outputFolder = named.outputFolder;
            item->outputName = named.outputName;
            item->outputExtension = named.outputExtension;
        }
        m_list.refreshRow(row);
    });

    const std::string output = named.outputFilePath();
    writeLog("Start convert %s to %s", snap.path.c_str(), output.c_str());
    setTexts(
        loadResString(kStrStep, row + 1, m_itemCount.load(), snap.path.c_str(), output.c_str()),
        output);

    m_job.duration = 0;
    int result = 0;
    bool skippedBeforeRun = false;
    std::string reason;  // in the user's language, for the report
    std::string logText; // for the debug log, whose texts stay English
    if (snap.endSeconds == snap.startSeconds) {
        result = kEmptyPart;
        reason = loadResString(kStrEmptyPart);
        logText = "The selected part is empty (start equals end).";
    } else if (!hasOptionText(targetFormat)) {
        result = kNoOptionText;
        const char* caption = kTargetCaptions[static_cast<std::size_t>(
            std::clamp(targetFormat, 0, kTargetFormatCount - 1))];
        reason = loadResString(kStrNoOptionText, caption);
        logText = std::string("Nothing converts to the target format ") + caption +
                  ": it has no option text.";
    } else if (m_cancelAll || m_skipRow == row) {
        skippedBeforeRun = true; // nothing written
    } else {
        result = m_job.run(snap.path, output, snap.title, options, snap.part);
        if (result < 0) {
            // What the engine saw of the core is certain, and so is a file
            // kept short because its source ended early; past that, what it
            // sees of the files says it plainer than the core could.
            const auto outcome = m_job.outcome();
            const bool coreFault = outcome == EncodeJob::Outcome::NotStarted ||
                                   outcome == EncodeJob::Outcome::Killed ||
                                   outcome == EncodeJob::Outcome::Incomplete;
            reason = coreFault                ? m_job.failureReason()
                     : !fileExists(snap.path) ? loadResString(kStrSourceGone, snap.path.c_str())
                     : !folderError.empty()   ? folderError
                                              : m_job.failureReason();
            logText = m_job.errorText().empty()
                          ? std::string("The encoder core could not start or did not finish.")
                          : m_job.errorText();
        }
        const std::string& written = m_job.writtenPath();
        if (!written.empty() && written != output) {
            // Another program took the name meanwhile: the row shows the name
            // the core actually wrote.
            writeLog("The output was written as %s", written.c_str());
            const auto slash = written.rfind('/');
            const std::string file = written.substr(slash == std::string::npos ? 0 : slash + 1);
            const auto dot = file.rfind('.');
            m_onUi([&] {
                if (SourceItem* item = m_list.itemAt(m_list.rowTag(row))) {
                    item->outputFolder =
                        written.substr(0, slash == std::string::npos ? 0 : slash + 1);
                    item->outputName = file.substr(0, dot);
                    item->outputExtension = dot == std::string::npos ? "" : file.substr(dot + 1);
                }
                m_list.refreshRow(row);
            });
        }
    }
    // A skip that reached the job stopped it. One that came in the instant
    // between the look above and the job's start was cleared by the job, and
    // the file was finished: that row is Done.
    const bool skipped = skippedBeforeRun || (m_skipRow == row && m_job.stopRequested);

    if (result < 0) {
        m_anyFailed = true;
        {
            std::lock_guard lock(m_mutex);
            m_failures += "\n" + snap.path;
            m_failureReport += "\n" + snap.path + "\n    " + reason;
        }
        logPlain("Converting " + snap.path + " is failed.");
        logPlain(logText);
    }

    if (m_cancelAll)
        return false; // the window marks this row and the rest as skipped
    const int status = result < 0 ? kStatusError : skipped ? kStatusSkip : kStatusDone;
    m_onUi([&] {
        if (SourceItem* item = m_list.itemAt(m_list.rowTag(row))) {
            item->status = status;
            if (status == kStatusDone)
                item->converted = true;
        }
        m_list.refreshRow(row);
    });
    return true;
}

// ---- the estimate line ----

namespace {
double lengthAt(const std::vector<std::int64_t>& lengths, int i) {
    if (i < 0 || i >= static_cast<int>(lengths.size()))
        return 0.0;
    return static_cast<double>(std::max<std::int64_t>(lengths[static_cast<std::size_t>(i)], 0));
}
} // namespace

void BatchEstimate::start(std::uint64_t nowMs, std::vector<std::int64_t> lengths) {
    *this = BatchEstimate{};
    m_lengths = std::move(lengths);
    m_startMs = nowMs;
    m_nowMs = nowMs;
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
