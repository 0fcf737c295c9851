#include "gui/preview/PreviewCommand.h"

#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "gui/preview/PreviewDialog.h"

#include <cstdint>

namespace plexavo::gui {

using convert::formatSeconds;
using media::SourceItem;

namespace {

// How long the core may work on the file again; the window waits meanwhile.
constexpr int kRecheckLimitMs = 5000;

} // namespace

std::string reasonItCannotBeRead(const SourceItem& item) {
    if (!item.changedSinceProbe())
        return {};
    SourceItem fresh;
    media::ProbeLimits limits;
    limits.cpuMs = kRecheckLimitMs;
    limits.stallMs = kRecheckLimitMs;
    if (fresh.probe(item.path, limits) == 0)
        return {};
    return media::probeFailureReason(fresh.report);
}

bool runPreview(QWidget* parent, SourceItem& item) {
    std::int32_t start = static_cast<std::int32_t>(item.startSeconds);
    std::int32_t end = static_cast<std::int32_t>(item.endSeconds);
    {
        PreviewDialog dialog(item.path, start, end, parent);
        dialog.setProbedDuration(item.durationSeconds);
        dialog.setOpenCheck([&item] { return reasonItCannotBeRead(item); });
        dialog.exec(); // the result does not matter: only OK changes the two
        // A length the player could not read gives a slider of 0..0, on
        // which every part (Full too) is empty; the core can read the file,
        // so such a part means the whole of it, not a conversion that fails.
        if (dialog.openSucceeded() && dialog.durationSeconds() == 0 && start == end) {
            start = 0;
            end = static_cast<std::int32_t>(item.durationSeconds);
        }
    }
    const auto newStart = static_cast<std::uint32_t>(start);
    const auto newEnd = static_cast<std::uint32_t>(end);
    if (newStart == item.startSeconds && newEnd == item.endSeconds)
        return false;
    item.startSeconds = newStart;
    item.endSeconds = newEnd;
    return true;
}

std::string partText(const SourceItem& item) {
    return formatSeconds(item.startSeconds) + "-" + formatSeconds(item.endSeconds);
}

} // namespace plexavo::gui
