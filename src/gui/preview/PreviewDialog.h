// "Preview and select a part to convert" (dialog 107): plays one source file
// in a black video area and lets the user mark the part to convert as the
// position slider's selection. Only OK hands the part back, and only when
// the file could be opened.
#pragma once

#include "engine/player/Player.h"

#include <QDialog>
#include <QHash>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;

namespace plexavo::gui {

// The level sliders count in hundredths of a decibel: volume -10000
// (silence) .. 0 (full); balance -10000 (left only) .. 10000 (right only),
// the other side attenuated by that much. These give the player's linear
// gain and pan position.
double gainOfVolume(int hundredthsOfDecibel);
double panoramaOfBalance(int hundredthsOfDecibel);

class SelectionSlider;
class VideoSurface;

class PreviewDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PreviewDialog)

  public:
    enum PlayState { kStopped = 0, kPaused = 1, kRunning = 2 };

    enum ControlId {
        kOk = 1,
        kCancel = 1037,
        kPosition = 1043,
        kPlay = 1049,
        kPause = 1050,
        kStop = 1051,
        kStart = 1052,
        kEnd = 1053,
        kFull = 1054,
        kStartTime = 1056,
        kEndTime = 1057,
        kDuration = 1058,
        kElapsedTime = 1059,
        kVolume = 1060,
        kBalance = 1061,
        kVideoArea = 1062,
    };

    static constexpr int kDialogId = 107;
    static constexpr int kTickMs = 100;

    // partStart and partEnd hold the item's part in whole seconds; they are
    // read when the file opens and written on OK.
    PreviewDialog(std::string filePath, std::int32_t& partStart, std::int32_t& partEnd,
                  QWidget* parent = nullptr);
    ~PreviewDialog() override;

    // The length the probe found, in whole seconds: stands in for a duration
    // GStreamer cannot give or gets wrong. Set before the dialog runs.
    void setProbedDuration(std::int32_t seconds) { m_probedSeconds = seconds; }
    // Asked before the file is opened: why it cannot be played (a file the
    // core no longer reads since it was added), or "" to go on and open it.
    void setOpenCheck(std::function<std::string()> check) { m_openCheck = std::move(check); }

    const std::string& filePath() const { return m_filePath; }
    int playState() const { return m_playState; }
    bool opened() const { return m_opened; }
    bool openSucceeded() const { return m_playable; }
    bool audioOnly() const { return m_audioOnly; }
    // The length the player read, in whole seconds; 0 when it could not.
    int durationSeconds() const { return m_durationSeconds; }
    // Null before the file is opened and after the dialog has closed.
    player::Player* player() const { return m_player.get(); }
    VideoSurface* videoSurface() const { return m_surface; }
    // The line over the video area that says the file cannot be played.
    QLabel* playbackErrorLine() const { return m_errorLine; }

    // Cancel and the close box: leaves without handing the part back.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    void buildVideoArea(QLayout* layout);
    QWidget* buildTransport();
    QWidget* buildInformation();
    QLayout* buildLevels();
    void connectControls();
    void orderTabs();
    QPushButton* addButton(int id);
    void enable(int id, bool on);

    void onTick();
    void openMedia();
    bool openPlayer();
    void showOpenedFile();
    void track();
    void playAction();
    void pauseToggle();
    void stopAction();
    void selectStart();
    void selectEnd();
    void selectFull();
    void refreshSelection();
    void seekToSlider(int seconds);
    void onOk();
    void closeDialog(int result);
    void teardown();
    void setElapsedText(const QString& text);
    void showPlaybackError(const std::string& message);

    std::string m_filePath;
    std::int32_t& m_partStart;
    std::int32_t& m_partEnd;

    std::unique_ptr<player::Player> m_player;
    bool m_audioOnly = false;
    bool m_opened = false;
    bool m_playable = false; // the file opened: transport and OK's write-back act
    int m_playState = kStopped;
    int m_durationSeconds = 0;
    std::int32_t m_probedSeconds = 0;
    std::function<std::string()> m_openCheck;
    QTimer m_timer;
    bool m_timerStarted = false;

    QWidget* m_videoArea = nullptr;
    VideoSurface* m_surface = nullptr;
    QLabel* m_errorLine = nullptr;
    SelectionSlider* m_position = nullptr;
    QSlider* m_volume = nullptr;
    QSlider* m_balance = nullptr;
    QLineEdit* m_startTime = nullptr;
    QLineEdit* m_endTime = nullptr;
    QLineEdit* m_duration = nullptr;
    QLineEdit* m_elapsed = nullptr;
    QHash<int, QPushButton*> m_buttons;
};

} // namespace plexavo::gui
