#include "engine/player/GraphHelpers.h"

#include "engine/services/DebugLog.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace plexavo::preview {

namespace {

using platform::TimeFormat;

bool selectsEarly(const NamedSource& source, const std::string& path) {
    const auto dot = path.find_last_of('.');
    if (path.size() < 3 || dot == std::string::npos || dot == 0)
        return false;
    const char* extension = path.c_str() + dot + 1;
    for (const char* candidate : source.extensions)
        if (candidate && strcasecmp(candidate, extension) == 0)
            return true;
    return false;
}

// One attempt, guarded: a fault inside it empties the graph and fails it.
template <typename Attempt> HRESULT guarded(IGraphBuilder* graph, bool& faulted, Attempt attempt) {
    faulted = false;
    try {
        return attempt();
    } catch (...) {
        faulted = true;
    }
    try {
        ClearGraph(graph);
    } catch (...) {
    }
    return E_UNEXPECTED;
}

template <typename Operation> HRESULT inMediaTime(IMediaSeeking* seeking, Operation operation) {
    if (!seeking)
        return E_NOINTERFACE;
    if (seeking->isFormatSupported(TimeFormat::MediaTime) != S_OK)
        return E_NOINTERFACE;
    TimeFormat saved = TimeFormat::MediaTime;
    HRESULT hr = seeking->getTimeFormat(saved);
    if (hr < 0)
        return hr;
    hr = seeking->setTimeFormat(TimeFormat::MediaTime);
    if (hr < 0)
        return hr;
    hr = operation();
    if (hr < 0)
        return hr;
    if (saved != TimeFormat::MediaTime)
        return seeking->setTimeFormat(saved);
    return hr;
}

} // namespace

HRESULT RenderMediaFile(IGraphBuilder* graph, const std::string& path) {
    if (!graph)
        return E_POINTER;

    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && status.st_size < kMinimumMediaFileSize) {
        WriteLog("**Error:E_CUS_FILE_SIZE_TOO_LITTLE,size=%d", static_cast<int>(status.st_size));
        return E_CUS_FILE_SIZE_TOO_LITTLE;
    }

    bool triedReal = false;
    bool faulted = false;
    HRESULT hr = E_UNEXPECTED;
    bool earlyRan = false;
    if (selectsEarly(kRealMediaSource, path)) {
        triedReal = true;
        earlyRan = true;
        hr = guarded(graph, faulted, [&] {
            return AddNamedSourceFilter(graph, path, kRealMediaSource.name, kRealMediaSource.kind);
        });
    }

    bool renderFaulted = false;
    if (!earlyRan || hr < 0) {
        hr = guarded(graph, renderFaulted, [&] { return graph->renderFile(path); });
    }
    if (hr >= 0 && !renderFaulted)
        return hr;

    auto fallback = [&](const NamedSource& source) {
        return guarded(graph, faulted,
                       [&] { return AddNamedSourceFilter(graph, path, source.name, source.kind); });
    };
    hr = fallback(kWindowsMediaSource);
    if (!triedReal && hr < 0)
        hr = fallback(kRealMediaSource);
    if (hr < 0)
        hr = fallback(kQuickTimeSource);
    return hr < 0 ? E_UNEXPECTED : hr;
}

HRESULT AddNamedSourceFilter(IGraphBuilder* graph, const std::string& path, const char* name,
                             const char* kind) {
    if (!graph)
        return E_POINTER;
    if (graph->addSourceFilter(name, kind) < 0)
        return E_UNEXPECTED;       // not installed: nothing was added
    graph->loadSource(name, path); // a source that cannot read it finds no streams below
    int outputs = 0;
    HRESULT hr = graph->renderSourceOutputs(name, outputs);
    if (outputs == 0)
        hr = E_UNEXPECTED;
    if (hr < 0)
        graph->removeFilter(name);
    return hr;
}

HRESULT ClearGraph(IGraphBuilder* graph) {
    if (!graph)
        return E_POINTER;
    std::vector<std::string> names;
    const HRESULT hr = graph->enumFilters(names);
    if (hr < 0)
        return hr;
    for (const auto& name : names)
        graph->removeFilter(name);
    return S_OK;
}

HRESULT SetPositionsInMediaTime(IMediaSeeking* seeking, std::int64_t current,
                                Positioning currentFlags, std::int64_t stop,
                                Positioning stopFlags) {
    return inMediaTime(
        seeking, [&] { return seeking->setPositions(&current, currentFlags, &stop, stopFlags); });
}

HRESULT GetCurrentPositionInMediaTime(IMediaSeeking* seeking, std::int64_t& position) {
    return inMediaTime(seeking, [&] { return seeking->getCurrentPosition(position); });
}

HRESULT GetDurationInMediaTime(IMediaSeeking* seeking, std::int64_t& duration) {
    return inMediaTime(seeking, [&] { return seeking->getDuration(duration); });
}

std::int32_t PreviewDurationSeconds(IMediaSeeking* seeking, std::int32_t probedSeconds) {
    std::int64_t duration = 0;
    const std::int64_t seconds = GetDurationInMediaTime(seeking, duration) >= 0 && duration > 0
                                     ? duration / platform::kUnitsPerSecond
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

} // namespace plexavo::preview
