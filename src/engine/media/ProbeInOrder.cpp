#include "engine/media/ProbeInOrder.h"

#include "engine/media/SourceItem.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <sched.h>
#include <thread>
#include <vector>

namespace plexavo::media {

unsigned probeWorkers() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

class InOrder {
  public:
    InOrder(std::size_t count, const std::atomic<bool>* stop,
            const std::function<ProbeResult(std::size_t)>& probe,
            const std::function<void(std::size_t, ProbeResult&)>& deliver)
        : m_slots(count), m_stop(stop), m_probe(probe), m_deliver(deliver) {}

    void work() {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard lock(m_mutex);
                if (stopped() || m_next >= m_slots.size())
                    return;
                index = m_next++;
            }
            ProbeResult result = m_probe(index);
            {
                std::lock_guard lock(m_mutex);
                m_slots[index] = std::move(result);
            }
            handOver();
        }
    }

  private:
    bool stopped() const { return m_stop && m_stop->load(); }

    // Whoever finds the next result ready hands over the run of ready results; a
    // thread that finds another one doing so leaves its result to it. Both look
    // under one lock, so no result waits for a hand-over that never comes.
    void handOver() {
        std::unique_lock lock(m_mutex);
        if (m_handing)
            return;
        m_handing = true;
        while (m_delivered < m_slots.size() && m_slots[m_delivered] && !stopped()) {
            ProbeResult result = std::move(*m_slots[m_delivered]);
            m_slots[m_delivered].reset();
            const std::size_t index = m_delivered;
            lock.unlock();
            m_deliver(index, result);
            lock.lock();
            ++m_delivered;
        }
        m_handing = false;
    }

    std::mutex m_mutex;
    std::vector<std::optional<ProbeResult>> m_slots;
    std::size_t m_next = 0;
    std::size_t m_delivered = 0;
    bool m_handing = false;
    const std::atomic<bool>* m_stop;
    const std::function<ProbeResult(std::size_t)>& m_probe;
    const std::function<void(std::size_t, ProbeResult&)>& m_deliver;
};

} // namespace

void probeInOrder(std::size_t count, unsigned workers, const std::atomic<bool>* stop,
                  const std::function<ProbeResult(std::size_t index)>& probe,
                  const std::function<void(std::size_t index, ProbeResult& result)>& deliver) {
    InOrder order(count, stop, probe, deliver);
    const std::size_t threads = std::min<std::size_t>(std::max(workers, 1u), count);
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (std::size_t i = 1; i < threads; ++i)
        pool.emplace_back([&order] { order.work(); });
    order.work(); // the calling thread is one of the workers
    for (auto& t : pool)
        t.join();
}

} // namespace plexavo::media
