#include "gui/shell/ExitSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace plexavo::gui {

namespace {

// Where the handler writes: read from a handler, so an atomic of a lock-free type.
std::atomic<int> g_pipeWrite{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onExitSignal(int signal) {
    const int saved = errno; // the interrupted code may be about to read it
    const int fd = g_pipeWrite.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a wake-up: dropping this one loses nothing.
        [[maybe_unused]] const ssize_t n = ::write(fd, &number, 1);
    }
    errno = saved;
}

} // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent) {
    int fds[2];
    // Both ends close on exec (no core inherits them) and never block: the
    // handler must not wait, and the reader drains what is there.
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_read = fds[0];
    m_write = fds[1];
    m_notifier = new QSocketNotifier(m_read, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::drain);
    g_pipeWrite.store(m_write);

    struct sigaction action {};
    action.sa_handler = onExitSignal;
    sigemptyset(&action.sa_mask);
    // Calls interrupted on other threads (the batch reading the core's
    // output, waits for a child) go on as if nothing happened.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &m_previous[i]);
    m_installed = true;
}

ExitSignals::~ExitSignals() {
    if (m_installed)
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &m_previous[i], nullptr);
    int expected = m_write;
    g_pipeWrite.compare_exchange_strong(expected, -1);
    delete m_notifier;
    if (m_read >= 0)
        ::close(m_read);
    if (m_write >= 0)
        ::close(m_write);
}

void ExitSignals::drain() {
    unsigned char numbers[64];
    while (true) {
        const ssize_t n = ::read(m_read, numbers, sizeof numbers);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i)
            emit received(numbers[i]);
    }
}

} // namespace plexavo::gui
