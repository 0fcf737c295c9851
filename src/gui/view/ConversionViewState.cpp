// The view's list and settings as the state file keeps them: what a crash
// must not lose, and what a restore puts back.
#include "gui/view/ConversionView.h"

#include "engine/media/SourceItem.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

namespace plexavo::gui {

using media::SavedList;
using media::SourceItem;
using settings::ConversionSettings;

SavedList ConversionView::savedList() {
    SavedList list;
    list.settings = settings();
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (const SourceItem* item = itemAt(rowTag(row)))
            list.rows.push_back(*item);
    return list;
}

void ConversionView::applySettings(const ConversionSettings& s) {
    if (auto* button = m_formatGroup->button(s.targetFormat)) {
        button->setChecked(true);
        m_targetFormat = s.targetFormat;
    }
    if (auto* button = m_tvGroup->button(s.tvStandard)) {
        button->setChecked(true);
        m_tvStandard = s.tvStandard;
    }
    // Lists first: the size list would otherwise overwrite the edits.
    const std::pair<QComboBox*, int> lists[] = {{m_size, s.sizeChoice},
                                                {m_frameRate, s.frameRateChoice},
                                                {m_videoBitRate, s.videoBitRateChoice},
                                                {m_channels, s.channelsChoice},
                                                {m_audioBitRate, s.audioBitRateChoice},
                                                {m_sampleRate, s.sampleRateChoice},
                                                {m_volume, s.volumeChoice}};
    for (const auto& [combo, index] : lists)
        if (index >= 0 && index < combo->count())
            combo->setCurrentIndex(index);
    m_width->setText(QString::fromStdString(s.width));
    m_height->setText(QString::fromStdString(s.height));
    m_maxRate->setText(QString::fromStdString(s.maxRate));
    m_minRate->setText(QString::fromStdString(s.minRate));
    m_variableBitRate->setChecked(s.variableBitRate);
    applyVariableBitRate();
    if (!s.outputPath.empty())
        m_outputPath = QString::fromStdString(s.outputPath);
    showBoundValues();
}

void ConversionView::restoreList(const SavedList& list) {
    applySettings(list.settings);
    for (const SourceItem& saved : list.rows) {
        auto* item = new SourceItem(saved);
        const std::string name = item->displayName();
        const int tag = appendItem(item);
        const int row = insertRow(name, tag);
        refreshRow(row);
    }
    if (m_list->topLevelItemCount() > 0 && m_list->selectedItems().isEmpty())
        selectOnly(0);
    emit rowsChanged();
    emit listChanged();
}

} // namespace plexavo::gui
