#include "support/TestSourceList.h"

#include "engine/convert/OutputNaming.h"
#include "gui/common/UiText.h"

#include <QHeaderView>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

using plexavo::convert::EncodeJob;
using plexavo::convert::formatSeconds;
using plexavo::media::kStatusError;
using plexavo::media::kStatusReady;
using plexavo::media::kStatusStringIds;
using plexavo::media::kStatusWaiting;
using plexavo::media::SourceItem;
using plexavo::settings::ConversionSettings;
using plexavo::settings::TargetExtensions;

namespace plexavo::testing {

namespace {
enum Column { kName, kOutput, kDuration, kStatus, kColumnCount };
} // namespace

TestSourceList::TestSourceList(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("testSourceList"));
    setWindowTitle(QStringLiteral("Source list (test window)"));
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("ctl1000"));
    m_tree->setAccessibleName(QStringLiteral("Source files"));
    m_tree->setRootIsDecorated(false);
    m_tree->setColumnCount(kColumnCount);
    m_tree->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Output"),
                             QStringLiteral("Duration"), QStringLiteral("Status")});
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);
    resize(640, 300);
}

TestSourceList::~TestSourceList() = default;

void TestSourceList::note() {
    ++m_calls;
    if (QThread::currentThread() != thread())
        ++m_offThread;
}

int TestSourceList::rowCount() {
    note();
    return m_tree->topLevelItemCount();
}

int TestSourceList::rowTag(int row) {
    note();
    const QTreeWidgetItem* r = m_tree->topLevelItem(row);
    return r ? r->data(kName, Qt::UserRole).toInt() : -1;
}

SourceItem* TestSourceList::itemAt(int index) {
    note();
    if (index < 0 || index >= static_cast<int>(m_items.size()))
        return nullptr;
    return m_items[static_cast<std::size_t>(index)].get();
}

int TestSourceList::appendItem(SourceItem* item) {
    note();
    m_items.emplace_back(item);
    return static_cast<int>(m_items.size()) - 1;
}

int TestSourceList::insertRow(const std::string& text, int tag) {
    note();
    auto* r = new QTreeWidgetItem(m_tree);
    r->setText(kName, QString::fromStdString(text));
    r->setData(kName, Qt::UserRole, tag);
    return m_tree->topLevelItemCount() - 1;
}

void TestSourceList::refreshRow(int row) {
    note();
    QTreeWidgetItem* r = m_tree->topLevelItem(row);
    if (!r)
        return;
    const SourceItem* item = itemAt(r->data(kName, Qt::UserRole).toInt());
    if (!item)
        return;
    r->setText(kOutput, QString::fromStdString(item->outputFileName()));
    r->setText(kDuration,
               QString::fromStdString(formatSeconds(item->endSeconds - item->startSeconds)));
    const int status =
        item->status >= 0 && item->status <= kStatusError ? item->status : kStatusReady;
    r->setText(kStatus, gui::str(kStatusStringIds[status]));
}

ConversionSettings TestSourceList::settings() {
    note();
    return m_settings;
}

void TestSourceList::showFrameSize(const std::string& width, const std::string& height) {
    note();
    m_settings.width = width;
    m_settings.height = height;
    m_shownSizes.emplace_back(width, height);
}

EncodeJob& TestSourceList::job() {
    note();
    return m_job;
}

int TestSourceList::addItem(const std::string& path, std::uint32_t startSeconds,
                            std::uint32_t endSeconds) {
    auto item = std::make_unique<SourceItem>();
    item->path = path;
    const auto slash = path.find_last_of('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = file.find_last_of('.');
    item->title = dot == std::string::npos ? file : file.substr(0, dot);
    item->extension = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    item->durationSeconds = static_cast<std::int32_t>(endSeconds);
    item->startSeconds = startSeconds;
    item->endSeconds = endSeconds;
    item->assignOutputName(m_settings.outputPath,
                           TargetExtensions[static_cast<std::size_t>(m_settings.targetFormat)],
                           "cvt");
    const std::string name = item->displayName();
    const int index = appendItem(item.release());
    const int row = insertRow(name, index);
    refreshRow(row);
    return row;
}

void TestSourceList::markAllWaiting() {
    for (int row = 0; row < m_tree->topLevelItemCount(); ++row) {
        if (SourceItem* item = itemOfRow(row))
            item->status = kStatusWaiting;
        refreshRow(row);
    }
}

void TestSourceList::removeRow(int row) {
    const int tag = rowTag(row);
    delete m_tree->takeTopLevelItem(row);
    if (tag >= 0 && tag < static_cast<int>(m_items.size()))
        m_items[static_cast<std::size_t>(tag)].reset();
}

SourceItem* TestSourceList::itemOfRow(int row) {
    return itemAt(rowTag(row));
}

int TestSourceList::statusOfRow(int row) {
    const SourceItem* item = itemOfRow(row);
    return item ? item->status : -1;
}

std::vector<int> TestSourceList::statuses() {
    std::vector<int> out;
    for (int row = 0; row < m_tree->topLevelItemCount(); ++row)
        out.push_back(statusOfRow(row));
    return out;
}

QString TestSourceList::cellText(int row, int column) const {
    const QTreeWidgetItem* r = m_tree->topLevelItem(row);
    return r ? r->text(column) : QString();
}

} // namespace plexavo::testing
