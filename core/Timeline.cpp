#include "Timeline.h"

namespace plexavo::core {
namespace {

// Distance without overflow: a damaged timestamp may sit anywhere in int64_t.
uint64_t distance(int64_t a, int64_t b) {
    return a > b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                 : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

// A damaged timestamp plus a duration must not overflow either.
int64_t plus(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return a > 0 ? INT64_MAX : INT64_MIN + 1;
    return sum;
}

} // namespace

// Whether a frame at raw follows the held frame's line rather than the old one. Frames
// right after a real gap usually follow at the usual spacing; in sparse variable-rate
// material the next gap may be longer, but not out of all proportion, while a second
// damaged timestamp lands anywhere.
bool Timeline::confirms(int64_t raw, const Held& h) const {
    if (raw == kNoTime)
        return false;
    const uint64_t jump = distance(h.raw, h.expected);
    const uint64_t fromHeld = distance(raw, plus(h.raw, h.duration));
    const uint64_t fromOld = distance(raw, plus(h.expected, h.duration));
    if (fromHeld <= static_cast<uint64_t>(m_limit))
        return true;
    return fromHeld < fromOld && fromHeld / 4 <= jump + static_cast<uint64_t>(m_limit) / 4;
}

Timeline::Step Timeline::arrive(int64_t raw, int64_t duration) {
    Step s;
    bool damaged = false;
    if (raw != kNoTime && (raw < m_lo || raw > m_hi)) {
        raw = kNoTime; // placed where expected, and it cannot vouch for a held frame
        damaged = true;
    }
    if (m_held) {
        const Held h = *m_held;
        m_held.reset();
        s.releaseHeld = true;
        if (confirms(raw, h)) {
            s.heldPts = h.raw;
        } else {
            s.heldPts = h.expected;
            ++m_repairs;
        }
        m_next = plus(s.heldPts, h.duration);
        m_placedAny = true;
    }
    if (damaged)
        ++m_repairs;
    if (raw == kNoTime) {
        s.pts = m_next;
    } else if (distance(raw, m_next) > static_cast<uint64_t>(m_limit)) {
        m_held = Held{raw, duration, m_next};
        s.hold = true;
        return s;
    } else {
        s.pts = m_snap && m_placedAny ? m_next : raw;
    }
    m_next = plus(s.pts, duration);
    m_placedAny = true;
    return s;
}

std::optional<int64_t> Timeline::finish() {
    if (!m_held)
        return std::nullopt;
    // Nothing followed to vouch for the jump. Forward and within the container's length it
    // is taken as it is (the last slide of a slide show); otherwise, or when the length is
    // unknown, a lone stray timestamp at the end is far more often damage than a real gap.
    const Held h = *m_held;
    m_held.reset();
    m_placedAny = true;
    const bool bounded = m_lo != INT64_MIN || m_hi != INT64_MAX;
    if (bounded && h.raw > h.expected) {
        m_next = plus(h.raw, h.duration);
        return h.raw;
    }
    ++m_repairs;
    m_next = plus(h.expected, h.duration);
    return h.expected;
}

} // namespace plexavo::core
