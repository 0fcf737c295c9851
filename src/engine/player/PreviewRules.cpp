#include "engine/player/PreviewRules.h"

#include "engine/platform/DebugLog.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace plexavo::player {

namespace {

bool claims(const DemuxerFallback& fallback, const std::string& path) {
    const auto dot = path.find_last_of('.');
    if (path.size() < 3 || dot == std::string::npos || dot == 0)
        return false;
    const char* extension = path.c_str() + dot + 1;
    for (const char* candidate : fallback.extensions)
        if (candidate && strcasecmp(candidate, extension) == 0)
            return true;
    return false;
}

// One attempt, guarded: a fault inside it clears the builder and fails it.
template <typename Attempt> bool guarded(PipelineBuilder& builder, Attempt attempt) {
    try {
        return attempt();
    } catch (...) {
    }
    try {
        builder.clear();
    } catch (...) {
    }
    return false;
}

} // namespace

bool openWithFallbacks(PipelineBuilder& builder, const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && status.st_size < kMinimumMediaFileSize) {
        platform::writeLog("**Error: file too small to play,size=%d",
                           static_cast<int>(status.st_size));
        return false;
    }
    auto withDemuxer = [&](const DemuxerFallback& fallback) {
        return guarded(builder, [&] { return builder.buildWithDemuxer(path, fallback.demuxer); });
    };
    const bool realMediaFirst = claims(kRealMediaFallback, path);
    if (realMediaFirst && withDemuxer(kRealMediaFallback))
        return true;
    if (guarded(builder, [&] { return builder.buildAutomatic(path); }))
        return true;
    return withDemuxer(kAsfFallback) || (!realMediaFirst && withDemuxer(kRealMediaFallback)) ||
           withDemuxer(kQuickTimeFallback);
}

bool Player::open(const std::string& path) {
    clear();
    return openWithFallbacks(*this, path);
}

std::int32_t previewDurationSeconds(std::optional<ClockTime> duration, std::int32_t probedSeconds) {
    const std::int64_t seconds =
        duration && duration->count() > 0
            ? std::chrono::duration_cast<std::chrono::seconds>(*duration).count()
            : -1;
    if (probedSeconds <= 0)
        return static_cast<std::int32_t>(
            std::clamp<std::int64_t>(seconds, 0, std::numeric_limits<std::int32_t>::max()));
    // Both count whole seconds, cut off, so a second apart is only rounding.
    // Further apart, GStreamer has guessed (a bare stream has no length it
    // can read, wrapped or late timestamps mislead it) while the core read
    // the file through, and the part marked here goes to the core.
    if (seconds >= 0 && std::abs(seconds - probedSeconds) <= 1)
        return static_cast<std::int32_t>(seconds);
    return probedSeconds;
}

} // namespace plexavo::player
