// Whether the preview can play at all on this machine: the GStreamer runtime
// version and the elements and decoders the preview builds its graphs from.
// The main view shows its tip line (control 1101) when this says no.
#pragma once

#include <string>
#include <vector>

namespace plexavo::preview {

struct MediaFrameworkVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned micro = 0;
};

// The oldest runtime the preview is written against.
inline constexpr MediaFrameworkVersion kMinimumMediaFramework{1, 16, 0};

// The runtime's version; 0.0.0 when it cannot be started.
MediaFrameworkVersion mediaFrameworkVersion();
bool versionIsEnough(const MediaFrameworkVersion& version);

// What the preview needs and this machine lacks: element names ("appsink")
// and, for decoders, the media type no installed decoder takes
// ("video/x-h264"). Empty when all is there.
std::vector<std::string> missingPreviewParts();

// The check made at start-up: runtime 1.16 or later with everything above.
// The result is computed once and kept.
bool mediaFrameworkPresent();

} // namespace plexavo::preview
