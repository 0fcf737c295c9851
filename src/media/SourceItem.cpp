#include "media/SourceItem.h"

#include "app/DebugLog.h"
#include "platform/ChildProcess.h"
#include "platform/CoreLocator.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace plexavo {

namespace {

// Sizes of the probe's text buffers.
constexpr std::size_t kOutputBufferSize = contract::kProbeReadSize;
constexpr std::size_t kLineMax = 199;
constexpr std::size_t kDurationMax = 99;
// A core that says nothing for this long is taken as hung, not waited for forever.
constexpr int kProbeTimeoutMs = 30000;

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

// Leading white space, a sign and digits, like atoi.
int leadingInt(std::string_view token) { return std::atoi(std::string(token).c_str()); }

} // namespace

CSourceItem::CSourceItem(const CSourceItem& other) { *this = other; }

CSourceItem& CSourceItem::operator=(const CSourceItem& other) {
    if (this == &other)
        return *this;
    path = other.path;
    extension = other.extension;
    title = other.title;
    bitsPerSample = other.bitsPerSample;
    sampleRate = other.sampleRate;
    channels = other.channels;
    durationSeconds = other.durationSeconds;
    formatTag = other.formatTag;
    averageBytesPerSecond = other.averageBytesPerSecond;
    blockAlign = other.blockAlign;
    outputFolder = other.outputFolder;
    outputName = other.outputName;
    outputExtension = other.outputExtension;
    startSeconds = other.startSeconds;
    endSeconds = other.endSeconds;
    converted = other.converted;
    status = other.status;
    durationText.clear();
    bitrateText.clear();
    videoDescription.clear();
    audioDescription.clear();
    return *this;
}

std::string CSourceItem::probeCommandLine(const std::string& file) {
    return std::string(core::kProgramName) + core::kAccessCode + " -i \"" + file + "\"";
}

int CSourceItem::probe(const std::string& file) {
    char output[kOutputBufferSize];
    std::memset(output, 0, sizeof output);

    CChildProcess child;
    child.commandLine = probeCommandLine(file);
    child.arguments = {core::programPath(), core::kAccessCode, "-i", file};
    child.flags = CChildProcess::PipeStdout;
    child.terminateGraceMs = 2000;
    WriteLog("%s", child.commandLine.c_str());

    if (child.start() == 0) {
        child.setPriority(1);
        pollfd pfd{child.stdoutRead, POLLIN, 0};
        int ready;
        do {
            ready = poll(&pfd, 1, kProbeTimeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready > 0) {
            ssize_t n;
            do {
                n = read(child.stdoutRead, output, kOutputBufferSize - 1);
            } while (n < 0 && errno == EINTR);
        } else {
            WriteLog("The encoder core gave no answer for %s", file.c_str());
        }
    }
    child.terminate();
    child.close();
    return parseProbeOutput(file, output);
}

int CSourceItem::parseProbeOutput(const std::string& file, const char* cText) {
    const std::string_view text(cText);
    durationSeconds = 0;

    std::size_t scanFrom = 0;
    const auto durationAt = text.find("Duration: ");
    if (durationAt != std::string_view::npos) {
        scanFrom = durationAt;
        const auto restBegin = durationAt + std::strlen("Duration: ");
        const auto lineFeed = text.find('\n', restBegin);
        if (lineFeed != std::string_view::npos) {
            const std::string_view rest = text.substr(restBegin, std::min(lineFeed - restBegin, kLineMax));
            const auto comma = rest.find(',');
            const std::string_view printed = rest.substr(0, std::min(comma, kDurationMax));

            // Hours, minutes and seconds must all lie in the printed duration:
            // "N/A, start: 0.000000, bitrate: 512 kb/s" is no duration.
            Tokenizer clock(comma == std::string_view::npos ? std::string_view{} : rest.substr(0, comma));
            std::string_view h, m, s;
            const bool parsed = clock.next(":", h) && clock.next(":", m) && clock.next(",", s);
            if (parsed) {
                durationSeconds = (leadingInt(h) * 60 + leadingInt(m)) * 60 + leadingInt(s);
                char buffer[kLineMax + 32];
                std::snprintf(buffer, sizeof buffer, "%.*s (%d s)", static_cast<int>(printed.size()),
                              printed.data(), durationSeconds);
                durationText = buffer;

                // After the seconds: the start field's name, its value with the
                // next field's name, then the bit rate.
                Tokenizer fields(rest.substr(comma + 1));
                std::string_view skipped, bitrate;
                if (fields.next(":", skipped) && fields.next(":", skipped) && fields.next(" ", bitrate))
                    bitrateText = std::string(bitrate) + " kb/s";
                scanFrom = lineFeed + 1;
            } else {
                durationSeconds = 0;
                durationText = "0 (0 s)";
            }
        }
    }

    for (;;) {
        const auto streamAt = text.find("Stream #", scanFrom);
        if (streamAt == std::string_view::npos)
            break;
        const auto lineBegin = streamAt + std::strlen("Stream #");
        const auto lineFeed = text.find('\n', lineBegin);
        if (lineFeed == std::string_view::npos)
            break;
        const std::string_view line = text.substr(lineBegin, std::min(lineFeed - lineBegin, kLineMax));
        std::string* target = nullptr;
        if (line.find("Video:") != std::string_view::npos)
            target = &videoDescription;
        else if (line.find("Audio:") != std::string_view::npos)
            target = &audioDescription;
        if (target) {
            Tokenizer parts(line);
            std::string_view number, kind;
            if (!parts.next(":", number) || !parts.next(":", kind))
                break;
            *target = std::string(parts.rest());
        }
        scanFrom = lineFeed + 1;
    }

    startSeconds = 0;
    endSeconds = static_cast<std::uint32_t>(durationSeconds);

    // Only a dot in the file name itself starts the extension: a dotted
    // folder name says nothing about the file's type.
    path = file;
    std::string stem = file;
    const auto slash = stem.rfind('/');
    const auto dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash)) {
        extension = stem.substr(dot + 1);
        stem.erase(dot);
    }
    if (slash != std::string::npos && slash < stem.size())
        title = stem.substr(slash + 1);

    return durationSeconds > 0 ? 0 : kProbeFailed;
}

// Never over an existing file while one of the numbered names is free.
bool CSourceItem::assignOutputName(const std::string& folder, const std::string& extension,
                                   const std::string& suffix) {
    constexpr int kMaxCounter = 1000;
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const std::string base = suffix.empty() ? title : title + "-" + suffix;
    std::string stem = base;
    std::string candidate = stem + "." + extension;
    for (int n = 1; fileExists(dir + candidate);) {
        stem = base + "[" + std::to_string(n) + "]";
        candidate = stem + "." + extension;
        if (++n > kMaxCounter)
            break;
    }
    outputFolder = dir;
    outputName = stem;
    outputExtension = extension;
    return true;
}

} // namespace plexavo
