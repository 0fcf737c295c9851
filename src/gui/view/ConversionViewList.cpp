// The source list: its commands, the selection rules after each of them,
// dropped files and the information box.
#include "gui/view/ConversionView.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "engine/media/SourcePaths.h"
#include "engine/platform/Platform.h"
#include "gui/common/DesktopIntegration.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/windows/BatchDesktop.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTreeWidget>

namespace plexavo::gui {

using convert::formatSeconds;
using media::absoluteSourcePath;
using media::parseFilterList;
using media::SourceItem;

QStringList ConversionView::sourceFileFilters() {
    const auto filters = parseFilterList(str(61926).toStdString());
    QStringList out;
    for (const auto& filter : filters) {
        QStringList patterns;
        for (const auto& pattern : filter.patterns) {
            QString p = QString::fromStdString(pattern);
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
            else if (p.startsWith(QLatin1Char('.')))
                p.prepend(QLatin1Char('*')); // ".mp4" would only match a file called ".mp4"
            patterns.append(p);
        }
        // The description is shown as it stands; the patterns follow it in
        // the form the file dialog reads, hidden from view.
        out.append(QString::fromStdString(filter.description) + QStringLiteral(" (") +
                   patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return out;
}

namespace {

std::vector<std::string> mediaPatterns() {
    const auto filters = parseFilterList(str(61926).toStdString());
    return filters.empty() ? std::vector<std::string>{} : filters.front().patterns;
}

} // namespace

bool ConversionView::isCommandEnabled(int id) const {
    const int rows = m_list->topLevelItemCount();
    switch (id) {
    case cmd::kAdd:
        return true;
    case cmd::kRemove:
    case cmd::kRemoveAll:
    case cmd::kPreview:
    case cmd::kConvert:
        return rows >= 1;
    case cmd::kMoveUp:
    case cmd::kMoveDown:
        return rows >= 2;
    default:
        return true;
    }
}

void ConversionView::selectOnly(int row) {
    auto* item = rowItem(row);
    if (!item)
        return;
    m_list->setCurrentItem(item, 0,
                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->scrollToItem(item);
}

// ---- Add and drop --------------------------------------------------------------

void ConversionView::onAdd() {
    QStringList files;
    bool confirmed = false;
    if (chooseSourceFiles) {
        files = chooseSourceFiles();
        confirmed = !files.isEmpty();
    } else {
        QFileDialog dialog(window());
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setOption(QFileDialog::HideNameFilterDetails, true);
        dialog.setNameFilters(sourceFileFilters());
        confirmed = dialog.exec() == QDialog::Accepted;
        files = dialog.selectedFiles();
    }
    if (confirmed) {
        std::vector<std::string> paths;
        for (const auto& file : files)
            paths.push_back(absoluteSourcePath(file.toStdString()));
        if (!paths.empty())
            runDetection(paths);
        // The newest file is the one the user wants to see.
        if (m_list->topLevelItemCount() > 0)
            selectOnly(m_list->topLevelItemCount() - 1);
    }
    refreshInfo();
}

void ConversionView::addSourcePaths(const std::vector<std::string>& paths) {
    std::vector<std::string> absolute;
    for (const auto& path : paths)
        absolute.push_back(absoluteSourcePath(path));
    const auto expanded = media::expandSourcePaths(absolute, mediaPatterns());
    if (!expanded.empty())
        runDetection(expanded);
    afterDrop();
}

void ConversionView::addSourcePaths(const QStringList& paths) {
    std::vector<std::string> bytes;
    for (const auto& path : paths)
        bytes.push_back(path.toStdString());
    addSourcePaths(bytes);
}

void ConversionView::afterDrop() {
    // An existing selection stays as it is.
    if (m_list->topLevelItemCount() > 0 && m_list->selectedItems().isEmpty())
        selectOnly(m_list->topLevelItemCount() - 1);
}

void ConversionView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ConversionView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ConversionView::dropEvent(QDropEvent* event) {
    // The list as it came, decoded here: QUrl would turn the bytes of a name
    // that is not UTF-8 into U+FFFD, and that name would name no file. Only
    // local files are taken: the core reads files, not addresses.
    const QByteArray raw = event->mimeData()->data(QStringLiteral("text/uri-list"));
    const auto paths = media::localPathsFromUriList(
        std::string(raw.constData(), static_cast<std::size_t>(raw.size())));
    event->acceptProposedAction();
    if (paths.empty())
        return;
    addSourcePaths(paths);
}

// ---- Remove --------------------------------------------------------------------

void ConversionView::onRemove() {
    const QList<int> selected = selectedRows();
    if (!selected.isEmpty()) {
        const int anchor = selected.first();
        {
            const QSignalBlocker block(m_list);
            for (auto it = selected.crbegin(); it != selected.crend(); ++it) {
                const int tag = rowTag(*it);
                if (tag >= 0 && static_cast<std::size_t>(tag) < m_sourceItems.size())
                    m_sourceItems[static_cast<std::size_t>(tag)].reset();
                delete m_list->takeTopLevelItem(*it);
            }
        }
        emit rowsChanged();
        emit listChanged();
        if (anchor < m_list->topLevelItemCount()) {
            selectOnly(anchor);
            m_lastInfoRow = -1;
            refreshInfo();
            return;
        }
    }
    if (m_list->topLevelItemCount() > 0)
        selectOnly(m_list->topLevelItemCount() - 1);
    m_lastInfoRow = -1;
    refreshInfo();
}

void ConversionView::onRemoveAll() {
    {
        const QSignalBlocker block(m_list);
        m_list->clear();
    }
    m_sourceItems.clear();
    emit rowsChanged();
    emit listChanged();
    m_lastInfoRow = -1;
    refreshInfo();
}

// ---- Move ----------------------------------------------------------------------

void ConversionView::onMoveUp() {
    if (m_list->selectedItems().isEmpty())
        return;
    const int rows = m_list->topLevelItemCount();
    for (int i = 1; i < rows; ++i)
        if (rowItem(i)->isSelected() && !rowItem(i - 1)->isSelected())
            swapRows(i, i - 1);
    refreshInfo();
}

void ConversionView::onMoveDown() {
    if (m_list->selectedItems().isEmpty())
        return;
    for (int a = m_list->topLevelItemCount() - 1; a >= 1; --a) {
        const int w = a - 1;
        if (rowItem(w)->isSelected() && !rowItem(a)->isSelected())
            swapRows(w, a);
    }
    refreshInfo();
}

void ConversionView::swapRows(int a, int b) {
    const int rows = m_list->topLevelItemCount();
    if (a < 0 || b < 0 || a >= rows || b >= rows || a == b)
        return;
    auto* first = rowItem(a);
    auto* second = rowItem(b);
    const QSignalBlocker block(m_list);
    for (int column = 0; column < m_list->columnCount(); ++column) {
        const QString text = first->text(column);
        first->setText(column, second->text(column));
        second->setText(column, text);
    }
    const QVariant tag = first->data(0, Qt::UserRole);
    first->setData(0, Qt::UserRole, second->data(0, Qt::UserRole));
    second->setData(0, Qt::UserRole, tag);

    // The selection and the focus travel with the moved item.
    const bool firstSelected = first->isSelected();
    const bool secondSelected = second->isSelected();
    first->setSelected(secondSelected);
    second->setSelected(firstSelected);
    QTreeWidgetItem* current = m_list->currentItem();
    if (current == first || current == second) {
        QTreeWidgetItem* moved = current == first ? second : first;
        m_list->selectionModel()->setCurrentIndex(m_list->indexFromItem(moved),
                                                  QItemSelectionModel::NoUpdate);
        m_list->scrollToItem(moved);
    }
    m_list->viewport()->update();
    emit listChanged();
}

// ---- Preview and Convert -------------------------------------------------------

void ConversionView::onPreview() {
    const QList<int> selected = selectedRows();
    if (selected.isEmpty() || !runPreview)
        return;
    const int row = selected.first();
    SourceItem* item = itemAt(rowTag(row));
    if (item && runPreview(*item)) {
        setItemText(row, 2,
                    QString::fromStdString(formatSeconds(item->startSeconds) + "-" +
                                           formatSeconds(item->endSeconds)));
        emit listChanged();
    }
}

void ConversionView::onConvert() {
    // A broken limit is reported, and no batch starts: every file of it
    // would fail on a path the system cannot open.
    if (!captureSettings())
        return;
    if (!checkTargetCodecs(m_targetFormat))
        return;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        if (SourceItem* item = itemAt(rowTag(row)))
            item->status = media::kStatusWaiting;
        refreshRow(row);
    }
    runBatch();
}

void ConversionView::setItemText(int row, int column, const QString& text) {
    if (auto* item = rowItem(row))
        item->setText(column, text);
}

// ---- The information box -------------------------------------------------------

namespace {

// One stream description as the box shows it: nothing without a comma, one
// line with one comma, two lines split after the second comma.
std::string streamBlock(const char* heading, const std::string& description) {
    const auto firstComma = description.find(',');
    if (firstComma == std::string::npos)
        return {};
    const auto secondComma = description.find(',', firstComma + 1);
    std::string block = "\r\n";
    block += heading;
    block += ":\r\n ";
    if (secondComma == std::string::npos)
        return block + description;
    return block + description.substr(0, secondComma + 1) + "\r\n " +
           description.substr(secondComma + 1);
}

// The subtitle tracks, one a line, and the chapter count: shown only for
// files that have them.
std::string extrasBlock(const char* subtitlesHeading, const char* chaptersHeading,
                        const media::ProbeReport& report) {
    std::string block;
    if (!report.subtitles.empty()) {
        block += "\r\n";
        block += subtitlesHeading;
        block += ":";
        for (const auto& subtitle : report.subtitles)
            block += "\r\n " + media::subtitleSummary(subtitle);
    }
    if (report.chapters > 0)
        block += "\r\n" + std::string(chaptersHeading) + std::to_string(report.chapters);
    return block;
}

} // namespace

void ConversionView::refreshInfo() {
    const QList<int> selected = selectedRows();
    if (selected.isEmpty()) {
        if (m_list->topLevelItemCount() == 0) {
            m_infoText.clear();
            showBoundValues();
        }
        return;
    }
    const int row = selected.first();
    if (row == m_lastInfoRow)
        return;
    m_lastInfoRow = row;
    const SourceItem* item = itemAt(rowTag(row));
    std::string text;
    // The headings come from the current module, like every other text.
    auto heading = [](unsigned id) { return str(id).toStdString(); };
    if (item && !item->durationText.empty()) {
        text = item->displayName() + "\r\n\r\n" + heading(61991) + item->durationText + "\r\n" +
               heading(61992) + item->bitrateText +
               streamBlock(heading(61993).c_str(), item->videoDescription) +
               streamBlock(heading(61994).c_str(), item->audioDescription) +
               extrasBlock(heading(61996).c_str(), heading(61997).c_str(), item->report);
    } else if (item) {
        text = item->displayName() + "\r\n\r\n" + heading(61995);
    }
    m_infoText = QString::fromStdString(text);
    showBoundValues();
}

// ---- The long work ------------------------------------------------------------

void ConversionView::defaultDetection(const std::vector<std::string>& paths) {
    {
        DetectionWindow dialog(*this, paths, window());
        dialog.exec();
    }
    // The probes' threads freed what they read; their arenas would keep it.
    platform::releaseFreeMemory();
}

void ConversionView::defaultBatch() {
    {
        BatchWindow dialog(*this, window());
        announceOnDesktop(dialog, *this, *DesktopIntegration::of(window()));
        dialog.exec();
    }
    platform::releaseFreeMemory(); // what the batch's threads freed
}

} // namespace plexavo::gui
