#include "engine/platform/ChildProcess.h"

#include "engine/platform/Platform.h"
#include "engine/platform/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace plexavo::platform {

namespace {

constexpr int kExitingGraceMs = 500;
// How often a stopping child is looked at.
constexpr int kStopLookMs = 50;
// How long a child sent the abort signal may take to drop its file and go before it is
// killed outright, and how long a killed child is waited for before the shared reaper
// takes over.
constexpr int kAbortGraceMs = 3000;
constexpr int kKilledExitMs = 5000;

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string resolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    // The program's own folder when it is known; never the current one.
    const std::string folder = platform::knownProgramFolder();
    const std::string local = folder + name;
    if (!folder.empty() && access(local.c_str(), X_OK) == 0)
        return local;
    return name; // left to the PATH search
}

// Applies fn to every thread of the process: a policy set on the pid alone
// would only reach its main thread.
template <typename Fn> bool forEachThread(pid_t pid, Fn fn) {
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(taskDir.c_str());
    if (!dir)
        return fn(pid);
    bool ok = true;
    bool any = false;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        any = true;
        ok = fn(static_cast<pid_t>(std::atoi(entry->d_name))) && ok;
    }
    closedir(dir);
    return any && ok;
}

// Through the system call: the C library's wrapper of this release has no C
// linkage in its header. -1 where the kernel has no pidfds.
int openPidfd(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

std::int64_t fileSize(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size)
                                                         : -1;
}

// One thread collects every child that was closed while still running,
// rather than one thread per child. It sleeps while there is none.
class Reaper {
  public:
    static Reaper& instance() {
        static Reaper reaper;
        return reaper;
    }

    void adopt(pid_t pid) {
        std::lock_guard lock(m_mutex);
        m_pids.push_back(pid);
        if (!m_thread.joinable())
            m_thread = std::thread(&Reaper::loop, this);
        m_wake.notify_one();
    }

    std::size_t pending() {
        std::lock_guard lock(m_mutex);
        return m_pids.size();
    }

    ~Reaper() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

  private:
    void loop() {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            std::erase_if(m_pids, [](pid_t pid) {
                int status = 0;
                const pid_t r = waitpid(pid, &status, WNOHANG);
                return r == pid || (r < 0 && errno != EINTR);
            });
            if (m_pids.empty())
                m_wake.wait(lock, [this] { return m_stop || !m_pids.empty(); });
            else
                m_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stop; });
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<pid_t> m_pids;
    std::thread m_thread;
    bool m_stop = false;
};

} // namespace

std::size_t pendingReaps() {
    return Reaper::instance().pending();
}

ChildProcess::~ChildProcess() {
    close();
}

int ChildProcess::start() {
    if (processId > 0 || arguments.empty() || arguments[0].empty()) {
        m_startError = EINVAL;
        return -1;
    }
    int outPipe[2] = {-1, -1};
    int inPipe[2] = {-1, -1};
    m_startError = 0;
    if (((flags & PipeStdout) && pipe2(outPipe, O_CLOEXEC) != 0) ||
        ((flags & PipeStdin) && pipe2(inPipe, O_CLOEXEC) != 0))
        m_startError = errno;

    pid_t pid = 0;
    if (m_startError == 0) {
        SpawnRequest request;
        request.program = resolveProgram(arguments[0]);
        request.arguments = arguments;
        request.environment = environment;
        request.workingDirectory = workingDirectory;
        if (flags & PipeStdin)
            request.input = inPipe[0];
        if (flags & PipeStdout)
            request.output = request.error = outPipe[1];
        request.ownProcessGroup = (flags & OwnProcessGroup) != 0;
        m_startError = spawnProcess(request, pid);
    }
    // The child's ends belong to the child alone: once it exits, reads see the end.
    closeFd(outPipe[1]);
    closeFd(inPipe[0]);
    if (m_startError != 0) {
        closeFd(outPipe[0]);
        closeFd(inPipe[1]);
        return -1;
    }
    processId = pid;
    // A handle on this very process: signals through it can never reach a
    // stranger that inherited the number after someone else reaped the child.
    m_pidfd = openPidfd(pid);
    m_reaped = false;
    m_statusKnown = true;
    m_terminated = false;
    m_exitCode = 0;
    m_stopOutcome = StopOutcome::NotStopped;
    stdoutRead = outPipe[0];
    stdinWrite = inPipe[1];
    return 0;
}

bool ChildProcess::reap(bool block) {
    if (m_reaped)
        return true;
    if (processId <= 0)
        return false;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(processId, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == processId) {
        m_reaped = true;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    if (r < 0) {
        // Someone else reaped it: it is gone, but how it ended is unknown.
        m_reaped = true;
        m_statusKnown = false;
        m_exitCode = -1;
        return true;
    }
    return false;
}

bool ChildProcess::sendSignal(int signal) {
    if (m_reaped)
        return false;
    if (m_pidfd >= 0)
        return syscall(SYS_pidfd_send_signal, m_pidfd, signal, nullptr, 0) == 0;
    return kill(processId, signal) == 0;
}

bool ChildProcess::waitForExit(int timeoutMs) {
    if (processId <= 0)
        return false;
    const std::uint64_t begin = platform::monotonicMs();
    while (!reap(false)) {
        if (static_cast<int>(platform::monotonicMs() - begin) >= timeoutMs)
            return false;
        usleep(5000);
    }
    return true;
}

int ChildProcess::terminate() {
    m_stopOutcome = StopOutcome::NotStopped;
    if (processId <= 0 || reap(false))
        return -1;
    // A child whose output has ended is on its way out: let it finish rather
    // than count it as stopped.
    if (stdoutRead >= 0) {
        pollfd pfd{stdoutRead, POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLHUP) && waitForExit(kExitingGraceMs))
            return -1;
    }
    if (!sendSignal(SIGTERM)) {
        reap(false);
        if (m_reaped)
            return -1;
    }
    m_terminated = true;
    waitOutStop();
    return 0;
}

void ChildProcess::waitOutStop() {
    const StopPolicy& policy = stopPolicy;
    const std::uint64_t requested = platform::monotonicMs();
    std::uint64_t lastSign = requested;
    std::int64_t lastSize = fileSize(policy.watchedFile);
    platform::ProcessActivity lastActivity = platform::readProcessActivity(processId);
    bool pipeOpen = stdoutRead >= 0;
    char buffer[4096];

    for (;;) {
        if (reap(false)) {
            m_stopOutcome = StopOutcome::Exited;
            return;
        }
        const std::uint64_t now = platform::monotonicMs();
        StopOutcome kill = StopOutcome::NotStopped;
        if (policy.killRequest && policy.killRequest->load())
            kill = StopOutcome::KilledOnRequest;
        else if (static_cast<int>(now - requested) >= policy.limitMs)
            kill = StopOutcome::KilledLimit;
        else if (static_cast<int>(now - lastSign) >= policy.silenceMs)
            kill = StopOutcome::KilledSilent;
        if (kill != StopOutcome::NotStopped) {
            // The explicit abort first: a core drops its unfinished file itself. One that
            // cannot even do that is killed; its partial file then waits for the next
            // conversion into its folder to clear it.
            if (policy.abortSignal != SIGKILL && sendSignal(policy.abortSignal) &&
                waitForExit(kAbortGraceMs)) {
                m_stopOutcome = kill;
                return;
            }
            sendSignal(SIGKILL);
            // A child stuck in the kernel (a dead network mount) dies only
            // when it leaves it: never wait for that here; close() hands it
            // to the reaper.
            waitForExit(kKilledExitMs);
            m_stopOutcome = kill;
            return;
        }

        if (pipeOpen) {
            pollfd pfd{stdoutRead, POLLIN, 0};
            if (poll(&pfd, 1, kStopLookMs) > 0) {
                const ssize_t n = read(stdoutRead, buffer, sizeof buffer);
                if (n > 0) {
                    lastSign = platform::monotonicMs();
                    if (policy.onOutput)
                        policy.onOutput(buffer, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    pipeOpen = false;
                }
            }
        } else {
            usleep(kStopLookMs * 1000);
        }
        // Signs of life besides output: the file grows, or the child works
        // (processor time, bytes written anywhere, as when an index moves to
        // the front of the file). A child waiting for a processor on a busy
        // machine is not silent either: it is runnable, just not running.
        const std::int64_t size = fileSize(policy.watchedFile);
        const platform::ProcessActivity activity = platform::readProcessActivity(processId);
        if (size != lastSize || lastActivity.progressedTo(activity) || activity.state == 'R') {
            lastSize = size;
            lastSign = platform::monotonicMs();
        }
        lastActivity = activity;
    }
}

int ChildProcess::setIdlePriority() {
    if (processId <= 0 || m_reaped)
        return -1;
    const bool ok = forEachThread(processId, [](pid_t tid) {
        const sched_param param{};
        return sched_setscheduler(tid, SCHED_IDLE, &param) == 0;
    });
    return ok ? 0 : -1;
}

void ChildProcess::close() {
    closeFd(stdoutRead);
    closeFd(stdinWrite);
    if (processId > 0 && !reap(false))
        Reaper::instance().adopt(processId);
    closeFd(m_pidfd);
    processId = 0;
}

} // namespace plexavo::platform
