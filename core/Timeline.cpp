#include "Timeline.h"

namespace plex {
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
    if (fromHeld <= static_cast<uint64_t>(limit_))
        return true;
    return fromHeld < fromOld && fromHeld / 4 <= jump + static_cast<uint64_t>(limit_) / 4;
}

Timeline::Step Timeline::arrive(int64_t raw, int64_t duration) {
    Step s;
    bool damaged = false;
    if (raw != kNoTime && (raw < lo_ || raw > hi_)) {
        raw = kNoTime; // placed where expected, and it cannot vouch for a held frame
        damaged = true;
    }
    if (held_) {
        const Held h = *held_;
        held_.reset();
        s.releaseHeld = true;
        if (confirms(raw, h)) {
            s.heldPts = h.raw;
        } else {
            s.heldPts = h.expected;
            ++repairs_;
        }
        next_ = plus(s.heldPts, h.duration);
        placedAny_ = true;
    }
    if (damaged)
        ++repairs_;
    if (raw == kNoTime) {
        s.pts = next_;
    } else if (distance(raw, next_) > static_cast<uint64_t>(limit_)) {
        held_ = Held{raw, duration, next_};
        s.hold = true;
        return s;
    } else {
        s.pts = snap_ && placedAny_ ? next_ : raw;
    }
    next_ = plus(s.pts, duration);
    placedAny_ = true;
    return s;
}

std::optional<int64_t> Timeline::finish() {
    if (!held_)
        return std::nullopt;
    // Nothing followed to vouch for the jump. Forward and within the container's length it
    // is taken as it is (the last slide of a slide show); otherwise, or when the length is
    // unknown, a lone stray timestamp at the end is far more often damage than a real gap.
    const Held h = *held_;
    held_.reset();
    placedAny_ = true;
    const bool bounded = lo_ != INT64_MIN || hi_ != INT64_MAX;
    if (bounded && h.raw > h.expected) {
        next_ = plus(h.raw, h.duration);
        return h.raw;
    }
    ++repairs_;
    next_ = plus(h.expected, h.duration);
    return h.expected;
}

} // namespace plex
