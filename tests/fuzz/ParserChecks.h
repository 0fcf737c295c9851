// What must hold after the engine parses any text at all: the probe's
// description of a file and the progress lines of a conversion. Shared by
// the fixed-seed random tests of the unit suite and the libFuzzer targets,
// so both judge a run the same way. Each check returns the first broken
// rule, or an empty text.
#pragma once

#include "PlexcoreContract.h"
#include "engine/convert/EncodeJob.h"
#include "engine/media/ProbeJson.h"
#include "engine/media/SourceItem.h"
#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

namespace parser_checks {

// The probe reads once into a zero-filled buffer of the contract's size, so
// the parser sees at most kProbeReportMax bytes, cut at the first NUL.
inline std::string checkProbeText(const std::uint8_t* data, std::size_t size) {
    char text[plexavo::contract::kProbeReadSize] = {};
    std::memcpy(text, data, std::min(size, plexavo::contract::kProbeReportMax));
    const std::string path = "/media/clip one.mp4";
    plexavo::media::SourceItem item;
    const int result = item.parseProbeOutput(path, text);

    if (item.durationSeconds < 0)
        return "negative duration " + std::to_string(item.durationSeconds);
    if ((result == 0) != (item.durationSeconds > 0))
        return "result " + std::to_string(result) + " disagrees with the duration";
    if (result != 0 && result != plexavo::media::kProbeFailed)
        return "unknown result " + std::to_string(result);
    if (item.startSeconds != 0 ||
        item.endSeconds != static_cast<std::uint32_t>(item.durationSeconds))
        return "the selected part is not the whole file";
    // The printed duration is cut at 99 characters, then " (N s)" follows.
    if (item.durationText.size() > 99 + std::strlen(" (2147483647 s)"))
        return "duration text too long: " + std::to_string(item.durationText.size());
    if (result == 0 && item.durationText.find("(" + std::to_string(item.durationSeconds) + " s)") ==
                           std::string::npos)
        return "duration text without its seconds: " + item.durationText;
    for (const std::string* t : {&item.videoDescription, &item.audioDescription}) {
        if (t->size() > 199)
            return "stream text too long";
        if (t->find('\n') != std::string::npos)
            return "stream text holds a line feed";
    }
    if (!item.bitrateText.empty() &&
        (item.bitrateText.size() < 5 ||
         item.bitrateText.compare(item.bitrateText.size() - 5, 5, " kb/s") != 0))
        return "bit rate text without its unit: " + item.bitrateText;
    if (item.path != path || item.title != "clip one" || item.extension != "mp4")
        return "the path was split wrongly";

    // Whatever the core printed and whatever bytes a name holds, the JSON
    // form is one valid document of valid UTF-8 (the text stands in for a
    // name here: any bytes at all).
    const std::string document =
        plexavo::media::probeJsonDocument({{path, result == 0, item.report, item.durationSeconds},
                                           {std::string(text), false, item.report, 0}});
    if (!plexavo::platform::isValidUtf8(document))
        return "the JSON document is not UTF-8";
    const auto json = nlohmann::json::parse(document, nullptr, false);
    if (json.is_discarded())
        return "the JSON document does not parse";
    const auto& file = json["files"][0];
    if (file["convertible"] != (result == 0))
        return "the JSON says otherwise of convertible";
    if (result == 0 &&
        (!file["duration_seconds"].is_number() ||
         static_cast<long long>(file["duration_seconds"].get<double>()) != item.durationSeconds))
        return "the JSON's duration disagrees with the item's";
    return {};
}

// The first eight bytes choose the part's length and a start percentage;
// the rest is the core's output, parsed once as a whole and then pumped in
// pieces as the pipe would deliver them.
inline std::string checkProgressText(const std::uint8_t* data, std::size_t size) {
    std::int64_t duration = 0;
    std::memcpy(&duration, data, std::min<std::size_t>(size, sizeof duration));
    const std::size_t skip = std::min<std::size_t>(size, sizeof duration);
    const char* text = reinterpret_cast<const char*>(data) + skip;
    const std::size_t length = std::min(size - skip, plexavo::convert::EncodeJob::kBufferSize - 1);

    plexavo::convert::EncodeJob job;
    job.duration = duration;
    const int before = 40;
    job.percent = before;
    std::string chunk(text, length); // parseProgress is given a terminated text
    const int result = job.parseProgress(chunk.c_str(), chunk.size());
    if (result != 0 && result != -1)
        return "unknown result " + std::to_string(result);
    if (result == -1 && job.percent != before)
        return "a text without a time changed the percentage";
    if (duration <= 0 && job.percent != before)
        return "a part without length changed the percentage";
    if (job.percent < 0 || job.percent > 99)
        return "percentage out of range: " + std::to_string(job.percent.load());

    // The pump: pieces of varying size at times 0, 170, 340 ... ms.
    job.duration = duration == 0 ? 1 : duration;
    job.resetPump(0);
    std::uint64_t now = 0;
    for (std::size_t at = 0; at < size - skip;) {
        const std::size_t piece = 1 + (static_cast<unsigned char>(text[at]) % 97);
        const std::size_t n = std::min(piece, size - skip - at);
        job.pumpText(text + at, n, now);
        now += 170;
        at += n;
        if (job.percent < 0 || job.percent > 99)
            return "pumped percentage out of range: " + std::to_string(job.percent.load());
    }
    const std::string& error = job.errorText();
    if (!error.empty() && (error.rfind(plexavo::contract::kErrorPrefix, 0) != 0 ||
                           error.find_first_of("\r\n") != std::string::npos))
        return "malformed error line: " + error;
    return {};
}

} // namespace parser_checks
