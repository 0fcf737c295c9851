#include "platform/ChildProcess.h"

#include "platform/Platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace plexavo {

namespace {

constexpr int kExitingGraceMs = 500;

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string resolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    const std::string local = platform::programFolder() + name;
    if (access(local.c_str(), X_OK) == 0)
        return local;
    return name; // left to posix_spawnp's PATH search
}

// Applies fn to every thread of the process: a policy set on the pid alone
// would only reach its main thread.
template <typename Fn>
bool forEachThread(pid_t pid, Fn fn) {
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

} // namespace

CChildProcess::~CChildProcess() { close(); }

int CChildProcess::start() {
    if (processId > 0 || arguments.empty() || arguments[0].empty())
        return -1;

    int outPipe[2] = {-1, -1};
    int inPipe[2] = {-1, -1};
    if ((flags & PipeStdout) && pipe2(outPipe, O_CLOEXEC) != 0)
        return -1;
    if ((flags & PipeStdin) && pipe2(inPipe, O_CLOEXEC) != 0) {
        closeFd(outPipe[0]);
        closeFd(outPipe[1]);
        return -1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (flags & PipeStdin)
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    if (flags & PipeStdout) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
    } else if (flags & StderrToStdout) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    // Nothing of the parent's beyond the three standard descriptors reaches the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (workingDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory->c_str());

    // The child starts with default signal handling and nothing blocked,
    // whatever the calling thread had set up.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string program = resolveProgram(arguments[0]);

    pid_t pid = 0;
    const int rc = program.find('/') != std::string::npos
                       ? posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                       : posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);

    // The child's ends belong to the child alone: once it exits, reads see the end.
    closeFd(outPipe[1]);
    closeFd(inPipe[0]);
    if (rc != 0) {
        closeFd(outPipe[0]);
        closeFd(inPipe[1]);
        return -1;
    }
    processId = pid;
    m_reaped = false;
    m_terminated = false;
    m_exitCode = 0;
    if (flags & PipeStdout)
        stdoutRead = outPipe[0];
    if (flags & PipeStdin)
        stdinWrite = inPipe[1];
    return 0;
}

bool CChildProcess::reap(bool block) {
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
        // Someone else reaped it; it is gone either way.
        m_reaped = true;
        m_exitCode = -1;
        return true;
    }
    return false;
}

bool CChildProcess::waitForExit(int timeoutMs) {
    if (processId <= 0)
        return false;
    const std::uint32_t begin = platform::tickCount();
    while (!reap(false)) {
        if (static_cast<int>(platform::tickCount() - begin) >= timeoutMs)
            return false;
        usleep(5000);
    }
    return true;
}

int CChildProcess::terminate() {
    if (processId <= 0 || reap(false))
        return -1;
    // A child whose output has ended is on its way out: let it finish rather
    // than count it as stopped.
    if (stdoutRead >= 0) {
        pollfd pfd{stdoutRead, POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLHUP) && waitForExit(kExitingGraceMs))
            return -1;
    }
    if (kill(processId, SIGTERM) != 0) {
        reap(false);
        return -1;
    }
    m_terminated = true;
    if (!waitForExit(terminateGraceMs)) {
        kill(processId, SIGKILL);
        reap(true);
    }
    return 0;
}

int CChildProcess::setPriority(int index) {
    if (index < 0 || index > 5 || processId <= 0 || m_reaped)
        return -1;
    const bool ok = forEachThread(processId, [index](pid_t tid) {
        sched_param param{};
        switch (index) {
        case 0:
        case 1:
            return sched_setscheduler(tid, SCHED_IDLE, &param) == 0;
        case 2:
            return sched_setscheduler(tid, SCHED_OTHER, &param) == 0 &&
                   setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 0) == 0;
        case 3:
        case 4:
            return sched_setscheduler(tid, SCHED_OTHER, &param) == 0 &&
                   setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -5) == 0;
        default:
            param.sched_priority = sched_get_priority_min(SCHED_RR);
            return sched_setscheduler(tid, SCHED_RR, &param) == 0;
        }
    });
    return ok ? 0 : -1;
}

void CChildProcess::close() {
    closeFd(stdoutRead);
    closeFd(stdinWrite);
    if (processId > 0 && !reap(false)) {
        const pid_t pid = processId;
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    processId = 0;
}

} // namespace plexavo
