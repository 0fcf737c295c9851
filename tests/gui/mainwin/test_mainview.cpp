// The main view's rules: list entries, size and bit-rate controls, the
// commands on the source list and where the selection goes after each, the
// information box, drops, the help toggle, the output folder and the rebuild.
#include "MainWinSupport.h"

#include "PlexcoreContract.h"
#include "Process.h"
#include "engine/convert/EncodeJob.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/view/ConversionView.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>
#include <QTreeWidget>
#include <QUrl>
#include <QValidator>

#include <thread>

using namespace plexavo;
using namespace mainwin_test;

using plexavo::gui::ConversionView;
using plexavo::gui::MessageBox;
using plexavo::media::kStatusDone;
using plexavo::media::kStatusReady;
using plexavo::media::kStatusWaiting;
using plexavo::media::parseProbeReport;
using plexavo::media::SourceItem;
using plexavo::platform::defaultOutputPath;
using plexavo::settings::ConversionSettings;
using plexavo::settings::kTargetH264;
using plexavo::settings::kTargetOgm;
using plexavo::settings::kTargetWmv;

namespace {

// Every message Qt writes to standard error while a check runs.
QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;
void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    g_messages.append(message);
    g_previousHandler(type, context, message);
}

} // namespace

class TestMainView : public QObject {
    Q_OBJECT

    std::unique_ptr<ConversionView> m_view;
    std::vector<std::vector<std::string>> m_detections;
    int m_batches = 0;

    template <typename T> T* control(int id) {
        return m_view->findChild<T*>(QStringLiteral("ctl%1").arg(id));
    }

    void drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(m_view.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view.get(), &event);
    }

  private slots:
    void initTestCase() { settings::toolTipsHiddenThisRun = true; }

    static std::string storedOutputPath() {
        return settings::SettingsFile().readText(settings::kOutputPath).value_or("<none>");
    }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_view = std::make_unique<ConversionView>();
        m_view->mediaFrameworkReady = [] { return true; };
        m_view->onInitialUpdate();
        m_detections.clear();
        m_batches = 0;
        // Detection records the paths and adds a row for each, as the pass does.
        m_view->runDetection = [this](const std::vector<std::string>& paths) {
            m_detections.push_back(paths);
            for (const auto& path : paths) {
                auto* item = makeItem(
                    QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString());
                item->path = path;
                addRow(*m_view, item);
            }
        };
        m_view->runBatch = [this] { ++m_batches; };
    }

    void cleanup() { m_view.reset(); }

    // First of all: a font warns once per script it cannot shape, so a later
    // measure in this program would be quiet whatever it measures with.
    void measuringTheRowsWritesNothingToStandardError() {
        g_messages.clear();
        g_previousHandler = qInstallMessageHandler(recordMessage);
        m_view->resize(700, 420);
        m_view->show();
        const bool exposed = QTest::qWaitForWindowExposed(m_view.get());
        addRow(*m_view, makeItem("\u4E2D\u6587 \u30D3\u30C7\u30AA"));
        QTreeWidget* list = m_view->sourceList();
        const int rowHeight =
            list->visualItemRect(list->topLevelItem(m_view->rowCount() - 1)).height();
        m_view->grab(); // painted, with every name
        qInstallMessageHandler(g_previousHandler);
        QVERIFY(exposed);
        QVERIFY(rowHeight > list->fontMetrics().height());
        for (const QString& message : g_messages)
            QVERIFY2(!message.contains(QStringLiteral("OpenType support missing")),
                     qPrintable(message));
    }

    // Early, while no check has opened a dialog: at rest the view keeps
    // only what it shows. The header's captions are measured in the list's
    // font (a bold face loaded for the measure alone would stay), and no
    // settings list has built its drop-down; each is as wide and tall as a
    // box Qt sizes to its minimum contents length.
    void atRestTheViewKeepsNoBoldFaceAndNoDropDown() {
        m_view->resize(700, 420);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->grab();
        for (const std::string& font : testing_support::mappedFiles("/fonts/"))
            QVERIFY2(font.find("Bold") == std::string::npos, font.c_str());
        QTreeWidget plain;
        plain.setHeaderLabels({m_view->sourceList()->headerItem()->text(0)});
        QCOMPARE(m_view->sourceList()->header()->sizeHint().height(),
                 plain.header()->sizeHint().height());

        for (int id :
             {gui::ctl::kSize, gui::ctl::kFrameRate, gui::ctl::kVideoBitRate, gui::ctl::kChannels,
              gui::ctl::kAudioBitRate, gui::ctl::kSampleRate, gui::ctl::kVolume}) {
            auto* combo = control<QComboBox>(id);
            QVERIFY2(combo->findChildren<QAbstractItemView*>().isEmpty(),
                     qPrintable(QString::number(id)));
            QComboBox sized;
            sized.setFont(combo->font());
            sized.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
            sized.setMinimumContentsLength(combo->minimumContentsLength());
            for (int i = 0; i < combo->count(); ++i)
                sized.addItem(combo->itemText(i));
            QCOMPARE(combo->sizeHint(), sized.sizeHint());
            QCOMPARE(combo->minimumSizeHint(), sized.minimumSizeHint());
        }
    }

    // ---- The settings lists ----------------------------------------------------

    void listsHoldTheTableTextsWithTags() {
        auto* size = control<QComboBox>(gui::ctl::kSize);
        QCOMPARE(size->count(), 15);
        QCOMPARE(size->itemText(0), QStringLiteral("Keep Original"));
        QCOMPARE(size->itemText(9), QStringLiteral("640x480 - iPhone4 (Recommended)"));
        QCOMPARE(size->itemText(1), QStringLiteral("160x120 - "));
        QCOMPARE(control<QComboBox>(gui::ctl::kFrameRate)->itemText(3),
                 QStringLiteral("29.970 fps"));
        QCOMPARE(control<QComboBox>(gui::ctl::kVideoBitRate)->itemText(7),
                 QStringLiteral("768 kbps - Recommended"));
        QCOMPARE(control<QComboBox>(gui::ctl::kAudioBitRate)->itemText(3),
                 QStringLiteral("64 kbps - Better than FM (Recommended)"));
        QCOMPARE(control<QComboBox>(gui::ctl::kChannels)->itemText(1),
                 QStringLiteral("1 Channel, Mono"));
        QCOMPARE(control<QComboBox>(gui::ctl::kSampleRate)->itemText(2),
                 QStringLiteral("44100 HZ"));
        QCOMPARE(control<QComboBox>(gui::ctl::kVolume)->itemText(1),
                 QStringLiteral("0% - Disable Audio"));

        const QList<int> tags = m_view->entryTags(gui::ctl::kSize);
        QCOMPARE(tags.size(), 15);
        QCOMPARE(tags.first(), -1);
        for (int i = 1; i < tags.size(); ++i)
            QCOMPARE(tags[i], i - 1);
        QCOMPARE(m_view->entryTags(gui::ctl::kSampleRate), (QList<int>{-1, 0, 1, 2}));

        // Every list starts at "Keep Original", and its drop-down shows the
        // widest entry whole.
        for (int id :
             {gui::ctl::kSize, gui::ctl::kFrameRate, gui::ctl::kVideoBitRate, gui::ctl::kChannels,
              gui::ctl::kAudioBitRate, gui::ctl::kSampleRate, gui::ctl::kVolume}) {
            auto* combo = control<QComboBox>(id);
            QCOMPARE(combo->currentIndex(), 0);
            combo->showPopup();
            int widest = 0;
            for (int i = 0; i < combo->count(); ++i)
                widest = std::max(
                    widest, combo->view()->fontMetrics().horizontalAdvance(combo->itemText(i)));
            QVERIFY2(combo->view()->minimumWidth() >= widest, qPrintable(QString::number(id)));
            combo->hidePopup();
        }
        QVERIFY(control<QComboBox>(gui::ctl::kVolume)->isHidden());
        QVERIFY(!control<QRadioButton>(1006)->isVisibleTo(m_view.get()));
        QVERIFY(control<QRadioButton>(1005)->isVisibleTo(m_view.get()));
    }

    void sizePresetFillsTheEditsAndEditsDoNotMoveTheList() {
        auto* size = control<QComboBox>(gui::ctl::kSize);
        auto* width = control<QLineEdit>(gui::ctl::kWidth);
        auto* height = control<QLineEdit>(gui::ctl::kHeight);
        QCOMPARE(width->text(), QStringLiteral("0"));
        size->setCurrentIndex(9);
        QCOMPARE(width->text(), QStringLiteral("640"));
        QCOMPARE(height->text(), QStringLiteral("480"));
        width->clear();
        QTest::keyClicks(width, QStringLiteral("7x2"));
        QCOMPARE(width->text(), QStringLiteral("72")); // digits only
        // No sign, no other script's digits, no more than an int holds.
        QTest::keyClicks(width, QStringLiteral("-+ 3456789012"));
        QCOMPARE(width->text(), QStringLiteral("723456789"));
        QString arabicThree = QStringLiteral("\u0663");
        int at = 0;
        QCOMPARE(width->validator()->validate(arabicThree, at), QValidator::Invalid);
        width->setText(QStringLiteral("72"));
        QCOMPARE(size->currentIndex(), 9);
        size->setCurrentIndex(0);
        QCOMPARE(width->text(), QStringLiteral("0"));
        QCOMPARE(height->text(), QStringLiteral("0"));
    }

    void settingsAreReadFromTheControlsAndTheSizeIsShownBack() {
        control<QComboBox>(gui::ctl::kSize)->setCurrentIndex(13);
        control<QLineEdit>(gui::ctl::kHeight)->setText(QStringLiteral("0"));
        control<QComboBox>(gui::ctl::kFrameRate)->setCurrentIndex(3);
        control<QComboBox>(gui::ctl::kVideoBitRate)->setCurrentIndex(7);
        control<QCheckBox>(gui::ctl::kVariableBitRate)->setChecked(true);
        control<QLineEdit>(gui::ctl::kMaxRate)->setText(QStringLiteral("1000"));
        control<QComboBox>(gui::ctl::kChannels)->setCurrentIndex(2);
        control<QComboBox>(gui::ctl::kAudioBitRate)->setCurrentIndex(3);
        control<QComboBox>(gui::ctl::kSampleRate)->setCurrentIndex(2);
        control<QRadioButton>(1005)->click();

        ConversionSettings s = m_view->settings();
        QCOMPARE(s.targetFormat, int(kTargetH264));
        QCOMPARE(s.sizeChoice, 13);
        QCOMPARE(s.width, std::string("1024"));
        QCOMPARE(s.height, std::string("0"));
        QCOMPARE(*s.frameRate(), 29.97);
        QCOMPARE(*s.videoBitRate(), 768);
        QVERIFY(s.variableBitRate);
        QCOMPARE(s.maxRate, std::string("1000"));
        QCOMPARE(*s.channels(), 2);
        QCOMPARE(*s.audioBitRate(), 64);
        QCOMPARE(*s.sampleRate(), 44100);
        QVERIFY(!s.outputPath.empty() && s.outputPath.back() == '/');

        // The batch equalises a half-zero size and shows the result.
        s.equalizeSize();
        m_view->showFrameSize(s.width, s.height);
        QCOMPARE(control<QLineEdit>(gui::ctl::kWidth)->text(), QStringLiteral("0"));
        QCOMPARE(m_view->settings().width, std::string("0"));
    }

    void variableBitRateEnablesMaxAndMinAndKeepsTheirTexts() {
        auto* box = control<QCheckBox>(gui::ctl::kVariableBitRate);
        auto* max = control<QLineEdit>(gui::ctl::kMaxRate);
        auto* min = control<QLineEdit>(gui::ctl::kMinRate);
        QVERIFY(!max->isEnabled() && !min->isEnabled());
        box->click();
        QVERIFY(max->isEnabled() && min->isEnabled());
        max->setText(QStringLiteral("900"));
        box->click();
        QVERIFY(!max->isEnabled() && !min->isEnabled());
        QCOMPARE(max->text(), QStringLiteral("900"));
    }

    void aClickedFormatStaysWhenTheSelectedRowChanges() {
        addRows(*m_view, 2);
        select(*m_view, {0});
        control<QRadioButton>(1005)->click();
        select(*m_view, {1});
        QVERIFY(control<QRadioButton>(1005)->isChecked());
        QCOMPARE(m_view->settings().targetFormat, int(kTargetH264));
    }

    // ---- Rows and commands -----------------------------------------------------

    void rowsShowTheirItemsColumns() {
        auto* item = makeItem("long", 3725);
        item->status = kStatusDone;
        addRow(*m_view, item);
        QCOMPARE(m_view->cellText(0, 0), QStringLiteral("long.mp4"));
        QCOMPARE(m_view->cellText(0, 1), QStringLiteral("long-cvt.mp4"));
        QCOMPARE(m_view->cellText(0, 2), QStringLiteral("00:00:00-01:02:05"));
        QCOMPARE(m_view->cellText(0, 3), QStringLiteral("Done"));
        // The part that will be converted, not always the whole file.
        item->startSeconds = 5;
        item->endSeconds = 60;
        item->status = 42;
        m_view->refreshRow(0);
        QCOMPARE(m_view->cellText(0, 2), QStringLiteral("00:00:05-00:01:00"));
        QCOMPARE(m_view->cellText(0, 3), QStringLiteral("Ready"));
    }

    void rowsShareOneHeightThatEveryScriptFits() {
        m_view->resize(700, 420);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        // A Latin name first (it used to set the height for all), then
        // Chinese, Japanese and accented Latin.
        for (const QString& title : {QStringLiteral("clip"), QStringLiteral("\u4E2D\u6587\u6807"),
                                     QStringLiteral("\u30D3\u30C7\u30AA\u65E5\u8A18"),
                                     QStringLiteral("\u00DCn\u00EFc\u00F8d\u00E9")})
            addRow(*m_view, makeItem(title.toStdString()));
        QTreeWidget* list = m_view->sourceList();
        for (int row = 0; row < 4; ++row) {
            const QRect rect = list->visualItemRect(list->topLevelItem(row));
            QTextLayout layout(list->topLevelItem(row)->text(0), list->font());
            layout.beginLayout();
            const QTextLine line = layout.createLine(); // fallback fonts and all
            layout.endLayout();
            QVERIFY2(line.height() <= rect.height(), qPrintable(QString::number(row)));
            const QRect above = list->visualItemRect(list->topLevelItem(std::max(row - 1, 0)));
            QCOMPARE(rect.height(), above.height());
            if (row > 0)
                QCOMPARE(rect.top(), above.bottom() + 1); // neither overlapping nor apart
        }
    }

    void commandsAreEnabledByTheRowCountAlone() {
        QSignalSpy changed(m_view.get(), &ConversionView::rowsChanged);
        for (int id : {gui::cmd::kRemove, gui::cmd::kRemoveAll, gui::cmd::kPreview,
                       gui::cmd::kConvert, gui::cmd::kMoveUp, gui::cmd::kMoveDown})
            QVERIFY(!m_view->isCommandEnabled(id));
        QVERIFY(m_view->isCommandEnabled(gui::cmd::kAdd));
        addRows(*m_view, 1);
        QVERIFY(!changed.isEmpty());
        QVERIFY(m_view->isCommandEnabled(gui::cmd::kRemove));
        QVERIFY(m_view->isCommandEnabled(gui::cmd::kConvert));
        QVERIFY(m_view->isCommandEnabled(gui::cmd::kPreview));
        QVERIFY(!m_view->isCommandEnabled(gui::cmd::kMoveUp));
        addRows(*m_view, 1);
        m_view->sourceList()->clearSelection(); // the selection plays no part
        QVERIFY(m_view->isCommandEnabled(gui::cmd::kMoveUp));
        QVERIFY(m_view->isCommandEnabled(gui::cmd::kMoveDown));
    }

    void moveUpMovesEachSelectedBlockByOneRow() {
        addRows(*m_view, 3);
        select(*m_view, {1, 2});
        m_view->onMoveUp();
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip1", "clip2", "clip0"}));
        QCOMPARE(m_view->selectedRows(), (QList<int>{0, 1}));
        m_view->onMoveUp(); // a block at the top stays
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip1", "clip2", "clip0"}));
        // Texts and tags travel together.
        QCOMPARE(m_view->cellText(2, 0), QStringLiteral("clip0.mp4"));
        QCOMPARE(m_view->rowTag(2), 0);
    }

    void moveDownMovesEachSelectedBlockByOneRow() {
        addRows(*m_view, 4);
        select(*m_view, {0, 2});
        m_view->onMoveDown();
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip1", "clip0", "clip3", "clip2"}));
        QCOMPARE(m_view->selectedRows(), (QList<int>{1, 3}));
        m_view->onMoveDown(); // the lower block is at the end and stays
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip1", "clip3", "clip0", "clip2"}));
        m_view->sourceList()->clearSelection();
        m_view->onMoveDown(); // nothing selected: nothing moves
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip1", "clip3", "clip0", "clip2"}));
    }

    void swapRowsMovesTheFocusAndIgnoresBadIndexes() {
        addRows(*m_view, 3);
        auto* list = m_view->sourceList();
        list->setCurrentItem(list->topLevelItem(0));
        m_view->swapRows(0, 2);
        QCOMPARE(list->currentIndex().row(), 2);
        QCOMPARE(m_view->selectedRows(), QList<int>{2});
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip2", "clip1", "clip0"}));
        m_view->swapRows(-1, 0);
        m_view->swapRows(0, 3);
        m_view->swapRows(1, 1);
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip2", "clip1", "clip0"}));
    }

    void removeSelectsTheRowAfterTheRemovedOnes() {
        addRows(*m_view, 5);
        select(*m_view, {1, 2});
        m_view->onRemove();
        QCOMPARE(rowTitles(*m_view), (QStringList{"clip0", "clip3", "clip4"}));
        QCOMPARE(m_view->selectedRows(), QList<int>{1});
        // The removed items' slots are empty and never reused.
        QCOMPARE(m_view->itemAt(1), nullptr);
        QCOMPARE(m_view->itemAt(2), nullptr);
        addRows(*m_view, 1);
        QCOMPARE(m_view->rowTag(3), 5);
    }

    void removingTheLastRowSelectsTheNewLastRow() {
        addRows(*m_view, 5);
        select(*m_view, {4});
        m_view->onRemove();
        QCOMPARE(m_view->rowCount(), 4);
        QCOMPARE(m_view->selectedRows(), QList<int>{3});
    }

    void removeWithoutSelectionRemovesNothingAndSelectsTheLastRow() {
        addRows(*m_view, 3);
        m_view->sourceList()->clearSelection();
        m_view->onRemove();
        QCOMPARE(m_view->rowCount(), 3);
        QCOMPARE(m_view->selectedRows(), QList<int>{2});
    }

    void removeAllForgetsTheShownRow() {
        addRows(*m_view, 2);
        select(*m_view, {0});
        QVERIFY(m_view->infoText().startsWith(QStringLiteral("clip0.mp4")));
        m_view->onRemoveAll();
        QCOMPARE(m_view->rowCount(), 0);
        QCOMPARE(m_view->infoText(), QString());
        QCOMPARE(m_view->lastInfoRow(), -1);
        QCOMPARE(m_view->itemAt(0), nullptr);
        m_view->chooseSourceFiles = [] { return QStringList{QStringLiteral("/media/fresh.mp4")}; };
        m_view->onAdd();
        QVERIFY2(m_view->infoText().startsWith(QStringLiteral("fresh.mp4")),
                 qPrintable(m_view->infoText()));
    }

    void addRunsDetectionOnAbsolutePathsAndSelectsTheLastRow() {
        addRows(*m_view, 1);
        select(*m_view, {0});
        m_view->chooseSourceFiles = [] {
            return QStringList{QStringLiteral("/media/b b.mp4"), QStringLiteral("relative/a.mov")};
        };
        m_view->onAdd();
        QCOMPARE(m_detections.size(), std::size_t(1));
        QCOMPARE(m_detections[0].size(), std::size_t(2));
        QCOMPARE(m_detections[0][0], std::string("/media/b b.mp4"));
        QCOMPARE(QString::fromStdString(m_detections[0][1]),
                 QDir::current().absoluteFilePath("relative/a.mov"));
        QCOMPARE(m_view->selectedRows(), QList<int>{2});
        QCOMPARE(m_view->sourceList()->currentIndex().row(), 2);

        // Cancelled: nothing runs and the selection stays.
        m_view->chooseSourceFiles = [] { return QStringList{}; };
        select(*m_view, {0});
        m_view->onAdd();
        QCOMPARE(m_detections.size(), std::size_t(1));
        QCOMPARE(m_view->selectedRows(), QList<int>{0});
    }

    void theSameFileAddedTwiceGivesTwoRows() {
        m_view->chooseSourceFiles = [] {
            return QStringList{QStringLiteral("/m/x.mp4"), QStringLiteral("/m/x.mp4")};
        };
        m_view->onAdd();
        QCOMPARE(m_view->rowCount(), 2);
        QVERIFY(m_view->rowTag(0) != m_view->rowTag(1));
    }

    // ---- Drops -----------------------------------------------------------------

    void aDropKeepsAnExistingSelection() {
        addRows(*m_view, 3);
        select(*m_view, {0, 1});
        drop({QUrl::fromLocalFile("/m/one.mp4"), QUrl::fromLocalFile("/m/two.mp4")});
        QCOMPARE(m_view->rowCount(), 5);
        QCOMPARE(m_view->selectedRows(), (QList<int>{0, 1}));
    }

    void aDropWithoutSelectionSelectsTheLastRowAndSkipsAddresses() {
        addRows(*m_view, 1);
        m_view->sourceList()->clearSelection();
        drop({QUrl(QStringLiteral("https://example.org/movie.mp4")),
              QUrl::fromLocalFile("/m/it's \"x\".mp4")});
        QCOMPARE(m_detections.size(), std::size_t(1));
        QCOMPARE(m_detections[0], (std::vector<std::string>{"/m/it's \"x\".mp4"}));
        QCOMPARE(m_view->selectedRows(), QList<int>{1});
        drop({QUrl(QStringLiteral("https://example.org/only.mp4"))});
        QCOMPARE(m_detections.size(), std::size_t(1)); // nothing local: no pass at all
    }

    void aDroppedFolderAddsItsMediaFilesByName() {
        QTemporaryDir dir;
        for (const char* name : {"b.MP4", "a.mkv", "c.avi", ".hidden.mp4", "notes.txt", "a.wav"})
            touch(dir.filePath(QString::fromUtf8(name)));
        QDir(dir.path()).mkdir(QStringLiteral("sub.mp4"));
        touch(dir.filePath("sub.mp4/inner.mp4"));
        drop({QUrl::fromLocalFile(dir.path()), QUrl::fromLocalFile("/m/single.mp4")});
        QCOMPARE(m_detections.size(), std::size_t(1));
        const std::string folder = dir.path().toStdString() + "/";
        QCOMPARE(m_detections[0], (std::vector<std::string>{folder + "a.wav", folder + "b.MP4",
                                                            folder + "c.avi", "/m/single.mp4"}));
    }

    // ---- Information box -------------------------------------------------------

    void infoBoxSplitsStreamsAtTheSecondComma() {
        addRow(*m_view, makeItem("a", 60, "mpeg4, yuv420p, 640x480, 25 fps", "aac, 44100 Hz"));
        addRow(*m_view, makeItem("b", 60, "novideo", "mp3 with no comma"));
        auto* unknown = makeItem("c");
        unknown->durationText.clear();
        addRow(*m_view, unknown);

        select(*m_view, {0});
        QCOMPARE(m_view->infoText(),
                 QStringLiteral("a.mp4\r\n\r\nDuration:00:01:00.00\r\nBitrate:512 kb/s"
                                "\r\nVideo:\r\n mpeg4, yuv420p,\r\n  640x480, 25 fps"
                                "\r\nAudio:\r\n aac, 44100 Hz"));
        select(*m_view, {1});
        QCOMPARE(m_view->infoText(),
                 QStringLiteral("b.mp4\r\n\r\nDuration:00:01:00.00\r\nBitrate:512 kb/s"));
        select(*m_view, {2});
        QCOMPARE(m_view->infoText(), QStringLiteral("c.mp4\r\n\r\nUnknown file format."));
        QCOMPARE(m_view->findChild<QPlainTextEdit*>("ctl1210")->toPlainText(),
                 QStringLiteral("c.mp4\n\nUnknown file format."));
        // Losing the selection in a filled list leaves the box as it was.
        m_view->sourceList()->clearSelection();
        QCOMPARE(m_view->infoText(), QStringLiteral("c.mp4\r\n\r\nUnknown file format."));
    }

    // Subtitle tracks, one a line, and the chapter count follow the sound, only
    // for files that have them.
    void infoBoxListsSubtitlesAndChaptersAfterTheSound() {
        auto* item = makeItem("film", 60, "h264, yuv420p, 320x240", "aac, 44100 Hz");
        item->report = parseProbeReport(
            "  Duration: 00:01:00.00, start: 0.000000, bitrate: 512 kb/s\n"
            "    Stream #0.2(eng): Subtitle: subrip (text), default\n"
            "    Stream #0.3(fre): Subtitle: dvd_subtitle (picture)\n"
            "    Stream #1.0(spa): Subtitle: subrip (text), forced, from film.es.forced.srt\n"
            "  Chapters: 7\n");
        addRow(*m_view, item);
        addRow(*m_view, makeItem("plain", 60, "h264, yuv420p, 320x240", "aac, 44100 Hz"));
        select(*m_view, {0});
        QCOMPARE(m_view->infoText(),
                 QStringLiteral("film.mp4\r\n\r\nDuration:00:01:00.00\r\nBitrate:512 kb/s"
                                "\r\nVideo:\r\n h264, yuv420p,\r\n  320x240"
                                "\r\nAudio:\r\n aac, 44100 Hz"
                                "\r\nSubtitles:\r\n eng subrip (text, default)"
                                "\r\n fre dvd_subtitle (picture)"
                                "\r\n spa subrip (text, forced) from film.es.forced.srt"
                                "\r\nChapters: 7"));
        select(*m_view, {1});
        QVERIFY2(m_view->infoText().endsWith(QStringLiteral("\r\nAudio:\r\n aac, 44100 Hz")),
                 qPrintable(m_view->infoText()));
    }

    // ---- Convert and Preview ---------------------------------------------------

    void convertMarksEveryRowWaitingAndRunsTheBatch() {
        addRows(*m_view, 2);
        m_view->onConvert();
        QCOMPARE(m_batches, 1);
        QCOMPARE(m_view->cellText(0, 3), QStringLiteral("Waiting"));
        QCOMPARE(m_view->itemAt(m_view->rowTag(1))->status, int(kStatusWaiting));
    }

    void aRefusedCodecCheckChangesNothing() {
        addRows(*m_view, 1);
        int asked = -1;
        m_view->checkTargetCodecs = [&](int target) {
            asked = target;
            return false;
        };
        control<QRadioButton>(1005)->click();
        m_view->onConvert();
        QCOMPARE(asked, int(kTargetH264));
        QCOMPARE(m_batches, 0);
        QCOMPARE(m_view->cellText(0, 3), QStringLiteral("Ready"));
    }

    // The view's own check, not a replaced one, against a stand-in core.
    void convertAsksTheCoreBeforeAWmvOrOgmBatch_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<unsigned>("question");
        QTest::newRow("wmv") << int(kTargetWmv) << 61225u;
        QTest::newRow("ogm") << int(kTargetOgm) << 61226u;
    }
    void convertAsksTheCoreBeforeAWmvOrOgmBatch() {
        QFETCH(int, target);
        QFETCH(unsigned, question);
        QTemporaryDir coreDir;
        platform::setCoreFolder(coreDir.path().toStdString());
        auto coreAnswers = [&](int code) {
            QFile script(coreDir.filePath(QString::fromLatin1(contract::kProgramName)));
            QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
            script.write(QStringLiteral("#!/bin/sh\nexit %1\n").arg(code).toUtf8());
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        addRows(*m_view, 1);
        control<QRadioButton>(gui::ctl::kFirstFormat + target)->setChecked(true);
        coreAnswers(contract::kExitDone); // it can write it: no question, the batch runs
        m_view->onConvert();
        QCOMPARE(m_batches, 1);
        QVERIFY(MessageBox::shownTexts().isEmpty());

        m_view->itemAt(m_view->rowTag(0))->status = kStatusReady;
        m_view->refreshRow(0);
        coreAnswers(contract::kExitFailed); // it cannot: asked, and nothing starts
        MessageBox::setNextAnswer(QMessageBox::Cancel);
        m_view->onConvert();
        platform::setCoreFolder("");
        QCOMPARE(m_batches, 1);
        QCOMPARE(MessageBox::shownTexts(), QStringList{gui::str(question)});
        QCOMPARE(m_view->cellText(0, 3), QStringLiteral("Ready"));
    }

    void anOutputPathOverThePlatformLimitStopsTheBatch() {
        // The limit counts bytes: 1,366 three-byte letters break it as well
        // as 4,096 ASCII ones. Said, and nothing starts.
        addRows(*m_view, 1);
        for (const QString& tooLong :
             {QStringLiteral("/") + QString(ConversionView::kOutputPathLimit, QLatin1Char('p')),
              QStringLiteral("/") + QString(1366, QChar(0x4E2D))}) {
            MessageBox::shownTexts().clear();
            m_view->chooseOutputFolder = [&](const QString&) { return tooLong; };
            m_view->onBrowse();
            m_view->onConvert();
            QCOMPARE(MessageBox::shownTexts(),
                     QStringList{QStringLiteral("Please enter no more than 4095 characters.")});
            QCOMPARE(m_batches, 0);
            QCOMPARE(m_view->cellText(0, 3), QStringLiteral("Ready"));
        }
    }

    void aRealFolderDeeperThan256CharactersConverts() {
        QTemporaryDir dir;
        QString deep = dir.path();
        while (deep.size() <= 256)
            deep += QStringLiteral("/") + QString(60, QLatin1Char('d'));
        QVERIFY(QDir().mkpath(deep));
        m_view->chooseOutputFolder = [&](const QString&) { return deep; };
        m_view->onBrowse();
        addRows(*m_view, 1);
        m_view->onConvert();
        QVERIFY(MessageBox::shownTexts().isEmpty());
        QCOMPARE(m_batches, 1);
        QCOMPARE(m_view->settings().outputPath, deep.toStdString() + "/");
    }

    void previewStoresTheChosenPartAndShowsIt() {
        addRows(*m_view, 2);
        select(*m_view, {1});
        std::string previewed;
        bool changed = true;
        m_view->runPreview = [&](SourceItem& item) {
            previewed = item.path;
            if (changed) {
                item.startSeconds = 5;
                item.endSeconds = 42;
            }
            return changed;
        };
        m_view->onPreview();
        QCOMPARE(previewed, std::string("/media/clip1.mp4"));
        QCOMPARE(m_view->cellText(1, 2), QStringLiteral("00:00:05-00:00:42"));
        // Cancelled: the row keeps what it showed.
        changed = false;
        select(*m_view, {0});
        m_view->onPreview();
        QCOMPARE(previewed, std::string("/media/clip0.mp4"));
        QCOMPARE(m_view->cellText(0, 2), QStringLiteral("00:00:00-00:01:00"));
    }

    void mediaTipShowsWhenThePreviewCannotPlay() {
        for (bool ready : {true, false}) {
            ConversionView view;
            view.mediaFrameworkReady = [ready] { return ready; };
            view.onInitialUpdate();
            auto* tip = view.findChild<QLabel*>(QStringLiteral("ctl1101"));
            QVERIFY(tip->isHidden()); // asked after the window is up
            QCoreApplication::processEvents();
            QCOMPARE(tip->isHidden(), ready);
            QCOMPARE(
                tip->text(),
                QStringLiteral("Tips: Please install GStreamer 1.16 or later with its plugins. "
                               "( Click Menu/Download )"));
        }
    }

    // ---- Help toggle and output folder -----------------------------------------

    void toolTipsToggleOpensTheWindowOnceAndRemembers() {
        auto* box = control<QCheckBox>(gui::ctl::kHideToolTips);
        QVERIFY(box->isChecked());
        QSignalSpy shown(m_view.get(), &ConversionView::toolTipsShown);
        bool hiddenWhileOpen = true;
        m_view->runHelpTips = [&] { hiddenWhileOpen = m_view->hideToolTips() || box->isChecked(); };
        box->click(); // unchecks, then the toggle runs
        QVERIFY(!hiddenWhileOpen);
        QVERIFY(box->isChecked());
        QVERIFY(m_view->hideToolTips());
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0][0].toBool(), true);
        QCOMPARE(shown[1][0].toBool(), false);
        QVERIFY(settings::readToolTipsHidden());
    }

    void aFirstStartOpensTheHelpWindowAboutASecondLater() {
        settings::toolTipsHiddenThisRun = false;
        ConversionView first;
        int opened = 0;
        first.runHelpTips = [&] { ++opened; };
        first.onInitialUpdate();
        settings::toolTipsHiddenThisRun = true;
        QCOMPARE(opened, 0); // not at once
        QTRY_COMPARE_WITH_TIMEOUT(opened, 1, 10000);
        QVERIFY(first.hideToolTips());
        QVERIFY(settings::readToolTipsHidden());
        QTest::qWait(1200);
        QCOMPARE(opened, 1); // and only once
    }

    void goReportsAFolderThatIsNotThereYet() {
        QTemporaryDir dir;
        m_view->chooseOutputFolder = [&](const QString&) {
            return dir.filePath(QStringLiteral("later"));
        };
        m_view->onBrowse();
        m_view->onGo();
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY2(MessageBox::shownTexts()[0].contains(dir.filePath(QStringLiteral("later/"))),
                 qPrintable(MessageBox::shownTexts()[0]));
    }

    void browseAppendsTheSlashAndStoresTheFolder() {
        QTemporaryDir dir;
        m_view->chooseOutputFolder = [&](const QString&) { return dir.path(); };
        m_view->onBrowse();
        QCOMPARE(m_view->outputPath(), dir.path() + "/");
        QCOMPARE(QString::fromStdString(storedOutputPath()), dir.path() + "/");
        QCOMPARE(m_view->findChild<QLineEdit*>("ctl1001")->text(), dir.path() + "/");
        // Cancelled: the folder stays, and is stored again.
        settings::writeOutputPath("");
        m_view->chooseOutputFolder = [](const QString&) { return QString(); };
        m_view->onBrowse();
        QCOMPARE(m_view->outputPath(), dir.path() + "/");
        QCOMPARE(QString::fromStdString(storedOutputPath()), dir.path() + "/");
    }

    void storedOutputPathIsResolvedAgainstHome() {
        QTemporaryDir dir(QDir::homePath() + QStringLiteral("/plexavo-test-XXXXXX"));
        const QString name = QFileInfo(dir.path()).fileName();
        settings::writeOutputPath(name.toStdString());
        QCOMPARE(ConversionView().outputPath(), dir.path());
        settings::writeOutputPath(("~/" + name).toStdString());
        QCOMPARE(ConversionView().outputPath(), dir.path());
        settings::writeOutputPath(dir.path().toStdString() + "/gone");
        QCOMPARE(ConversionView().outputPath().toStdString(), defaultOutputPath());
        settings::writeOutputPath("");
        QCOMPARE(ConversionView().outputPath().toStdString(), defaultOutputPath());
    }

    // ---- Workers and the rebuild -----------------------------------------------

    void workersReachTheListOnTheUiThread() {
        std::thread worker([this] {
            for (int i = 0; i < 3; ++i)
                addRow(*m_view, makeItem("w" + std::to_string(i)));
            m_view->showFrameSize("320", "240");
        });
        while (m_view->sourceList()->topLevelItemCount() < 3 || m_view->settings().width != "320")
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        worker.join();
        QCOMPARE(rowTitles(*m_view), (QStringList{"w0", "w1", "w2"}));
        QCOMPARE(m_view->cellText(2, 3), QStringLiteral("Ready"));
    }

    void aRebuiltViewCarriesTheStateOver() {
        addRows(*m_view, 3);
        select(*m_view, {0});
        m_view->onRemove(); // a null slot at index 0
        addRows(*m_view, 1);
        select(*m_view, {0, 2});
        m_view->onMoveDown();
        control<QRadioButton>(1005)->click();
        control<QComboBox>(gui::ctl::kSize)->setCurrentIndex(5);
        control<QLineEdit>(gui::ctl::kWidth)->setText(QStringLiteral("333"));
        control<QComboBox>(gui::ctl::kAudioBitRate)->setCurrentIndex(4);
        control<QCheckBox>(gui::ctl::kVariableBitRate)->setChecked(true);
        control<QLineEdit>(gui::ctl::kMinRate)->setText(QStringLiteral("100"));
        const QStringList order = rowTitles(*m_view);
        const QList<int> selection = m_view->selectedRows();
        QList<int> tags;
        for (int row = 0; row < m_view->rowCount(); ++row)
            tags.append(m_view->rowTag(row));

        ConversionView fresh;
        fresh.onInitialUpdate();
        fresh.copyStateFrom(*m_view);
        QCOMPARE(rowTitles(fresh), order);
        QCOMPARE(fresh.selectedRows(), selection);
        for (int row = 0; row < fresh.rowCount(); ++row)
            QCOMPARE(fresh.rowTag(row), tags[row]);
        QCOMPARE(fresh.itemAt(0), nullptr);
        QCOMPARE(fresh.settings().targetFormat, int(kTargetH264));
        QCOMPARE(fresh.settings().sizeChoice, 5);
        QCOMPARE(fresh.settings().width, std::string("333"));
        QCOMPARE(fresh.settings().audioBitRateChoice, 4);
        QVERIFY(fresh.settings().variableBitRate);
        QVERIFY(fresh.findChild<QLineEdit*>("ctl1110")->isEnabled());
        QCOMPARE(fresh.settings().minRate, std::string("100"));
        // The copies keep their probe details: the box still describes them.
        fresh.sourceList()->clearSelection();
        select(fresh, {1});
        QVERIFY2(fresh.infoText().contains(QStringLiteral("Duration:00:01:00.00")),
                 qPrintable(fresh.infoText()));
        QCOMPARE(fresh.cellText(1, 1), m_view->cellText(1, 1));
    }
};

QTEST_MAIN(TestMainView)
#include "test_mainview.moc"
