// The main view: the source list with its information box above, and the
// settings panel below. It holds all user state of the program: the source
// items, the conversion settings and the encode job the batches borrow.
#pragma once

#include "engine/convert/SourceList.h"
#include "engine/media/ListState.h"
#include "engine/settings/ConversionSettings.h"

#include <QStringList>
#include <QWidget>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace plexavo::convert {
class EncodeJob;
}
namespace plexavo::media {
class SourceItem;
}

namespace plexavo::gui {

// Command ids the view answers (shared with the frame's menus and toolbar).
namespace cmd {
inline constexpr int kAdd = 32801;
inline constexpr int kRemove = 32803;
inline constexpr int kRemoveAll = 32804;
inline constexpr int kMoveUp = 32805;
inline constexpr int kMoveDown = 32806;
inline constexpr int kPreview = 32807;
inline constexpr int kConvert = 32808;
inline constexpr int kToolTips = 32792;
inline constexpr int kDownloadRuntime = 32776;
inline constexpr int kDownloadPlugins = 32778;
inline constexpr int kDownloadOgg = 32780;
} // namespace cmd

// Control ids of the form.
namespace ctl {
inline constexpr int kSourceList = 1000;
inline constexpr int kOutputPath = 1001;
inline constexpr int kBrowse = 1002;
inline constexpr int kGo = 1003;
inline constexpr int kFirstFormat = 1004; // 1004..1013, one per target format
inline constexpr int kFirstTvStandard = 1015;
inline constexpr int kFormatLabel = 1077;
inline constexpr int kMediaTip = 1101;
inline constexpr int kSize = 1103;
inline constexpr int kWidth = 1104;
inline constexpr int kHeight = 1105;
inline constexpr int kFrameRate = 1106;
inline constexpr int kVideoBitRate = 1107;
inline constexpr int kMaxRate = 1109;
inline constexpr int kMinRate = 1110;
inline constexpr int kVolume = 1111;
inline constexpr int kChannels = 1112;
inline constexpr int kAudioBitRate = 1113;
inline constexpr int kSampleRate = 1114;
inline constexpr int kVariableBitRate = 1118;
inline constexpr int kInfo = 1210;
inline constexpr int kHideToolTips = 32792;
} // namespace ctl

class ConversionView : public QWidget, public convert::ISourceList {
    Q_OBJECT

  public:
    // Limits of the bound texts. The output path is a path of this system:
    // at most PATH_MAX bytes with its terminating NUL.
    static constexpr int kOutputPathLimit = PATH_MAX - 1;
    static constexpr int kInfoTextLimit = 1024;
    static constexpr int kDialogId = 101;
    // The help window of a first start: a second after the view is up, and
    // never over another modal window (looked at again every retry).
    static constexpr int kTipsDelayMs = 1000;
    static constexpr int kTipsRetryMs = 100;

    explicit ConversionView(QWidget* parent = nullptr);
    ~ConversionView() override;

    // Fills the lists, sets the defaults, shows or hides the media tip and,
    // unless the tips were hidden before, opens the help window a second later.
    void onInitialUpdate();

    // ISourceList: each runs on the user-interface thread, whoever calls it.
    int rowCount() override;
    int rowTag(int row) override;
    media::SourceItem* itemAt(int index) override;
    int appendItem(media::SourceItem* item) override;
    int insertRow(const std::string& text, int tag) override;
    void refreshRow(int row) override;
    settings::ConversionSettings settings() override;
    void showFrameSize(const std::string& width, const std::string& height) override;
    convert::EncodeJob& job() override;

    // Commands (ids in cmd::).
    bool isCommandEnabled(int id) const;
    void onAdd();
    void onRemove();
    void onRemoveAll();
    void onMoveUp();
    void onMoveDown();
    void onPreview();
    void onConvert();
    void onToolTips();
    void onBrowse();
    void onGo();
    void onDownload(int id);

    // Paths from a drop or the command line: folders are expanded, the rest
    // goes through the detection pass in order. The byte form carries names
    // that are not UTF-8 to the core unchanged.
    void addSourcePaths(const std::vector<std::string>& paths);
    void addSourcePaths(const QStringList& paths);

    // The Add dialog's filters in the file dialog's form.
    static QStringList sourceFileFilters();

    // Exchanges rows a and b: texts, tags and selection/focus states.
    void swapRows(int a, int b);
    void refreshInfo();

    // The bound values: capture (controls to values) and show (values to
    // controls). Capture is false when a value broke its limit (reported);
    // Convert then starts nothing.
    bool captureSettings();
    void showBoundValues();

    // Carries an old view's state over into this one (a language switch).
    void copyStateFrom(ConversionView& old);

    // The list and the settings as the state file keeps them, and back: the
    // rows of a restored list are added after the ones there are.
    media::SavedList savedList();
    void restoreList(const media::SavedList& list);
    void applySettings(const settings::ConversionSettings& settings);

    // Read access for the frame and the tests.
    QTreeWidget* sourceList() const { return m_list; }
    QString infoText() const { return m_infoText; }
    QString outputPath() const { return m_outputPath; }
    bool hideToolTips() const { return m_hideToolTips; }
    int lastInfoRow() const { return m_lastInfoRow; }
    QList<int> selectedRows() const;
    QString cellText(int row, int column) const;
    // The ids of the settings lists' entries ("Keep Original" is -1).
    QList<int> entryTags(int controlId) const;

    // What asks the user (dialogs); tests replace them.
    std::function<QStringList()> chooseSourceFiles;
    std::function<QString(const QString& start)> chooseOutputFolder;
    std::function<void()> runHelpTips;
    // What runs the long work; tests and the shell may replace them.
    std::function<void(const std::vector<std::string>& paths)> runDetection;
    std::function<void()> runBatch;
    // The preview with part selection on an item: true when its part changed.
    std::function<bool(media::SourceItem& item)> runPreview;
    // The codec check of a target that needs one: false refuses the batch.
    std::function<bool(int targetFormat)> checkTargetCodecs;
    // Whether the preview can play here (runtime and decoders), as the
    // application's PreviewCheck last said; tests replace it.
    std::function<bool()> mediaFrameworkReady;

  signals:
    // The number of rows changed: the frame updates its commands.
    void rowsChanged();
    // A row or a setting changed: the list kept on disk is written anew.
    void listChanged();
    // The help window opens (true) or closes (false): the Tool Tips check.
    void toolTipsShown(bool shown);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void buildForm();
    QWidget* buildSettingsPanel();
    // The panel's group boxes, top to bottom; each adds its first caption to firstColumn.
    QGroupBox* buildConversionGroup(QList<QLabel*>& firstColumn);
    QGroupBox* buildVideoGroup(QList<QLabel*>& firstColumn);
    QGroupBox* buildAudioGroup(QList<QLabel*>& firstColumn);
    QGroupBox* buildPathGroup(QList<QLabel*>& firstColumn);
    QHBoxLayout* buildHelpRow(); // the help switch and the media-framework tip
    void fillLists();
    void fillList(QComboBox* combo, const std::vector<std::string>& texts);
    void applySizeChoice();
    void applyVariableBitRate();
    void readOutputPath();
    void setItemText(int row, int column, const QString& text);
    QTreeWidgetItem* rowItem(int row) const;
    void selectOnly(int row);
    void afterDrop();
    void openTipsWhenFree();

    // The detection and conversion windows, run modally.
    void defaultDetection(const std::vector<std::string>& paths);
    void defaultBatch();

    // The list and the information box.
    QTreeWidget* m_list = nullptr;
    QPlainTextEdit* m_info = nullptr;

    // The panel.
    QButtonGroup* m_formatGroup = nullptr;
    QButtonGroup* m_tvGroup = nullptr;
    QComboBox* m_size = nullptr;
    QLineEdit* m_width = nullptr;
    QLineEdit* m_height = nullptr;
    QComboBox* m_frameRate = nullptr;
    QComboBox* m_videoBitRate = nullptr;
    QCheckBox* m_variableBitRate = nullptr;
    QLineEdit* m_maxRate = nullptr;
    QLineEdit* m_minRate = nullptr;
    QComboBox* m_channels = nullptr;
    QComboBox* m_audioBitRate = nullptr;
    QComboBox* m_sampleRate = nullptr;
    QComboBox* m_volume = nullptr;
    QLineEdit* m_outputPathEdit = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_go = nullptr;
    QCheckBox* m_hideToolTipsBox = nullptr;
    QLabel* m_mediaTip = nullptr;

    // Bound values.
    QString m_outputPath;
    int m_targetFormat = -1;
    int m_tvStandard = -1;
    bool m_hideToolTips = false;
    QString m_infoText;

    // Source state.
    std::vector<std::unique_ptr<media::SourceItem>> m_sourceItems;
    int m_lastInfoRow = -1;
    std::unique_ptr<convert::EncodeJob> m_job;
    bool m_initialised = false;
};

} // namespace plexavo::gui
