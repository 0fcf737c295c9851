// The view's frame of state: construction, the operations the workers use,
// and the hand-over of state to a rebuilt view.
#include "gui/view/ConversionView.h"

#include "engine/convert/EncodeJob.h"
#include "engine/convert/OutputNaming.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/DebugLog.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/UiText.h"
#include "gui/common/UiThread.h"
#include "gui/preview/CodecChecks.h"
#include "gui/preview/PreviewCheck.h"
#include "gui/preview/PreviewCommand.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace plexavo::gui {

using convert::EncodeJob;
using convert::formatSeconds;
using media::kStatusDone;
using media::kStatusError;
using media::kStatusReady;
using media::kStatusStringIds;
using media::kStatusWaiting;
using media::SourceItem;
using settings::ConversionSettings;

namespace {

constexpr unsigned kStrKept = 62083;
constexpr unsigned kStrSourceMissing = 62084;

// A row's status as the list shows it: a stopped file says how much it holds.
QString statusText(const SourceItem& item) {
    const int status = item.status;
    if (item.sourceMissing && status != kStatusWaiting)
        return str(kStrSourceMissing);
    if (item.keptSeconds > 0 && status != kStatusWaiting && status != kStatusDone) {
        char kept[32], whole[32];
        std::snprintf(kept, sizeof kept, "%.1f", item.keptSeconds);
        std::snprintf(whole, sizeof whole, "%.1f", item.keptOfSeconds);
        return str(kStrKept, kept, item.keptOfSeconds > 0 ? whole : "?");
    }
    const unsigned id = status >= kStatusWaiting && status <= kStatusError
                            ? kStatusStringIds[status]
                            : kStatusStringIds[kStatusReady];
    return str(id);
}

} // namespace

ConversionView::ConversionView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ctl%1").arg(kDialogId));
    setAcceptDrops(true);
    buildForm();
    readOutputPath();

    runDetection = [this](const std::vector<std::string>& paths) { defaultDetection(paths); };
    runBatch = [this] { defaultBatch(); };
    runPreview = [this](SourceItem& item) { return gui::runPreview(window(), item); };
    // The application's check, answered by a child once the window is up;
    // until then (and without one) the tip stays hidden.
    mediaFrameworkReady = [] {
        using Answer = PreviewCheck::Answer;
        const auto* check = PreviewCheck::current();
        const Answer answer = check ? check->answer() : Answer::Unknown;
        return answer == Answer::Plays || answer == Answer::Unknown;
    };
    // True lets the batch start: the checks themselves answer "missing".
    checkTargetCodecs = [this](int target) { return checkCodecsBeforeConvert(window(), target); };
}

ConversionView::~ConversionView() {
    // The items go first, as Remove All would take them; the job after them.
    m_list->clear();
    m_sourceItems.clear();
    m_job.reset();
}

void ConversionView::readOutputPath() {
    // A stored folder that no longer exists falls back to the default, and
    // "~/Videos" or a relative name is found in the home folder; the batch
    // makes the folder when it first writes there.
    m_outputPath = QString::fromStdString(settings::readOutputPath());
}

void ConversionView::onInitialUpdate() {
    // Asked once the window is up, and again when the check answers.
    m_mediaTip->setVisible(false);
    QTimer::singleShot(0, this, [this] { m_mediaTip->setVisible(!mediaFrameworkReady()); });
    if (auto* check = PreviewCheck::current())
        connect(check, &PreviewCheck::answered, this,
                [this] { m_mediaTip->setVisible(!mediaFrameworkReady()); });

    if (!m_job)
        m_job = std::make_unique<EncodeJob>();
    fillLists();

    m_targetFormat = settings::kTargetMpeg4;
    m_tvStandard = settings::kTvNtsc;
    m_hideToolTips = true;
    if (auto* button = m_formatGroup->button(m_targetFormat))
        button->setChecked(true);
    if (auto* button = m_tvGroup->button(m_tvStandard))
        button->setChecked(true);
    showBoundValues();
    m_initialised = true;

    if (!settings::toolTipsHiddenThisRun)
        QTimer::singleShot(kTipsDelayMs, this, [this] { openTipsWhenFree(); });
}

void ConversionView::openTipsWhenFree() {
    // Another modal window (the detection pass of files named on the
    // command line) is served first: opened over it, the tips would keep it
    // waiting underneath until they were closed.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(kTipsRetryMs, this, [this] { openTipsWhenFree(); });
        return;
    }
    onToolTips();
}

// ---- ISourceList -------------------------------------------------------------

int ConversionView::rowCount() {
    int n = 0;
    runOnUiThread(this, [&] { n = m_list->topLevelItemCount(); });
    return n;
}

int ConversionView::rowTag(int row) {
    int tag = -1;
    runOnUiThread(this, [&] {
        if (auto* item = rowItem(row))
            tag = item->data(0, Qt::UserRole).toInt();
    });
    return tag;
}

SourceItem* ConversionView::itemAt(int index) {
    SourceItem* item = nullptr;
    runOnUiThread(this, [&] {
        if (index >= 0 && static_cast<std::size_t>(index) < m_sourceItems.size())
            item = m_sourceItems[static_cast<std::size_t>(index)].get();
    });
    return item;
}

int ConversionView::appendItem(SourceItem* item) {
    int index = -1;
    runOnUiThread(this, [&] {
        m_sourceItems.emplace_back(item);
        index = static_cast<int>(m_sourceItems.size()) - 1;
    });
    return index;
}

int ConversionView::insertRow(const std::string& text, int tag) {
    int row = -1;
    runOnUiThread(this, [&] {
        auto* item = new QTreeWidgetItem;
        item->setText(0, QString::fromStdString(text));
        item->setData(0, Qt::UserRole, tag);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        m_list->addTopLevelItem(item);
        row = m_list->topLevelItemCount() - 1;
        emit rowsChanged();
        emit listChanged();
    });
    return row;
}

void ConversionView::refreshRow(int row) {
    runOnUiThread(this, [&] {
        auto* rowWidget = rowItem(row);
        if (!rowWidget)
            return;
        const SourceItem* item = itemAt(rowWidget->data(0, Qt::UserRole).toInt());
        if (!item)
            return;
        rowWidget->setText(1, QString::fromStdString(item->outputFileName()));
        // The part that will be converted, which after a preview may be less
        // than the whole file.
        rowWidget->setText(2, QString::fromStdString(formatSeconds(item->startSeconds) + "-" +
                                                     formatSeconds(item->endSeconds)));
        rowWidget->setText(3, statusText(*item));
        // The columns are narrow and cut long texts short in the middle
        // ("Stop...kept"); pointing at a cell gives it whole, with its folder.
        rowWidget->setToolTip(0, QString::fromStdString(item->path));
        rowWidget->setToolTip(1, QString::fromStdString(item->outputFilePath()));
        rowWidget->setToolTip(3, rowWidget->text(3));
        emit listChanged();
    });
}

ConversionSettings ConversionView::settings() {
    ConversionSettings s;
    runOnUiThread(this, [&] {
        s.targetFormat =
            m_formatGroup->checkedId() >= 0 ? m_formatGroup->checkedId() : m_targetFormat;
        s.tvStandard = m_tvGroup->checkedId() >= 0 ? m_tvGroup->checkedId() : m_tvStandard;
        s.sizeChoice = m_size->currentIndex();
        s.width = m_width->text().toStdString();
        s.height = m_height->text().toStdString();
        s.frameRateChoice = m_frameRate->currentIndex();
        s.videoBitRateChoice = m_videoBitRate->currentIndex();
        s.variableBitRate = m_variableBitRate->isChecked();
        s.maxRate = m_maxRate->text().toStdString();
        s.minRate = m_minRate->text().toStdString();
        s.channelsChoice = m_channels->currentIndex();
        s.audioBitRateChoice = m_audioBitRate->currentIndex();
        s.sampleRateChoice = m_sampleRate->currentIndex();
        s.volumeChoice = m_volume->currentIndex();
        s.outputPath = m_outputPath.toStdString();
        if (!s.outputPath.empty() && s.outputPath.back() != '/')
            s.outputPath += '/';
    });
    return s;
}

void ConversionView::showFrameSize(const std::string& width, const std::string& height) {
    runOnUiThread(this, [&] {
        m_width->setText(QString::fromStdString(width));
        m_height->setText(QString::fromStdString(height));
    });
}

EncodeJob& ConversionView::job() {
    runOnUiThread(this, [&] {
        if (!m_job)
            m_job = std::make_unique<EncodeJob>();
    });
    return *m_job;
}

// ---- Rebuild -------------------------------------------------------------------

void ConversionView::copyStateFrom(ConversionView& old) {
    old.captureSettings();
    m_targetFormat = old.m_targetFormat;
    m_tvStandard = old.m_tvStandard;
    if (auto* button = m_formatGroup->button(old.m_formatGroup->checkedId()))
        button->setChecked(true);
    if (auto* button = m_tvGroup->button(old.m_tvGroup->checkedId()))
        button->setChecked(true);

    // Lists first: the size list would otherwise overwrite the copied edits.
    const std::pair<QComboBox*, QComboBox*> lists[] = {{m_size, old.m_size},
                                                       {m_frameRate, old.m_frameRate},
                                                       {m_videoBitRate, old.m_videoBitRate},
                                                       {m_channels, old.m_channels},
                                                       {m_audioBitRate, old.m_audioBitRate},
                                                       {m_sampleRate, old.m_sampleRate},
                                                       {m_volume, old.m_volume}};
    for (const auto& [mine, theirs] : lists)
        mine->setCurrentIndex(theirs->currentIndex());
    m_width->setText(old.m_width->text());
    m_height->setText(old.m_height->text());
    m_maxRate->setText(old.m_maxRate->text());
    m_minRate->setText(old.m_minRate->text());
    m_variableBitRate->setChecked(old.m_variableBitRate->isChecked());
    applyVariableBitRate();

    m_sourceItems.clear();
    m_list->clear();
    for (const auto& item : old.m_sourceItems) {
        if (!item) {
            m_sourceItems.emplace_back(nullptr);
            continue;
        }
        // A whole copy: the probe details stay, so the information box does
        // not call a file it has described an unknown format after a switch.
        m_sourceItems.push_back(std::make_unique<SourceItem>(*item));
    }
    const QList<int> selected = old.selectedRows();
    const int current = old.m_list->currentIndex().row();
    for (int row = 0; row < old.m_list->topLevelItemCount(); ++row) {
        const int tag = old.rowTag(row);
        const SourceItem* item = itemAt(tag);
        insertRow(item ? item->displayName() : old.cellText(row, 0).toStdString(), tag);
        refreshRow(row);
        platform::logFormatted("Set FileAudioFormat array index(%d) to listtime(%d).", tag, row);
    }
    m_list->clearSelection();
    for (int row : selected)
        if (auto* item = rowItem(row))
            item->setSelected(true);
    if (auto* item = rowItem(current))
        m_list->selectionModel()->setCurrentIndex(m_list->indexFromItem(item),
                                                  QItemSelectionModel::NoUpdate);
    m_hideToolTips = old.m_hideToolTips;
    showBoundValues();
    emit rowsChanged();
}

QList<int> ConversionView::selectedRows() const {
    QList<int> rows;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (m_list->topLevelItem(row)->isSelected())
            rows.append(row);
    return rows;
}

QString ConversionView::cellText(int row, int column) const {
    auto* item = rowItem(row);
    return item ? item->text(column) : QString();
}

QTreeWidgetItem* ConversionView::rowItem(int row) const {
    if (row < 0 || row >= m_list->topLevelItemCount())
        return nullptr;
    return m_list->topLevelItem(row);
}

} // namespace plexavo::gui
