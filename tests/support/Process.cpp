#include "Process.h"

#include "engine/platform/Spawn.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

} // namespace

Child::Child(const std::vector<std::string>& argv, const SpawnOptions& options) {
    if (argv.empty())
        return;
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return;
    if (!options.joinStderr && pipe2(errPipe, O_CLOEXEC) != 0) {
        closeFd(outPipe[0]);
        closeFd(outPipe[1]);
        return;
    }
    // The engine's own spawn: the same descriptors, signals and environment
    // rules as the program's children.
    plexavo::platform::SpawnRequest request;
    request.program = argv[0];
    request.arguments = argv;
    request.environment = options.env;
    if (!options.cwd.empty())
        request.workingDirectory = options.cwd;
    request.input = options.stdinNull ? plexavo::platform::kDevNull : plexavo::platform::kInherit;
    request.output = outPipe[1];
    request.error = options.joinStderr ? outPipe[1] : errPipe[1];
    request.ownSession = options.newSession;
    pid_t pid = -1;
    const int rc = plexavo::platform::spawnProcess(request, pid);
    closeFd(outPipe[1]);
    closeFd(errPipe[1]);
    if (rc != 0) {
        closeFd(outPipe[0]);
        closeFd(errPipe[0]);
        return;
    }
    m_pid = pid;
    m_out = outPipe[0];
    m_err = errPipe[0];
}

Child::~Child() {
    if (m_pid > 0 && !reap(false)) {
        kill(m_pid, SIGKILL);
        reap(true);
    }
    closeFd(m_out);
    closeFd(m_err);
}

std::string Child::readOnce(size_t n) {
    std::string buf(n, '\0');
    ssize_t got;
    do {
        got = ::read(m_out, buf.data(), n);
    } while (got < 0 && errno == EINTR);
    buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (!buf.empty()) {
        arrivals.emplace_back(out.size(), Clock::now());
        out += buf;
    }
    return buf;
}

bool Child::pump(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_out >= 0 || m_err >= 0) {
        pollfd fds[2];
        int n = 0;
        if (m_out >= 0)
            fds[n++] = {m_out, POLLIN, 0};
        if (m_err >= 0)
            fds[n++] = {m_err, POLLIN, 0};
        const int r = poll(fds, n, msLeft(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return true;
        for (int i = 0; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[65536];
            const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            const bool isOut = fds[i].fd == m_out;
            if (got <= 0) {
                closeFd(isOut ? m_out : m_err);
                continue;
            }
            if (isOut) {
                arrivals.emplace_back(out.size(), Clock::now());
                out.append(buf, static_cast<size_t>(got));
            } else {
                err.append(buf, static_cast<size_t>(got));
            }
        }
        if (msLeft(deadline) == 0)
            return m_out >= 0 || m_err >= 0;
    }
    return false;
}

void Child::drain(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (msLeft(deadline) > 0 && pump(msLeft(deadline))) {
    }
}

void Child::signal(int sig) {
    if (m_pid > 0 && !m_reaped)
        kill(m_pid, sig);
}

bool Child::reap(bool block) {
    if (m_reaped)
        return true;
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != m_pid)
        return false;
    m_reaped = true;
    if (WIFEXITED(status)) {
        m_exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_termSignal = WTERMSIG(status);
    }
    return true;
}

bool Child::wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reap(false)) {
        if (msLeft(deadline) == 0)
            return false;
        // Keep reading meanwhile so a chatty child never blocks on a full pipe.
        if (m_out >= 0 || m_err >= 0)
            pump(std::min(20, msLeft(deadline)));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

RunResult run(const std::vector<std::string>& argv, double timeoutSec,
              const SpawnOptions& options) {
    RunResult result;
    const auto start = Clock::now();
    Child child(argv, options);
    if (!child.started())
        return result;
    result.started = true;
    const int timeoutMs = static_cast<int>(timeoutSec * 1000);
    child.drain(timeoutMs);
    if (!child.wait(std::max(msLeft(start + std::chrono::milliseconds(timeoutMs)), 1))) {
        result.timedOut = true;
        child.signal(SIGKILL);
        child.wait(5000);
    }
    result.exitCode = result.timedOut ? -1 : child.exitCode();
    result.termSignal = child.termSignal();
    result.out = std::move(child.out);
    result.err = std::move(child.err);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!cur.empty())
                lines.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    return lines;
}

namespace {
// The entries of a /proc folder, without "." and "..".
std::vector<std::string> procEntries(const char* folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder)) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        closedir(dir);
    }
    return names;
}

} // namespace

std::string readProcFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            text.clear(); // half a file is no answer
        break;
    }
    ::close(fd);
    return text;
}

std::set<std::string> mappedFiles(const std::string& part) {
    std::set<std::string> files;
    std::istringstream maps(readProcFile("/proc/self/maps"));
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.find('/'); // the addresses and fields hold none
        if (slash != std::string::npos && line.find(part, slash) != std::string::npos)
            files.insert(line.substr(slash));
    }
    return files;
}

namespace {

std::string linkTarget(const std::string& link) {
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}
} // namespace

int openDescriptorCount() {
    return static_cast<int>(procEntries("/proc/self/fd").size()) - 1;
}

int openDescriptorsTo(const std::string& path) {
    int count = 0;
    for (const auto& fd : procEntries("/proc/self/fd"))
        count += linkTarget("/proc/self/fd/" + fd) == path;
    return count;
}

int threadCount() {
    return static_cast<int>(procEntries("/proc/self/task").size());
}

std::vector<ChildState> childProcesses() {
    std::vector<ChildState> children;
    const pid_t self = getpid();
    for (const auto& name : procEntries("/proc")) {
        const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
        if (pid <= 0)
            continue;
        const std::string stat = readProcFile("/proc/" + name + "/stat");
        // "pid (name) state ppid ...": the name may hold blanks and brackets.
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == self)
            children.push_back({pid, state});
    }
    return children;
}

std::vector<SessionProcess> processesInSession(pid_t session) {
    std::vector<SessionProcess> found;
    for (const auto& name : procEntries("/proc")) {
        const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
        if (pid <= 0)
            continue;
        const std::string stat = readProcFile("/proc/" + name + "/stat");
        const auto open = stat.find('(');
        const auto close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        SessionProcess p;
        int group = 0;
        int sid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d %d %d", &p.state, &p.ppid, &group,
                        &sid) != 4 ||
            sid != session)
            continue;
        p.pid = pid;
        p.name = stat.substr(open + 1, close - open - 1);
        found.push_back(p);
    }
    return found;
}

} // namespace testing_support
