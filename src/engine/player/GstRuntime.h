// Inside the player's module: GStreamer's start and the look at what the
// preview needs, in GStreamer's own calls. The program reaches them through
// the module's table (PlayerModule.h), never directly.
#pragma once

#include "engine/player/GStreamerRuntime.h"

#include <string>
#include <vector>

namespace plexavo::player::gst {

// Starts GStreamer once per process; false (and GStreamer's message) when
// it cannot start.
bool initialize(std::string* error);
// Whether GStreamer has been started in this process.
bool started();
// The version of the GStreamer library loaded; needs no start.
GStreamerVersion version();
// See missingPreviewParts() in GStreamerRuntime.h. Starts GStreamer.
std::vector<std::string> missingPreviewParts();

} // namespace plexavo::player::gst
