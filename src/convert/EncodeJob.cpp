#include "convert/EncodeJob.h"

#include "app/DebugLog.h"
#include "platform/ChildProcess.h"
#include "platform/CoreLocator.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace plexavo {

namespace {

// The whole-second fields of the command line are written from their low 32 bits.
std::string seconds32(std::uint64_t value) { return std::to_string(static_cast<std::uint32_t>(value)); }

// How long a core whose output has ended may take to exit before it counts as hung.
constexpr int kExitWaitMs = 3000;

} // namespace

std::string CEncodeJob::formatCommandLine(const std::string& sourcePath, const std::string& outputFilePath,
                                          const std::string& title, const std::string& options,
                                          std::uint64_t startSeconds, std::uint64_t length) {
    std::string line;
    line.reserve(256 + sourcePath.size() + outputFilePath.size() + title.size() + options.size());
    line += core::kProgramName;
    line += core::kAccessCode;
    line += " -i \"" + sourcePath + "\" -title \"" + title + "\" " + options;
    line += " -ss " + seconds32(startSeconds) + " -t " + seconds32(length);
    line += " -y \"" + outputFilePath + "\"";
    return line;
}

std::vector<std::string> CEncodeJob::buildArguments(const std::string& sourcePath,
                                                    const std::string& outputFilePath,
                                                    const std::string& title, const std::string& options,
                                                    std::uint64_t startSeconds, std::uint64_t length) {
    std::vector<std::string> args{core::programPath(), core::kAccessCode, "-i", sourcePath, "-title", title};
    // The option text is built from list values and digit edits only, so
    // blanks separate its words.
    std::string_view rest(options);
    while (!rest.empty()) {
        const auto begin = rest.find_first_not_of(' ');
        if (begin == std::string_view::npos)
            break;
        rest.remove_prefix(begin);
        const auto end = std::min(rest.find(' '), rest.size());
        args.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    args.insert(args.end(), {"-ss", seconds32(startSeconds), "-t", seconds32(length), "-y", outputFilePath});
    return args;
}

int CEncodeJob::run(const std::string& sourcePath, const std::string& outputFilePath, const std::string& title,
                    const std::string& options, std::uint64_t startSeconds, std::uint64_t endSeconds) {
    duration = static_cast<std::int64_t>(endSeconds - startSeconds);
    percent = 0;
    stopRequested = false;
    m_errorText.clear();

    const auto length = endSeconds - startSeconds;
    CChildProcess child;
    child.commandLine = formatCommandLine(sourcePath, outputFilePath, title, options, startSeconds, length);
    child.arguments = buildArguments(sourcePath, outputFilePath, title, options, startSeconds, length);
    child.flags = CChildProcess::PipeStdout;
    WriteLog("%s", child.commandLine.c_str());

    const bool started = child.start() == 0;
    if (started)
        pumpOutput(child);

    const bool stopped = stopRequested.load();
    if (started && !stopped)
        child.waitForExit(kExitWaitMs);
    child.terminate();
    const bool exitedAlone = child.hasExited() && !child.endedByTerminate();
    const int exitCode = child.exitCode();
    child.close();

    if (!started) {
        WriteLog("Failed to start the encoder core: %s", core::programPath().c_str());
        return -1;
    }
    if (stopped)
        return 0;
    if (!exitedAlone) {
        WriteLog("The encoder core did not exit after its output ended.");
        return -3;
    }
    if (exitCode != 0) {
        WriteLog("The encoder core failed with exit code %d.", exitCode);
        return -2;
    }
    return 0;
}

void CEncodeJob::pumpOutput(CChildProcess& child) {
    child.setPriority(1);

    char buffer[kBufferSize];
    std::uint32_t last = platform::tickCount();
    bool first = true;
    std::size_t fill = 0;

    for (;;) {
        // Wait no longer than the rest of this look's window, so that a stop is
        // honoured at the next look even while the core is silent.
        const std::uint32_t elapsed = platform::tickCount() - last;
        const int wait = elapsed >= kLookIntervalMs ? 0 : static_cast<int>(kLookIntervalMs - elapsed);
        pollfd pfd{child.stdoutRead, POLLIN, 0};
        const int ready = poll(&pfd, 1, wait);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0) {
            const ssize_t n = read(child.stdoutRead, buffer + fill, kBufferSize - 1 - fill);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // The core has exited; its last words may hold the reason of a failure.
                buffer[fill] = '\0';
                noteErrorLine(buffer);
                break;
            }
            fill += static_cast<std::size_t>(n);
        }

        const std::uint32_t now = platform::tickCount();
        if (now - last < kLookIntervalMs) {
            if (fill >= kBufferSize - 1)
                fill = 0; // too much at once: keep only what arrives from here on
            continue;
        }
        buffer[fill] = '\0';
        if (first && fill > 0) {
            WriteLog("%s", buffer);
            first = false;
        }
        parseProgress(buffer, fill);
        noteErrorLine(buffer);
        fill = 0;
        last = now;
        if (stopRequested)
            break;
    }
    percent = 100;
}

int CEncodeJob::parseProgress(const char* text, std::size_t length) {
    const std::string_view all(text, length);
    const auto lineFeed = all.rfind('\n');
    const std::string_view tail = lineFeed == std::string_view::npos ? all : all.substr(lineFeed + 1);
    const std::string kept(tail.substr(0, 127));

    const auto at = tail.find("time=");
    if (at == std::string_view::npos)
        return -1;
    std::string_view value = tail.substr(at + 5);
    const auto begin = value.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return -1;
    value.remove_prefix(begin);
    const std::string token(value.substr(0, std::min(value.find(' '), value.size())));

    if (duration <= 0)
        return 0;
    const std::int64_t seconds = std::strtoll(token.c_str(), nullptr, 10);
    std::int64_t p = seconds * 100 / duration;
    if (p < 0)
        p = 0;
    const int current = percent.load();
    if (p > current && current % 10 == 0)
        WriteLog("%s", kept.c_str());
    percent = p >= 100 ? 99 : static_cast<int>(p);
    return 0;
}

void CEncodeJob::noteErrorLine(const char* text) {
    const char* at = nullptr;
    for (const char* p = std::strstr(text, contract::kErrorPrefix); p;
         p = std::strstr(p + 1, contract::kErrorPrefix))
        if (p == text || p[-1] == '\n' || p[-1] == '\r')
            at = p;
    if (!at)
        return;
    const std::size_t len = std::strcspn(at, "\r\n");
    m_errorText.assign(at, len);
}

} // namespace plexavo
