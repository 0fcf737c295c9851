// Filling an empty media graph so that it plays one file, and positions in
// 100-ns media time whatever time format the graph is set to. The preview is
// their only user; both work on the graph's abstract faces so that the order
// of the attempts can be checked without a media framework.
#pragma once

#include "engine/player/MediaGraph.h"

#include <array>
#include <cstdint>
#include <string>

namespace plexavo::preview {

using HRESULT = platform::HResult;
using platform::IGraphBuilder;
using platform::IMediaSeeking;
using platform::Positioning;

inline constexpr HRESULT S_OK = platform::hr::kOk;
inline constexpr HRESULT E_POINTER = platform::hr::kPointer;
inline constexpr HRESULT E_UNEXPECTED = platform::hr::kUnexpected;
inline constexpr HRESULT E_NOINTERFACE = platform::hr::kNoInterface;
// The file is smaller than kMinimumMediaFileSize.
inline constexpr HRESULT E_CUS_FILE_SIZE_TOO_LITTLE = platform::hr::code(0x88880001);

inline constexpr long long kMinimumMediaFileSize = 102;

// A named source: a demuxer put behind a file source under a fixed name.
struct NamedSource {
    const char* name;
    const char* kind;                      // the demuxer's factory name
    std::array<const char*, 4> extensions; // the extensions held for it (unused slots null)
    bool triedFirst;                       // its extensions select it before the automatic render
};

inline constexpr NamedSource kWindowsMediaSource{
    "WindowsMedia Source", "asfdemux", {"asf", "wma", "wmv", nullptr}, false};
inline constexpr NamedSource kRealMediaSource{
    "RealMedia Source", "rmdemux", {"rmvb", "ram", "rm", "ra"}, true};
inline constexpr NamedSource kQuickTimeSource{
    "QuickTime Source", "qtdemux", {"mov", "qt", "mqv", nullptr}, false};

// Renders `path` (UTF-8) into an empty graph: the size refusal, the early
// RealMedia attempt for its extensions, the automatic render, then the named
// sources in turn. A fault inside an attempt empties the graph and counts as
// its failure.
HRESULT RenderMediaFile(IGraphBuilder* graph, const std::string& path);

// Creates the named source, loads the file into it and renders its outputs;
// a failed source is taken out of the graph again.
HRESULT AddNamedSourceFilter(IGraphBuilder* graph, const std::string& path, const char* name,
                             const char* kind);

// Removes everything from the graph.
HRESULT ClearGraph(IGraphBuilder* graph);

// The three seeking helpers, in 100-ns units.
HRESULT SetPositionsInMediaTime(IMediaSeeking* seeking, std::int64_t current,
                                Positioning currentFlags, std::int64_t stop, Positioning stopFlags);
HRESULT GetCurrentPositionInMediaTime(IMediaSeeking* seeking, std::int64_t& position);
HRESULT GetDurationInMediaTime(IMediaSeeking* seeking, std::int64_t& duration);

// The length the preview spans, in whole seconds: the graph's duration where
// it agrees with the probe's `probedSeconds` to within a second, else the
// probe's (0 or less: the probe's is not known, the graph's stands alone).
std::int32_t PreviewDurationSeconds(IMediaSeeking* seeking, std::int32_t probedSeconds);

} // namespace plexavo::preview
