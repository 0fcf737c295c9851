#include "engine/media/ProbeJson.h"

#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

namespace plexavo::media {

namespace {

// Keys in the order the documentation lists them, for people reading it.
using Json = nlohmann::ordered_json;

// Every text that reaches the document passes here: names and the core's
// reasons are bytes from the file system.
Json text(std::string_view s) {
    return platform::replaceInvalidUtf8(s);
}

Json textOrNull(const std::string& s) {
    return s.empty() ? Json(nullptr) : text(s);
}

template <typename T> Json orNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// Hundredths are what the probe prints; more digits would only be noise of
// the binary fraction.
double hundredths(double seconds) {
    return std::round(seconds * 100.0) / 100.0;
}

std::string clockText(double seconds) {
    const auto whole = static_cast<unsigned long long>(seconds);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02llu:%02llu:%02llu", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return buffer;
}

Json streamJson(const ProbeStream& s) {
    Json j;
    j["index"] = s.index;
    j["kind"] = s.kind;
    j["codec"] = text(s.codec);
    j["profile"] = textOrNull(s.profile);
    j["language"] = textOrNull(s.language);
    j["bit_rate_kbps"] = orNull(s.bitRateKbps);
    if (s.kind == "video") {
        j["width"] = orNull(s.width);
        j["height"] = orNull(s.height);
        j["frame_rate"] = orNull(s.frameRate);
        j["pixel_format"] = textOrNull(s.pixelFormat);
    } else {
        j["sample_rate"] = orNull(s.sampleRate);
        j["channels"] = orNull(s.channels);
        j["channel_layout"] = textOrNull(s.channelLayout);
        j["sample_format"] = textOrNull(s.sampleFormat);
    }
    return j;
}

Json subtitleJson(const ProbeSubtitle& s) {
    Json j;
    j["index"] = s.index;
    j["file"] = textOrNull(s.file);
    j["codec"] = text(s.codec);
    j["language"] = textOrNull(s.language);
    j["form"] = s.text ? "text" : "picture";
    j["default"] = s.isDefault;
    j["forced"] = s.forced;
    return j;
}

Json fileJson(const ProbedFile& file) {
    Json j;
    j["path"] = text(file.path);
    if (!platform::isValidUtf8(file.path))
        j["path_bytes_base64"] = base64(file.path);
    j["convertible"] = file.convertible;
    if (!file.convertible) {
        j["reason"] = text(probeFailureReason(file.report));
        return j;
    }
    const ProbeReport& r = file.report;
    // The exact value where it agrees with the whole seconds that made the
    // file convertible; the two read one line, so they differ only on text
    // the report refuses to half read.
    const bool exact = r.durationSeconds && static_cast<long long>(*r.durationSeconds) ==
                                                static_cast<long long>(file.wholeSeconds);
    j["duration_seconds"] = exact ? hundredths(*r.durationSeconds) : file.wholeSeconds;
    j["duration"] = clockText(file.wholeSeconds);
    j["bit_rate_kbps"] = orNull(r.bitRateKbps);
    j["streams"] = Json::array();
    for (const auto& stream : r.streams)
        j["streams"].push_back(streamJson(stream));
    j["subtitles"] = Json::array();
    for (const auto& subtitle : r.subtitles)
        j["subtitles"].push_back(subtitleJson(subtitle));
    j["chapters"] = r.chapters;
    return j;
}

} // namespace

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string probeJsonDocument(const std::vector<ProbedFile>& files) {
    Json doc;
    doc["version"] = 1;
    doc["files"] = Json::array();
    for (const auto& file : files)
        doc["files"].push_back(fileJson(file));
    // Every text was made valid above; replacing is only the last guard
    // that a dump can never throw.
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace plexavo::media
