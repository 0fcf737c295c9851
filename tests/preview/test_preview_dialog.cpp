// The preview window offscreen with a silent sound sink: opening and the
// automatic play, the end of the media (also with a second sound track),
// files it cannot play, durations from the probe, the part rules of Start,
// End and Full, seeking while paused, the keys, and what OK and Cancel hand
// back.
#include "MediaTools.h"
#include "PreviewClips.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/DebugLog.h"
#include "gui/preview/PreviewCommand.h"
#include "gui/preview/PreviewDialog.h"
#include "gui/preview/PreviewWidgets.h"

#ifdef PLEXCORE_FOLDER
#include "engine/convert/EncodeJob.h"
#include "engine/convert/EncodingOptions.h"
#include "engine/platform/CoreLocator.h"
#include "engine/settings/ConversionSettings.h"
#endif

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <fstream>
#include <memory>
#include <random>

using namespace plexavo;
using namespace plexavo::gui;
using player::Player;
using namespace std::chrono_literals;

using plexavo::convert::buildOptionText;
using plexavo::convert::EncodeJob;
using plexavo::convert::partOf;
using plexavo::media::probeFailureReason;
using plexavo::media::SourceItem;
using plexavo::settings::ConversionSettings;

namespace {

constexpr int kOpenTimeoutMs = 15000;

template <typename T> T* control(QWidget& dialog, int id) {
    return dialog.findChild<T*>(QStringLiteral("ctl%1").arg(id));
}

QString text(QWidget& dialog, int id) {
    return control<QLineEdit>(dialog, id)->text();
}
bool enabled(QWidget& dialog, int id) {
    return control<QWidget>(dialog, id)->isEnabled();
}

// Ended as playback ends: only Play is offered.
bool transportStopped(PreviewDialog& dialog) {
    return dialog.playState() == PreviewDialog::kStopped && enabled(dialog, PreviewDialog::kPlay) &&
           !enabled(dialog, PreviewDialog::kPause) && !enabled(dialog, PreviewDialog::kStop);
}

const QString kCannotPlay = QStringLiteral("This file can't be played here. ");

// The line over the video area says the file cannot be played, followed by
// GStreamer's message, and a screen reader can read it.
void checkCannotPlayLine(PreviewDialog& dialog) {
    QLabel* line = dialog.playbackErrorLine();
    QVERIFY(line->isVisible());
    const QString message = QString::fromStdString(dialog.player()->errorMessage());
    QVERIFY(!message.isEmpty());
    QCOMPARE(line->text(), kCannotPlay + message);
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(line);
    QVERIFY(read);
    QCOMPARE(read->text(QAccessible::Name), line->text());
    QWidget* area = control<QWidget>(dialog, PreviewDialog::kVideoArea);
    QCOMPARE(line->parentWidget(), area);
    QVERIFY(area->rect().contains(line->geometry()));
    QVERIFY(line->height() < area->height()); // a line, not a curtain
    // Nothing else comes up: no message box over the dialog.
    QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget*>(&dialog));
}
// 400 KB of noise that GStreamer's type finding takes for an H.263 stream,
// which it then "plays" for a moment: the 70th such block of std::mt19937
// seeded 42 (the generator's sequence is the same everywhere).
std::string noiseTakenForAStream() {
    std::mt19937 generator(42);
    std::string block(400000, '\0');
    for (int i = 0; i < 70; ++i)
        for (char& byte : block)
            byte = static_cast<char>(generator());
    return block;
}

void click(QWidget& dialog, int id) {
    control<QPushButton>(dialog, id)->click();
}

SelectionSlider* positionSlider(QWidget& dialog) {
    return control<SelectionSlider>(dialog, PreviewDialog::kPosition);
}

// Moves the thumb as a drag does: every step notifies and seeks.
void dragTo(QWidget& dialog, int seconds) {
    QSlider* slider = positionSlider(dialog);
    slider->setSliderDown(true);
    slider->setSliderPosition(seconds);
    slider->setSliderDown(false);
}

// The player's position in whole milliseconds; -1 when it has none.
std::int64_t playerPosition(PreviewDialog& dialog) {
    const auto position = dialog.player()->position();
    return position ? std::chrono::duration_cast<std::chrono::milliseconds>(*position).count() : -1;
}

// How far the painted frame is from `target`; a day when none was painted.
std::chrono::nanoseconds paintedFrom(PreviewDialog& dialog, std::chrono::nanoseconds target) {
    const auto painted = dialog.videoSurface()->paintedPosition();
    return painted ? std::chrono::abs(*painted - target) : std::chrono::hours(24);
}

} // namespace

class PreviewDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<preview_test::Clips> m_clips;
    std::string m_mp4, m_long, m_audio, m_twoTracks, m_logPath;

    std::string logText() const {
        std::ifstream in(m_logPath, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // A shown dialog whose file has opened and started playing.
    std::unique_ptr<PreviewDialog> openDialog(const std::string& path, std::int32_t& start,
                                              std::int32_t& end) {
        auto dialog = std::make_unique<PreviewDialog>(path, start, end);
        dialog->show();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(dialog->opened(), kOpenTimeoutMs); }();
        return dialog;
    }

  private slots:
    void initTestCase() {
        Player::setDefaultAudioOutput(Player::AudioOutput::Silent);
        m_clips = std::make_unique<preview_test::Clips>();
        m_mp4 = m_clips->mp4("clip one.mp4", 3);
        m_long = m_clips->mp4("-long 'clip'.mp4", 30);
        m_audio = m_clips->audioOnly();
        m_twoTracks =
            m_clips->tracks("two tracks.mkv", 3, true, 2, preview_test::Clips::Extra::Subtitles);
        m_logPath = m_clips->path("preview.log");
        QVERIFY(platform::setLogPath(m_logPath));
    }

    void cleanupTestCase() { platform::setLogPath(""); }

    void init() { std::ofstream(m_logPath, std::ios::trunc); }

    void opensOnTheFirstTickAndPlays() {
        std::int32_t start = 0, end = 3;
        PreviewDialog dialog(m_mp4, start, end);
        QVERIFY(!dialog.opened()); // nothing opens before the window is up
        for (int id : {PreviewDialog::kPlay, PreviewDialog::kPause, PreviewDialog::kStop,
                       PreviewDialog::kStart, PreviewDialog::kEnd, PreviewDialog::kFull})
            QVERIFY(!enabled(dialog, id));
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.opened(), kOpenTimeoutMs);
        QVERIFY(dialog.openSucceeded());
        QCOMPARE(dialog.playState(), int(PreviewDialog::kRunning));
        QVERIFY(!dialog.audioOnly());
        QCOMPARE(text(dialog, PreviewDialog::kDuration), QStringLiteral("00:00:03"));
        QCOMPARE(text(dialog, PreviewDialog::kStartTime), QStringLiteral("00:00:00"));
        QCOMPARE(text(dialog, PreviewDialog::kEndTime), QStringLiteral("00:00:03"));
        QCOMPARE(positionSlider(dialog)->maximum(), 3);
        QCOMPARE(positionSlider(dialog)->tickInterval(), 5);
        QCOMPARE(positionSlider(dialog)->pageStep(), 20);
        QVERIFY(!enabled(dialog, PreviewDialog::kPlay));
        for (int id : {PreviewDialog::kPause, PreviewDialog::kStop, PreviewDialog::kStart,
                       PreviewDialog::kEnd, PreviewDialog::kFull})
            QVERIFY(enabled(dialog, id));
        // The picture reaches the screen, inside the black area.
        VideoSurface* surface = dialog.videoSurface();
        QVERIFY(surface->isVisible());
        QCOMPARE(surface->geometry(), control<QWidget>(dialog, PreviewDialog::kVideoArea)->rect());
        QTRY_VERIFY_WITH_TIMEOUT(surface->paintedFrames() > 2, kOpenTimeoutMs);
    }

    void endOfTheMediaStopsAndRewinds() {
        std::int32_t start = 0, end = 3;
        auto dialog = openDialog(m_mp4, start, end);
        QTRY_COMPARE_WITH_TIMEOUT(text(*dialog, PreviewDialog::kElapsedTime),
                                  QStringLiteral("00:00:02"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->playState(), int(PreviewDialog::kStopped), 20000);
        QCOMPARE(positionSlider(*dialog)->value(), 0);
        QCOMPARE(text(*dialog, PreviewDialog::kElapsedTime), QStringLiteral("00:00:00"));
        QVERIFY(enabled(*dialog, PreviewDialog::kPlay));
        QVERIFY(!enabled(*dialog, PreviewDialog::kPause));
        QVERIFY(!enabled(*dialog, PreviewDialog::kStop));
        QTRY_VERIFY(paintedFrom(*dialog, 0s) < 40ms);
        // And it plays again from the start.
        click(*dialog, PreviewDialog::kPlay);
        QCOMPARE(dialog->playState(), int(PreviewDialog::kRunning));
    }

    void secondSoundTrackKeepsTheThumbInStepAndTheEndAtTheLength() {
        std::int32_t start = 0, end = 3;
        auto dialog = openDialog(m_twoTracks, start, end);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(dialog->openSucceeded());
        QCOMPARE(text(*dialog, PreviewDialog::kDuration), QStringLiteral("00:00:03"));
        // A second on the thumb takes a second of play, not a glance.
        QTRY_VERIFY_WITH_TIMEOUT(positionSlider(*dialog)->value() >= 1, 10000);
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(transportStopped(*dialog), 15000);
        QVERIFY2(clock.elapsed() >= 2500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(positionSlider(*dialog)->value(), 0);
        QCOMPARE(text(*dialog, PreviewDialog::kElapsedTime), QStringLiteral("00:00:00"));
        QVERIFY(!dialog->playbackErrorLine()->isVisible());
    }

    void fileOverwrittenAfterItWasAddedEndsStoppedAndSaysSo() {
        const std::string path = m_clips->overwrittenWithNoise(m_mp4, "overwritten.mp4");
        std::int32_t start = 0, end = 3;
        auto dialog = openDialog(path, start, end);
        QVERIFY(!dialog->openSucceeded());
        QVERIFY(transportStopped(*dialog));
        for (int id : {PreviewDialog::kStart, PreviewDialog::kEnd, PreviewDialog::kFull})
            QVERIFY(!enabled(*dialog, id));
        checkCannotPlayLine(*dialog);
        // The log keeps its own texts.
        const std::string failed = "*** GStreamer could not open " + path + "!\r\n";
        QVERIFY2(logText().find(failed) != std::string::npos, logText().c_str());
        // Play once more changes nothing: there is still nothing to play.
        click(*dialog, PreviewDialog::kPlay);
        QVERIFY(transportStopped(*dialog));
        QVERIFY(dialog->playbackErrorLine()->isVisible());
    }

    void fileThatFailsWhilePlayingStopsAndSaysSo() {
        const std::string path = m_clips->failsPartWay("fails part-way.mkv");
        std::int32_t start = 0, end = 5;
        auto dialog = openDialog(path, start, end);
        QVERIFY(dialog->openSucceeded());
        QCOMPARE(dialog->playState(), int(PreviewDialog::kRunning));
        QVERIFY(!dialog->playbackErrorLine()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(dialog->playbackErrorLine()->isVisible(), 15000);
        QVERIFY(transportStopped(*dialog));
        QVERIFY(enabled(*dialog, PreviewDialog::kFull)); // the part can still be marked
        checkCannotPlayLine(*dialog);
        const std::string detail = "    " + dialog->player()->errorDetails();
        QVERIFY2(logText().find(detail) != std::string::npos, logText().c_str());
        // Playing again is a new try: the line goes, and comes back with the failure.
        click(*dialog, PreviewDialog::kPlay);
        QVERIFY(!dialog->playbackErrorLine()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(dialog->playbackErrorLine()->isVisible(), 15000);
        QVERIFY(transportStopped(*dialog));
    }

    void durationGStreamerCannotGiveComesFromTheProbe() {
        // A bare H.264 stream has no length GStreamer can read; timestamps
        // that wrap mislead it. The item knows the length from the probe.
        const std::string bare = m_clips->make(
            "raw_annexb.h264", 3, {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-f", "h264"}, {});
        const std::string wrapping = m_clips->make(
            "wrapping.ts", 3,
            {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-output_ts_offset", "95442.5"},
            {"-c:a", "aac"});
        for (const std::string& path : {bare, wrapping}) {
            SourceItem item;
            item.path = path;
            item.durationSeconds = 3;
            item.startSeconds = 1;
            item.endSeconds = 2;
            bool opened = false;
            QString duration;
            int maximum = -1;
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                opened = QTest::qWaitFor([&] { return dialog->opened(); }, kOpenTimeoutMs) &&
                         dialog->openSucceeded();
                duration = text(*dialog, PreviewDialog::kDuration);
                maximum = positionSlider(*dialog)->maximum();
                click(*dialog, PreviewDialog::kFull);
                click(*dialog, PreviewDialog::kOk);
            });
            QVERIFY(runPreview(nullptr, item));
            QVERIFY2(opened, path.c_str());
            QCOMPARE(duration, QStringLiteral("00:00:03"));
            QCOMPARE(maximum, 3);
            QCOMPARE(item.startSeconds, 0u); // Full spans the probe's length
            QCOMPARE(item.endSeconds, 3u);
        }
    }

    void startEndAndFullFollowTheThumb() {
        std::int32_t start = 10, end = 20;
        auto dialog = openDialog(m_long, start, end);
        click(*dialog, PreviewDialog::kPause);
        SelectionSlider* slider = positionSlider(*dialog);
        QCOMPARE(slider->maximum(), 30);
        QCOMPARE(text(*dialog, PreviewDialog::kStartTime), QStringLiteral("00:00:10"));

        slider->setValue(25); // beyond the end: the old end becomes the start
        click(*dialog, PreviewDialog::kStart);
        QCOMPARE(slider->selectionStart(), 20);
        QCOMPARE(slider->selectionEnd(), 25);

        slider->setValue(5); // before the start: the thumb starts, the old start ends
        click(*dialog, PreviewDialog::kEnd);
        QCOMPARE(slider->selectionStart(), 5);
        QCOMPARE(slider->selectionEnd(), 20);
        QCOMPARE(text(*dialog, PreviewDialog::kStartTime), QStringLiteral("00:00:05"));
        QCOMPARE(text(*dialog, PreviewDialog::kEndTime), QStringLiteral("00:00:20"));

        slider->setValue(12);
        click(*dialog, PreviewDialog::kStart);
        QCOMPARE(slider->selectionStart(), 12);
        click(*dialog, PreviewDialog::kEnd);
        QCOMPARE(slider->selectionEnd(), 12); // an empty part is allowed

        click(*dialog, PreviewDialog::kFull);
        QCOMPARE(slider->selectionStart(), 0);
        QCOMPARE(slider->selectionEnd(), 30);
        QCOMPARE(text(*dialog, PreviewDialog::kEndTime), QStringLiteral("00:00:30"));
        // Marking never touches the playing state.
        QCOMPARE(dialog->playState(), int(PreviewDialog::kPaused));
    }

    void okHandsThePartBackCancelAndTheCloseBoxDoNot() {
        std::int32_t start = 0, end = 30;
        {
            auto dialog = openDialog(m_long, start, end);
            positionSlider(*dialog)->setValue(7);
            click(*dialog, PreviewDialog::kStart);
            click(*dialog, PreviewDialog::kCancel);
            QVERIFY(!dialog->isVisible());
            QVERIFY(!dialog->player()); // released at once
            QCOMPARE(start, 0);
            QCOMPARE(end, 30);
        }
        {
            auto dialog = openDialog(m_long, start, end);
            positionSlider(*dialog)->setValue(7);
            click(*dialog, PreviewDialog::kStart);
            dialog->close(); // the caption's close box
            QVERIFY(!dialog->player());
            QCOMPARE(start, 0);
        }
        {
            auto dialog = openDialog(m_long, start, end);
            positionSlider(*dialog)->setValue(7);
            click(*dialog, PreviewDialog::kStart);
            positionSlider(*dialog)->setValue(9);
            click(*dialog, PreviewDialog::kEnd);
            click(*dialog, PreviewDialog::kOk);
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
            QVERIFY(!dialog->player());
            QCOMPARE(start, 7);
            QCOMPARE(end, 9);
        }
    }

    void escapeIsSwallowedAndEnterMeansOk() {
        std::int32_t start = 0, end = 30;
        auto dialog = openDialog(m_long, start, end);
        positionSlider(*dialog)->setValue(4);
        click(*dialog, PreviewDialog::kStart);

        positionSlider(*dialog)->setFocus();
        QTest::keyClick(positionSlider(*dialog), Qt::Key_Escape);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->player());

        // Enter on a push button presses that button...
        QPushButton* pause = control<QPushButton>(*dialog, PreviewDialog::kPause);
        pause->setFocus();
        QTest::keyClick(pause, Qt::Key_Return);
        QCOMPARE(dialog->playState(), int(PreviewDialog::kPaused));
        QVERIFY(dialog->isVisible());

        // ...anywhere else it is OK.
        QLineEdit* edit = control<QLineEdit>(*dialog, PreviewDialog::kDuration);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Enter);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(start, 4);
        QCOMPARE(end, 30);
    }

    void draggingSeeksWhilePausedAndStopped() {
        std::int32_t start = 0, end = 30;
        auto dialog = openDialog(m_long, start, end);
        click(*dialog, PreviewDialog::kPause);
        const QString elapsed = text(*dialog, PreviewDialog::kElapsedTime);

        dragTo(*dialog, 12);
        QTRY_COMPARE(playerPosition(*dialog), std::int64_t{12'000});
        QTRY_VERIFY(paintedFrom(*dialog, 12s) < 40ms);
        QCOMPARE(text(*dialog, PreviewDialog::kElapsedTime), elapsed); // waits for playback

        click(*dialog, PreviewDialog::kStop);
        QCOMPARE(text(*dialog, PreviewDialog::kElapsedTime), QStringLiteral("0"));
        QCOMPARE(positionSlider(*dialog)->value(), 0);
        QTRY_COMPARE(playerPosition(*dialog), std::int64_t{0});
        dragTo(*dialog, 21);
        QTRY_COMPARE(playerPosition(*dialog), std::int64_t{21'000});
        QCOMPARE(dialog->playState(), int(PreviewDialog::kStopped));

        // Playing on from there, the thumb follows the playback.
        click(*dialog, PreviewDialog::kPlay);
        QTRY_COMPARE_WITH_TIMEOUT(text(*dialog, PreviewDialog::kElapsedTime),
                                  QStringLiteral("00:00:22"), 10000);
        QVERIFY(positionSlider(*dialog)->value() >= 22);
    }

    void pauseAndResumeFollowTheButtonTable() {
        std::int32_t start = 0, end = 30;
        auto dialog = openDialog(m_long, start, end);
        click(*dialog, PreviewDialog::kPause);
        QCOMPARE(dialog->playState(), int(PreviewDialog::kPaused));
        QVERIFY(enabled(*dialog, PreviewDialog::kPlay));
        QVERIFY(enabled(*dialog, PreviewDialog::kStop));
        QVERIFY(!enabled(*dialog, PreviewDialog::kPause));
        QVERIFY(logText().find("*** Media is PAUSED.\r\n") != std::string::npos);
        click(*dialog, PreviewDialog::kPlay);
        QCOMPARE(dialog->playState(), int(PreviewDialog::kRunning));
        QVERIFY(!enabled(*dialog, PreviewDialog::kPlay));
        QVERIFY(enabled(*dialog, PreviewDialog::kPause));
        QVERIFY(enabled(*dialog, PreviewDialog::kStop));
        click(*dialog, PreviewDialog::kStop);
        QCOMPARE(dialog->playState(), int(PreviewDialog::kStopped));
        QVERIFY(enabled(*dialog, PreviewDialog::kPlay));
        QVERIFY(!enabled(*dialog, PreviewDialog::kStop));
        QVERIFY(!enabled(*dialog, PreviewDialog::kPause));
    }

    void fileThatCannotOpenLeavesThePartAlone() {
        const std::string missing = m_clips->path("gone away.mp4");
        std::int32_t start = 3, end = 8;
        auto dialog = openDialog(missing, start, end);
        QVERIFY(!dialog->openSucceeded());
        for (int id : {PreviewDialog::kStart, PreviewDialog::kEnd, PreviewDialog::kFull})
            QVERIFY(!enabled(*dialog, id));
        // The automatic Play finds nothing to play and ends at once.
        QVERIFY(transportStopped(*dialog));
        checkCannotPlayLine(*dialog);
        const std::string expected = "*** GStreamer could not open " + missing + "!\r\n";
        QVERIFY2(logText().find(expected) != std::string::npos, logText().c_str());
        click(*dialog, PreviewDialog::kPause);
        click(*dialog, PreviewDialog::kStop);
        click(*dialog, PreviewDialog::kOk);
        QCOMPARE(start, 3);
        QCOMPARE(end, 8);
    }

    // A failure the player finds itself (the file holds only a text track)
    // still gives a reason after the first sentence.
    void aFailureWithoutGStreamersWordsStillSaysWhy() {
        const std::string path = m_clips->path("lyrics only.mp4");
        testing_support::writeFile(path, "[00:01.00]One\n[00:02.00]Two\n[00:03.00]Three\n"
                                         "[00:04.00]Four\n[00:05.00]Five\n[00:06.00]Six\n");
        std::int32_t start = 0, end = 3;
        auto dialog = openDialog(path, start, end);
        QVERIFY(!dialog->openSucceeded());
        QVERIFY(transportStopped(*dialog));
        QVERIFY(dialog->player()->errorMessage().empty());
        QCOMPARE(dialog->playbackErrorLine()->text(),
                 kCannotPlay + QStringLiteral("Nothing in it could be read as picture or sound."));
    }

    void soundOnlyPlaysInFrontOfTheBlackArea() {
        std::int32_t start = 0, end = 3;
        auto dialog = openDialog(m_audio, start, end);
        QVERIFY(dialog->openSucceeded());
        QVERIFY(dialog->audioOnly());
        QVERIFY(!dialog->videoSurface()->isVisible());
        QCOMPARE(dialog->playState(), int(PreviewDialog::kRunning));
        QVERIFY(enabled(*dialog, PreviewDialog::kFull));
        const QImage shot = control<QWidget>(*dialog, PreviewDialog::kVideoArea)->grab().toImage();
        QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() / 2), QColor(Qt::black));

        control<QSlider>(*dialog, PreviewDialog::kVolume)->setValue(-2000);
        control<QSlider>(*dialog, PreviewDialog::kBalance)->setValue(10000);
        double gain = 0, panorama = 0;
        QVERIFY(dialog->player()->audioLevels(gain, panorama));
        QVERIFY(std::abs(gain - 0.1) < 1e-6);
        QVERIFY(std::abs(panorama - 1.0) < 1e-6);
    }

    // The level sliders count in hundredths of a decibel; the player takes a
    // linear gain and audiopanorama's pan position.
    void levelSlidersInHundredthsOfADecibel() {
        QCOMPARE(gainOfVolume(0), 1.0);
        QCOMPARE(gainOfVolume(-10000), 0.0);
        QCOMPARE(gainOfVolume(-20000), 0.0);                  // below the slider: silence
        QVERIFY(std::abs(gainOfVolume(-2000) - 0.1) < 1e-9);  // -20 dB
        QVERIFY(std::abs(gainOfVolume(-600) - 0.501) < 1e-3); // -6 dB
        QCOMPARE(panoramaOfBalance(0), 0.0);
        QCOMPARE(panoramaOfBalance(10000), 1.0);
        QCOMPARE(panoramaOfBalance(-10000), -1.0);
        // +20 dB of balance: the left side keeps a tenth.
        QVERIFY(std::abs(panoramaOfBalance(2000) - 0.9) < 1e-9);
        QVERIFY(std::abs(panoramaOfBalance(-2000) + 0.9) < 1e-9);
    }

    // A bare H.264 stream has no length the player can read: Full, then OK,
    // must still mean the whole file, not an empty part that cannot convert.
    void fullOnAFileOfUnknownLengthMeansTheWholeFile() {
        SourceItem item;
        item.path = m_clips->make("bare.h264", 3,
                                  {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-f", "h264"}, {});
        item.durationSeconds = 3; // what the core's probe found
        item.startSeconds = 1;
        item.endSeconds = 2;
        int shownLength = -1;
        QTimer::singleShot(0, [&shownLength] {
            auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTRY_VERIFY_WITH_TIMEOUT(dialog->opened(), kOpenTimeoutMs);
            shownLength = dialog->durationSeconds();
            click(*dialog, PreviewDialog::kFull);
            click(*dialog, PreviewDialog::kOk);
        });
        QVERIFY(runPreview(nullptr, item));
        qInfo("the player read a length of %d s", shownLength);
        QCOMPARE(item.startSeconds, 0u);
        QCOMPARE(item.endSeconds, 3u);
    }

    // The picture keeps its display shape, pixel aspect included, with black
    // bars: judged on the screen, a white clip on the black area.
    void thePictureKeepsItsDisplayAspect_data() {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("pixelAspect");
        QTest::addColumn<double>("displayAspect");
        QTest::newRow("4:3") << QStringLiteral("320x240") << QStringLiteral("1") << 4.0 / 3;
        QTest::newRow("2.4:1") << QStringLiteral("480x200") << QStringLiteral("1") << 2.4;
        QTest::newRow("PAL 16:9") << QStringLiteral("720x576") << QStringLiteral("64/45")
                                  << 16.0 / 9;
        QTest::newRow("PAL 4:3") << QStringLiteral("720x576") << QStringLiteral("16/15") << 4.0 / 3;
    }
    void thePictureKeepsItsDisplayAspect() {
        QFETCH(QString, size);
        QFETCH(QString, pixelAspect);
        QFETCH(double, displayAspect);
        const std::string clip = m_clips->path(QTest::currentDataTag() + std::string(".mkv"));
        QCOMPARE(testing_support::run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                       "color=c=white:size=" + size.toStdString() + ":duration=2",
                                       "-vf", "setsar=" + pixelAspect.toStdString(), "-c:v",
                                       "libx264", "-pix_fmt", "yuv420p", clip})
                     .exitCode,
                 0);
        std::int32_t start = 0, end = 2;
        auto dialog = openDialog(clip, start, end);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->videoSurface()->paintedFrames() > 0, kOpenTimeoutMs);
        click(*dialog, PreviewDialog::kPause);
        const QImage shot = dialog->videoSurface()->grab().toImage();
        QRect picture; // the bright pixels
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (qGray(shot.pixel(x, y)) > 128)
                    picture |= QRect(x, y, 1, 1);
        const double shown = double(picture.width()) / picture.height();
        // Within two pixels either way, as large as the area allows, centred.
        QVERIFY2(std::abs(shown / displayAspect - 1) <
                     2.0 / std::min(picture.width(), picture.height()),
                 qPrintable(QStringLiteral("%1 shown as %2").arg(size).arg(shown)));
        QVERIFY(picture.width() >= shot.width() - 2 || picture.height() >= shot.height() - 2);
        QVERIFY(std::abs(picture.center().x() - shot.rect().center().x()) <= 1);
        QVERIFY(std::abs(picture.center().y() - shot.rect().center().y()) <= 1);
    }

    void everyControlCanBeReachedAndNamed() {
        std::int32_t start = 0, end = 3;
        auto dialog = openDialog(m_mp4, start, end);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Preview and select a part to convert"));
        for (int id : {1, 1037, 1043, 1049, 1050, 1051, 1052, 1053, 1054, 1056, 1057, 1058, 1059,
                       1060, 1061, 1062}) {
            QWidget* widget = control<QWidget>(*dialog, id);
            QVERIFY2(widget, qPrintable(QStringLiteral("ctl%1").arg(id)));
            QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(QString::number(id)));
        }
        QCOMPARE(control<QPushButton>(*dialog, 1037)->text(), QStringLiteral("Cancel"));
        // No push button is the default one.
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            QVERIFY(!button->isDefault() && !button->autoDefault());

        // Tab runs through every enabled control once, each with a name.
        dialog->activateWindow();
        positionSlider(*dialog)->setFocus();
        QSet<QWidget*> seen;
        QWidget* current = positionSlider(*dialog);
        for (int i = 0; i < 40 && !seen.contains(current); ++i) {
            seen.insert(current);
            QVERIFY2(!current->accessibleName().isEmpty(), qPrintable(current->objectName()));
            current = current->nextInFocusChain();
            while (!(current->focusPolicy() & Qt::TabFocus) || !current->isEnabled() ||
                   !current->isVisible())
                current = current->nextInFocusChain();
        }
        QVERIFY(seen.contains(control<QWidget>(*dialog, PreviewDialog::kBalance)));
        QVERIFY(seen.contains(control<QWidget>(*dialog, PreviewDialog::kOk)));
    }

    void drivenByTheKeyboardAlone() {
        std::int32_t start = 0, end = 30;
        auto dialog = openDialog(m_long, start, end);
        dialog->activateWindow();
        SelectionSlider* slider = positionSlider(*dialog);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(slider));
        // Tabs (counted, at most a round) until `target` has the focus.
        auto tabTo = [&](QWidget* target) {
            for (int i = 0; i < 20 && QApplication::focusWidget() != target; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            return QApplication::focusWidget() == target;
        };
        auto press = [&](int id) {
            QWidget* button = control<QWidget>(*dialog, id);
            QVERIFY(tabTo(button));
            QTest::keyClick(button, Qt::Key_Space);
        };
        press(PreviewDialog::kPause);
        QCOMPARE(dialog->playState(), int(PreviewDialog::kPaused));

        QVERIFY(tabTo(slider));
        QTest::keyClick(slider, Qt::Key_Home);
        QTest::keyClick(slider, Qt::Key_Right); // one step is 5 s on a 30 s file
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 10);
        QTRY_COMPARE(playerPosition(*dialog), std::int64_t{10'000});
        press(PreviewDialog::kStart);
        QVERIFY(tabTo(slider));
        QTest::keyClick(slider, Qt::Key_PageUp); // a page is four steps
        QCOMPARE(slider->value(), 30);
        QTest::keyClick(slider, Qt::Key_Left);
        press(PreviewDialog::kEnd);
        QCOMPARE(text(*dialog, PreviewDialog::kEndTime), QStringLiteral("00:00:25"));

        QVERIFY(tabTo(slider));
        QTest::keyClick(slider, Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(start, 10);
        QCOMPARE(end, 25);
    }

    void previewCommandStoresThePartOnOk() {
        SourceItem item;
        item.path = m_long;
        item.startSeconds = 0;
        item.endSeconds = 30;
        // Drives the modal window as a user would, once it is up.
        auto drive = [](bool ok) {
            QTimer::singleShot(0, [ok] {
                auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                QTRY_VERIFY_WITH_TIMEOUT(dialog->opened(), kOpenTimeoutMs);
                click(*dialog, PreviewDialog::kPause);
                dragTo(*dialog, 5);
                click(*dialog, PreviewDialog::kStart);
                dragTo(*dialog, 17);
                click(*dialog, PreviewDialog::kEnd);
                click(*dialog, ok ? PreviewDialog::kOk : PreviewDialog::kCancel);
            });
        };
        drive(false);
        QVERIFY(!runPreview(nullptr, item));
        QCOMPARE(item.startSeconds, 0u);
        QCOMPARE(item.endSeconds, 30u);

        drive(true);
        QVERIFY(runPreview(nullptr, item));
        QCOMPARE(item.startSeconds, 5u);
        QCOMPARE(item.endSeconds, 17u);
        QCOMPARE(partText(item), std::string("00:00:05-00:00:17"));

        // The same part again changes nothing.
        drive(true);
        QVERIFY(!runPreview(nullptr, item));
    }

#ifdef PLEXCORE_FOLDER
    // A file of the list whose bytes were overwritten after it was probed:
    // the core is asked again before GStreamer guesses at the noise, and
    // the dialog opened by the Preview command ends stopped at once, with
    // the core's reason. A file changed into another playable one plays.
    void aFileOverwrittenSinceItWasProbedEndsStoppedWithTheCoresReason_data() {
        QTest::addColumn<bool>("takenForAStream");
        QTest::newRow("noise") << false;
        QTest::newRow("noise GStreamer takes for a stream") << true;
    }
    void aFileOverwrittenSinceItWasProbedEndsStoppedWithTheCoresReason() {
        QFETCH(bool, takenForAStream);
        platform::setCoreFolder(PLEXCORE_FOLDER);
        const std::string path = m_clips->copy(m_mp4, "probed then overwritten.mp4");
        SourceItem item;
        QCOMPARE(item.probe(path), 0);
        QVERIFY(!item.changedSinceProbe());
        QVERIFY(reasonItCannotBeRead(item).empty());
        const std::string noise =
            takenForAStream
                ? noiseTakenForAStream()
                : testing_support::readFile(m_clips->overwrittenWithNoise(m_mp4, "noise.mp4"));
        testing_support::writeFile(path, noise);
        QVERIFY(item.changedSinceProbe());
        SourceItem again;
        QVERIFY(again.probe(path) < 0);
        const QString reason = QString::fromStdString(probeFailureReason(again.report));
        QVERIFY(!reason.isEmpty());

        // What the dialog showed, read before it is closed (a failed check
        // must not leave it open).
        struct Seen {
            bool shown = false, opened = false, succeeded = true, asked = true, stopped = false,
                 lineShown = false;
            QString line, readOut;
        } seen;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen.shown = true;
            QElapsedTimer clock;
            clock.start();
            seen.opened = QTest::qWaitFor([&] { return dialog->opened(); }, kOpenTimeoutMs);
            qInfo("ended stopped %lld ms after the window showed", clock.elapsed());
            seen.succeeded = dialog->openSucceeded();
            seen.asked = dialog->player() != nullptr;
            seen.stopped = transportStopped(*dialog);
            QLabel* line = dialog->playbackErrorLine();
            seen.lineShown = line->isVisible();
            seen.line = line->text();
            if (QAccessibleInterface* read = QAccessible::queryAccessibleInterface(line))
                seen.readOut = read->text(QAccessible::Name);
            dialog->reject();
        });
        QVERIFY(!runPreview(nullptr, item)); // the part stays as it was
        QVERIFY(seen.shown && seen.opened);
        QVERIFY(!seen.succeeded);
        QVERIFY(!seen.asked); // GStreamer never saw the file
        QVERIFY(seen.stopped);
        QVERIFY(seen.lineShown);
        QCOMPARE(seen.line, kCannotPlay + reason);
        QCOMPARE(seen.readOut, seen.line);
        const std::string logged = "*** " + path + " cannot be read any more: ";
        QVERIFY2(logText().find(logged) != std::string::npos, logText().c_str());

        // Changed again, into a clip the core reads: it plays.
        testing_support::copyFile(m_long, path);
        QVERIFY(item.changedSinceProbe());
        QVERIFY(reasonItCannotBeRead(item).empty());
        bool plays = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            plays = QTest::qWaitFor([&] { return dialog->opened(); }, kOpenTimeoutMs) &&
                    dialog->openSucceeded() && dialog->playState() == PreviewDialog::kRunning;
            dialog->reject();
        });
        runPreview(nullptr, item);
        QVERIFY(plays);
        platform::setCoreFolder("");
    }

    void theConversionCoversExactlyThePartMarked() {
        SourceItem item;
        item.path = m_long;
        item.title = "marked";
        item.startSeconds = 0;
        item.endSeconds = 30;
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<PreviewDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTRY_VERIFY_WITH_TIMEOUT(dialog->opened(), kOpenTimeoutMs);
            click(*dialog, PreviewDialog::kPause);
            dragTo(*dialog, 11);
            click(*dialog, PreviewDialog::kStart);
            dragTo(*dialog, 15);
            click(*dialog, PreviewDialog::kEnd);
            click(*dialog, PreviewDialog::kOk);
        });
        QVERIFY(runPreview(nullptr, item));

        platform::setCoreFolder(PLEXCORE_FOLDER);
        ConversionSettings settings;
        const std::string output = m_clips->path("marked-cvt.mp4");
        EncodeJob job;
        const int result =
            job.run(item.path, output, item.title, buildOptionText(settings), partOf(item));
        platform::setCoreFolder("");
        QCOMPARE(result, 0);
        const double seconds = testing_support::probeDuration(output);
        QVERIFY2(std::abs(seconds - 4.0) < 0.25, qPrintable(QString::number(seconds)));
    }
#endif
};

QTEST_MAIN(PreviewDialogTest)
#include "test_preview_dialog.moc"
