// Probing many files at once while the list still fills in its own order.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace plexavo::media {

class SourceItem;

// How many probes may run at once: one per processor this process may use.
unsigned probeWorkers();

// What one probe gave: the item and the caller's own verdict on it (convertible,
// failed, a name that cannot be read ...).
struct ProbeResult {
    std::unique_ptr<SourceItem> item;
    int verdict = 0;
};

// Probes count files with up to `workers` probes at once and hands the results over in list
// order: deliver(i, result) is called for i = 0, 1, 2 ... one call at a time, each as soon as
// every earlier file has been handed over, so rows fill in list order as results arrive.
// probe(i) runs on a worker thread that lives until that probe's core has ended (the core's
// parent-death signal follows the thread that started it). Once *stop reads true no further
// probe starts and no further result is handed over: nothing arrives half-way. Returns when
// every worker has ended.
void probeInOrder(std::size_t count, unsigned workers, const std::atomic<bool>* stop,
                  const std::function<ProbeResult(std::size_t index)>& probe,
                  const std::function<void(std::size_t index, ProbeResult& result)>& deliver);

} // namespace plexavo::media
