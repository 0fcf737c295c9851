// Placing frames whose timestamps may be damaged: one stray timestamp is put back in line,
// a real jump is kept, and nothing lets a stream end early or run on for hours.
#include "Timeline.h"

#include <gtest/gtest.h>

#include <vector>

using plexavo::core::Timeline;

namespace {

// Feeds raw timestamps of frames lasting `step` and returns where each frame ends up, in
// arrival order (a held frame is listed when it is released).
std::vector<int64_t> place(Timeline& t, const std::vector<int64_t>& raws, int64_t step) {
    std::vector<int64_t> placed;
    for (int64_t raw : raws) {
        const Timeline::Step s = t.arrive(raw, step);
        if (s.releaseHeld)
            placed.push_back(s.heldPts);
        if (!s.hold)
            placed.push_back(s.pts);
    }
    if (const auto last = t.finish())
        placed.push_back(*last);
    return placed;
}

constexpr int64_t kStep = 40; // 25 frames a second in milliseconds
constexpr int64_t kLimit = 1000;

} // namespace

TEST(Timeline, RegularFramesKeepTheirOwnTimes) {
    Timeline t(kLimit, false);
    EXPECT_EQ(place(t, {0, 40, 81, 120, 160}, kStep), (std::vector<int64_t>{0, 40, 81, 120, 160}));
    EXPECT_EQ(t.repairs(), 0);
}

TEST(Timeline, OneWildTimestampIsPutBackInLine) {
    // The FLV case: one tag's timestamp reads 268435879 ms in a 4 s clip.
    Timeline t(kLimit, false);
    EXPECT_EQ(place(t, {0, 40, 80, 268435879, 160, 200}, kStep),
              (std::vector<int64_t>{0, 40, 80, 120, 160, 200}));
    EXPECT_EQ(t.repairs(), 1);

    Timeline back(kLimit, false); // and one that points far into the past
    EXPECT_EQ(place(back, {5000, 5040, 5080, -900000, 5160}, kStep),
              (std::vector<int64_t>{5000, 5040, 5080, 5120, 5160}))
        << "the first frame may start late: it sets the line";
}

TEST(Timeline, ARealGapIsKept) {
    Timeline t(kLimit, false);
    EXPECT_EQ(place(t, {0, 40, 80, 5000, 5040, 5080}, kStep),
              (std::vector<int64_t>{0, 40, 80, 5000, 5040, 5080}));
    EXPECT_EQ(t.repairs(), 0);
}

TEST(Timeline, SparseFramesWithLongGapsInARowAreKept) {
    // A slide show or a screen recording: every frame a jump, but each one in proportion.
    Timeline t(kLimit, false);
    t.setBounds(-10000, 25000); // a 12 s file
    const std::vector<int64_t> raws = {0, 2000, 4500, 6200, 9200, 11000};
    EXPECT_EQ(place(t, raws, kStep), (std::vector<int64_t>{0, 2000, 4500, 6200, 9200, 11000}))
        << "the last slide, with nothing after it, stays where it is";
}

TEST(Timeline, TwoWildTimestampsInARowDoNotVouchForEachOther) {
    Timeline t(kLimit, false);
    EXPECT_EQ(place(t, {0, 40, 80, 525111000, 4195167000, 200, 240}, kStep),
              (std::vector<int64_t>{0, 40, 80, 120, 160, 200, 240}));
    EXPECT_EQ(t.repairs(), 2);
}

TEST(Timeline, OutsideTheContainersLengthIsDamageOutright) {
    Timeline t(kLimit, false);
    t.setBounds(-10000, 14000);
    // Two consecutive frames damaged the same way would look like a real jump; the bounds
    // say no such time exists in this file.
    EXPECT_EQ(place(t, {0, 40, 80, 524400080, 524400120, 200}, kStep),
              (std::vector<int64_t>{0, 40, 80, 120, 160, 200}));
}

TEST(Timeline, AStrayFrameAtTheEndIsPutBackInLine) {
    Timeline t(kLimit, false); // a stream of unknown length
    EXPECT_EQ(place(t, {0, 40, 80, 99999999}, kStep), (std::vector<int64_t>{0, 40, 80, 120}));
    EXPECT_EQ(t.repairs(), 1);

    Timeline bounded(kLimit, false);
    bounded.setBounds(-10000, 14000);
    EXPECT_EQ(place(bounded, {0, 40, 80, 99999999}, kStep), (std::vector<int64_t>{0, 40, 80, 120}));
    Timeline backwards(kLimit, false);
    backwards.setBounds(-10000, 14000);
    EXPECT_EQ(place(backwards, {3000, 3040, 3080, 1000}, kStep),
              (std::vector<int64_t>{3000, 3040, 3080, 3120}));
}

TEST(Timeline, FramesWithoutTimestampsAdvanceOneStep) {
    Timeline t(kLimit, false);
    const int64_t none = Timeline::kNoTime;
    EXPECT_EQ(place(t, {none, none, 80, none}, kStep), (std::vector<int64_t>{0, 40, 80, 120}));
}

TEST(Timeline, SoundKeepsItsSampleCountThroughClockJitter) {
    // 1024-sample frames at 48 kHz whose container clock is rounded to milliseconds.
    Timeline t(960, true); // 20 ms
    EXPECT_EQ(place(t, {0, 1008, 2064, 3072, 4080}, 1024),
              (std::vector<int64_t>{0, 1024, 2048, 3072, 4096}));
    // A real gap of half a second is kept (and filled with silence later).
    EXPECT_EQ(place(t, {29100, 30124}, 1024), (std::vector<int64_t>{29100, 30124}));
}

TEST(Timeline, HugeTimestampsDoNotOverflow) {
    Timeline t(kLimit, false);
    const std::vector<int64_t> placed =
        place(t, {0, INT64_MAX - 5, INT64_MIN + 1, INT64_MAX, 160}, kStep);
    ASSERT_EQ(placed.size(), 5u);
    for (size_t i = 0; i < placed.size(); ++i)
        EXPECT_EQ(placed[i], static_cast<int64_t>(i) * kStep);
}
