#include "Console.h"
#include "PlexcoreContract.h"

#include "FFmpeg.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::core {
namespace {

std::mutex g_outMutex;
// Lock-free atomics only: the handler may run on any thread, also twice at once.
std::atomic<bool> g_stop{false};
std::atomic<const char*> g_unfinished{nullptr};
std::atomic<const char*> g_unfinishedNote{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free &&
              std::atomic<const char*>::is_always_lock_free);
int g_warnings = 0;

void writeAll(const std::string& s) {
    std::lock_guard lock(g_outMutex);
    const char* p = s.data();
    size_t left = s.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // nobody is listening any more; nothing useful to do
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// A stop may arrive many times and from many senders at once (the program dying, a logout,
// a hang-up, the program's own request): each is the same request, and the file is finished
// and kept whatever their number.
extern "C" void onStopSignal(int) {
    g_stop.store(true);
}

// The explicit abort: no flush, no trailer. What was written is not playable, so it goes, as
// after a failure, with its note (stat and unlink are async-signal-safe).
extern "C" void onAbortSignal(int) {
    if (const char* path = g_unfinished.load()) {
        struct stat st {};
        if (::lstat(path, &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path);
    }
    if (const char* note = g_unfinishedNote.load())
        ::unlink(note);
    _exit(plexavo::contract::kExitAborted);
}

// Only there to make a blocked read return with EINTR.
extern "C" void onWake(int) {}

extern "C" void libraryLog(void* avcl, int level, const char* fmt, va_list vl) {
    av_log_default_callback(avcl, level, fmt, vl);
}

} // namespace

void printLine(const std::string& line) {
    writeAll(line + "\n");
}
void printRaw(const std::string& text) {
    writeAll(text);
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

void warn(const std::string& message) {
    // A badly damaged file could otherwise flood the pipe with identical lines.
    if (++g_warnings > 20) {
        if (g_warnings == 21)
            printLine("Warning: further warnings are suppressed");
        return;
    }
    printLine("Warning: " + oneLine(message));
}

void installStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read blocked on a slow input must return so the stop is seen.
    sa.sa_flags = 0;
    for (int sig : {plexavo::contract::kStopSignal, SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    struct sigaction abort {};
    abort.sa_handler = onAbortSignal;
    sigfillset(&abort.sa_mask);
    for (int sig : {plexavo::contract::kAbortSignal, SIGQUIT})
        sigaction(sig, &abort, nullptr);
    struct sigaction wake {};
    wake.sa_handler = onWake;
    sigemptyset(&wake.sa_mask);
    sigaction(SIGUSR2, &wake, nullptr);
    // A vanished reader must not kill us before the output is finished.
    signal(SIGPIPE, SIG_IGN);
    // Whoever started us may have blocked these; a stop or an abort must still arrive.
    sigset_t wanted;
    sigemptyset(&wanted);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, plexavo::contract::kAbortSignal, SIGUSR2})
        sigaddset(&wanted, sig);
    pthread_sigmask(SIG_UNBLOCK, &wanted, nullptr);
}

void stopWithParent() {
    // The program starts us with posix_spawn, so nothing can ask for this before exec; the
    // kernel sends the signal when the thread that spawned us ends.
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
        return;
    // A user at a shell sets no parent; there is nothing to compare with.
    const char* expected = std::getenv(plexavo::contract::kParentPidEnv);
    if (!expected || !*expected)
        return;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(expected, &end, 10);
    if (errno != 0 || *end != '\0' || pid <= 0)
        return;
    // The program died between spawning us and the request above: we were handed to another
    // parent already and no signal will come. Stop as its death would have made us.
    if (::getppid() != static_cast<pid_t>(pid))
        ::raise(SIGTERM);
}

void setUnfinishedOutput(const std::string* path, const std::string* note) {
    g_unfinished.store(path ? path->c_str() : nullptr);
    g_unfinishedNote.store(note && !note->empty() ? note->c_str() : nullptr);
}

bool stopRequested() {
    return g_stop.load(std::memory_order_relaxed);
}

void quietLibraryLogs() {
    if (std::getenv("PLEXCORE_DEBUG")) {
        av_log_set_level(AV_LOG_VERBOSE);
        av_log_set_callback(libraryLog);
    } else {
        av_log_set_level(AV_LOG_QUIET);
    }
}

ProgressTicker::ProgressTicker(const ProgressState& state)
    : m_state(state), m_begin(std::chrono::steady_clock::now()) {}

ProgressTicker::~ProgressTicker() {
    try {
        finishSilently();
    } catch (...) {
        // Only the closing line is lost; the thread has been joined.
    }
}

void ProgressTicker::start() {
    m_begin = std::chrono::steady_clock::now();
    m_mainThread = pthread_self();
    // The signals must land on the main thread, where they interrupt blocking reads.
    sigset_t block, old;
    sigemptyset(&block);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, plexavo::contract::kAbortSignal, SIGUSR2})
        sigaddset(&block, sig);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    m_thread = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

bool ProgressTicker::stopThread() {
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return false;
        m_finished = true;
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

void ProgressTicker::finish() {
    if (!stopThread())
        return;
    printRaw(line() + "\n");
}

void ProgressTicker::finishSilently() {
    if (!stopThread())
        return;
    if (m_printed)
        printRaw(line() + "\n");
}

void ProgressTicker::run() {
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (m_wake.wait_for(lock, std::chrono::milliseconds(400), [this] { return m_quit; }))
            break;
        lock.unlock();
        // A stop signal may have landed on a codec thread while the main thread sits in a
        // read of a stalled input; wake it so the read returns and the stop is seen.
        if (stopRequested() && m_state.reading.load())
            pthread_kill(m_mainThread, SIGUSR2);
        printRaw(line() + "\r");
        m_printed = true;
        lock.lock();
    }
}

std::string ProgressTicker::line() const {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_begin).count();
    const int64_t frames = m_state.frames.load();
    const int64_t bytes = m_state.bytes.load();
    const double t = static_cast<double>(m_state.outUs.load()) / 1e6;
    // The two counters move one after the other: never a rate below zero.
    const double newFrames = std::max(0.0, static_cast<double>(frames - m_state.baseFrames.load()));
    const double newTime = std::max(0.0, t - static_cast<double>(m_state.baseUs.load()) / 1e6);
    const double fps = elapsed > 0.05 ? newFrames / elapsed : 0.0;
    const double kbits = t > 0.0 ? static_cast<double>(bytes) * 8.0 / 1000.0 / t : 0.0;
    const double speed = elapsed > 0.05 ? newTime / elapsed : 0.0;
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "frame=%lld fps=%.1f size=%lldkB time=%.2f bitrate=%.1fkbits/s speed=%.2fx",
                  static_cast<long long>(frames), fps, static_cast<long long>(bytes / 1024), t,
                  kbits, speed);
    return buf;
}

} // namespace plexavo::core
