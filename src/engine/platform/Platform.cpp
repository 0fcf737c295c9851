#include "engine/platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::platform {

std::uint64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec / 1000000);
}

std::string folderOfLink(const char* exeLink) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(exeLink, buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string knownProgramFolder() {
    return folderOfLink("/proc/self/exe");
}

std::string programFolder() {
    std::string folder = knownProgramFolder();
    return folder.empty() ? std::string("./") : folder;
}

std::string absolutePath(const std::string& path) {
    if (path.empty())
        return path;
    std::string joined;
    if (path[0] == '/') {
        joined = path;
    } else {
        std::string cwd(256, '\0');
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE)
                return path; // no current folder (removed): nothing better to offer
            cwd.resize(cwd.size() * 2);
        }
        cwd.resize(std::strlen(cwd.c_str()));
        joined = cwd + "/" + path;
    }
    std::string out;
    std::size_t at = 0;
    while (at <= joined.size()) {
        const std::size_t slash = std::min(joined.find('/', at), joined.size());
        const std::string_view part(joined.data() + at, slash - at);
        if (!part.empty() && part != ".") {
            out += '/';
            out += part;
        }
        at = slash + 1;
    }
    if (out.empty() || (joined.back() == '/' && out != "/"))
        out += '/'; // the root, or a folder written with its separator
    return out;
}

ProcessActivity readProcessActivity(pid_t pid) {
    ProcessActivity a;
    const std::string base = "/proc/" + std::to_string(pid);
    char buffer[1024];
    if (std::FILE* f = std::fopen((base + "/stat").c_str(), "re")) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        buffer[n] = '\0';
        // The command name may hold blanks and brackets: fields start after the last ')'.
        if (const char* close = std::strrchr(buffer, ')')) {
            unsigned long utime = 0, stime = 0;
            char state = '?';
            if (std::sscanf(close + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %lu %lu",
                            &state, &utime, &stime) == 3) {
                a.state = state;
                a.cpuTicks = utime + stime;
            }
        }
    }
    if (std::FILE* f = std::fopen((base + "/io").c_str(), "re")) {
        unsigned long long rchar = 0, wchar = 0;
        if (std::fscanf(f, "rchar: %llu wchar: %llu", &rchar, &wchar) == 2) {
            a.bytesRead = rchar;
            a.bytesWritten = wchar;
        }
        std::fclose(f);
    }
    return a;
}

long cpuTicksPerSecond() {
    return std::max(1L, sysconf(_SC_CLK_TCK));
}

void releaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

std::string runtimeFolder() {
    struct stat st {};
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR");
        dir && *dir && stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK) == 0)
        return dir;
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        return tmp;
    return "/tmp";
}

void resetInheritedSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

} // namespace plexavo::platform
