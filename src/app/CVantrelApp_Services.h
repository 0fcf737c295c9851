// What the main window asks of the media framework: its runtime version and
// whether that is recent enough for the preview.
#pragma once

namespace plexavo::shell {

struct Version {
    int major = 0;
    int minor = 0;
    int build = 0;
};

// The media framework's runtime version; 0.0 when it cannot be read.
Version mediaFrameworkVersion();

// The oldest media framework with which the preview works.
inline constexpr int kMediaFrameworkMajor = 1;
inline constexpr int kMediaFrameworkMinor = 16;
bool mediaFrameworkPresent(int major, int minor);

} // namespace plexavo::shell
