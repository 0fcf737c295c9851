#include "engine/media/SourceItem.h"

#include "engine/platform/ChildProcess.h"
#include "engine/platform/CoreLocator.h"
#include "engine/platform/DebugLog.h"
#include "engine/platform/Files.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <poll.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::media {

using platform::ChildProcess;
using platform::writeLog;

namespace {

// Sizes of the probe's text buffers.
constexpr std::size_t kOutputBufferSize = contract::kProbeReadSize;
constexpr std::size_t kLineMax = 199;
constexpr std::size_t kDurationMax = 99;
// How long a probing core may take to stop once its answer is read.
constexpr int kProbeStopMs = 2000;

// strtok's rules on a view: leading delimiters are skipped, a token ends at
// the next delimiter, which is consumed.
class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text) : m_rest(text) {}

    bool next(std::string_view delimiters, std::string_view& token) {
        const auto begin = m_rest.find_first_not_of(delimiters);
        if (begin == std::string_view::npos) {
            m_rest = {};
            return false;
        }
        m_rest.remove_prefix(begin);
        const auto end = m_rest.find_first_of(delimiters);
        token = m_rest.substr(0, end);
        m_rest = end == std::string_view::npos ? std::string_view{} : m_rest.substr(end + 1);
        return true;
    }

    std::string_view rest() const { return m_rest; }

  private:
    std::string_view m_rest;
};

// Leading white space, a sign and digits, like atoi, but saturating far
// beyond any duration instead of overflowing.
std::int64_t leadingInt(std::string_view token) {
    constexpr std::int64_t kCap = std::int64_t{1} << 40;
    std::size_t i = 0;
    while (i < token.size() && std::isspace(static_cast<unsigned char>(token[i])))
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    std::int64_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i)
        value = std::min(kCap, value * 10 + (token[i] - '0'));
    return negative ? -value : value;
}

// Why path cannot be a source although something is there, in the words the
// core uses for its own refusals; empty for a regular file and for a path
// that names nothing (the core then says what is wrong). stat never opens,
// so it cannot block on a pipe.
std::string notAFileReason(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    const char* what = S_ISDIR(st.st_mode)    ? "it is a folder, not a file"
                       : S_ISFIFO(st.st_mode) ? "it is a named pipe (FIFO), not a file"
                       : S_ISSOCK(st.st_mode) ? "it is a socket, not a file"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "it is a device, not a file"
                                                                    : "it is not a regular file";
    return "cannot read input '" + path + "': " + what;
}

// Waits for the core's first output; false (and a log line) when the core
// has worked or slept too long without answering, or a stop was asked for.
bool awaitAnswer(const ChildProcess& child, const ProbeLimits& limits, const std::string& file) {
    constexpr int kSliceMs = 100;
    const long ticksPerSecond = platform::cpuTicksPerSecond();
    const platform::ProcessActivity first = platform::readProcessActivity(child.processId);
    platform::ProcessActivity last = first;
    int stalledMs = 0;
    for (;;) {
        pollfd pfd{child.stdoutRead, POLLIN, 0};
        const int ready = poll(&pfd, 1, kSliceMs);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
        if (limits.stop && limits.stop->load()) {
            writeLog("The probe of %s was stopped.", file.c_str());
            return false;
        }

        const platform::ProcessActivity now = platform::readProcessActivity(child.processId);
        const auto cpuMs =
            static_cast<std::int64_t>((now.cpuTicks - first.cpuTicks) * 1000 / ticksPerSecond);
        if (cpuMs >= limits.cpuMs) {
            writeLog("The encoder core used %lld ms of processor time on %s without an answer; "
                     "the probe gives up.",
                     static_cast<long long>(cpuMs), file.c_str());
            return false;
        }
        const bool progressed = last.progressedTo(now);
        // Runnable but not running is a busy machine, not a stuck core.
        if (progressed || now.state == 'R')
            stalledMs = 0;
        else
            stalledMs += kSliceMs;
        last = now;
        if (stalledMs >= limits.stallMs) {
            writeLog("The encoder core made no progress on %s for %d ms without an answer; "
                     "the probe gives up.",
                     file.c_str(), stalledMs);
            return false;
        }
    }
}

} // namespace

std::string SourceItem::probeCommandLine(const std::string& file) {
    return std::string(contract::kProgramName) + contract::kAccessCode + " -i \"" + file + "\"";
}

int SourceItem::probe(const std::string& file) {
    return probe(file, ProbeLimits{});
}

FileStamp FileStamp::of(const std::string& path) {
    FileStamp stamp;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return stamp;
    stamp.known = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modifiedNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return stamp;
}

bool SourceItem::changedSinceProbe() const {
    return probedStamp.known && FileStamp::of(path) != probedStamp;
}

int SourceItem::probe(const std::string& file, const ProbeLimits& limits) {
    // Before the core reads it: a change while it reads counts as one.
    probedStamp = FileStamp::of(file);
    char output[kOutputBufferSize];
    std::memset(output, 0, sizeof output);

    const std::string refusal = notAFileReason(file);
    if (!refusal.empty() || (limits.stop && limits.stop->load())) {
        const int result = parseProbeOutput(file, "");
        report.error = refusal;
        if (!refusal.empty())
            writeLog("%s", refusal.c_str());
        return result;
    }

    ChildProcess child;
    child.commandLine = probeCommandLine(file);
    child.arguments = {platform::corePath(), contract::kAccessCode, "-i", file};
    child.flags = ChildProcess::PipeStdout;
    // A probe writes nothing worth waiting for once its answer is read.
    child.stopPolicy.silenceMs = kProbeStopMs;
    child.stopPolicy.limitMs = kProbeStopMs;
    writeLog("%s", child.commandLine.c_str());

    const bool started = child.start() == 0;
    if (started) {
        child.setIdlePriority();
        if (awaitAnswer(child, limits, file)) {
            ssize_t n;
            do {
                n = read(child.stdoutRead, output, kOutputBufferSize - 1);
            } while (n < 0 && errno == EINTR);
        }
    } else {
        writeLog("Failed to start the encoder core: %s (%s)", child.arguments[0].c_str(),
                 std::strerror(child.startError()));
    }
    child.terminate();
    child.close();
    const int result = parseProbeOutput(file, output);
    report.startError = started ? 0 : child.startError();
    return result;
}

namespace {

// The "Duration: " line: the item's length, its text and the bit rate.
// Returns where the stream lines may begin.
std::size_t readDurationLine(SourceItem& item, std::string_view text, const std::string& file) {
    // Only the real duration line counts, never a file name that holds one.
    const auto lineAt = durationLineAt(text);
    const auto durationAt =
        lineAt == std::string_view::npos ? lineAt : text.find("Duration: ", lineAt);
    if (durationAt == std::string_view::npos)
        return 0;
    const auto restBegin = durationAt + std::strlen("Duration: ");
    const auto lineFeed = text.find('\n', restBegin);
    if (lineFeed == std::string_view::npos)
        return durationAt;
    const std::string_view rest = text.substr(restBegin, std::min(lineFeed - restBegin, kLineMax));
    const auto comma = rest.find(',');
    const std::string_view printed = rest.substr(0, std::min(comma, kDurationMax));

    // Hours, minutes and seconds must all lie in the printed duration:
    // "N/A, start: 0.000000, bitrate: 512 kb/s" is no duration.
    Tokenizer clock(comma == std::string_view::npos ? std::string_view{} : rest.substr(0, comma));
    std::string_view h, m, s;
    const bool parsed = clock.next(":", h) && clock.next(":", m) && clock.next(",", s);
    const std::int64_t total =
        parsed ? (leadingInt(h) * 60 + leadingInt(m)) * 60 + leadingInt(s) : 0;
    if (!parsed) {
        item.durationText = "0 (0 s)";
        return durationAt;
    }
    if (total < 0 || total > std::numeric_limits<std::int32_t>::max()) {
        // A container may claim any length; one the item cannot hold is no
        // duration at all, rather than a wrapped one.
        writeLog("The duration %.*s of %s is out of range; the file is not added.",
                 static_cast<int>(printed.size()), printed.data(), file.c_str());
        item.durationText = "0 (0 s)";
        return lineFeed + 1;
    }
    item.durationSeconds = static_cast<std::int32_t>(total);
    char buffer[kLineMax + 32];
    std::snprintf(buffer, sizeof buffer, "%.*s (%d s)", static_cast<int>(printed.size()),
                  printed.data(), item.durationSeconds);
    item.durationText = buffer;

    // After the seconds: the start field's name, its value with the next
    // field's name, then the bit rate.
    Tokenizer fields(rest.substr(comma + 1));
    std::string_view skipped, bitrate;
    if (fields.next(":", skipped) && fields.next(":", skipped) && fields.next(" ", bitrate))
        item.bitrateText = std::string(bitrate) + " kb/s";
    return lineFeed + 1;
}

// The first video and audio "Stream #" lines from scanFrom on, as the
// information box shows them.
void readStreamDescriptions(SourceItem& item, std::string_view text, std::size_t scanFrom) {
    for (;;) {
        const auto streamAt = text.find("Stream #", scanFrom);
        if (streamAt == std::string_view::npos)
            return;
        const auto lineBegin = streamAt + std::strlen("Stream #");
        const auto lineFeed = text.find('\n', lineBegin);
        if (lineFeed == std::string_view::npos)
            return;
        const std::string_view line =
            text.substr(lineBegin, std::min(lineFeed - lineBegin, kLineMax));
        std::string* target = nullptr;
        if (line.find("Video:") != std::string_view::npos)
            target = &item.videoDescription;
        else if (line.find("Audio:") != std::string_view::npos)
            target = &item.audioDescription;
        if (target) {
            Tokenizer parts(line);
            std::string_view number, kind;
            if (!parts.next(":", number) || !parts.next(":", kind))
                return;
            *target = std::string(parts.rest());
        }
        scanFrom = lineFeed + 1;
    }
}

// The path, and the title and extension taken from its file name. Only a
// dot in the file name itself starts the extension: a dotted folder name
// says nothing about the file's type.
void takeNames(SourceItem& item, const std::string& file) {
    item.path = file;
    std::string stem = file;
    const auto slash = stem.rfind('/');
    const auto dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash)) {
        item.extension = stem.substr(dot + 1);
        stem.erase(dot);
    }
    if (slash != std::string::npos && slash < stem.size())
        item.title = stem.substr(slash + 1);
}

} // namespace

int SourceItem::parseProbeOutput(const std::string& file, const char* cText) {
    const std::string_view text(cText);
    durationSeconds = 0;
    report = parseProbeReport(text);
    readStreamDescriptions(*this, text, readDurationLine(*this, text, file));
    startSeconds = 0;
    endSeconds = static_cast<std::uint32_t>(durationSeconds);
    takeNames(*this, file);
    return durationSeconds > 0 ? 0 : kProbeFailed;
}

// Never over an existing file while one of the numbered names is free.
bool SourceItem::assignOutputName(const std::string& folder, const std::string& extension,
                                  const std::string& suffix) {
    return assignOutputName(folder, extension, suffix,
                            [](const std::string& path) { return platform::fileExists(path); });
}

bool SourceItem::assignOutputName(const std::string& folder, const std::string& extension,
                                  const std::string& suffix,
                                  const std::function<bool(const std::string&)>& taken) {
    constexpr int kMaxCounter = 1000;
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const std::size_t limit = platform::fileNameLimit(dir);
    // A long title is shortened, never the suffix, the counter or the
    // extension: the name must fit the file system or the core cannot write it.
    const auto nameFor = [&](int n) {
        std::string tail = suffix.empty() ? std::string() : "-" + suffix;
        if (n > 0)
            tail += "[" + std::to_string(n) + "]";
        const std::size_t fixed = tail.size() + 1 + extension.size();
        const std::string stem =
            title.size() + fixed > limit
                ? platform::cutAtCharacter(title, limit > fixed ? limit - fixed : 0)
                : title;
        return stem + tail;
    };
    std::string stem = nameFor(0);
    for (int n = 1; taken(dir + stem + "." + extension);) {
        stem = nameFor(n);
        if (++n > kMaxCounter)
            break;
    }
    outputFolder = dir;
    outputName = stem;
    outputExtension = extension;
    return true;
}

} // namespace plexavo::media
