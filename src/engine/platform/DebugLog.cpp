#include "engine/platform/DebugLog.h"

#include "engine/platform/NamedLock.h"
#include "engine/platform/Platform.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace plexavo::platform {

namespace {

// Read and written only under the log's lock (setLogPath, logPath).
char g_logPath[PATH_MAX] = {0};

NamedLock& logLock() {
    static NamedLock lock("RUDOREZ");
    return lock;
}

// Built during static initialisation so that the first message of any thread
// finds it ready, and the path is known before the program's own start-up.
struct LogInit {
    LogInit() {
        logLock();
        if (const char* path = std::getenv("PLEXAVO_LOG"))
            setLogPath(path);
    }
} g_logInit;

} // namespace

void writeLog(const char* format, ...) {
    auto& lock = logLock();
    lock.lock();

    char buffer[8192];
    std::memset(buffer, 0, sizeof buffer);
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);

    const bool marked =
        std::strncmp(buffer, kLogFileLineMarker, sizeof kLogFileLineMarker - 1) == 0;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    if (g_logPath[0] != '\0') {
        if (std::FILE* file = std::fopen(g_logPath, "a")) {
            if (marked)
                std::fprintf(file, "%02d:%02d:%02d (%d): %s", local.tm_hour, local.tm_min,
                             local.tm_sec, static_cast<int>(monotonicMs()),
                             buffer + sizeof kLogFileLineMarker - 1);
            else
                std::fprintf(file, "%s\n", buffer);
            std::fclose(file);
        }
    }
    lock.unlock();
}

bool setLogPath(const std::string& path) {
    if (path.size() >= sizeof g_logPath)
        return false;
    // Under the writers' lock: a window may change the path while a worker logs.
    auto& lock = logLock();
    lock.lock();
    std::memcpy(g_logPath, path.c_str(), path.size() + 1);
    lock.unlock();
    return true;
}

std::string logPath() {
    auto& lock = logLock();
    lock.lock();
    std::string path = g_logPath;
    lock.unlock();
    return path;
}

std::string formatWithoutFloat(const char* format, ...) {
    // Rewrite every floating-point conversion as literal text so that no
    // double is ever read from the argument list.
    std::string safe;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            safe += *p;
            continue;
        }
        const char* spec = p + 1;
        if (*spec == '%') {
            safe += "%%";
            p = spec;
            continue;
        }
        const char* end = spec;
        while (*end && std::strchr("-+ #0123456789.*hljztL", *end))
            ++end;
        if (*end && std::strchr("fFeEgGaA", *end)) {
            safe += "%%";
            safe.append(spec, end + 1);
        } else {
            safe.append(p, *end ? end + 1 : end);
        }
        p = *end ? end : end - 1;
    }

    char buffer[kFormattedBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, safe.c_str(), args);
    va_end(args);
    return buffer;
}

} // namespace plexavo::platform
