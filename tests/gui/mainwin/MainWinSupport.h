// Helpers of the main-window tests: source items put into a view the way the
// detection pass puts them, and small file-system fixtures.
#pragma once

#include "engine/media/SourceItem.h"
#include "gui/view/ConversionView.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <string>

namespace mainwin_test {

inline plexavo::media::SourceItem*
makeItem(const std::string& title, int seconds = 60,
         const std::string& video = "h264 (High), yuv420p, 320x240, 25 fps",
         const std::string& audio = "aac, 44100 Hz, stereo, fltp, 128 kb/s") {
    auto* item = new plexavo::media::SourceItem;
    item->path = "/media/" + title + ".mp4";
    item->title = title;
    item->extension = "mp4";
    item->durationSeconds = seconds;
    item->startSeconds = 0;
    item->endSeconds = static_cast<std::uint32_t>(seconds);
    item->durationText = "00:01:00.00";
    item->bitrateText = "512 kb/s";
    item->videoDescription = video;
    item->audioDescription = audio;
    item->outputFolder = "/out/";
    item->outputName = title + "-cvt";
    item->outputExtension = "mp4";
    return item;
}

// Appends an item and its row as the detection pass does; returns the row.
inline int addRow(plexavo::gui::ConversionView& view, plexavo::media::SourceItem* item) {
    const std::string name = item->displayName();
    const int tag = view.appendItem(item);
    const int row = view.insertRow(name, tag);
    view.refreshRow(row);
    return row;
}

inline void addRows(plexavo::gui::ConversionView& view, int count) {
    for (int i = 0; i < count; ++i)
        addRow(view, makeItem("clip" + std::to_string(i)));
}

// The titles of the rows in display order, found through each row's tag.
inline QStringList rowTitles(plexavo::gui::ConversionView& view) {
    QStringList titles;
    for (int row = 0; row < view.rowCount(); ++row) {
        auto* item = view.itemAt(view.rowTag(row));
        titles.append(item ? QString::fromStdString(item->title) : QStringLiteral("<null>"));
    }
    return titles;
}

inline void select(plexavo::gui::ConversionView& view, const QList<int>& rows) {
    auto* list = view.sourceList();
    list->clearSelection();
    for (int row : rows)
        list->topLevelItem(row)->setSelected(true);
}

inline void touch(const QString& path) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("x");
}

} // namespace mainwin_test
