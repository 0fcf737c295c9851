// The form's widgets and the settings panel: the lists and their entry texts,
// the size and bit-rate rules, the output folder, and the help-window toggle.
#include "gui/view/ConversionView.h"

#include "engine/desktop/OpenAddress.h"
#include "engine/desktop/ShippedPages.h"
#include "engine/res/DialogLabels.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/ScriptHeights.h"
#include "gui/common/UiText.h"
#include "gui/common/UnsavedSettings.h"
#include "gui/widgets/HyperLink.h"
#include "gui/windows/HelpTipsDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <QtMath>

namespace plexavo::gui {

namespace lm = res::label::main;

namespace {

QString formText(int control) {
    return dialogText(ConversionView::kDialogId, control);
}

// A caption without a control id of its own, named after its key.
QLabel* caption(int key, QWidget* buddy) {
    auto* label = new QLabel(formText(key));
    label->setObjectName(QStringLiteral("label%1").arg(-key));
    if (buddy) {
        label->setBuddy(buddy);
        buddy->setAccessibleName(
            QString(label->text()).remove(QLatin1Char('&')).remove(QLatin1Char(':')).trimmed());
    }
    return label;
}

// The drop-down as wide as its widest entry needs, with the frame and, for a
// list that scrolls, the scroll bar; never narrower than the box. Each entry
// is measured as a menu measures its items: the popup's own delegate is
// given the text's width and adds its margins and check column (a style that
// draws the popup as a plain list measures the text itself).
void fitPopup(QComboBox* combo) {
    QAbstractItemView* view = combo->view();
    const QFontMetrics metrics(view->font());
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.font = view->font();
    int widest = 0;
    for (int row = 0; row < combo->count(); ++row) {
        option.rect =
            QRect(0, 0, metrics.horizontalAdvance(combo->itemText(row)), metrics.height());
        const QModelIndex index = view->model()->index(row, combo->modelColumn());
        widest = std::max(widest, view->itemDelegate()->sizeHint(option, index).width());
    }
    int width = widest + 2 * view->frameWidth();
    if (combo->count() > combo->maxVisibleItems() &&
        view->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        width += view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    view->setMinimumWidth(width);
}

// A settings list whose drop-down is built when it first opens: built with
// the window, the seven popups (a top-level frame, a list view and two
// scrollers each) would stay in memory for sessions that never open one.
class SettingList final : public QComboBox {
  public:
    explicit SettingList(int id) {
        setObjectName(controlName(id));
        setMinimumContentsLength(8);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        // The closed box may cut its entry short; its tooltip never does.
        connect(this, &QComboBox::currentIndexChanged, this, [this] { setToolTip(currentText()); });
    }

    // Small at least, as wide as the row allows at most: the window has a
    // fixed size and a desktop with a large font must still fit. This is
    // QComboBox's own hint under AdjustToMinimumContentsLengthWithIcon,
    // which cannot be set without building the drop-down there and then.
    QSize minimumSizeHint() const override {
        const QFontMetrics& metrics = fontMetrics();
        QSize contents(minimumContentsLength() * metrics.horizontalAdvance(QLatin1Char('X')) +
                           iconSize().width() + 4,
                       std::max(qCeil(QFontMetricsF(metrics).height()), 14) + 2);
        contents.setHeight(std::max(contents.height(), iconSize().height() + 2));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        return style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, this);
    }
    QSize sizeHint() const override { return minimumSizeHint(); }

    // The drop-down always shows the entries whole.
    void showPopup() override {
        fitPopup(this);
        QComboBox::showPopup();
    }
};

// Digits 0-9 only, as many as an int holds: the core reads them as numbers.
// Checked by hand: a regular expression would start the expression compiler
// (and its memory) for four edits before the window shows.
class DigitsValidator final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*position*/) const override {
        if (input.size() > kMaxDigits)
            return Invalid;
        for (const QChar c : input)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        return Acceptable;
    }

  private:
    static constexpr int kMaxDigits = 9;
};

QLineEdit* makeDigitsEdit(int id, int width) {
    auto* edit = new QLineEdit;
    edit->setObjectName(controlName(id));
    edit->setValidator(new DigitsValidator(edit));
    edit->setFixedWidth(width);
    return edit;
}

// One height for every row of the source list: the tallest that a file name
// in any language of the interface needs. A name in Chinese or Japanese is
// drawn with a fallback font taller than the list's own; measured by the
// first row alone (uniform rows), such a row would spill over its neighbours.
class UniformRowDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        QStyleOptionViewItem sample = option;
        initStyleOption(&sample, index);
        // Measured with the font's own letters, and what the tallest of the
        // other scripts adds measured apart: laid out here, they would keep
        // their fallback fonts loaded for good (ScriptHeights).
        sample.text = ownLettersSample();
        sample.features |= QStyleOptionViewItem::HasDisplay;
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const QSize tallest =
            style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), widget);
        size.setHeight(
            std::max(size.height(), tallest.height() + extraHeightForEveryScript(sample.font)));
        return size;
    }
};

// The source list's header, measured in the list's own font. QHeaderView
// measures every caption bold, for sections it draws bold when highlighted;
// this list never highlights them, and the bold face would be loaded (and
// kept, about 0.3 MiB) for that measure alone.
class ListHeader final : public QHeaderView {
  public:
    // Aligned as the header a tree view makes for itself.
    ListHeader() : QHeaderView(Qt::Horizontal) {
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

  protected:
    QSize sectionSizeFromContents(int logicalIndex) const override {
        QStyleOptionHeaderV2 option;
        initStyleOption(&option);
        option.section = logicalIndex;
        option.fontMetrics = fontMetrics();
        option.text = model()->headerData(logicalIndex, orientation()).toString();
        return style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), this);
    }
};

QGroupBox* makeGroup(int key) {
    auto* group = new QGroupBox(formText(key));
    group->setObjectName(QStringLiteral("group%1").arg(-key));
    return group;
}

} // namespace

void ConversionView::buildForm() {
    // The source list and the information box side by side.
    m_list = new QTreeWidget;
    m_list->setObjectName(controlName(ctl::kSourceList));
    m_list->setAccessibleName(str(61924));
    m_list->setHeader(new ListHeader);
    m_list->setColumnCount(4);
    m_list->setHeaderLabels({str(61329), str(61332), str(61311), str(61330)});
    m_list->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setItemDelegate(new UniformRowDelegate(m_list));
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionsMovable(false);
    // Wide enough for a whole clock range ("00:00:00-00:01:00") and a status.
    const int widths[] = {100, 180, 124, 63};
    for (int column = 0; column < 4; ++column)
        m_list->setColumnWidth(column, widths[column]);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { refreshInfo(); });

    m_info = new QPlainTextEdit;
    m_info->setObjectName(controlName(ctl::kInfo));
    m_info->setAccessibleName(str(62046));
    m_info->setAccessibleDescription(str(61925));
    m_info->viewport()->setAccessibleName(m_info->accessibleName());
    m_info->setReadOnly(true);
    m_info->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_info->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_info->setTabChangesFocus(true);
    // Keyboard users must still be able to select and copy the text.
    m_info->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(m_list, 2);
    top->addWidget(m_info, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 2);
    layout->setSpacing(4);
    layout->addLayout(top, 1);
    layout->addWidget(buildSettingsPanel());

    // Tab order: the list, the box, then the panel from top to bottom.
    QWidget* order[] = {m_list,
                        m_info,
                        m_formatGroup->button(0),
                        m_formatGroup->button(1),
                        m_size,
                        m_width,
                        m_height,
                        m_frameRate,
                        m_videoBitRate,
                        m_variableBitRate,
                        m_maxRate,
                        m_minRate,
                        m_channels,
                        m_audioBitRate,
                        m_sampleRate,
                        m_outputPathEdit,
                        m_browse,
                        m_go,
                        m_hideToolTipsBox};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

// Conversion Settings: the target format (and the hidden TV standard).
QGroupBox* ConversionView::buildConversionGroup(QList<QLabel*>& firstColumn) {
    auto* conversion = makeGroup(lm::kConversionGroup);
    auto* conversionRow = new QHBoxLayout(conversion);
    conversionRow->setContentsMargins(8, 2, 8, 4);
    m_formatGroup = new QButtonGroup(this);
    auto* typeLabel = caption(lm::kType, nullptr);
    firstColumn.append(typeLabel);
    conversionRow->addWidget(typeLabel);
    for (int format = 0; format < settings::kTargetFormatCount; ++format) {
        auto* button = new QRadioButton(formText(ctl::kFirstFormat + format));
        button->setObjectName(controlName(ctl::kFirstFormat + format));
        button->setAccessibleName(QString(button->text()).remove(QLatin1Char('&')));
        m_formatGroup->addButton(button, format);
        conversionRow->addWidget(button);
        // Only once it has a parent: shown without one, it would open as a
        // window of its own for a moment.
        button->setVisible(settings::kTargetShown[static_cast<std::size_t>(format)]);
    }
    auto* formatLabel = new QLabel(formText(ctl::kFormatLabel));
    formatLabel->setObjectName(controlName(ctl::kFormatLabel));
    formatLabel->setVisible(false);
    conversionRow->addWidget(formatLabel);
    m_tvGroup = new QButtonGroup(this);
    for (int standard = 0; standard < 3; ++standard) {
        auto* button = new QRadioButton(formText(ctl::kFirstTvStandard + standard));
        button->setObjectName(controlName(ctl::kFirstTvStandard + standard));
        button->setAccessibleName(button->text());
        button->setVisible(false);
        m_tvGroup->addButton(button, standard);
        conversionRow->addWidget(button);
    }
    conversionRow->addStretch(1);
    typeLabel->setBuddy(m_formatGroup->button(0));
    return conversion;
}

// Video Settings
QGroupBox* ConversionView::buildVideoGroup(QList<QLabel*>& firstColumn) {
    auto* video = makeGroup(lm::kVideoGroup);
    auto* videoGrid = new QGridLayout(video);
    videoGrid->setContentsMargins(8, 2, 8, 4);
    videoGrid->setHorizontalSpacing(6);
    videoGrid->setVerticalSpacing(4);
    m_size = new SettingList(ctl::kSize);
    m_width = makeDigitsEdit(ctl::kWidth, 52);
    m_height = makeDigitsEdit(ctl::kHeight, 52);
    m_frameRate = new SettingList(ctl::kFrameRate);
    m_videoBitRate = new SettingList(ctl::kVideoBitRate);
    m_variableBitRate = new QCheckBox(formText(ctl::kVariableBitRate));
    m_variableBitRate->setObjectName(controlName(ctl::kVariableBitRate));
    m_variableBitRate->setAccessibleName(m_variableBitRate->text());
    m_maxRate = makeDigitsEdit(ctl::kMaxRate, 52);
    m_minRate = makeDigitsEdit(ctl::kMinRate, 52);

    auto* sizeLabel = caption(lm::kSize, m_size);
    firstColumn.append(sizeLabel);
    videoGrid->addWidget(sizeLabel, 0, 0);
    videoGrid->addWidget(m_size, 0, 1);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->setSpacing(4);
    sizeRow->addWidget(caption(lm::kWidth, m_width));
    sizeRow->addWidget(m_width);
    sizeRow->addSpacing(8);
    sizeRow->addWidget(caption(lm::kHeight, m_height));
    sizeRow->addWidget(m_height);
    videoGrid->addLayout(sizeRow, 0, 2);
    videoGrid->addWidget(caption(lm::kFrameRate, m_frameRate), 0, 3, Qt::AlignRight);
    videoGrid->addWidget(m_frameRate, 0, 4);
    // The edits name themselves after their captions ("X=", "Y="), which a
    // screen reader would read as noise: give them words.
    m_width->setAccessibleName(formText(lm::kSize).remove(QLatin1Char(':')) + QStringLiteral(" X"));
    m_height->setAccessibleName(formText(lm::kSize).remove(QLatin1Char(':')) +
                                QStringLiteral(" Y"));

    auto* bitRateLabel = caption(lm::kVideoBitRate, m_videoBitRate);
    firstColumn.append(bitRateLabel);
    videoGrid->addWidget(bitRateLabel, 1, 0);
    videoGrid->addWidget(m_videoBitRate, 1, 1);
    auto* rateRow = new QHBoxLayout;
    rateRow->setSpacing(4);
    rateRow->addWidget(m_variableBitRate);
    rateRow->addSpacing(8);
    rateRow->addWidget(caption(lm::kMaxRate, m_maxRate));
    rateRow->addWidget(m_maxRate);
    rateRow->addWidget(caption(lm::kMaxRateUnit, nullptr));
    rateRow->addSpacing(8);
    rateRow->addWidget(caption(lm::kMinRate, m_minRate));
    rateRow->addWidget(m_minRate);
    rateRow->addWidget(caption(lm::kMinRateUnit, nullptr));
    rateRow->addStretch(1);
    videoGrid->addLayout(rateRow, 1, 2, 1, 3);
    videoGrid->setColumnStretch(1, 3);
    videoGrid->setColumnStretch(4, 2);
    m_maxRate->setAccessibleName(formText(lm::kMaxRate).remove(QLatin1Char(':')) +
                                 QLatin1Char(' ') + formText(lm::kMaxRateUnit));
    m_minRate->setAccessibleName(formText(lm::kMinRate).remove(QLatin1Char(':')) +
                                 QLatin1Char(' ') + formText(lm::kMinRateUnit));
    return video;
}

// Audio Settings (the volume row stays hidden)
QGroupBox* ConversionView::buildAudioGroup(QList<QLabel*>& firstColumn) {
    auto* audio = makeGroup(lm::kAudioGroup);
    auto* audioRow = new QHBoxLayout(audio);
    audioRow->setContentsMargins(8, 2, 8, 4);
    audioRow->setSpacing(6);
    m_channels = new SettingList(ctl::kChannels);
    m_audioBitRate = new SettingList(ctl::kAudioBitRate);
    m_sampleRate = new SettingList(ctl::kSampleRate);
    m_volume = new SettingList(ctl::kVolume);
    auto* channelsLabel = caption(lm::kChannels, m_channels);
    firstColumn.append(channelsLabel);
    audioRow->addWidget(channelsLabel);
    audioRow->addWidget(m_channels, 4);
    audioRow->addSpacing(6);
    audioRow->addWidget(caption(lm::kAudioBitRate, m_audioBitRate));
    audioRow->addWidget(m_audioBitRate, 5);
    audioRow->addSpacing(6);
    audioRow->addWidget(caption(lm::kSampleRate, m_sampleRate));
    audioRow->addWidget(m_sampleRate, 3);
    auto* volumeLabel = caption(lm::kVolume, m_volume);
    volumeLabel->setVisible(false);
    m_volume->setVisible(false);
    audioRow->addWidget(volumeLabel);
    audioRow->addWidget(m_volume);
    m_audioBitRate->setAccessibleName(formText(lm::kAudioGroup).section(QLatin1Char(' '), 0, 0) +
                                      QLatin1Char(' ') + m_audioBitRate->accessibleName());
    m_videoBitRate->setAccessibleName(formText(lm::kVideoGroup).section(QLatin1Char(' '), 0, 0) +
                                      QLatin1Char(' ') + m_videoBitRate->accessibleName());
    return audio;
}

// Path Information
QGroupBox* ConversionView::buildPathGroup(QList<QLabel*>& firstColumn) {
    auto* path = makeGroup(lm::kPathGroup);
    auto* pathRow = new QHBoxLayout(path);
    pathRow->setContentsMargins(8, 2, 8, 4);
    pathRow->setSpacing(6);
    m_outputPathEdit = new QLineEdit;
    m_outputPathEdit->setObjectName(controlName(ctl::kOutputPath));
    m_outputPathEdit->setReadOnly(true);
    m_browse = new QPushButton(formText(ctl::kBrowse));
    m_browse->setObjectName(controlName(ctl::kBrowse));
    // Read as shown, dots and all: a reader's user hears that it opens a window.
    m_browse->setAccessibleName(QString(m_browse->text()).remove(QLatin1Char('&')));
    m_go = new QPushButton(formText(ctl::kGo));
    m_go->setObjectName(controlName(ctl::kGo));
    m_go->setAccessibleName(QString(m_go->text()).remove(QLatin1Char('&')));
    m_browse->setAutoDefault(false);
    m_go->setAutoDefault(false);
    auto* outputLabel = caption(lm::kOutputPath, m_outputPathEdit);
    firstColumn.append(outputLabel);
    pathRow->addWidget(outputLabel);
    pathRow->addWidget(m_outputPathEdit, 1);
    pathRow->addWidget(m_browse);
    pathRow->addWidget(m_go);
    connect(m_browse, &QPushButton::clicked, this, [this] { onBrowse(); });
    connect(m_go, &QPushButton::clicked, this, [this] { onGo(); });
    return path;
}

// The help switch and the media-framework tip
QHBoxLayout* ConversionView::buildHelpRow() {
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(4, 0, 4, 0);
    m_hideToolTipsBox = new QCheckBox(formText(ctl::kHideToolTips));
    m_hideToolTipsBox->setObjectName(controlName(ctl::kHideToolTips));
    m_hideToolTipsBox->setAccessibleName(m_hideToolTipsBox->text());
    // Any change of state the user makes, a screen reader's toggle action
    // included; the view's own changes are made with the signals blocked.
    connect(m_hideToolTipsBox, &QCheckBox::toggled, this, [this] { onToolTips(); });
    m_mediaTip = new QLabel(formText(ctl::kMediaTip));
    m_mediaTip->setObjectName(controlName(ctl::kMediaTip));
    m_mediaTip->setAlignment(Qt::AlignCenter);
    m_mediaTip->setWordWrap(true); // one line, or two with a large font
    m_mediaTip->setVisible(false);
    bottom->addWidget(m_hideToolTipsBox);
    bottom->addWidget(m_mediaTip, 1);
    return bottom;
}

QWidget* ConversionView::buildSettingsPanel() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    // Every first-column caption gets the same width, so the first control
    // of each group starts at the same x.
    QList<QLabel*> firstColumn;
    layout->addWidget(buildConversionGroup(firstColumn));
    layout->addWidget(buildVideoGroup(firstColumn));
    layout->addWidget(buildAudioGroup(firstColumn));
    layout->addWidget(buildPathGroup(firstColumn));
    layout->addLayout(buildHelpRow());

    int captionWidth = 0;
    for (auto* label : firstColumn)
        captionWidth = std::max(captionWidth, label->sizeHint().width());
    for (auto* label : firstColumn)
        label->setFixedWidth(captionWidth);

    connect(m_size, &QComboBox::currentIndexChanged, this, [this] { applySizeChoice(); });
    connect(m_variableBitRate, &QCheckBox::toggled, this, [this] { applyVariableBitRate(); });
    connect(m_formatGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        // The clicked button is the format: it does not fall back to an
        // older capture when the selected row changes.
        if (checked)
            m_targetFormat = id;
    });
    // Every change of a setting reaches the list kept on disk.
    for (QComboBox* combo :
         {m_size, m_frameRate, m_videoBitRate, m_channels, m_audioBitRate, m_sampleRate, m_volume})
        connect(combo, &QComboBox::currentIndexChanged, this, &ConversionView::listChanged);
    for (QLineEdit* edit : {m_width, m_height, m_maxRate, m_minRate, m_outputPathEdit})
        connect(edit, &QLineEdit::textChanged, this, &ConversionView::listChanged);
    connect(m_variableBitRate, &QCheckBox::toggled, this, &ConversionView::listChanged);
    connect(m_formatGroup, &QButtonGroup::idToggled, this, &ConversionView::listChanged);
    connect(m_tvGroup, &QButtonGroup::idToggled, this, &ConversionView::listChanged);
    return panel;
}

void ConversionView::fillList(QComboBox* combo, const std::vector<std::string>& texts) {
    const QSignalBlocker block(combo);
    combo->clear();
    for (std::size_t i = 0; i < texts.size(); ++i)
        combo->addItem(QString::fromStdString(texts[i]), static_cast<int>(i) - 1);
    combo->setCurrentIndex(0);
    combo->setToolTip(combo->currentText());
    combo->setEnabled(true);
}

void ConversionView::fillLists() {
    fillList(m_size, settings::sizeListTexts());
    fillList(m_frameRate, settings::frameRateListTexts());
    fillList(m_videoBitRate, settings::videoBitRateListTexts());
    fillList(m_audioBitRate, settings::audioBitRateListTexts());
    fillList(m_channels, settings::channelListTexts());
    fillList(m_sampleRate, settings::sampleRateListTexts());
    fillList(m_volume, settings::volumeListTexts());
    applySizeChoice();
    applyVariableBitRate();
}

QList<int> ConversionView::entryTags(int controlId) const {
    const auto* combo = findChild<QComboBox*>(controlName(controlId));
    QList<int> tags;
    if (combo)
        for (int i = 0; i < combo->count(); ++i)
            tags.append(combo->itemData(i).toInt());
    return tags;
}

void ConversionView::applySizeChoice() {
    settings::ConversionSettings s;
    s.sizeChoice = m_size->currentIndex();
    s.applySizeChoice();
    m_width->setText(QString::fromStdString(s.width));
    m_height->setText(QString::fromStdString(s.height));
}

void ConversionView::applyVariableBitRate() {
    const bool on = m_variableBitRate->isChecked();
    m_maxRate->setEnabled(on);
    m_minRate->setEnabled(on);
}

bool ConversionView::captureSettings() {
    if (m_outputPath.toUtf8().size() > kOutputPathLimit) {
        // Reported, and the values after it are left as they were. The
        // limit is the system's, in bytes: the core could not open a longer path.
        MessageBox::show(window(), str(61716, kOutputPathLimit), QMessageBox::Warning);
        return false;
    }
    if (m_formatGroup->checkedId() >= 0)
        m_targetFormat = m_formatGroup->checkedId();
    if (m_tvGroup->checkedId() >= 0)
        m_tvStandard = m_tvGroup->checkedId();
    m_hideToolTips = m_hideToolTipsBox->isChecked();
    return true;
}

void ConversionView::showBoundValues() {
    m_outputPathEdit->setText(m_outputPath);
    m_outputPathEdit->setCursorPosition(0);
    m_outputPathEdit->setToolTip(m_outputPath);
    // The format buttons are not put back: whatever the user clicked last
    // stays, whichever row is selected.
    if (m_formatGroup->checkedId() < 0)
        if (auto* button = m_formatGroup->button(m_targetFormat))
            button->setChecked(true);
    if (m_tvGroup->checkedId() < 0)
        if (auto* button = m_tvGroup->button(m_tvStandard))
            button->setChecked(true);
    {
        const QSignalBlocker quiet(m_hideToolTipsBox);
        m_hideToolTipsBox->setChecked(m_hideToolTips);
    }
    QString shown = m_infoText;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (m_info->toPlainText() != shown)
        m_info->setPlainText(shown);
}

// ---- Output folder -------------------------------------------------------------

void ConversionView::onBrowse() {
    const QString chosen = chooseOutputFolder
                               ? chooseOutputFolder(m_outputPath)
                               : QFileDialog::getExistingDirectory(this, str(61242), m_outputPath);
    if (!chosen.isEmpty())
        m_outputPath = chosen;
    if (!m_outputPath.isEmpty() && !m_outputPath.endsWith(QLatin1Char('/')))
        m_outputPath += QLatin1Char('/');
    showBoundValues();
    reportUnsavedSetting(window(), settings::writeOutputPath(m_outputPath.toStdString()));
}

void ConversionView::onGo() {
    if (!QFileInfo(m_outputPath).isDir()) {
        // A file manager asked for a missing folder shows nothing at all.
        MessageBox::show(window(), str(61930, m_outputPath.toUtf8().constData()));
        return;
    }
    const desktop::OpenResult result = desktop::openWithDesktop(m_outputPath.toStdString());
    if (result == desktop::OpenResult::FileNotFound || result == desktop::OpenResult::PathNotFound)
        MessageBox::show(window(), str(61923), QMessageBox::Warning);
}

void ConversionView::onDownload(int id) {
    // Said when no browser opens it, as the About box's link says it.
    if (const char* anchor = desktop::downloadAnchor(id))
        HyperLink::openInBrowser(window(), desktop::downloadPageUrl(anchor));
}

// ---- The help window -------------------------------------------------------------

void ConversionView::onToolTips() {
    m_hideToolTips = !m_hideToolTips;
    emit toolTipsShown(!m_hideToolTips);
    showBoundValues();
    if (m_hideToolTips)
        return;
    if (runHelpTips) {
        runHelpTips();
    } else {
        HelpTipsDialog dialog(window());
        dialog.exec();
    }
    m_hideToolTips = !m_hideToolTips;
    emit toolTipsShown(!m_hideToolTips);
    showBoundValues();
    reportUnsavedSetting(window(), settings::writeToolTipsHidden());
    // For this run too: a view rebuilt by a language switch must not open
    // the window of a first start again.
    settings::toolTipsHiddenThisRun = true;
}

} // namespace plexavo::gui
