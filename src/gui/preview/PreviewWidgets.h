// The two widgets of the preview that Qt has no ready form of: a slider that
// shows a selection range (the part to convert), and the surface that paints
// the player's frames.
#pragma once

#include "engine/player/Player.h"

#include <QSlider>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <optional>

namespace plexavo::gui {

class SelectionSlider final : public QSlider {
    Q_OBJECT
  public:
    explicit SelectionSlider(QWidget* parent = nullptr);

    void setSelection(int start, int end);
    int selectionStart() const { return m_start; }
    int selectionEnd() const { return m_end; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int centreOf(int value) const;

    int m_start = 0;
    int m_end = 0;
};

// Paints the newest frame of a player, letterboxed on black. Frames arrive
// on a streaming thread; that thread only queues one repaint at a time.
class VideoSurface final : public QWidget {
    Q_OBJECT
  public:
    explicit VideoSurface(QWidget* parent = nullptr);

    // The player whose frames to paint; nullptr before teardown.
    void setPlayer(player::Player* player);
    // Safe from any thread.
    void frameArrived();

    // What was painted last: for the tests and the benchmarks.
    std::optional<player::ClockTime> paintedPosition() const { return m_frame.position; }
    std::uint64_t paintedFrames() const { return m_paintedFrames; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    player::Player* m_player = nullptr;
    player::VideoFrame m_frame;
    std::atomic<bool> m_repaintQueued{false};
    std::uint64_t m_paintedFrames = 0;
};

} // namespace plexavo::gui
