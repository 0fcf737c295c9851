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

// Starts GStreamer once per process; false (and GStreamer's message) when it
// cannot start. Whatever needs GStreamer calls it first.
bool initializeGStreamer(std::string* error = nullptr);

// The version of the GStreamer library loaded; needs no gst_init.
GStreamerVersion gstreamerVersion();
bool versionIsEnough(const GStreamerVersion& version);

// What the preview needs and this machine lacks: element names ("appsink")
// and, for decoders, the media type no installed decoder takes
// ("video/x-h264"). Empty when all is there. Starts GStreamer.
std::vector<std::string> missingPreviewParts();

// GStreamer 1.16 or later with everything above. Computed once and kept.
bool previewCanPlay();

} // namespace plexavo::player
