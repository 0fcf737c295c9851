#include "engine/media/ProbeReport.h"

#include "PlexcoreContract.h"
#include "engine/i18n/ResourceText.h"
#include "engine/platform/CoreLocator.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::media {

using i18n::loadResString;

namespace {

constexpr unsigned kStrCoreMissing = 62000;
constexpr unsigned kStrCoreNotStarted = 62001;

std::string_view trimmed(std::string_view s) {
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The whole text as a number, or nothing: a field that does not read fully
// is left unknown rather than half read.
std::optional<double> number(std::string_view s) {
    s = trimmed(s);
    if (s.empty() || s.size() > 40)
        return std::nullopt;
    const std::string text(s);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value >= 0) || value > 1e15)
        return std::nullopt;
    return value;
}

std::optional<int> wholeNumber(std::string_view s) {
    s = trimmed(s);
    if (s.empty() || s.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto value = number(s);
    if (!value || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

// "HH:MM:SS.cc" (hours not wrapped) in seconds.
std::optional<double> clockSeconds(std::string_view s) {
    s = trimmed(s);
    const auto first = s.find(':');
    const auto second = first == std::string_view::npos ? first : s.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto h = wholeNumber(s.substr(0, first));
    const auto m = wholeNumber(s.substr(first + 1, second - first - 1));
    const auto sec = number(s.substr(second + 1));
    if (!h || !m || !sec)
        return std::nullopt;
    return *h * 3600.0 + *m * 60.0 + *sec;
}

// "512 kb/s" in kb/s.
std::optional<int> kbps(std::string_view s) {
    s = trimmed(s);
    if (!endsWith(s, " kb/s"))
        return std::nullopt;
    return wholeNumber(s.substr(0, s.size() - 5));
}

std::vector<std::string_view> splitFields(std::string_view s) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = s.find(", ");
        fields.push_back(trimmed(s.substr(0, comma)));
        if (comma == std::string_view::npos)
            return fields;
        s.remove_prefix(comma + 2);
    }
}

// "h264 (High)" into codec and profile.
void readCodec(std::string_view field, ProbeStream& stream) {
    const auto open = field.find(" (");
    if (open != std::string_view::npos && endsWith(field, ")")) {
        stream.codec = std::string(field.substr(0, open));
        stream.profile = std::string(field.substr(open + 2, field.size() - open - 3));
    } else {
        stream.codec = std::string(field);
    }
}

void readVideo(const std::vector<std::string_view>& fields, ProbeStream& stream) {
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string_view f = fields[i];
        if (const auto rate = kbps(f)) {
            stream.bitRateKbps = rate;
        } else if (endsWith(f, " fps")) {
            stream.frameRate = number(f.substr(0, f.size() - 4));
        } else if (const auto x = f.find('x');
                   x != std::string_view::npos && x > 0 && wholeNumber(f.substr(0, x))) {
            // "1280x720 [SAR 1:1 DAR 16:9]"
            const std::string_view rest = f.substr(x + 1);
            stream.width = wholeNumber(f.substr(0, x));
            stream.height = wholeNumber(rest.substr(0, rest.find(' ')));
        } else if (stream.pixelFormat.empty()) {
            stream.pixelFormat = std::string(f);
        }
    }
}

void readAudio(const std::vector<std::string_view>& fields, ProbeStream& stream) {
    bool layoutRead = false;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string_view f = fields[i];
        if (const auto rate = kbps(f)) {
            stream.bitRateKbps = rate;
        } else if (endsWith(f, " Hz")) {
            stream.sampleRate = wholeNumber(f.substr(0, f.size() - 3));
        } else if (!layoutRead) {
            layoutRead = true;
            stream.channelLayout = std::string(f);
            stream.channels = channelsOfLayout(f);
        } else if (stream.sampleFormat.empty()) {
            stream.sampleFormat = std::string(f);
        }
    }
}

// "Stream #0.1(eng): ..." after its leading blanks: the number ("0.1"), the
// language ("eng", or empty) and what follows the colon.
struct StreamHead {
    std::string_view number;
    std::string language;
    std::string_view rest;
};

std::optional<StreamHead> readStreamHead(std::string_view line) {
    line.remove_prefix(std::string_view("Stream #").size());
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    StreamHead head{line.substr(0, colon), {}, trimmed(line.substr(colon + 1))};
    if (const auto open = head.number.find('('); open != std::string_view::npos) {
        const auto close = head.number.find(')', open);
        head.language = std::string(head.number.substr(open + 1, close - open - 1));
        head.number = head.number.substr(0, open);
    }
    return head;
}

// "Stream #0.1(eng): Audio: aac (LC), 44100 Hz, ..." after its leading blanks.
std::optional<ProbeStream> readStreamLine(std::string_view line) {
    const auto head = readStreamHead(line);
    if (!head)
        return std::nullopt;
    std::string_view rest = head->rest;
    ProbeStream stream;
    stream.language = head->language;
    if (const auto dot = head->number.find('.'); dot != std::string_view::npos)
        stream.index = wholeNumber(head->number.substr(dot + 1)).value_or(-1);
    if (startsWith(rest, "Video:"))
        stream.kind = "video";
    else if (startsWith(rest, "Audio:"))
        stream.kind = "audio";
    else
        return std::nullopt;
    rest = trimmed(rest.substr(6));
    const auto fields = splitFields(rest);
    readCodec(fields.front(), stream);
    if (stream.kind == "video")
        readVideo(fields, stream);
    else
        readAudio(fields, stream);
    return stream;
}

// "Stream #0.3(eng): Subtitle: subrip (text), default, forced" or
// "Stream #1.0(fre): Subtitle: subrip (text), from film.fr.srt", after its
// leading blanks; the file's name is the rest of the line, commas and all.
std::optional<ProbeSubtitle> readSubtitleLine(std::string_view line) {
    const auto head = readStreamHead(line);
    if (!head || !startsWith(head->rest, "Subtitle:"))
        return std::nullopt;
    std::string_view rest = trimmed(head->rest.substr(9));
    ProbeSubtitle subtitle;
    subtitle.language = head->language;
    const auto dot = head->number.find('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    const auto input = wholeNumber(head->number.substr(0, dot));
    subtitle.index = wholeNumber(head->number.substr(dot + 1)).value_or(-1);
    if (const auto from = rest.find(", from "); from != std::string_view::npos) {
        subtitle.file = std::string(rest.substr(from + 7));
        rest = rest.substr(0, from);
    }
    if (!input || (*input == 0) != subtitle.file.empty())
        return std::nullopt;
    const auto fields = splitFields(rest);
    ProbeStream codec;
    readCodec(fields.front(), codec);
    subtitle.codec = codec.codec;
    subtitle.text = codec.profile == "text";
    for (std::size_t i = 1; i < fields.size(); ++i) {
        subtitle.isDefault = subtitle.isDefault || fields[i] == "default";
        subtitle.forced = subtitle.forced || fields[i] == "forced";
    }
    return subtitle;
}

} // namespace

std::string subtitleSummary(const ProbeSubtitle& subtitle) {
    std::string text = subtitle.language.empty() ? "" : subtitle.language + " ";
    text += subtitle.codec + (subtitle.text ? " (text" : " (picture");
    if (subtitle.isDefault)
        text += ", default";
    if (subtitle.forced)
        text += ", forced";
    text += ")";
    if (!subtitle.file.empty())
        text += " from " + subtitle.file;
    return text;
}

std::size_t durationLineAt(std::string_view text) {
    std::size_t found = std::string_view::npos;
    for (std::size_t begin = 0; begin < text.size();) {
        const auto end = std::min(text.find('\n', begin), text.size());
        const std::string_view line = text.substr(begin, end - begin);
        if (startsWith(line.substr(std::min(line.find_first_not_of(' '), line.size())),
                       "Duration: "))
            found = begin;
        begin = end + 1;
    }
    return found;
}

std::optional<int> channelsOfLayout(std::string_view layout) {
    // FFmpeg's names of its standard layouts.
    static constexpr std::pair<std::string_view, int> kLayouts[] = {
        {"mono", 1},
        {"stereo", 2},
        {"downmix", 2},
        {"2.1", 3},
        {"3.0", 3},
        {"3.0(back)", 3},
        {"4.0", 4},
        {"quad", 4},
        {"quad(side)", 4},
        {"3.1", 4},
        {"5.0", 5},
        {"5.0(side)", 5},
        {"4.1", 5},
        {"5.1", 6},
        {"5.1(side)", 6},
        {"6.0", 6},
        {"6.0(front)", 6},
        {"hexagonal", 6},
        {"3.1.2", 6},
        {"6.1", 7},
        {"6.1(back)", 7},
        {"6.1(front)", 7},
        {"7.0", 7},
        {"7.0(front)", 7},
        {"7.1", 8},
        {"7.1(wide)", 8},
        {"7.1(wide-side)", 8},
        {"7.1(top)", 8},
        {"octagonal", 8},
        {"cube", 8},
        {"5.1.2", 8},
        {"5.1.4", 10},
        {"7.1.2", 10},
        {"7.1.4", 12},
        {"7.2.3", 12},
        {"9.1.4", 14},
        {"hexadecagonal", 16},
        {"22.2", 24},
    };
    layout = trimmed(layout);
    for (const auto& [name, count] : kLayouts)
        if (layout == name)
            return count;
    // "3 channels", or "2 channels (FL+LFE)" for a layout of its own.
    const auto blank = layout.find(' ');
    if (blank != std::string_view::npos && startsWith(layout.substr(blank), " channels"))
        return wholeNumber(layout.substr(0, blank));
    return std::nullopt;
}

ProbeReport parseProbeReport(std::string_view text) {
    ProbeReport report;
    report.answered = !trimmed(text).empty();

    // The core's last error line; its reason holds no line feed.
    const std::string_view prefix(contract::kErrorPrefix);
    for (std::size_t begin = 0; begin < text.size();) {
        const auto end = std::min(text.find('\n', begin), text.size());
        const std::string_view line = trimmed(text.substr(begin, end - begin));
        if (startsWith(line, prefix))
            report.error = std::string(line.substr(prefix.size()));
        begin = end + 1;
    }

    const std::size_t at = durationLineAt(text);
    if (at == std::string_view::npos)
        return report;
    const auto lineEnd = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, lineEnd - at);
    const std::string_view value = line.substr(line.find("Duration: ") + 10);
    const auto fields = splitFields(value);
    report.durationSeconds = clockSeconds(fields.front());
    for (const auto field : fields)
        if (startsWith(field, "bitrate: "))
            report.bitRateKbps = kbps(field.substr(9));

    for (std::size_t begin = lineEnd + 1; begin < text.size();) {
        const auto end = std::min(text.find('\n', begin), text.size());
        const std::string_view streamLine = trimmed(text.substr(begin, end - begin));
        if (startsWith(streamLine, "Stream #")) {
            if (auto stream = readStreamLine(streamLine))
                report.streams.push_back(std::move(*stream));
            else if (auto subtitle = readSubtitleLine(streamLine))
                report.subtitles.push_back(std::move(*subtitle));
        } else if (startsWith(streamLine, "Chapters: ")) {
            report.chapters = wholeNumber(streamLine.substr(10)).value_or(0);
        }
        begin = end + 1;
    }
    return report;
}

std::string probeFailureReason(const ProbeReport& report) {
    if (!report.error.empty())
        return report.error;
    if (!report.answered) {
        const std::string program = platform::corePath();
        if (report.startError != 0)
            return coreStartFailure(program, report.startError);
        if (access(program.c_str(), X_OK) != 0)
            return coreStartFailure(program, errno);
        return "The encoder core gave no answer.";
    }
    if (!report.durationSeconds)
        return "The encoder core found no duration in the file.";
    if (*report.durationSeconds < 1)
        return "The file plays for less than one second.";
    return "The file's stated duration is out of range.";
}

std::string coreStartFailure(const std::string& program, int error) {
    // The exec of a program whose loader is missing fails with ENOENT too:
    // only the file itself tells missing from broken.
    struct stat st {};
    if (stat(program.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return loadResString(kStrCoreMissing, program.c_str());
    return loadResString(kStrCoreNotStarted, program.c_str(),
                         std::strerror(error != 0 ? error : EACCES));
}

} // namespace plexavo::media
