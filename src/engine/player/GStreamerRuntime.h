// Whether the preview can play at all on this machine: GStreamer's version
// and the elements and decoders the player builds its pipelines from. The
// main view shows its tip line (control 1101) when this says no.
#pragma once

#include <string>
#include <vector>

namespace plexavo::player {

struct GStreamerVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned micro = 0;
};

// The oldest GStreamer the player is written against.
inline constexpr GStreamerVersion kMinimumGStreamer{1, 16, 0};

// Starts GStreamer once per process, loading the player's module first
// (PlayerModule.h); false (and the reason) when either cannot start.
// Whatever needs GStreamer calls it first.
bool initializeGStreamer(std::string* error = nullptr);

// Whether this process has started GStreamer; starts nothing.
bool gstreamerStarted();

// The version of the GStreamer library; loads the module, needs no start.
// 0.0.0 when the module cannot be loaded.
GStreamerVersion gstreamerVersion();
bool versionIsEnough(const GStreamerVersion& version);

// What the preview needs and this machine lacks: element names ("appsink")
// and, for decoders, the media type no installed decoder takes
// ("video/x-h264"); "gstreamer" alone when it cannot start. Empty when all
// is there. Starts GStreamer: the window asks a child run of the program
// instead (PreviewCheck), so that its own process starts GStreamer only
// for the preview.
std::vector<std::string> missingPreviewParts();

// GStreamer 1.16 or later with everything above. Computed once and kept.
bool previewCanPlay();

} // namespace plexavo::player
