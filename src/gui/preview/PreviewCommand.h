// The main view's Preview command, for the first selected row's item.
#pragma once

#include <string>

class QWidget;

namespace plexavo::media {
class SourceItem;
}

namespace plexavo::gui {

// Runs the preview on `item` (modal, owned by `parent`, the main window)
// and stores the part marked with OK into the item. Returns true when the
// item's part changed: the caller then sets the row's Convert Duration
// column to partText(item). Cancel, the close box and a file that could
// not be opened leave the item as it was. When the player cannot read the
// file's length, an empty part (what Full gives then) is the whole file.
bool runPreview(QWidget* parent, media::SourceItem& item);

// Why the item's file can no longer be played, or "" when nothing speaks
// against opening it. A file changed since it was probed (its bytes
// overwritten, another file under its name) goes to the core again, as when
// it was added; the core's reason when it no longer reads it. Left to
// GStreamer, such noise may be taken for some stream and "play" for seconds.
std::string reasonItCannotBeRead(const media::SourceItem& item);

// The part as the list shows it: "00:01:05-00:02:00".
std::string partText(const media::SourceItem& item);

} // namespace plexavo::gui
