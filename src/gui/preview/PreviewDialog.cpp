#include "gui/preview/PreviewDialog.h"

#include "engine/convert/OutputNaming.h"
#include "engine/platform/DebugLog.h"
#include "engine/player/PreviewRules.h"
#include "engine/res/DialogLabels.h"
#include "gui/common/DialogUnits.h"
#include "gui/common/UiText.h"
#include "gui/preview/PreviewWidgets.h"

#include <QAccessible>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

namespace plexavo::gui {

using platform::logFormatted;

namespace {

namespace lv = res::label::preview;

constexpr int kVolumeMin = -10000;
constexpr int kBalanceMax = 10000;
constexpr unsigned kCannotPlayString = 62060;  // "This file can't be played here."
constexpr unsigned kNothingReadString = 62070; // the reason when GStreamer gave none

QString timeText(std::int64_t seconds) {
    return QString::fromStdString(convert::formatSeconds(static_cast<std::uint32_t>(seconds)));
}

QString labelText(int control) {
    return dialogText(PreviewDialog::kDialogId, control);
}

} // namespace

double gainOfVolume(int hundredthsOfDecibel) {
    if (hundredthsOfDecibel <= kVolumeMin)
        return 0.0;
    if (hundredthsOfDecibel >= 0)
        return 1.0;
    return std::pow(10.0, hundredthsOfDecibel / 2000.0);
}

double panoramaOfBalance(int hundredthsOfDecibel) {
    // audiopanorama's "simple" method scales the other side by (1 - |pan|).
    if (hundredthsOfDecibel >= kBalanceMax)
        return 1.0;
    if (hundredthsOfDecibel <= -kBalanceMax)
        return -1.0;
    const double kept = std::pow(10.0, -std::abs(hundredthsOfDecibel) / 2000.0);
    return hundredthsOfDecibel >= 0 ? 1.0 - kept : kept - 1.0;
}

PreviewDialog::PreviewDialog(std::string filePath, std::int32_t& partStart, std::int32_t& partEnd,
                             QWidget* parent)
    : QDialog(parent), m_filePath(std::move(filePath)), m_partStart(partStart), m_partEnd(partEnd) {
    setObjectName(QStringLiteral("dlg107"));
    setWindowTitle(labelText(0));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    buildControls();

    // Until the file is open there is nothing to play or to mark.
    for (int id : {kPlay, kStop, kPause, kStart, kEnd, kFull})
        enable(id, false);

    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &PreviewDialog::onTick);
}

PreviewDialog::~PreviewDialog() {
    teardown();
}

// ---------------------------------------------------------------------------
// Building the window

QPushButton* PreviewDialog::addButton(int id) {
    auto* button = new QPushButton(labelText(id), this);
    button->setObjectName(controlName(id));
    button->setAccessibleName(button->text());
    // No default button: Enter means OK unless a push button has the focus.
    button->setAutoDefault(false);
    button->setDefault(false);
    m_buttons.insert(id, button);
    return button;
}

void PreviewDialog::enable(int id, bool on) {
    if (QPushButton* button = m_buttons.value(id))
        button->setEnabled(on);
}

void PreviewDialog::buildControls() {
    const DialogUnits du(font());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.x(7), du.y(7), du.x(7), du.y(7));
    layout->setSpacing(du.y(3));
    layout->setSizeConstraint(QLayout::SetFixedSize); // the video is placed once

    buildVideoArea(layout);
    m_position = new SelectionSlider(this);
    m_position->setObjectName(controlName(kPosition));
    m_position->setAccessibleName(str(61970));
    m_position->setTickPosition(QSlider::TicksBelow);
    m_position->setRange(0, 0);
    m_position->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(m_position);
    layout->addWidget(buildTransport());
    layout->addWidget(buildInformation());
    layout->addLayout(buildLevels());
    auto* hint = new QLabel(labelText(lv::kHint), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    connectControls();
    orderTabs();
}

void PreviewDialog::buildVideoArea(QLayout* layout) {
    const DialogUnits du(font());
    m_videoArea = new QWidget(this);
    m_videoArea->setObjectName(controlName(kVideoArea));
    m_videoArea->setAccessibleName(str(61971));
    // At least the template's size; wider when long texts widen the window,
    // so the picture always spans the window like the slider under it.
    m_videoArea->setMinimumWidth(du.x(250));
    m_videoArea->setFixedHeight(du.y(150));
    m_videoArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_videoArea->setAutoFillBackground(true);
    QPalette black = m_videoArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_videoArea->setPalette(black);
    m_surface = new VideoSurface(m_videoArea);
    m_surface->setObjectName(QStringLiteral("videoSurface"));
    m_surface->hide();
    // Where the user looks when nothing plays, and a label a screen reader
    // reads: the line that says the file cannot be played here.
    m_errorLine = new QLabel(m_videoArea);
    m_errorLine->setObjectName(QStringLiteral("playbackError"));
    m_errorLine->setAlignment(Qt::AlignCenter);
    m_errorLine->setWordWrap(true);
    m_errorLine->setMargin(du.x(4));
    m_errorLine->setAutoFillBackground(true);
    QPalette onBlack = black;
    onBlack.setColor(QPalette::WindowText, Qt::white);
    m_errorLine->setPalette(onBlack);
    m_errorLine->hide();
    layout->addWidget(m_videoArea);
}

// Transport and the part, then OK and Cancel.
QWidget* PreviewDialog::buildTransport() {
    const DialogUnits du(font());
    auto* transport = new QGroupBox(this);
    auto* row = new QHBoxLayout(transport);
    row->setContentsMargins(du.x(4), du.y(4), du.x(4), du.y(4));
    row->setSpacing(0);
    for (int id : {kPlay, kPause, kStop})
        row->addWidget(addButton(id));
    row->addSpacing(du.x(6));
    for (int id : {kStart, kEnd, kFull})
        row->addWidget(addButton(id));
    row->addStretch(1);
    row->addSpacing(du.x(12));
    row->addWidget(addButton(kOk));
    row->addWidget(addButton(kCancel));
    // The template's narrow buttons, widened only as far as their text needs
    // (the style's usual minimum would push the window far past the picture).
    for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it) {
        QPushButton* button = it.value();
        const int least = du.x(it.key() == kOk || it.key() == kCancel ? 35 : 24);
        const int needed = button->fontMetrics().horizontalAdvance(button->text()) + du.x(8);
        button->setFixedWidth(std::max(least, needed));
    }
    return transport;
}

QWidget* PreviewDialog::buildInformation() {
    const DialogUnits du(font());
    auto* information = new QGroupBox(labelText(lv::kInformationGroup), this);
    auto* grid = new QGridLayout(information);
    grid->setHorizontalSpacing(du.x(4));
    grid->setVerticalSpacing(du.y(2));
    auto addTime = [&](int labelId, int editId, int row, int column) {
        auto* label = new QLabel(labelText(labelId), information);
        auto* edit = new QLineEdit(information);
        edit->setObjectName(controlName(editId));
        edit->setReadOnly(true);
        edit->setAccessibleName(nameFromLabel(label->text()));
        edit->setMinimumWidth(du.x(64));
        label->setBuddy(edit);
        grid->addWidget(label, row, column);
        grid->addWidget(edit, row, column + 1);
        return edit;
    };
    m_startTime = addTime(lv::kStartTime, kStartTime, 0, 0);
    m_endTime = addTime(lv::kEndTime, kEndTime, 0, 2);
    m_duration = addTime(lv::kDuration, kDuration, 1, 0);
    m_elapsed = addTime(lv::kElapsedTime, kElapsedTime, 1, 2);
    grid->setColumnMinimumWidth(2, du.x(40));
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return information;
}

QLayout* PreviewDialog::buildLevels() {
    auto addLevel = [&](int groupId, int leftId, int rightId, int sliderId) {
        auto* group = new QGroupBox(labelText(groupId), this);
        auto* box = new QVBoxLayout(group);
        box->setSpacing(0);
        auto* slider = new QSlider(Qt::Horizontal, group);
        slider->setObjectName(controlName(sliderId));
        slider->setAccessibleName(group->title());
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setTickInterval(1000);
        slider->setSingleStep(1000);
        box->addWidget(slider);
        auto* ends = new QHBoxLayout;
        ends->addWidget(new QLabel(labelText(leftId), group));
        ends->addStretch(1);
        ends->addWidget(new QLabel(labelText(rightId), group));
        box->addLayout(ends);
        return std::pair{group, slider};
    };
    auto [volumeGroup, volume] =
        addLevel(lv::kVolumeGroup, lv::kVolumeMin, lv::kVolumeMax, kVolume);
    auto [balanceGroup, balance] =
        addLevel(lv::kBalanceGroup, lv::kBalanceLeft, lv::kBalanceRight, kBalance);
    // Volume: 0 (its right end, where it starts) is full volume.
    m_volume = volume;
    m_volume->setRange(kVolumeMin, 0);
    m_volume->setPageStep(2000);
    m_volume->setValue(0);
    // Balance: 0 (the middle) is centred.
    m_balance = balance;
    m_balance->setRange(-kBalanceMax, kBalanceMax);
    m_balance->setPageStep(5000);
    m_balance->setValue(0);
    auto* levels = new QHBoxLayout;
    levels->addWidget(volumeGroup);
    levels->addWidget(balanceGroup);
    return levels;
}

void PreviewDialog::connectControls() {
    connect(m_buttons.value(kPlay), &QPushButton::clicked, this, &PreviewDialog::playAction);
    connect(m_buttons.value(kPause), &QPushButton::clicked, this, &PreviewDialog::pauseToggle);
    connect(m_buttons.value(kStop), &QPushButton::clicked, this, &PreviewDialog::stopAction);
    connect(m_buttons.value(kStart), &QPushButton::clicked, this, &PreviewDialog::selectStart);
    connect(m_buttons.value(kEnd), &QPushButton::clicked, this, &PreviewDialog::selectEnd);
    connect(m_buttons.value(kFull), &QPushButton::clicked, this, &PreviewDialog::selectFull);
    connect(m_buttons.value(kOk), &QPushButton::clicked, this, &PreviewDialog::onOk);
    connect(m_buttons.value(kCancel), &QPushButton::clicked, this,
            [this] { closeDialog(QDialog::Rejected); });

    // Every move of the thumb seeks, dragging included; the ticks' own moves
    // of the thumb (setValue) do not come through here.
    connect(m_position, &QSlider::actionTriggered, this,
            [this] { seekToSlider(m_position->sliderPosition()); });
    connect(m_position, &QSlider::sliderReleased, this,
            [this] { seekToSlider(m_position->value()); });
    connect(m_volume, &QSlider::valueChanged, this, [this](int value) {
        if (m_player && m_playable)
            m_player->setVolume(gainOfVolume(value));
    });
    connect(m_balance, &QSlider::valueChanged, this, [this](int value) {
        if (m_player && m_playable)
            m_player->setBalance(panoramaOfBalance(value));
    });
}

void PreviewDialog::orderTabs() {
    setTabOrder(m_position, m_buttons.value(kPlay));
    QWidget* previous = m_buttons.value(kPlay);
    for (int id : {kPause, kStop, kStart, kEnd, kFull, kOk, kCancel}) {
        setTabOrder(previous, m_buttons.value(id));
        previous = m_buttons.value(id);
    }
    for (QWidget* next : std::initializer_list<QWidget*>{m_startTime, m_endTime, m_duration,
                                                         m_elapsed, m_volume, m_balance}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

// ---------------------------------------------------------------------------
// Opening and tracking

void PreviewDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The file opens on the first tick, so that the window is on screen first.
    if (!m_timerStarted) {
        m_timerStarted = true;
        m_timer.start();
    }
}

void PreviewDialog::onTick() {
    if (!m_opened) {
        openMedia();
        playAction(); // whether the opening succeeded or not
        return;
    }
    if (m_playState == kRunning)
        track();
}

void PreviewDialog::openMedia() {
    m_opened = true;
    m_audioOnly = false;
    if (m_openCheck) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const std::string why = m_openCheck();
        QGuiApplication::restoreOverrideCursor();
        if (!why.empty()) {
            logFormatted("*** %s cannot be read any more: %s\r\n", m_filePath.c_str(), why.c_str());
            showPlaybackError(why);
            return;
        }
    }
    if (!openPlayer())
        return;
    m_playable = true;
    showOpenedFile();
}

// Makes the player and opens the file in it; false (logged, and said over
// the video area) when either fails.
bool PreviewDialog::openPlayer() {
    std::string failure;
    m_player = player::Player::create(&failure);
    if (!m_player) {
        logFormatted("Failed to initialize GStreamer!  %s\r\n", failure.c_str());
        showPlaybackError({});
        return false;
    }
    const qreal scale = m_videoArea->devicePixelRatioF();
    m_player->setVideoSize(qRound(m_videoArea->width() * scale),
                           qRound(m_videoArea->height() * scale));
    VideoSurface* surface = m_surface;
    m_player->setFrameListener([surface] { surface->frameArrived(); });
    m_player->setVolume(gainOfVolume(m_volume->value()));
    m_player->setBalance(panoramaOfBalance(m_balance->value()));

    // Opening waits for the first frame: quick for a local file, but a
    // damaged one or a slow disk can take a while.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = m_player->open(m_filePath);
    QGuiApplication::restoreOverrideCursor();
    if (opened)
        return true;
    logFormatted("*** GStreamer could not open %s!\r\n", m_filePath.c_str());
    const std::string why = m_player->errorDetails();
    if (!why.empty())
        logFormatted("    %s\r\n", why.c_str());
    showPlaybackError(m_player->errorMessage());
    return false;
}

void PreviewDialog::showOpenedFile() {
    // A file without a picture plays its sound in front of the black area.
    m_audioOnly = !m_player->hasVideo();
    if (!m_audioOnly) {
        m_surface->setGeometry(m_videoArea->rect());
        if (m_surface->width() <= 0 || m_surface->height() <= 0)
            logFormatted("The video area has no room for the picture!\r\n");
        m_surface->setPlayer(m_player.get());
        m_surface->show();
        m_surface->raise();
    }

    for (int id : {kPlay, kStart, kEnd, kFull})
        enable(id, true);
    enable(kStop, false);
    enable(kPause, false);

    m_durationSeconds = player::previewDurationSeconds(m_player->duration(), m_probedSeconds);
    m_duration->setText(timeText(m_durationSeconds));
    m_position->setRange(0, m_durationSeconds);
    const int tick = (m_durationSeconds / 100 + 1) * 5;
    m_position->setTickInterval(tick);
    m_position->setSingleStep(tick);
    m_position->setPageStep(4 * tick);

    m_position->setSelection(m_partStart, m_partEnd);
    refreshSelection();
}

void PreviewDialog::track() {
    if (!m_player || !m_playable)
        return;
    // A look, not a wait: the tick comes round again in 100 ms anyway, and
    // blocking here would freeze the window between ticks.
    const player::Player::Ending ending = m_player->waitForEnd(std::chrono::milliseconds(0));
    if (ending == player::Player::Ending::Error) {
        const std::string why = m_player->errorDetails();
        if (!why.empty())
            logFormatted("    %s\r\n", why.c_str());
        showPlaybackError(m_player->errorMessage());
    }
    if (ending != player::Player::Ending::None) {
        stopAction(); // ended or failed alike: the transport shows it stopped
    } else {
        const auto position = m_player->position();
        const std::int64_t seconds =
            position ? std::chrono::duration_cast<std::chrono::seconds>(*position).count() : 0;
        // The thumb belongs to the user while dragged.
        if (seconds != m_position->value() && !m_position->isSliderDown())
            m_position->setValue(static_cast<int>(seconds));
    }
    setElapsedText(timeText(m_position->value()));
}

void PreviewDialog::setElapsedText(const QString& text) {
    if (m_elapsed->text() != text)
        m_elapsed->setText(text);
}

void PreviewDialog::showPlaybackError(const std::string& message) {
    // Always with a reason: a failure the player found itself (nothing it
    // could decode, no start in time) comes without GStreamer's words.
    const QString reason =
        message.empty() ? str(kNothingReadString) : QString::fromStdString(message);
    const QString line = str(kCannotPlayString) + QLatin1Char(' ') + reason;
    m_errorLine->setText(line);
    // Across the area, as tall as the text needs, in the middle.
    const QRect area = m_videoArea->rect();
    const int height = std::min(m_errorLine->heightForWidth(area.width()), area.height());
    m_errorLine->setGeometry(0, (area.height() - height) / 2, area.width(), height);
    m_errorLine->show();
    m_errorLine->raise(); // above the last picture
    QAccessibleEvent changed(m_errorLine, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

// ---------------------------------------------------------------------------
// Transport

void PreviewDialog::playAction() {
    if (m_player && m_playable) {
        if (m_player->play()) {
            m_playState = kRunning;
            m_errorLine->hide(); // a new try; a failure again says so again
        } else {
            logFormatted("\r\n*** Failed to play: %s\r\n", m_player->errorDetails().c_str());
        }
    }
    enable(kPlay, false);
    enable(kStop, true);
    enable(kPause, true);
    // A file that could not be opened has nothing to play: it ends at once,
    // as playback does, rather than leave Pause and Stop pretending.
    if (m_opened && !m_playable)
        stopAction();
}

void PreviewDialog::pauseToggle() {
    if (m_playState == kPaused) {
        playAction();
        return;
    }
    if (m_playState == kRunning && m_player && m_playable) {
        if (m_player->pause()) {
            logFormatted("*** Media is PAUSED.\r\n");
            m_playState = kPaused;
        } else {
            logFormatted("\r\n*** Failed to pause: %s\r\n", m_player->errorDetails().c_str());
        }
    }
    enable(kPlay, true);
    enable(kStop, true);
    enable(kPause, false);
}

void PreviewDialog::stopAction() {
    // Stopped rests paused on the first frame.
    if (m_player && m_playable) {
        if (m_player->stop())
            m_playState = kStopped;
        else
            logFormatted("\r\n*** Failed to stop: %s\r\n", m_player->errorDetails().c_str());
    }
    enable(kPlay, true);
    enable(kStop, false);
    enable(kPause, false);
    m_elapsed->setText(QStringLiteral("0"));
    m_position->setValue(0);
}

// ---------------------------------------------------------------------------
// The part

void PreviewDialog::selectStart() {
    const int p = m_position->value();
    const int end = m_position->selectionEnd();
    if (p <= end)
        m_position->setSelection(p, end);
    else
        m_position->setSelection(end, p);
    refreshSelection();
}

void PreviewDialog::selectEnd() {
    const int p = m_position->value();
    const int start = m_position->selectionStart();
    if (p >= start)
        m_position->setSelection(start, p);
    else
        m_position->setSelection(p, start);
    refreshSelection();
}

void PreviewDialog::selectFull() {
    m_position->setSelection(m_position->minimum(), m_position->maximum());
    refreshSelection();
}

void PreviewDialog::refreshSelection() {
    m_position->repaint();
    m_startTime->setText(timeText(m_position->selectionStart()));
    m_endTime->setText(timeText(m_position->selectionEnd()));
}

void PreviewDialog::seekToSlider(int seconds) {
    // Works paused and stopped too; the Elapsed Time waits for playback.
    if (m_player && m_playable)
        m_player->seek(std::chrono::seconds(seconds));
}

// ---------------------------------------------------------------------------
// Closing

void PreviewDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept(); // swallowed: only Cancel and the close box leave without the part
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            onOk();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void PreviewDialog::reject() {
    closeDialog(QDialog::Rejected);
}

void PreviewDialog::onOk() {
    // A file that never opened has no part of its own to hand back.
    if (m_playable) {
        m_partStart = m_position->selectionStart();
        m_partEnd = m_position->selectionEnd();
    }
    closeDialog(QDialog::Accepted);
}

void PreviewDialog::closeDialog(int result) {
    teardown();
    m_timer.stop();
    QDialog::done(result);
}

void PreviewDialog::teardown() {
    if (!m_player)
        return;
    m_surface->setPlayer(nullptr);
    m_surface->hide();
    m_player.reset(); // joins the streaming threads and closes the file
    m_playState = kStopped;
}

} // namespace plexavo::gui
