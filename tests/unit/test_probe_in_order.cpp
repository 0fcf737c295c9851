// Probes side by side: results reach the list in list order whatever order they end in,
// no more run at once than asked, and a stop leaves nothing half-way.
#include "engine/media/ProbeInOrder.h"
#include "engine/media/SourceItem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace plexavo;
using namespace std::chrono_literals;

using plexavo::media::probeInOrder;
using plexavo::media::ProbeResult;
using plexavo::media::probeWorkers;
using plexavo::media::SourceItem;

namespace {

// Stands in for probes of different lengths: later files end sooner.
struct Probes {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> started{0};
    std::size_t count = 0;

    ProbeResult operator()(std::size_t i) {
        const int now = running.fetch_add(1) + 1;
        for (int seen = most; seen < now && !most.compare_exchange_weak(seen, now);) {
        }
        started.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * (count - i)));
        ProbeResult r;
        r.item = std::make_unique<SourceItem>();
        r.item->path = "file" + std::to_string(i);
        r.verdict = static_cast<int>(i % 3);
        running.fetch_sub(1);
        return r;
    }
};

} // namespace

TEST(ProbeInOrder, HandsOverInListOrderWithAsManyAtOnceAsAsked) {
    for (unsigned workers : {1u, 2u, 4u}) {
        Probes probes;
        probes.count = 12;
        std::vector<std::size_t> order;
        std::vector<std::string> paths;
        std::atomic<int> handing{0};
        bool overlapped = false;
        probeInOrder(
            probes.count, workers, nullptr, [&](std::size_t i) { return probes(i); },
            [&](std::size_t i, ProbeResult& r) {
                overlapped = overlapped || handing.fetch_add(1) != 0;
                order.push_back(i);
                paths.push_back(r.item->path);
                EXPECT_EQ(r.verdict, static_cast<int>(i % 3));
                handing.fetch_sub(1);
            });
        std::vector<std::size_t> expected(probes.count);
        for (std::size_t i = 0; i < expected.size(); ++i)
            expected[i] = i;
        EXPECT_EQ(order, expected) << workers << " at once";
        EXPECT_EQ(paths.front(), "file0");
        EXPECT_FALSE(overlapped) << "two hand-overs at once";
        EXPECT_LE(probes.most.load(), static_cast<int>(workers));
        if (workers > 1) {
            EXPECT_GT(probes.most.load(), 1) << "never more than one probe at once";
        }
    }
    // Nothing to probe: no call, no hang.
    probeInOrder(
        0, 2, nullptr, [](std::size_t) { return ProbeResult{}; },
        [](std::size_t, ProbeResult&) { ADD_FAILURE() << "a result from nothing"; });
}

TEST(ProbeInOrder, AStopStartsNothingMoreAndHandsNothingMoreOver) {
    std::atomic<bool> stop{false};
    Probes probes;
    probes.count = 40;
    std::vector<std::size_t> order;
    probeInOrder(
        probes.count, 2, &stop,
        [&](std::size_t i) {
            if (i == 5)
                stop = true; // as a signal or the Stop button would, mid-pass
            return probes(i);
        },
        [&](std::size_t i, ProbeResult&) {
            EXPECT_FALSE(stop.load()) << "handed over after the stop";
            order.push_back(i);
        });
    EXPECT_LE(probes.started.load(), 7) << "probes went on starting after the stop";
    EXPECT_LT(order.size(), 6u);
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], i) << "a row skipped or out of order";
    EXPECT_GE(probeWorkers(), 1u);
}

// A file whose probe hangs (until the probe's own time limit ends it) holds up
// no other probe: the other workers go through the rest of the list meanwhile,
// and the rows still fill in list order once it ends.
TEST(ProbeInOrder, AProbeThatHangsHoldsUpNoOtherProbe) {
    constexpr std::size_t kCount = 8;
    std::mutex mutex;
    std::condition_variable probed;
    std::size_t others = 0;
    bool othersWhileHung = false;
    std::vector<std::size_t> order;
    probeInOrder(
        kCount, 2, nullptr,
        [&](std::size_t i) {
            std::unique_lock lock(mutex);
            if (i == 0) {
                othersWhileHung = probed.wait_for(lock, 10s, [&] { return others == kCount - 1; });
            } else {
                ++others;
                probed.notify_all();
            }
            ProbeResult r;
            r.item = std::make_unique<SourceItem>();
            return r;
        },
        [&](std::size_t i, ProbeResult&) { order.push_back(i); });
    EXPECT_TRUE(othersWhileHung) << others << " of " << kCount - 1
                                 << " other files probed while the first hung";
    std::vector<std::size_t> expected(kCount);
    for (std::size_t i = 0; i < kCount; ++i)
        expected[i] = i;
    EXPECT_EQ(order, expected);
}
