// The preview's rules over its player, apart from GStreamer so that they are
// checked without it: the order in which a file's pipeline is tried, and the
// length the preview spans.
#pragma once

#include "engine/player/Player.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace plexavo::player {

// Smaller files are refused before any attempt.
inline constexpr long long kMinimumMediaFileSize = 102;

// A demuxer tried behind a filesrc when decodebin cannot play the file.
struct DemuxerFallback {
    const char* demuxer;
    std::array<const char*, 4> extensions; // the file names it claims (unused slots null)
};

inline constexpr DemuxerFallback kAsfFallback{"asfdemux", {"asf", "wma", "wmv", nullptr}};
// Tried before decodebin, too, for the names it claims.
inline constexpr DemuxerFallback kRealMediaFallback{"rmdemux", {"rmvb", "ram", "rm", "ra"}};
inline constexpr DemuxerFallback kQuickTimeFallback{"qtdemux", {"mov", "qt", "mqv", nullptr}};

// Builds a pipeline for `path` (UTF-8): the size refusal, rmdemux first for
// its extensions, decodebin, then the demuxers asfdemux, rmdemux (unless
// already tried) and qtdemux in turn. A fault (an exception) inside an
// attempt clears the builder and counts as its failure.
bool openWithFallbacks(PipelineBuilder& builder, const std::string& path);

// The length the preview spans, in whole seconds: the player's duration
// where it agrees with the probe's `probedSeconds` to within a second, else
// the probe's (0 or less: the probe's is not known, the player's stands alone).
std::int32_t previewDurationSeconds(std::optional<ClockTime> duration, std::int32_t probedSeconds);

} // namespace plexavo::player
