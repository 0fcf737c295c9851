#include "gui/preview/PreviewCommand.h"

#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "gui/preview/CPreviewDlg.h"

#include <cstdint>

namespace plexavo::preview {

bool runPreview(QWidget* parent, CSourceItem& item) {
    std::int32_t start = static_cast<std::int32_t>(item.startSeconds);
    std::int32_t end = static_cast<std::int32_t>(item.endSeconds);
    {
        CPreviewDlg dialog(item.path, start, end, parent);
        dialog.setProbedDuration(item.durationSeconds);
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

std::string partText(const CSourceItem& item) {
    return FormatSeconds(item.startSeconds) + "-" + FormatSeconds(item.endSeconds);
}

} // namespace plexavo::preview
