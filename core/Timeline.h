// Where decoded frames belong on the output's clock when their timestamps may be damaged.
//
// A frame whose timestamp strays from the line the frames before it set is held back until
// the next frame shows which it was: a real jump (the next frame follows the held one; a gap
// in a recording) or a damaged timestamp (the next frame does not). A damaged one is put
// where the line expected it, so one flipped bit can neither end a stream early nor stretch
// it by hours. Timestamps outside the bounds the container allows are damaged outright.
#pragma once

#include <cstdint>
#include <optional>

namespace plexavo::core {

class Timeline {
  public:
    static constexpr int64_t kNoTime = INT64_MIN; // a frame without a timestamp

    // limit: how far a timestamp may stray from the expected one before it is doubted.
    // snap: within the limit, the expected timestamp is used instead of the frame's own, so
    // coarse container clocks do not break a running sample count (after the first frame).
    Timeline(int64_t limit, bool snap) : m_limit(limit), m_snap(snap) {}

    // Timestamps below lo or above hi cannot be right (the container's length says so).
    void setBounds(int64_t lo, int64_t hi) {
        m_lo = lo;
        m_hi = hi;
    }

    struct Step {
        // The held frame is released first, at heldPts.
        bool releaseHeld = false;
        int64_t heldPts = 0;
        // This frame is held back until the next one arrives (or finish()) ...
        bool hold = false;
        // ... or placed at pts.
        int64_t pts = 0;
    };

    // A frame with timestamp raw (or kNoTime) lasting duration, in the stream's units and
    // relative to the start point (the first frame is expected at 0).
    Step arrive(int64_t raw, int64_t duration);

    // No frame follows: where a held frame goes, if one is held.
    std::optional<int64_t> finish();

    bool holding() const { return m_held.has_value(); }
    int64_t repairs() const { return m_repairs; } // timestamps found damaged and replaced
    int64_t next() const { return m_next; }       // where the next frame is expected

  private:
    struct Held {
        int64_t raw, duration, expected;
    };
    bool confirms(int64_t raw, const Held& h) const;

    int64_t m_limit;
    bool m_snap;
    int64_t m_lo = INT64_MIN, m_hi = INT64_MAX;
    bool m_placedAny = false;
    int64_t m_next = 0;
    std::optional<Held> m_held;
    int64_t m_repairs = 0;
};

} // namespace plexavo::core
